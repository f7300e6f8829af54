// Folding of host-given header values (RFC 5322 2.2.3): line breaks never start a new
// header line or end the header block.
#include "smtp/header_value.h"

namespace tolmail::smtp {

std::string FoldHeaderValue(std::string_view value)
{
    if (value.find_first_of("\r\n") == std::string_view::npos)
        return std::string(value);

    std::string out;
    out.reserve(value.size() + 8);
    size_t i = 0;
    while (i < value.size()) {
        const size_t brk = value.find_first_of("\r\n", i);
        if (brk == std::string_view::npos) {
            out.append(value.substr(i));
            break;
        }
        out.append(value.substr(i, brk - i));
        const size_t next = value.find_first_not_of("\r\n", brk);
        if (next == std::string_view::npos)
            break;
        out.append("\r\n");
        if (value[next] != ' ' && value[next] != '\t')
            out.push_back(' ');
        i = next;
    }
    return out;
}

std::string UnfoldedValue(std::string_view value)
{
    std::string out = FoldHeaderValue(value);
    for (size_t fold = out.find("\r\n"); fold != std::string::npos; fold = out.find("\r\n", fold))
        out.erase(fold, 2);
    return out;
}

std::string QuotedStringContent(std::string_view value)
{
    std::string out;
    out.reserve(value.size() + 2);
    for (const char c : value) {
        if (c == '\r' || c == '\n')
            continue;
        if (c == '"' || c == '\\')
            out.push_back('\\');
        out.push_back(c);
    }
    return out;
}

} // namespace tolmail::smtp
