// Line-end normalisation of outgoing text to CR LF (RFC 5321 2.3.8, RFC 5322 2.3).
#include "smtp/line_ends.h"

namespace tolmail::smtp {

std::string NormalizeLineEnds(std::string_view text)
{
    std::string out;
    out.reserve(text.size() + 16);
    size_t i = 0;
    while (i < text.size()) {
        const size_t brk = text.find_first_of("\r\n", i);
        if (brk == std::string_view::npos) {
            out.append(text.substr(i));
            break;
        }
        out.append(text.substr(i, brk - i));
        out.append("\r\n");
        // A CR LF pair is one line end; anything else is a line end of its own.
        i = brk + ((text[brk] == '\r' && brk + 1 < text.size() && text[brk + 1] == '\n') ? 2 : 1);
    }
    return out;
}

} // namespace tolmail::smtp
