// The POP3 dialogue (RFC 1939): every reply one status line, and the small text tests
// the replies are judged by.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

#include "socket/dialogue.h"

namespace tolmail::pop3 {

/// A command/reply dialogue over `socket` whose replies are single status lines.
socket::Dialogue StatusDialogue(TolvanSocket& socket);

bool StartsWith(std::string_view text, std::string_view prefix);

/// ASCII letters in upper case; other bytes unchanged.
std::string UpperAscii(std::string_view text);

/// Leading blanks skipped, then the digits up to the first non-digit; 0 when there
/// are none. A number too large for 32 bits gives the largest one.
int32_t LeadingNumber(std::string_view text);

/// True when the text holds a CR or an LF (it would end a command line early).
bool HasLineBreak(std::string_view text);

} // namespace tolmail::pop3
