// The header block of a sent message (RFC 5322 3.6): originator, destination,
// subject, date, priority and custom lines.
#pragma once

#include <cstdint>
#include <string>

#include "platform/local_time.h"
#include "smtp/message.h"

namespace tolmail::smtp {

/// The whole header block, every line ended by CR LF, no blank line. Host-given values
/// are folded; the clock is read once so that the date and its zone agree. Bcc
/// recipients get no line.
std::string ComposeHeaders(const MessageFields& m, const platform::LocalTime& now);
std::string ComposeHeaders(const MessageFields& m);

/// The To (1), Cc (2) or Bcc (3) line, or "" when no recipient has that type.
std::string BuildRecipientLine(const MessageFields& m, uint8_t type);

/// DateTime verbatim when set, else the date of `now` with English names and the zone
/// in effect at that moment, e.g. "Sun, 06 Dec 2026 09:34:18 +0100".
std::string BuildDateValue(const std::string& dateTime, const platform::LocalTime& now);

/// CustomCharset when set, else "US-ASCII" for flag 1 and "ISO-8859-1" otherwise.
std::string CharsetName(const MessageFields& m);

} // namespace tolmail::smtp
