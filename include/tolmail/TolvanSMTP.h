// TolvanSMTP: composes an Internet mail message (RFC 5322, MIME of RFC 2045/2046) and
// delivers it to one SMTP server (RFC 5321) out of a host list.
#pragma once

#include <cstdint>
#include <memory>
#include <string>

#include "tolmail/events.h"
#include "tolmail/ref.h"
#include "tolmail/smtp_codes.h"

namespace tolmail {

/// The event of TolvanSMTP (dispatch id 1): progress of connection, transaction and
/// attachment encoding, with the task numbers 1 to 21.
class TolvanSMTPEvents {
public:
    virtual ~TolvanSMTPEvents() = default;
    virtual void OnSMTPEvent(const std::string& paramtext, int32_t task, int32_t param1, int32_t param2)
    {
        (void)paramtext, (void)task, (void)param1, (void)param2;
    }
};

/// Members appear in the slot order of the automation interface.
class TolvanSMTP : public std::enable_shared_from_this<TolvanSMTP> {
    struct Private {
        explicit Private() = default;
    };

public:
    /// Creates a sending component together with the socket it owns.
    static Ref<TolvanSMTP> Create();
    explicit TolvanSMTP(Private);
    /// Closes a connected socket without QUIT.
    ~TolvanSMTP();
    TolvanSMTP(const TolvanSMTP&) = delete;
    TolvanSMTP& operator=(const TolvanSMTP&) = delete;

    /// Body type of a single-part MIME message ("text/plain").
    std::string ContentType() const;
    void ContentType(const std::string& value);
    /// When not empty, the Date header value, used verbatim.
    std::string DateTime() const;
    void DateTime(const std::string& value);
    std::string Subject() const;
    void Subject(const std::string& value);
    /// Message text; ImportMailBody appends to it.
    std::string MailBody() const;
    void MailBody(const std::string& value);
    std::string FromName() const;
    void FromName(const std::string& value);
    /// Sender's address; required by Send.
    std::string FromEmail() const;
    void FromEmail(const std::string& value);
    /// Charset name that overrides CharSet.
    std::string CustomCharset() const;
    void CustomCharset(const std::string& value);
    /// Adds a Return-Receipt-To header.
    bool ReturnReceipt() const;
    void ReturnReceipt(bool value);
    std::string ReplyTo() const;
    void ReplyTo(const std::string& value);
    /// Adds the X-MSMail-Priority header.
    bool UseMSMail() const;
    void UseMSMail(bool value);
    /// MIME mode (one multipart transaction) or plain mode (uuencoded attachments in
    /// transactions of their own).
    bool UseMIME() const;
    void UseMIME(bool value);
    /// Always "1.10b".
    std::string Version() const;
    /// Text of the last failure, "No Error" after a passed reply check.
    std::string SMTPError() const;
    /// One server name or several separated by ";" (write-only).
    void Host(const std::string& value);
    /// Server port, 25 by default (write-only).
    void Port(int16_t value);
    /// 1 gives US-ASCII, other values ISO-8859-1; a value above 2 is stored as 1.
    void CharSet(int32_t value);
    int32_t CharSet() const;
    /// 0 to 5 (1 high, 3 normal, 5 low); other values are stored as 1.
    int32_t Priority() const;
    void Priority(int32_t value);
    /// Seconds, 0 to 1500; other values are stored as 0.
    int32_t TimeOut() const;
    void TimeOut(int32_t value);
    int32_t CountAttachment() const;
    /// 0 when appended, 5 when no file exists under Filename. Encoding: 1
    /// quoted-printable, 2 base64, 3 x-uuencode, anything else binary.
    int32_t AddAttachment(const std::string& Filename, int32_t Encoding);
    /// Bit 1 empties the attachments, bit 2 the recipients, bit 4 the custom headers;
    /// 0 counts as 7.
    void Clear(int32_t Clearflag = 0);
    int32_t CountRecipients() const;
    /// 0 when added, 5 when refused (a name outside the allowed characters, more than 64
    /// characters, or an address holding a line break, a blank inside, "<", ">" or a
    /// control character). RecipientType: 1 To, 2 Cc, 3 Bcc (offered to the server, never
    /// written into the message), others no header line; outside 0..255 throws
    /// Error(errc::Overflow).
    int32_t AddRecipients(const std::string& Name, const std::string& Email, const int32_t& RecipientType);
    /// Tries the hosts of the list in order until one greets with "220", passing over
    /// hosts that refuse the connection. 0, 3 already connected, 4 empty list, 6 no host
    /// greeted, 32 HELO refused, or the socket's code when the last host refused.
    int32_t Connect();
    /// 0 only when the server accepted the end of data with "250". Failures: the codes of
    /// Connect, 5 recipient refused, 6 not connected, 8 FromEmail empty or unusable as an
    /// address, 9 attachment unreadable, 10 attachment missing, 16 no recipient, 64 MAIL,
    /// DATA or the end of data refused or unanswered, 128 the data transfer broke off
    /// (connection lost, or the server stopped taking data for TimeOut seconds). After
    /// 9, 10 and 128 the connection is closed, so the server drops the partial message.
    int32_t Send();
    int32_t Disconnect();
    /// 0 when the line was added, 5 when an argument is empty or the name holds a
    /// line break.
    int32_t AddCustomHeader(const std::string& NameOfHeader, const std::string& Value);
    /// Appends a file's contents to MailBody; 32 when missing, file result codes otherwise.
    int32_t ImportMailBody(const std::string& Filename);

    uint32_t Advise(std::shared_ptr<TolvanSMTPEvents> sink);
    void Unadvise(uint32_t cookie);

    class Impl;  // the component's state and its dialogue (src/smtp)

private:
    std::unique_ptr<Impl> impl_;
};

} // namespace tolmail
