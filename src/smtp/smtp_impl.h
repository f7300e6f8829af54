// TolvanSMTP's state and its dialogue with the server (RFC 5321).
#pragma once

#include <cstdint>
#include <functional>
#include <string>
#include <string_view>

#include "platform/hidden.h"
#include "smtp/attachment_sender.h"
#include "smtp/authentication.h"
#include "smtp/message.h"
#include "socket/dialogue.h"
#include "tolmail/TolvanSMTP.h"
#include "tolmail/TolvanSocket.h"
#include "tolmail/events.h"

namespace tolmail {

namespace smtp {
class DataWriter;
}

class TOLMAIL_HIDDEN TolvanSMTP::Impl {
public:
    Impl();
    /// Wipes the secrets.
    ~Impl();
    Impl(const Impl&) = delete;
    Impl& operator=(const Impl&) = delete;

    int32_t Connect();
    int32_t Send();
    int32_t Disconnect();
    int32_t SendMessageFile(const std::string& filename);
    int32_t SaveMessage(const std::string& filename);

    /// Sets SMTPError to "No Error", then judges the last reply read, that of a step:
    /// 1 greeting "220", 2 HELO/EHLO/MAIL/RCPT/end of data "250", 3 DATA "354", 4 QUIT
    /// "221", 5 an AUTH challenge "334", 6 AUTH accepted "235".
    bool CheckReply(int step);

    /// Raises OnSMTPEvent with the event's text, `named` (a host, a reply, a file)
    /// in its place.
    void raise(const TaskEvent& event, std::string_view named = {}, int32_t param1 = 0, int32_t param2 = 0);

    Ref<TolvanSocket> socket;
    socket::Dialogue dialogue;  // over `socket`, which lives as long
    EventSource<TolvanSMTPEvents> events;
    smtp::MessageFields message;
    std::string hostList = "127.0.0.1";
    int16_t port = 25;
    int32_t timeOut = 15;
    std::string smtpError;
    std::string userName;
    std::string password;     // wiped when replaced or released
    std::string oauth2Token;  // likewise
    bool allowPasswordWithoutTls = false;
    int32_t security = 0;  // a security_mode value
    std::string caFile;
    bool skipCertificateCheck = false;

private:
    /// The session's opening after the greeting: hello(), and under WhenOffered or
    /// Required STARTTLS and a second hello() whose keywords replace the first's. Ok, or
    /// HeloRefused or TlsFailed with the connection closed.
    int32_t introduce(smtp::Extensions& offered);
    /// EHLO when `extended` (HELO when the server does not know EHLO, unless Security
    /// requires STARTTLS) or HELO; what EHLO announced goes to `offered`. Ok, or
    /// HeloRefused or TlsFailed with the connection closed.
    int32_t hello(bool extended, smtp::Extensions& offered);
    /// STARTTLS when offered; Ok also when the session stays plain under WhenOffered.
    int32_t startTls(const smtp::Extensions& offered);
    /// Why no reply came: the wait ended, or the server closed.
    std::string silenceText() const;
    /// Closes the connection; TlsFailed with SMTPError "TLS failed: " + `why`.
    int32_t tlsFailed(const std::string& why);
    /// Authenticates as UserName with a mechanism from `offered`: Ok, AuthRefused or
    /// AuthUnavailable (the connection closed, SMTPError saying why).
    int32_t authenticate(const smtp::Extensions& offered);
    /// The mechanism's exchange; true when the server answered "235".
    bool authPlain();
    bool authLogin();
    bool authXOAuth2();
    /// "Host is down.": the socket layer's text for its error 10064.
    static std::string hostDownText();
    /// NoSender with SMTPError set when FromEmail could break out of MAIL FROM; Ok otherwise.
    int32_t checkSenderSyntax();
    /// Connects unless connected: Ok, Connect's failure, or HostDown with its text when
    /// the connection is gone all the same.
    int32_t ensureConnected();
    /// A sender and at least one recipient: Ok, NoSender or NoRecipient.
    int32_t checkEnvelope();
    smtp::RaiseEvent progressRaiser();
    int32_t sendMime();
    int32_t sendPlain();
    /// The message of MIME mode, header block first: file_result::Ok or the result of
    /// SendBodyAndAttachments. The writer's failure() tells whether the sink failed.
    int32_t writeMime(smtp::DataWriter& out);
    /// Transaction `pass` of plain mode: 0 the text, i the i-th attachment uuencoded.
    int32_t writePlainPass(smtp::DataWriter& out, size_t pass);
    /// DATA and its "354"; Ok or ServerRefused. The connection is closed after a
    /// refusal when `closeOnRefusal`, and always when no reply came.
    int32_t openData(bool closeOnRefusal);
    /// MAIL FROM and every RCPT TO; Ok, or the result that Send returns.
    int32_t sendEnvelope(const std::string& mailFrom);
    /// The data section after "354": `write` puts the message into the writer; then the
    /// end-of-data line and its reply. A failed transfer is DataNotSent; a failure of
    /// the message's source (write's code other than file_result::Ok) is what
    /// `sourceFailed` makes of it, after the data was abandoned. Ok when the server
    /// accepted the message.
    int32_t transferData(bool closeOnRefusal, const std::function<int32_t(smtp::DataWriter&)>& write,
                         const std::function<int32_t(int32_t rc)>& sourceFailed);
    /// Sends the end-of-data line and judges the reply: Ok, ServerRefused (SMTPError
    /// the reply, or why none came) or DataNotSent.
    int32_t endData(smtp::DataWriter& out, bool closeOnRefusal);
    /// Reads the reply to the end of data into the dialogue; false when the data did
    /// not all arrive (the server stopped taking it, or the connection closed before).
    bool awaitDataReply();
    /// Leaves an unfinished DATA section by closing the connection; DataNotSent.
    int32_t abandonData(const std::string& why);
    std::string transferFailureText() const;
    static std::string attachmentFailureText(int32_t rc);
};

} // namespace tolmail
