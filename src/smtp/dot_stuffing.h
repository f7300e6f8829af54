// SMTP transparency for the DATA section (RFC 5321 4.5.2): a "." that begins a line
// is doubled, so that no data can end the message early.
#pragma once

#include <string>
#include <string_view>

namespace tolmail::smtp {

/// A streaming filter that doubles every "." standing at the start of the data or
/// right after a CR or an LF. Treating a lone CR or LF as a line end too means that no
/// reading of line ends, however lenient, can find a line of a lone "." in the output;
/// for text with CR LF line ends it is exactly the stuffing of RFC 5321. The
/// line-start state is carried from piece to piece, so a line start that falls on a
/// piece boundary is still seen.
class DotStuffer {
public:
    explicit DotStuffer(bool atLineStart = true) : atLineStart_(atLineStart) {}

    /// Returns the stuffed piece: `in` itself when nothing had to change, else a view of
    /// `scratch`, which is reused from call to call.
    std::string_view filter(std::string_view in, std::string& scratch);

    bool atLineStart() const noexcept { return atLineStart_; }
    void reset(bool atLineStart = true) noexcept { atLineStart_ = atLineStart; }

private:
    bool atLineStart_;
};

/// The stuffing of one text that starts at a line start when `lineStart` is true.
std::string StuffDots(std::string_view text, bool lineStart);

} // namespace tolmail::smtp
