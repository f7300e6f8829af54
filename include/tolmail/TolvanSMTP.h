/// \file
/// TolvanSMTP: composes an Internet mail message (RFC 5322, MIME of RFC 2045/2046) and
/// delivers it to one SMTP server (RFC 5321) out of a host list.
#pragma once

#include <cstdint>
#include <memory>
#include <string>

#include "tolmail/dialogue_trace.h"
#include "tolmail/events.h"
#include "tolmail/export.h"
#include "tolmail/ref.h"
#include "tolmail/smtp_codes.h"

namespace tolmail {

/// The event of TolvanSMTP (dispatch id 1): progress of connection, transaction and
/// attachment encoding, with the task numbers 1 to 21.
class TOLMAIL_API TolvanSMTPEvents {
public:
    virtual ~TolvanSMTPEvents() = default;
    /// Progress: `task` and `paramtext` as the smtp_event table lists them; param1 and
    /// param2 as each event describes.
    virtual void OnSMTPEvent(const std::string& paramtext, int32_t task, int32_t param1, int32_t param2)
    {
        (void)paramtext, (void)task, (void)param1, (void)param2;
    }
};

/// An SMTP client that composes one message at a time. Members appear in the slot
/// order of the automation interface. Results are smtp_result codes.
class TOLMAIL_API TolvanSMTP : public std::enable_shared_from_this<TolvanSMTP> {
public:
    /// Creates a sending component together with the socket it owns.
    static Ref<TolvanSMTP> Create();
    /// Closes a connected socket without QUIT.
    ~TolvanSMTP();
    TolvanSMTP(const TolvanSMTP&) = delete;
    TolvanSMTP& operator=(const TolvanSMTP&) = delete;

    /// Body type of a single-part MIME message ("text/plain").
    std::string ContentType() const;
    /// Sets ContentType.
    void ContentType(const std::string& value);
    /// When not empty, the Date header value, used verbatim.
    std::string DateTime() const;
    /// Sets DateTime (empty: the time of sending).
    void DateTime(const std::string& value);
    /// The Subject header.
    std::string Subject() const;
    /// Sets the Subject header.
    void Subject(const std::string& value);
    /// Message text; ImportMailBody appends to it.
    std::string MailBody() const;
    /// Sets the message text.
    void MailBody(const std::string& value);
    /// The sender's display name in the From header.
    std::string FromName() const;
    /// Sets FromName.
    void FromName(const std::string& value);
    /// Sender's address; required by Send.
    std::string FromEmail() const;
    /// Sets FromEmail.
    void FromEmail(const std::string& value);
    /// Charset name that overrides CharSet.
    std::string CustomCharset() const;
    /// Sets CustomCharset (empty: CharSet decides).
    void CustomCharset(const std::string& value);
    /// Adds a Return-Receipt-To header.
    bool ReturnReceipt() const;
    /// Sets ReturnReceipt.
    void ReturnReceipt(bool value);
    /// When not empty, the Reply-To header value.
    std::string ReplyTo() const;
    /// Sets ReplyTo.
    void ReplyTo(const std::string& value);
    /// Adds the X-MSMail-Priority header.
    bool UseMSMail() const;
    /// Sets UseMSMail.
    void UseMSMail(bool value);
    /// MIME mode (one multipart transaction) or plain mode (uuencoded attachments in
    /// transactions of their own).
    bool UseMIME() const;
    /// Sets UseMIME.
    void UseMIME(bool value);
    /// International text, false by default. When true, every string given to the
    /// component is UTF-8 and keeps every character: a Subject, display names (FromName,
    /// recipients' names, the name in a Reply-To of the form "name <address>") and custom
    /// header values beyond ASCII go out as encoded words (RFC 2047), addresses outside
    /// them; names with commas or other specials are quoted; attachment names beyond
    /// ASCII go out as filename*=UTF-8''... (RFC 2231) and as encoded words in name=.
    /// The text is declared UTF-8 (in plain mode too, with MIME-Version), unless
    /// CustomCharset names a charset: the caller then knows its body's bytes better, and
    /// they go out under that name unchanged; CharSet is not used. Header text stays
    /// UTF-8 either way, the charset its encoded words name. A recipient name may then
    /// hold any character but a control character, up to 64 characters; ill-formed UTF-8
    /// is refused there and written as U+FFFD elsewhere. Text of printable ASCII is
    /// written as when false, but for the charset and the quoting of names with
    /// specials.
    bool InternationalText() const;
    /// Sets InternationalText.
    void InternationalText(bool value);
    /// Always "1.10b".
    std::string Version() const;
    /// Text of the last failure, "No Error" after a passed reply check.
    std::string SMTPError() const;
    /// One server name or several separated by ";" (write-only).
    void Host(const std::string& value);
    /// Server port, 25 by default (write-only).
    void Port(int16_t value);
    /// 1 gives US-ASCII, other values ISO-8859-1; a value above 2 is stored as 1. Not
    /// used with InternationalText.
    void CharSet(int32_t value);
    /// The stored charset choice (see the setter).
    int32_t CharSet() const;
    /// 0 to 5 (1 high, 3 normal, 5 low); other values are stored as 1.
    int32_t Priority() const;
    /// Sets Priority.
    void Priority(int32_t value);
    /// Seconds, 0 to 1500; other values are stored as 0.
    int32_t TimeOut() const;
    /// Sets TimeOut in seconds.
    void TimeOut(int32_t value);
    /// The number of files AddAttachment appended.
    int32_t CountAttachment() const;
    /// 0 when appended, 5 when no file exists under Filename. Encoding: 1
    /// quoted-printable, 2 base64, 3 x-uuencode, anything else binary.
    int32_t AddAttachment(const std::string& Filename, int32_t Encoding);
    /// Bit 1 empties the attachments, bit 2 the recipients, bit 4 the custom headers;
    /// 0 counts as 7.
    void Clear(int32_t Clearflag = 0);
    /// The number of recipients AddRecipients added.
    int32_t CountRecipients() const;
    /// 0 when added, 5 when refused (a name outside the allowed characters, wider with
    /// InternationalText; more than 64 characters; or an address holding a line break, a
    /// blank inside, "<", ">" or a control character). RecipientType: 1 To, 2 Cc, 3 Bcc (offered to the server, never
    /// written into the message), others no header line; outside 0..255 throws
    /// Error(errc::Overflow).
    int32_t AddRecipients(const std::string& Name, const std::string& Email, const int32_t& RecipientType);
    /// Tries the hosts of the list in order until one greets with "220", passing over
    /// hosts that refuse the connection, then authenticates when a UserName is set. 0, 3
    /// already connected, 4 empty list, 6 no host greeted, 32 HELO (or EHLO) refused, 256
    /// authentication refused, 512 no authentication possible, 1024 TLS failed (see
    /// Security), or the socket's code when the last host refused.
    int32_t Connect();
    /// 0 only when the server accepted the end of data with "250". Failures: the codes of
    /// Connect, 5 recipient refused, 6 not connected, 8 FromEmail empty or unusable as an
    /// address, 9 attachment unreadable, 10 attachment missing, 16 no recipient, 64 MAIL,
    /// DATA or the end of data refused or unanswered, 128 the data transfer broke off
    /// (connection lost, or the server stopped taking data for TimeOut seconds). After
    /// 9, 10 and 128 the connection is closed, so the server drops the partial message.
    int32_t Send();
    /// Ends the session with "QUIT" and closes the connection: 0, 6 not connected,
    /// 64 the reply was not "221".
    int32_t Disconnect();
    /// 0 when the line was added, 5 when an argument is empty or the name holds a
    /// line break.
    int32_t AddCustomHeader(const std::string& NameOfHeader, const std::string& Value);
    /// Appends a file's contents to MailBody; 32 when missing, file result codes otherwise.
    int32_t ImportMailBody(const std::string& Filename);

    /// Sends a message composed elsewhere, the file as it stands: its line ends made
    /// CR LF, a last line end added where missing, nothing else changed. FromEmail and
    /// every recipient (Bcc included) make the envelope; no composing property is used
    /// (the file's own header fields are not read). Connects as Send does when not
    /// connected; the file is read piece by piece, never held whole. Results as Send:
    /// 10 the file is missing and 9 it cannot be read (both found before connecting:
    /// nothing is sent), 9 also when it changed in length while it was sent; the other
    /// codes as Send. Raises the SendingEnvelope, SendingBody and BodySent events.
    int32_t SendMessageFile(const std::string& Filename);
    /// Writes into a new file the message that Send would send now, as Send composes it
    /// (the Date of this moment unless DateTime is set, a boundary of its own) but
    /// without the dots the transfer doubles; connects to nothing. In plain mode
    /// (UseMIME false) the messages of its transactions follow one another: the text,
    /// then one per attachment. The file is created, never overwritten, and removed
    /// again when it could not be written whole. Results: file_result codes (1 the name
    /// is empty or exists, 32 an attachment is missing, the others as they come).
    int32_t SaveMessage(const std::string& Filename);

    /// The account to authenticate as. When not empty, Connect opens with "EHLO" (and
    /// "HELO" when the server does not know it) and authenticates with the best
    /// mechanism both sides speak: XOAUTH2 with an OAuth2Token, else PLAIN, else LOGIN.
    /// Empty (the default): no authentication, and the session opens with "HELO" unless
    /// Security asks for STARTTLS.
    std::string UserName() const;
    /// Sets UserName.
    void UserName(const std::string& value);
    /// The password for UserName (write-only). Never shown in a trace, an event or
    /// SMTPError; the component wipes its copy when it is replaced or released.
    void Password(const std::string& value);
    /// A bearer token for XOAUTH2 (write-only), used instead of the password when the
    /// server offers XOAUTH2. Kept like Password.
    void OAuth2Token(const std::string& value);
    /// Whether the password or token may go over an unencrypted connection to a server on
    /// another machine, where anyone on the way can read it. False by default: then the
    /// component refuses (AuthUnavailable) rather than send it; a server on this machine
    /// (loopback) is always allowed.
    bool AllowPasswordWithoutTLS() const;
    /// Sets AllowPasswordWithoutTLS.
    void AllowPasswordWithoutTLS(bool value);

    /// How the connection is protected, a security_mode value: None (the default: plain
    /// TCP and the HELO session as ever), WhenOffered (EHLO, then STARTTLS when the server
    /// offers it), Required (STARTTLS or TlsFailed before anything else is sent) or
    /// Implicit (TLS from the first byte, for port 465). The server's certificate must be
    /// valid for the host name given and issued by a trusted authority.
    int32_t Security() const;
    /// Sets Security; a value outside security_mode throws Error(errc::InvalidCall).
    void Security(int32_t value);
    /// A PEM file of certificate authorities trusted besides the system's own, for servers
    /// whose certificate a private authority issued; empty (the default): none.
    std::string CAFile() const;
    /// Sets CAFile.
    void CAFile(const std::string& value);
    /// When true, TLS takes ANY certificate: it no longer checks who the server is, so
    /// whoever sits on the way can read and change the mail and the password. For test
    /// servers only. False by default.
    bool SkipCertificateCheck() const;
    /// Sets SkipCertificateCheck.
    void SkipCertificateCheck(bool value);

    /// Shows the dialogue with the server to `sink`, line by line (null: no longer).
    void Trace(std::shared_ptr<DialogueTrace> sink);
    /// Connects an event sink; returns the cookie that disconnects it.
    uint32_t Advise(std::shared_ptr<TolvanSMTPEvents> sink);
    /// Disconnects the sink of this cookie (an unknown cookie is ignored).
    void Unadvise(uint32_t cookie);

private:
    friend class LibraryAccess;
    TolvanSMTP();
    class Impl;
    std::unique_ptr<Impl> impl_;
};

} // namespace tolmail
