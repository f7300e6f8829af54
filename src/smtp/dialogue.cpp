// TolvanSMTP's dialogue with the server: connection over the host list, greeting and
// HELO, the mail transaction in MIME or plain mode, QUIT (RFC 5321 3.1-3.3, 4.1).
#include <array>

#include "codec/base64.h"
#include "codec/wordfunc.h"
#include "smtp/attachment_sender.h"
#include "smtp/data_writer.h"
#include "smtp/headers.h"
#include "smtp/host_list.h"
#include "smtp/mime_body.h"
#include "smtp/reply_reader.h"
#include "smtp/smtp_impl.h"
#include "socket/winsock_support.h"

namespace tolmail {

namespace {

using smtp::FirstRead;

/// Result codes of the dialogue.
enum : int32_t {
    kOk = 0,
    kAlreadyConnected = 3,
    kNoHost = 4,
    kRecipientRefused = 5,
    kHostDown = 6,
    kNoSender = 8,
    kAttachmentFailed = 9,
    kAttachmentMissing = 10,
    kNoRecipient = 16,
    kHeloRefused = 32,
    kRefused = 64,
};

constexpr int kWsaHostDown = 10064;
constexpr const char* kCrLf = "\r\n";

struct ReplyStep {
    const char* code;
    const char* textOnMismatch;  // null: the reply itself
};

/// Steps 1 to 4 of the reply check.
constexpr std::array<ReplyStep, 4> kReplySteps = {{
    {"220", "Not a SMTP Server"},
    {"250", nullptr},
    {"354", nullptr},
    {"221", nullptr},
}};

std::string hostDownText()
{
    return socket::WinsockErrorText(kWsaHostDown);
}

} // namespace

TolvanSMTP::Impl::Impl() : socket(TolvanSocket::Create())
{
    codec::InitBase64Table();
}

void TolvanSMTP::Impl::raise(const std::string& text, int32_t task, int32_t param1, int32_t param2)
{
    events.raise([&](TolvanSMTPEvents& sink) { sink.OnSMTPEvent(text, task, param1, param2); });
}

bool TolvanSMTP::Impl::CheckReply(int step, const std::string& reply)
{
    smtpError = "No Error";
    if (step < 1 || step > static_cast<int>(kReplySteps.size()))
        return false;
    const ReplyStep& rule = kReplySteps[static_cast<size_t>(step - 1)];
    if (reply.size() >= 3 && reply.compare(0, 3, rule.code) == 0)
        return true;
    smtpError = rule.textOnMismatch != nullptr ? rule.textOnMismatch : reply;
    return false;
}

void TolvanSMTP::Impl::command(const std::string& line)
{
    socket->senddta(Variant(line + kCrLf));
}

int32_t TolvanSMTP::Impl::Connect()
{
    if (socket->Connected())
        return kAlreadyConnected;
    if (hostList.empty()) {
        smtpError = "SMTPHost properties cannot be blank";
        return kNoHost;
    }
    for (const std::string& candidate : smtp::SplitHostList(hostList)) {
        socket->Host(candidate);
        socket->Port(static_cast<uint16_t>(port));  // the socket takes the low 16 bits
        socket->TimeOut(timeOut);
        raise("CONNECT: Connecting to destination host (" + socket->Host() + ")", 1);
        if (const int32_t rc = socket->Connect(); rc != 0)
            return rc;
        if (!socket->Connected())
            continue;
        raise("CONNECT: Connected to " + socket->Host(), 2);
        const std::string greeting = smtp::ReadReply(*socket, FirstRead::Line);
        if (CheckReply(1, greeting))
            break;
        socket->CloseSocket();
        raise("CONNECT: Invalid Respond (" + greeting + ")", 3);
    }
    if (!socket->Connected()) {
        smtpError = hostDownText();
        return kHostDown;
    }

    std::string localName = socket->LocalHostName();
    if (localName.empty())
        localName = "Unknown Host";
    command("HELO " + localName);
    const std::string reply = smtp::ReadReply(*socket, FirstRead::Block);
    if (!CheckReply(2, reply)) {
        socket->CloseSocket();
        raise("CONNECT: Invalid Respond (" + reply + ")", 3);
        return kHeloRefused;
    }
    return kOk;
}

int32_t TolvanSMTP::Impl::Send()
{
    // Checked before anything goes out: a line break in the sender would end the
    // MAIL FROM command and let the rest pass as commands of their own.
    if (smtp::HasLineBreak(message.FromEmail)) {
        smtpError = "FromEmail properties cannot contain line breaks";
        return kNoSender;
    }
    if (!socket->Connected()) {
        if (const int32_t rc = Connect(); rc != 0)
            return rc;
    }
    if (!socket->Connected()) {
        smtpError = hostDownText();
        return kHostDown;
    }
    if (message.FromEmail.empty()) {
        smtpError = "FromEmail properties cannot be blank";
        return kNoSender;
    }
    if (message.recipients.empty()) {
        smtpError = "No Recepient";
        return kNoRecipient;
    }
    raise("TRANSACTION: Sending Sender and Recipients Information", 10);
    return message.UseMIME ? sendMime() : sendPlain();
}

int32_t TolvanSMTP::Impl::sendEnvelope(const std::string& mailFrom)
{
    command("MAIL FROM: " + mailFrom);
    if (!CheckReply(2, smtp::ReadReply(*socket, FirstRead::Line))) {
        socket->CloseSocket();
        return kRefused;
    }
    for (const auto& r : message.recipients) {
        command("RCPT TO: <" + codec::TrimBlanks(r.Email) + ">");
        if (!CheckReply(2, smtp::ReadReply(*socket, FirstRead::Line))) {
            socket->CloseSocket();
            return kRecipientRefused;
        }
    }
    return kOk;
}

int32_t TolvanSMTP::Impl::sendMime()
{
    if (const int32_t rc = sendEnvelope("<" + codec::TrimBlanks(message.FromEmail) + ">"); rc != kOk)
        return rc;
    raise("TRANSACTION: Sending Mailbody & Attachments (if any)", 11);
    command("DATA");
    if (!CheckReply(3, smtp::ReadReply(*socket, FirstRead::Line)))
        return kRefused;

    smtp::DataWriter out(*socket);
    out.sendText(smtp::ComposeHeaders(message));
    const smtp::RaiseEvent progress = [this](const std::string& t, int32_t task, int32_t p1, int32_t p2) {
        raise(t, task, p1, p2);
    };
    if (const int32_t rc = smtp::SendBodyAndAttachments(message, out, progress); rc != 0)
        return rc == 32 ? kAttachmentMissing : kAttachmentFailed;

    command(".");
    if (!CheckReply(2, smtp::ReadReply(*socket, FirstRead::Block)))
        return kRefused;
    raise("TRANSACTION: Mailbody sent", 12);
    return kOk;
}

int32_t TolvanSMTP::Impl::sendPlain()
{
    const smtp::RaiseEvent progress = [this](const std::string& t, int32_t task, int32_t p1, int32_t p2) {
        raise(t, task, p1, p2);
    };
    // Pass 0 carries the message text; pass i the i-th attachment, uuencoded.
    for (size_t pass = 0; pass <= message.attachments.size(); ++pass) {
        // A connection lost between passes means the message was not (wholly) sent.
        if (!socket->Connected()) {
            smtpError = hostDownText();
            return kHostDown;
        }
        if (const int32_t rc = sendEnvelope(message.FromEmail); rc != kOk)
            return rc;
        raise("TRANSACTION: Sending Mailbody & Attachments (if any)", 11);
        command("DATA");
        if (!CheckReply(3, smtp::ReadReply(*socket, FirstRead::Line))) {
            socket->CloseSocket();
            return kRefused;
        }

        smtp::DataWriter out(*socket);
        out.sendText(smtp::ComposeHeaders(message));
        if (pass == 0) {
            out.sendText(kCrLf + message.MailBody + kCrLf);
        } else {
            const smtp::PendingAttachment& a = message.attachments[pass - 1];
            out.sendText(kCrLf + ("begin 777 " + a.ShortName) + kCrLf);
            if (smtp::SendAttachmentData(out, a.Filename, smtp::EncodingUuencode, progress) != 0)
                return kAttachmentFailed;
            out.sendText(std::string("end") + kCrLf);
        }

        command(".");
        if (!CheckReply(2, smtp::ReadReply(*socket, FirstRead::Block))) {
            socket->CloseSocket();
            return kRefused;
        }
        raise("TRANSACTION: Mailbody sent", 12);
    }
    return kOk;
}

int32_t TolvanSMTP::Impl::Disconnect()
{
    raise("DISCONNECT: Loging off from Host", 4);
    if (!socket->Connected()) {
        raise("DISCONNECT: Not Connected", 7);
        return kHostDown;
    }
    command("QUIT");
    const std::string reply = smtp::ReadReply(*socket, FirstRead::Line);
    socket->CloseSocket();
    if (!CheckReply(4, reply)) {
        raise("DISCONNECT: Unable to Logoff", 5);
        return kRefused;
    }
    raise("DISCONNECT: Logoff and Disconnect gracefully", 6);
    return kOk;
}

} // namespace tolmail
