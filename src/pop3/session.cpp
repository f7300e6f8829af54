// Command and reply helpers of the POP3 dialogue (RFC 1939).
#include "pop3/session.h"

#include <limits>

#include "socket/dialogue_trace.h"
#include "tolmail/TolvanSocket.h"

namespace tolmail::pop3 {

namespace {

/// The commands whose "+OK" is followed by a message (or its header): its lines are
/// summed up in the trace, not shown.
bool BringsMessage(std::string_view command)
{
    return StartsWith(command, "RETR ") || StartsWith(command, "TOP ");
}

} // namespace

int32_t SendCommand(TolvanSocket& socket, std::string_view command, std::string_view shown)
{
    socket::TraceCommand(socket, command, shown);
    std::string line(command);
    line += "\r\n";
    // Callers that only read a reply see a failed send as a missing reply.
    return static_cast<int32_t>(socket.senddta(Variant(std::move(line))).toNumber());
}

int32_t ReadLine(TolvanSocket& socket, std::string& line)
{
    const int32_t code = socket.GetlnData(line);
    if (socket::InMessage(socket))
        return code;
    socket::TraceReply(socket, line);
    if (StartsWith(line, "+OK") && BringsMessage(socket::LastCommand(socket)))
        socket::BeginMessage(socket, false);
    return code;
}

bool StartsWith(std::string_view text, std::string_view prefix)
{
    return text.substr(0, prefix.size()) == prefix;
}

std::string UpperAscii(std::string_view text)
{
    std::string upper(text);
    for (char& c : upper) {
        if (c >= 'a' && c <= 'z')
            c = static_cast<char>(c - 'a' + 'A');
    }
    return upper;
}

int32_t LeadingNumber(std::string_view text)
{
    size_t at = text.find_first_not_of(' ');
    if (at == std::string_view::npos)
        return 0;
    int64_t value = 0;
    constexpr int64_t largest = std::numeric_limits<int32_t>::max();
    for (; at < text.size() && text[at] >= '0' && text[at] <= '9'; ++at) {
        value = value * 10 + (text[at] - '0');
        if (value > largest)
            return static_cast<int32_t>(largest);
    }
    return static_cast<int32_t>(value);
}

bool HasLineBreak(std::string_view text)
{
    return text.find_first_of("\r\n") != std::string_view::npos;
}

} // namespace tolmail::pop3
