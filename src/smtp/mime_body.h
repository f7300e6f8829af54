// The MIME structure of a sent message (RFC 2045, RFC 2046 5.1): body text and
// attachment parts after the header block.
#pragma once

#include <cstdint>
#include <string>

#include "platform/local_time.h"
#include "smtp/attachment_sender.h"
#include "smtp/message.h"

namespace tolmail::smtp {

class DataWriter;

/// "----= _NextPart_" + the base64 of the local date and time of `now`: messages sent
/// within the same second share it.
std::string MakeBoundary(const platform::LocalTime& now);

/// Sends the MIME header lines, the blank line, the body and every attachment part.
/// 0, or the first non-zero result of SendAttachmentData (the rest is then not sent).
int32_t SendBodyAndAttachments(const MessageFields& m, DataWriter& out, const RaiseEvent& raise);

} // namespace tolmail::smtp
