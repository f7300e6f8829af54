// The MIME structure of a sent message (RFC 2045, RFC 2046 5.1): body text and
// attachment parts after the header block.
#pragma once

#include <cstdint>
#include <string>

#include "smtp/attachment_sender.h"
#include "smtp/message.h"

namespace tolmail::smtp {

class DataWriter;

/// "----= _NextPart_" + 32 random hexadecimal digits + "." + a count of the boundaries
/// made in this process: unique, and unknown until the message is sent.
std::string MakeBoundary();

/// Sends the MIME header lines, the blank line, the body and every attachment part.
/// The boundary is made anew until no text of the message holds it. A "binary"
/// attachment whose bytes SMTP cannot carry as they are goes in base64 instead.
/// file_result::Ok, or the first other result of SendAttachmentData (the rest is then
/// not sent); kMissingOrNotSent also when a piece could not be sent (the writer then
/// knows why).
int32_t SendBodyAndAttachments(const MessageFields& m, DataWriter& out, const RaiseEvent& raise);

} // namespace tolmail::smtp
