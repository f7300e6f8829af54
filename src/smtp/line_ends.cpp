// Line-end normalisation of outgoing text to CR LF (RFC 5321 2.3.8, RFC 5322 2.3).
#include "smtp/line_ends.h"

namespace tolmail::smtp {

void LineEndNormalizer::feed(std::string_view piece, std::string& out)
{
    size_t i = 0;
    if (pendingCr_ && !piece.empty()) {
        out.append("\r\n");
        pendingCr_ = false;
        if (piece[0] == '\n')
            i = 1;  // the LF that completes the CR of the last piece
    }
    while (i < piece.size()) {
        const size_t brk = piece.find_first_of("\r\n", i);
        if (brk == std::string_view::npos) {
            out.append(piece.substr(i));
            return;
        }
        out.append(piece.substr(i, brk - i));
        if (piece[brk] == '\r' && brk + 1 == piece.size()) {
            pendingCr_ = true;  // its LF may start the next piece
            return;
        }
        out.append("\r\n");
        // A CR LF pair is one line end; anything else is a line end of its own.
        i = brk + ((piece[brk] == '\r' && piece[brk + 1] == '\n') ? 2 : 1);
    }
}

void LineEndNormalizer::finish(std::string& out)
{
    if (pendingCr_)
        out.append("\r\n");
    pendingCr_ = false;
}

std::string NormalizeLineEnds(std::string_view text)
{
    std::string out;
    out.reserve(text.size() + 16);
    LineEndNormalizer normalizer;
    normalizer.feed(text, out);
    normalizer.finish(out);
    return out;
}

} // namespace tolmail::smtp
