// MIME body of a sent message: single-part text or multipart/mixed with attachment
// parts (RFC 2045, RFC 2046 5.1, RFC 2183 Content-Disposition).
#include "smtp/mime_body.h"

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <memory>
#include <random>

#include "platform/files.h"
#include "smtp/attachment_headers.h"
#include "smtp/binary_lines.h"
#include "smtp/chunk_encoders.h"
#include "smtp/data_writer.h"
#include "smtp/header_value.h"
#include "smtp/headers.h"
#include "tolmail/socket_codes.h"

namespace tolmail::smtp {

namespace {

constexpr const char* kCrLf = "\r\n";

std::string attachmentHeaders(const std::string& boundary, const PendingAttachment& a, const char* token,
                              bool international)
{
    return "--" + boundary + kCrLf + AttachmentHeaderLines(a.ShortName, token, international) + kCrLf;
}

/// In the international mode, text beyond ASCII is declared as such: a reader must not
/// take it for the 7-bit text that a part without the line is.
std::string eightBitLine(const MessageFields& m, std::string_view text)
{
    if (!m.InternationalText)
        return {};
    const bool eightBit = std::any_of(text.begin(), text.end(), [](char c) { return (c & 0x80) != 0; });
    return eightBit ? std::string("Content-Transfer-Encoding: 8bit") + kCrLf : std::string();
}

/// True when any text of the message that is sent as it is holds `boundary`.
bool textHolds(const MessageFields& m, const std::string& boundary)
{
    const auto holds = [&](const std::string& text) { return text.find(boundary) != std::string::npos; };
    if (holds(m.MailBody) || holds(m.Subject) || holds(m.FromName) || holds(m.FromEmail) || holds(m.ReplyTo) ||
        holds(m.DateTime) || holds(m.CustomHeaders) || holds(m.ContentType) || holds(m.CustomCharset))
        return true;
    for (const auto& r : m.recipients) {
        if (holds(r.Name) || holds(r.Email))
            return true;
    }
    for (const auto& a : m.attachments) {
        if (holds(a.ShortName))
            return true;
    }
    return false;
}

} // namespace

std::string PlainPassHeaders(const MessageFields& m, std::string_view content)
{
    if (!m.InternationalText)
        return {};
    return std::string("MIME-Version: 1.0") + kCrLf + "Content-Type: text/plain; charset=" +
           FoldHeaderValue(CharsetName(m)) + kCrLf + eightBitLine(m, content);
}

std::string MakeBoundary()
{
    // 128 bits from the system's random source: no text written before the message is
    // sent can hold its boundary. The counter keeps the boundaries of one process
    // apart even if that source repeats itself.
    static std::atomic<uint32_t> counter{0};
    const uint32_t count = counter.fetch_add(1) + 1;
    uint32_t bits[4];
    try {
        std::random_device random;
        for (uint32_t& b : bits)
            b = random();
    } catch (const std::exception&) {
        // No system source: the clock to the nanosecond still makes it hard to guess.
        const auto now = std::chrono::high_resolution_clock::now().time_since_epoch().count();
        std::seed_seq seed{static_cast<uint32_t>(now), static_cast<uint32_t>(now >> 32), count};
        std::mt19937 random(seed);
        for (uint32_t& b : bits)
            b = random();
    }
    char text[48];
    std::snprintf(text, sizeof text, "%08x%08x%08x%08x.%x", bits[0], bits[1], bits[2], bits[3], count);
    // The prefix holds "=", which quoted-printable always escapes, and lower-case
    // letters, which uuencode never writes: no encoded line can hold the boundary.
    return std::string("----= _NextPart_") + text;
}

int32_t SendBodyAndAttachments(const MessageFields& m, DataWriter& out, const RaiseEvent& raise)
{
    if (m.attachments.empty()) {
        std::string piece;
        if (!m.ContentType.empty()) {
            piece += std::string("MIME-Version: 1.0") + kCrLf;
            piece += "Content-Type: " + FoldHeaderValue(m.ContentType) + "; charset=" + FoldHeaderValue(CharsetName(m)) +
                     kCrLf;
            piece += eightBitLine(m, m.MailBody);
        }
        piece += kCrLf + m.MailBody + kCrLf;
        return out.sendText(piece) == socket_result::Ok ? file_result::Ok : kMissingOrNotSent;
    }

    std::string boundary = MakeBoundary();
    while (textHolds(m, boundary))
        boundary = MakeBoundary();

    std::string first = std::string("MIME-Version: 1.0") + kCrLf;
    first += std::string("Content-Type: multipart/mixed;") + kCrLf;
    first += "        boundary=\"" + boundary + "\"" + kCrLf;
    first += kCrLf;
    first += std::string("This message is in MIME format. Since your mail reader does not understand") + kCrLf;
    first += std::string("this format, some or all of this message may not be legible") + kCrLf;
    first += kCrLf;
    first += "--" + boundary + kCrLf;
    // The plain composition declares its text ISO-8859-1 whatever the settings say.
    const std::string textCharset = m.InternationalText ? FoldHeaderValue(CharsetName(m)) : "ISO-8859-1";
    first += "Content-Type: text/plain; charset=\"" + textCharset + "\"" + kCrLf;
    first += eightBitLine(m, m.MailBody);
    first += kCrLf;
    first += m.MailBody + kCrLf + kCrLf;
    if (out.sendText(first) != socket_result::Ok)
        return kMissingOrNotSent;

    for (const auto& a : m.attachments) {
        int32_t encoding = a.Encoding;
        std::unique_ptr<BinaryLineCheck> check;
        if (EncodingRuleOf(encoding).encode == nullptr) {
            // Bytes that SMTP cannot carry as they are (lone CR or LF, long lines) or that
            // hold the boundary go in base64 instead of arriving changed.
            if (!platform::IsNormalFile(a.Filename))
                return kMissingOrNotSent;
            bool sendable = false;
            if (const int32_t rc = CheckBinaryFile(a.Filename, boundary, sendable); rc != file_result::Ok)
                return rc;
            if (sendable)
                check = std::make_unique<BinaryLineCheck>(boundary);
            else
                encoding = EncodingBase64;
        }
        const std::string headers = attachmentHeaders(boundary, a, EncodingRuleOf(encoding).token, m.InternationalText);
        if (out.sendText(headers) != socket_result::Ok)
            return kMissingOrNotSent;
        if (const int32_t rc = SendAttachmentData(out, a.Filename, encoding, raise, check.get()); rc != file_result::Ok)
            return rc;
        if (out.sendText(kCrLf) != socket_result::Ok)
            return kMissingOrNotSent;
    }
    return out.sendText("--" + boundary + "--" + kCrLf + kCrLf) == socket_result::Ok ? file_result::Ok
                                                                                       : kMissingOrNotSent;
}

} // namespace tolmail::smtp
