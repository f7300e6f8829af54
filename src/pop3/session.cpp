// Text tests for the POP3 replies (RFC 1939).
#include "pop3/session.h"

#include <limits>

namespace tolmail::pop3 {

socket::Dialogue StatusDialogue(TolvanSocket& socket)
{
    return socket::Dialogue(socket, socket::OneLine);
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
