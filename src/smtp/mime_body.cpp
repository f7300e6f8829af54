// MIME body of a sent message: single-part text or multipart/mixed with attachment
// parts (RFC 2045, RFC 2046 5.1, RFC 2183 Content-Disposition).
#include "smtp/mime_body.h"

#include "codec/base64.h"
#include "smtp/chunk_encoders.h"
#include "smtp/data_writer.h"
#include "smtp/header_value.h"
#include "smtp/headers.h"

namespace tolmail::smtp {

namespace {

constexpr const char* kCrLf = "\r\n";

std::string attachmentHeaders(const std::string& boundary, const PendingAttachment& a)
{
    const std::string name = FoldHeaderValue(a.ShortName);
    std::string piece = "--" + boundary + kCrLf;
    piece += "Content-Type: application/octet-stream; name=\"" + name + "\"" + kCrLf;
    piece += std::string("Content-Transfer-Encoding: ") + EncodingRuleOf(a.Encoding).token + kCrLf;
    piece += "Content-Disposition: attachment; filename=\"" + name + "\"" + kCrLf;
    piece += kCrLf;
    return piece;
}

} // namespace

std::string MakeBoundary(const platform::LocalTime& now)
{
    std::string encoded = codec::Base64Encode(platform::MailDateText(now));
    if (encoded.size() >= 2)
        encoded.resize(encoded.size() - 2);
    return "----= _NextPart_" + encoded;
}

int32_t SendBodyAndAttachments(const MessageFields& m, DataWriter& out, const RaiseEvent& raise)
{
    const std::string boundary = MakeBoundary(platform::LocalNow());
    if (m.attachments.empty()) {
        std::string piece;
        if (!m.ContentType.empty()) {
            piece += std::string("MIME-Version: 1.0") + kCrLf;
            piece += "Content-Type: " + FoldHeaderValue(m.ContentType) + "; charset=" + FoldHeaderValue(CharsetName(m)) +
                     kCrLf;
        }
        piece += kCrLf + m.MailBody + kCrLf;
        out.sendText(piece);
        return 0;
    }

    std::string first = std::string("MIME-Version: 1.0") + kCrLf;
    first += std::string("Content-Type: multipart/mixed;") + kCrLf;
    first += "        boundary=\"" + boundary + "\"" + kCrLf;
    first += kCrLf;
    first += std::string("This message is in MIME format. Since your mail reader does not understand") + kCrLf;
    first += std::string("this format, some or all of this message may not be legible") + kCrLf;
    first += kCrLf;
    first += "--" + boundary + kCrLf;
    first += std::string("Content-Type: text/plain; charset=\"ISO-8859-1\"") + kCrLf;
    first += kCrLf;
    first += m.MailBody + kCrLf + kCrLf;
    out.sendText(first);

    for (const auto& a : m.attachments) {
        out.sendText(attachmentHeaders(boundary, a));
        if (const int32_t rc = SendAttachmentData(out, a.Filename, a.Encoding, raise); rc != 0)
            return rc;
        out.sendText(kCrLf);
    }
    out.sendText("--" + boundary + "--" + kCrLf + kCrLf);
    return 0;
}

} // namespace tolmail::smtp
