// TolvanSMTP's mail transaction: envelope, DATA and the message in MIME mode (one
// transaction) or plain mode (one per attachment) (RFC 5321 3.3, 4.1.1.2-4.1.1.4).
#include "codec/wordfunc.h"
#include "smtp/attachment_sender.h"
#include "smtp/data_writer.h"
#include "smtp/headers.h"
#include "smtp/mime_body.h"
#include "platform/net.h"
#include "smtp/smtp_impl.h"

namespace tolmail {

namespace {

using socket::FirstRead;

constexpr const char* kCrLf = "\r\n";

} // namespace

int32_t TolvanSMTP::Impl::checkSenderSyntax()
{
    // Checked before anything goes out: a line break in the sender would end the
    // MAIL FROM command and let the rest pass as commands of their own.
    if (smtp::HasLineBreak(message.FromEmail)) {
        smtpError = "FromEmail properties cannot contain line breaks";
        return smtp_result::NoSender;
    }
    // Likewise a blank, "<" or ">" inside it would close the address and pass the rest
    // as parameters of MAIL FROM.
    if (smtp::HasAddressBreak(message.FromEmail)) {
        smtpError = "FromEmail properties cannot contain blanks, angle brackets or control characters";
        return smtp_result::NoSender;
    }
    return smtp_result::Ok;
}

smtp::RaiseEvent TolvanSMTP::Impl::progressRaiser()
{
    return [this](const TaskEvent& event, std::string_view named, int32_t p1, int32_t p2) {
        raise(event, named, p1, p2);
    };
}

int32_t TolvanSMTP::Impl::Send()
{
    if (const int32_t rc = checkSenderSyntax(); rc != smtp_result::Ok)
        return rc;
    if (const int32_t rc = ensureConnected(); rc != smtp_result::Ok)
        return rc;
    if (const int32_t rc = checkEnvelope(); rc != smtp_result::Ok)
        return rc;
    raise(smtp_event::SendingEnvelope);
    return message.UseMIME ? sendMime() : sendPlain();
}

int32_t TolvanSMTP::Impl::ensureConnected()
{
    if (!socket->Connected()) {
        if (const int32_t rc = Connect(); rc != smtp_result::Ok)
            return rc;
    }
    if (!socket->Connected()) {
        smtpError = hostDownText();
        return smtp_result::HostDown;
    }
    return smtp_result::Ok;
}

int32_t TolvanSMTP::Impl::checkEnvelope()
{
    if (message.FromEmail.empty()) {
        smtpError = "FromEmail properties cannot be blank";
        return smtp_result::NoSender;
    }
    if (message.recipients.empty()) {
        smtpError = "No Recepient";
        return smtp_result::NoRecipient;
    }
    return smtp_result::Ok;
}

int32_t TolvanSMTP::Impl::sendEnvelope(const std::string& mailFrom)
{
    dialogue.command("MAIL FROM: " + mailFrom);
    dialogue.readReply(FirstRead::Line);
    if (!CheckReply(2)) {
        socket->CloseSocket();
        return smtp_result::ServerRefused;
    }
    for (const auto& r : message.recipients) {
        dialogue.command("RCPT TO: <" + codec::TrimBlanks(r.Email) + ">");
        dialogue.readReply(FirstRead::Line);
        if (!CheckReply(2)) {
            socket->CloseSocket();
            return smtp_result::RecipientRefused;
        }
    }
    return smtp_result::Ok;
}

int32_t TolvanSMTP::Impl::sendMime()
{
    // '<' as a character: "<" + std::string&& draws a false -Wrestrict from GCC 12 (bug 105651).
    if (const int32_t rc = sendEnvelope('<' + codec::TrimBlanks(message.FromEmail) + '>'); rc != smtp_result::Ok)
        return rc;
    if (const int32_t rc = openData(false); rc != smtp_result::Ok)
        return rc;

    return transferData(
        false, [this](smtp::DataWriter& out) { return writeMime(out); },
        [this](int32_t rc) {
            abandonData(attachmentFailureText(rc));
            return rc == smtp::kMissingOrNotSent ? smtp_result::AttachmentMissing : smtp_result::AttachmentFailed;
        });
}

int32_t TolvanSMTP::Impl::transferData(bool closeOnRefusal, const std::function<int32_t(smtp::DataWriter&)>& write,
                                       const std::function<int32_t(int32_t rc)>& sourceFailed)
{
    smtp::SocketSink sink(*socket);
    smtp::DataWriter out(sink);
    const int32_t rc = write(out);
    if (out.failure() != socket_result::Ok)
        return abandonData(transferFailureText());
    if (rc != file_result::Ok)
        return sourceFailed(rc);
    if (const int32_t end = endData(out, closeOnRefusal); end != smtp_result::Ok)
        return end;
    raise(smtp_event::BodySent);
    return smtp_result::Ok;
}

int32_t TolvanSMTP::Impl::openData(bool closeOnRefusal)
{
    raise(smtp_event::SendingBody);
    dialogue.command("DATA");
    dialogue.readReply(FirstRead::Line);
    if (!CheckReply(3)) {
        // A refusal leaves the session in step; a reply that never came may still come
        // as "354", and the next commands would then be taken as message text.
        if (closeOnRefusal || dialogue.reply().empty())
            socket->CloseSocket();
        return smtp_result::ServerRefused;
    }
    dialogue.messageFollows(true);
    return smtp_result::Ok;
}

int32_t TolvanSMTP::Impl::writeMime(smtp::DataWriter& out)
{
    out.sendText(smtp::ComposeHeaders(message));
    if (out.failure() != socket_result::Ok)
        return smtp::kMissingOrNotSent;
    return smtp::SendBodyAndAttachments(message, out, progressRaiser());
}

int32_t TolvanSMTP::Impl::writePlainPass(smtp::DataWriter& out, size_t pass)
{
    out.sendText(smtp::ComposeHeaders(message));
    if (pass == 0) {
        out.sendText(smtp::PlainPassHeaders(message, message.MailBody));
        out.sendText(kCrLf + message.MailBody + kCrLf);
        return file_result::Ok;
    }
    const smtp::PendingAttachment& a = message.attachments[pass - 1];
    // A line break in the name would start lines of its own inside the data.
    std::string name = a.ShortName;
    std::erase_if(name, [](char c) { return c == '\r' || c == '\n'; });
    out.sendText(smtp::PlainPassHeaders(message, name));
    out.sendText(kCrLf + ("begin 777 " + name) + kCrLf);
    int32_t rc = file_result::Ok;
    if (out.failure() == socket_result::Ok)
        rc = smtp::SendAttachmentData(out, a.Filename, smtp::EncodingUuencode, progressRaiser());
    out.sendText(std::string("end") + kCrLf);
    return rc;
}

int32_t TolvanSMTP::Impl::sendPlain()
{
    // Pass 0 carries the message text; pass i the i-th attachment, uuencoded.
    for (size_t pass = 0; pass <= message.attachments.size(); ++pass) {
        // A connection lost between passes means the message was not (wholly) sent.
        if (!socket->Connected()) {
            smtpError = hostDownText();
            return smtp_result::HostDown;
        }
        if (const int32_t rc = sendEnvelope(message.FromEmail); rc != smtp_result::Ok)
            return rc;
        if (const int32_t rc = openData(true); rc != smtp_result::Ok)
            return rc;

        const int32_t rc = transferData(
            true, [this, pass](smtp::DataWriter& out) { return writePlainPass(out, pass); },
            [this](int32_t failed) {
                abandonData(attachmentFailureText(failed));
                return smtp_result::AttachmentFailed;
            });
        if (rc != smtp_result::Ok)
            return rc;
    }
    return smtp_result::Ok;
}

int32_t TolvanSMTP::Impl::abandonData(const std::string& why)
{
    // Without the end-of-data line the server drops what it received; were the
    // connection kept, the next commands would be read as part of this message.
    smtpError = why;
    socket->CloseSocket();
    return smtp_result::DataNotSent;
}

std::string TolvanSMTP::Impl::transferFailureText() const
{
    if (!socket->Connected())
        return "Connection lost while sending the data; the message was not sent";
    return "Time-out while sending the data: the server took none of it for " + std::to_string(timeOut) +
           " s; the message was not sent";
}

std::string TolvanSMTP::Impl::attachmentFailureText(int32_t rc)
{
    if (rc == smtp::kMissingOrNotSent)
        return "An attachment file is missing; the message was not sent";
    if (rc == smtp::kChangedWhileSent)
        return "A binary attachment changed while it was sent; the message was not sent";
    return "An attachment file could not be read; the message was not sent";
}

int32_t TolvanSMTP::Impl::endData(smtp::DataWriter& out, bool closeOnRefusal)
{
    // The end-of-data line goes straight to the socket: the writer would stuff its dot.
    if (out.flush() != socket_result::Ok ||
        socket->senddta(Variant(std::string(".") + kCrLf)).toNumber() != socket_result::Ok)
        return abandonData(transferFailureText());
    const bool arrived = awaitDataReply();
    if (dialogue.reply().empty()) {
        if (!arrived)
            return abandonData(transferFailureText());
        // Whether the message was taken is unknown; a late reply must not be read as
        // the answer to a later command.
        smtpError = socket->Connected() ? "No reply from the server after the data within " +
                                              std::to_string(timeOut) + " s"
                                        : std::string("The server closed the connection after the data without a reply");
        smtpError += "; the message may or may not have been accepted";
        socket->CloseSocket();
        return smtp_result::ServerRefused;
    }
    if (!CheckReply(2)) {
        // The server's own text says why it did not accept the data.
        if (closeOnRefusal)
            socket->CloseSocket();
        return smtp_result::ServerRefused;
    }
    return smtp_result::Ok;
}

bool TolvanSMTP::Impl::awaitDataReply()
{
    // senddta returns once the kernel holds the data, which may be megabytes ahead of
    // a slow server. The time-out for the reply counts from the moment the data has
    // gone out: while the server keeps taking it, the wait goes on.
    long unsent = platform::UnsentBytes(socket->SocketHandle());
    for (;;) {
        dialogue.readReply(FirstRead::Block);
        if (!dialogue.reply().empty() || unsent <= 0 || timeOut <= 0)
            return true;
        // Closed with data still on its way (the last look is the best we have: the
        // queue of a closed socket cannot be read), or a whole time-out without a byte
        // taken: the data did not arrive.
        const long now = socket->Connected() ? platform::UnsentBytes(socket->SocketHandle()) : unsent;
        if (now >= unsent)
            return false;
        unsent = now;
    }
}

} // namespace tolmail
