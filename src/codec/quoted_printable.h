// Quoted-printable of MIME (RFC 2045): 76-character lines, escapes never cut.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

namespace tolmail::codec {

/// Every output line ends with CR LF; CR LF in the text is a hard line break.
std::string QpEncode(std::string_view text);
/// Appends QpEncode(text) to output.
void QpEncodeAppend(std::string& output, std::string_view text);
/// Writes one logical line (pending blanks escaped) as physical lines of at most 76
/// characters, then empties line and pendingRun. A line ending in a broken escape,
/// which QpEncode never makes, is written whole at its end rather than looping.
void QpFlushLine(std::string& output, std::string& line, std::string& pendingRun);
/// Appends "=" and two upper-case hex digits of (code and 255).
void QpAppendHex(std::string& line, int16_t code);
/// Never fails: malformed escapes pass through; blanks at the end of the text are dropped.
std::string QpDecode(std::string_view text);
/// Appends QpDecode(text) to output.
void QpDecodeAppend(std::string& output, std::string_view text);

} // namespace tolmail::codec
