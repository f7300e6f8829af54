// The message a TolvanSMTP holds until it is sent: fields, recipients, attachments
// (RFC 5322 header material, MIME parts of RFC 2045).
#pragma once

#include <cstdint>
#include <string>
#include <utility>
#include <vector>

namespace tolmail::smtp {

struct PendingRecipient {
    std::string Name;
    std::string Email;
    uint8_t RecipientType = 1;  // 1 To, 2 Cc, 3 Bcc; others are offered but get no header line
};

struct PendingAttachment {
    std::string ShortName;  // the file's own name, written into the part headers
    std::string Filename;   // the path that is read at sending time
    int32_t Encoding = 2;
};

/// Transfer encodings by code; any other code sends the bytes unchanged.
enum Encoding : int32_t {
    EncodingQuotedPrintable = 1,
    EncodingBase64 = 2,
    EncodingUuencode = 3,
};

struct MessageFields {
    std::string ContentType = "text/plain";
    std::string DateTime;
    std::string Subject;
    std::string MailBody;
    std::string FromName;
    std::string FromEmail;
    std::string CustomCharset;
    bool ReturnReceipt = false;
    std::string ReplyTo;
    bool UseMSMail = true;
    bool UseMIME = true;
    int32_t charset = 1;
    int32_t priority = 3;
    std::string CustomHeaders;  // complete lines, each ended by CR LF
    /// The same custom headers as given (name, value), for the international mode,
    /// which writes each value at sending time.
    std::vector<std::pair<std::string, std::string>> CustomFields;
    /// Host strings are UTF-8; text beyond ASCII goes out as encoded words and
    /// RFC 2231 file names, the text declared UTF-8 unless CustomCharset says otherwise.
    bool InternationalText = false;
    std::vector<PendingRecipient> recipients;
    std::vector<PendingAttachment> attachments;
};

/// True when the text holds a CR or an LF.
inline bool HasLineBreak(const std::string& text)
{
    return text.find_first_of("\r\n") != std::string::npos;
}

/// True when an envelope address, once the blanks around it are trimmed, holds a
/// blank, an angle bracket or a control character: after "<" any of them would end the
/// address and let the rest pass as ESMTP parameters ("> NOTIFY=NEVER") or commands.
inline bool HasAddressBreak(const std::string& address)
{
    const size_t first = address.find_first_not_of(' ');
    const size_t last = address.find_last_not_of(' ');
    for (size_t i = first; i != std::string::npos && i <= last; ++i) {
        const auto c = static_cast<unsigned char>(address[i]);
        if (c <= ' ' || c == 0x7F || c == '<' || c == '>')
            return true;
    }
    return false;
}

} // namespace tolmail::smtp
