// The MIME structure of a sent message (RFC 2045, RFC 2046 5.1): body text and
// attachment parts after the header block.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

#include "smtp/attachment_sender.h"
#include "smtp/message.h"

namespace tolmail::smtp {

class DataWriter;

/// Plain mode has no MIME structure; in the international mode each of its messages
/// still declares its text (`content`: the body, or the uuencoded file's name), so that
/// a reader knows the encoded words and the UTF-8 for what they are. "" otherwise.
std::string PlainPassHeaders(const MessageFields& m, std::string_view content);

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
