// SMTP transparency: dot-stuffing of everything sent between DATA and the end of
// data (RFC 5321 4.5.2), as a streaming filter.
#include "smtp/dot_stuffing.h"

#include <cstring>

namespace tolmail::smtp {

namespace {

bool isLineEnd(char c)
{
    return c == '\r' || c == '\n';
}

/// True when the "." at `i` starts a line, given the state before the piece.
bool startsLine(std::string_view in, size_t i, bool atLineStartBefore)
{
    return i == 0 ? atLineStartBefore : isLineEnd(in[i - 1]);
}

} // namespace

std::string_view DotStuffer::filter(std::string_view in, std::string& scratch)
{
    if (in.empty())
        return in;
    const bool before = atLineStart_;
    atLineStart_ = isLineEnd(in.back());

    // Find the first dot that needs doubling; most pieces have none and go out as they are.
    size_t first = std::string_view::npos;
    for (const char* p = in.data(); (p = static_cast<const char*>(std::memchr(p, '.', in.data() + in.size() - p)));
         ++p) {
        const size_t i = static_cast<size_t>(p - in.data());
        if (startsLine(in, i, before)) {
            first = i;
            break;
        }
    }
    if (first == std::string_view::npos)
        return in;

    scratch.clear();
    scratch.reserve(in.size() + in.size() / 64 + 16);
    size_t copied = 0;
    for (size_t i = first; i != std::string_view::npos; i = in.find('.', i + 1)) {
        if (!startsLine(in, i, before))
            continue;
        scratch.append(in.data() + copied, i - copied);
        scratch.push_back('.');
        copied = i;  // the original dot follows with the next stretch
    }
    scratch.append(in.data() + copied, in.size() - copied);
    return scratch;
}

std::string StuffDots(std::string_view text, bool lineStart)
{
    DotStuffer stuffer(lineStart);
    std::string scratch;
    return std::string(stuffer.filter(text, scratch));
}

} // namespace tolmail::smtp
