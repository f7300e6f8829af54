// Quoted-printable of MIME (RFC 2045): 76-character lines, escapes never cut.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

namespace tolmail::codec {

std::string QpEncode(std::string_view text);
void QpFlushLine(std::string& output, std::string& line, std::string& pendingRun);
void QpAppendHex(std::string& line, int16_t code);
std::string QpDecode(std::string_view text);

} // namespace tolmail::codec
