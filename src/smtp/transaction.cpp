// TolvanSMTP's mail transaction: envelope, DATA and the message in MIME mode (one
// transaction) or plain mode (one per attachment) (RFC 5321 3.3, 4.1.1.2-4.1.1.4).
#include "codec/wordfunc.h"
#include "smtp/attachment_sender.h"
#include "smtp/data_writer.h"
#include "smtp/headers.h"
#include "smtp/mime_body.h"
#include "smtp/reply_reader.h"
#include "smtp/smtp_impl.h"

namespace tolmail {

namespace {

using smtp::FirstRead;
using namespace smtp::result;

constexpr const char* kCrLf = "\r\n";

} // namespace

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

} // namespace tolmail
