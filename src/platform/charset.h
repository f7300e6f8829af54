// Conversion between the character sets mail declares and UTF-8. The interface holds no
// type of the converter beneath (iconv here), so another system's converter can stand in.
#pragma once

#include <optional>
#include <string>
#include <string_view>

namespace tolmail::platform {

/// `bytes` written in `charset` (a name as mail declares it: any letter case, common
/// aliases such as "latin1", "cp1252" or "x-sjis") as UTF-8. Never fails: under a charset
/// the converter does not know, each byte is read as Latin-1 (byte n becomes U+00n); a
/// sequence invalid in a known charset has just its bytes read that way, and the text
/// around it is converted. Text that already is UTF-8 under a UTF-8 or US-ASCII label
/// comes back unchanged.
std::string ToUtf8(std::string_view charset, std::string_view bytes);

/// UTF-8 text written in `charset`; nothing when the charset is unknown, the text is not
/// UTF-8 or the charset cannot hold one of its characters.
std::optional<std::string> FromUtf8(std::string_view charset, std::string_view utf8);

/// The name the converter knows `charset` by ("latin1" gives "ISO-8859-1"); empty when
/// the name cannot be a charset (empty, overlong, or with characters no charset name has).
std::string CanonicalCharset(std::string_view charset);

/// True when `text` is well-formed UTF-8 (no overlong forms, no surrogates).
bool IsUtf8(std::string_view text);

} // namespace tolmail::platform
