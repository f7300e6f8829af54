// Whole-reply reading for the SMTP dialogue (RFC 5321 4.2.1 multi-line replies).
#include "smtp/reply_reader.h"

#include "socket/dialogue_trace.h"
#include "tolmail/TolvanSocket.h"

namespace tolmail::smtp {

namespace {

// Enough for any real server's greeting or EHLO-sized reply; a peer that never ends
// its reply cannot keep us reading forever.
constexpr int kMaxReplyLines = 512;

} // namespace

bool IsCompleteReply(const std::string& text)
{
    if (text.size() < 2 || text.compare(text.size() - 2, 2, "\r\n") != 0)
        return false;
    const size_t prev = text.rfind("\r\n", text.size() - 3);
    const size_t lastStart = (text.size() < 3 || prev == std::string::npos) ? 0 : prev + 2;
    const size_t lastLength = text.size() - 2 - lastStart;
    return lastLength < 4 || text[lastStart + 3] != '-';
}

std::string ReadReply(TolvanSocket& socket, FirstRead first)
{
    std::string reply;
    if (first == FirstRead::Line)
        socket.GetlnData(reply);
    else
        socket.GetData(reply, 0);
    for (int lines = 0; !reply.empty() && !IsCompleteReply(reply) && lines < kMaxReplyLines; ++lines) {
        std::string more;
        socket.GetlnData(more);
        if (more.empty())
            break;
        reply += more;
    }
    socket::TraceReply(socket, reply);
    // What follows the go-ahead for DATA is the message: the trace sums it up.
    if (reply.starts_with("354") && socket::LastCommand(socket) == "DATA")
        socket::BeginMessage(socket, true);
    return reply;
}

} // namespace tolmail::smtp
