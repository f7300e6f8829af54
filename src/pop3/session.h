// Command and reply helpers of the POP3 dialogue (RFC 1939): one command line out,
// one reply line in, and the small text tests the replies are judged by.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

namespace tolmail {
class TolvanSocket;
}

namespace tolmail::pop3 {

/// Sends the command with CR LF as one piece; nothing is pipelined. The socket's code:
/// non-zero when the command may not have reached the server whole. The dialogue trace
/// shows `shown` in its place when that is not empty: a command with a secret in it.
int32_t SendCommand(TolvanSocket& socket, std::string_view command, std::string_view shown = {});

/// Reads one reply line, CR LF included; the socket's code (0, or non-zero with `line` empty).
/// The trace shows status lines; the lines of a message after "RETR" or "TOP" only as
/// their size, before the next command.
int32_t ReadLine(TolvanSocket& socket, std::string& line);

bool StartsWith(std::string_view text, std::string_view prefix);

/// ASCII letters in upper case; other bytes unchanged.
std::string UpperAscii(std::string_view text);

/// Leading blanks skipped, then the digits up to the first non-digit; 0 when there
/// are none. A number too large for 32 bits gives the largest one.
int32_t LeadingNumber(std::string_view text);

/// True when the text holds a CR or an LF (it would end a command line early).
bool HasLineBreak(std::string_view text);

} // namespace tolmail::pop3
