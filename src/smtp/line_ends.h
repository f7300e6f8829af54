// Line ends of Internet mail text (RFC 5322 2.3): every line ends with CR LF.
#pragma once

#include <string>
#include <string_view>

namespace tolmail::smtp {

/// Makes every line end CR LF in text that arrives in pieces: a CR that ends one piece
/// and an LF that starts the next are one line end, wherever the text was cut.
class LineEndNormalizer {
public:
    /// Appends the piece to `out` with its line ends made CR LF; a CR at its very end
    /// is held until the next piece or finish() shows what follows it.
    void feed(std::string_view piece, std::string& out);
    /// The text ended: a CR still held becomes CR LF.
    void finish(std::string& out);

private:
    bool pendingCr_ = false;
};

/// CR LF stays; a bare CR and a bare LF each become CR LF.
std::string NormalizeLineEnds(std::string_view text);

} // namespace tolmail::smtp
