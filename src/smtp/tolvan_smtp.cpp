// TolvanSMTP's public surface: properties with their setter rules, the recipient,
// custom-header and attachment lists, and the body import (RFC 5322 material).
#include <algorithm>
#include <string_view>

#include "codec/utf8.h"

#include "platform/files.h"
#include "smtp/header_value.h"
#include "smtp/smtp_impl.h"
#include "socket/dialogue.h"
#include "socket/dialogue_trace.h"
#include "tolmail/error.h"
#include "tolmail/security_mode.h"

namespace tolmail {

namespace {

constexpr std::string_view kNameCharacters =
    "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789-!@#%*+=., ";
constexpr size_t kMaxNameOrAddress = 64;

bool isAcceptableName(const std::string& name, bool international)
{
    if (!international)
        return !name.empty() && name.size() <= kMaxNameOrAddress &&
               name.find_first_not_of(kNameCharacters) == std::string::npos;
    // Every letter of every script, written as encoded words; no control character,
    // which no header can carry, and no bytes that are not UTF-8, whose text is unknown.
    const bool control = std::any_of(name.begin(), name.end(), [](char c) {
        const auto u = static_cast<unsigned char>(c);
        return u < 0x20 || u == 0x7F;
    });
    return !name.empty() && !control && codec::IsUtf8(name) &&
           codec::Utf8CharacterCount(name) <= kMaxNameOrAddress;
}

} // namespace

Ref<TolvanSMTP> TolvanSMTP::Create()
{
    return Ref<TolvanSMTP>(new TolvanSMTP());
}

TolvanSMTP::TolvanSMTP() : impl_(std::make_unique<Impl>()) {}

TolvanSMTP::~TolvanSMTP()
{
    if (impl_->socket && impl_->socket->Connected())
        impl_->socket->CloseSocket();
}

std::string TolvanSMTP::ContentType() const { return impl_->message.ContentType; }
void TolvanSMTP::ContentType(const std::string& value) { impl_->message.ContentType = value; }
std::string TolvanSMTP::DateTime() const { return impl_->message.DateTime; }
void TolvanSMTP::DateTime(const std::string& value) { impl_->message.DateTime = value; }
std::string TolvanSMTP::Subject() const { return impl_->message.Subject; }
void TolvanSMTP::Subject(const std::string& value) { impl_->message.Subject = value; }
std::string TolvanSMTP::MailBody() const { return impl_->message.MailBody; }
void TolvanSMTP::MailBody(const std::string& value) { impl_->message.MailBody = value; }
std::string TolvanSMTP::FromName() const { return impl_->message.FromName; }
void TolvanSMTP::FromName(const std::string& value) { impl_->message.FromName = value; }
std::string TolvanSMTP::FromEmail() const { return impl_->message.FromEmail; }
void TolvanSMTP::FromEmail(const std::string& value) { impl_->message.FromEmail = value; }
std::string TolvanSMTP::CustomCharset() const { return impl_->message.CustomCharset; }
void TolvanSMTP::CustomCharset(const std::string& value) { impl_->message.CustomCharset = value; }
bool TolvanSMTP::ReturnReceipt() const { return impl_->message.ReturnReceipt; }
void TolvanSMTP::ReturnReceipt(bool value) { impl_->message.ReturnReceipt = value; }
std::string TolvanSMTP::ReplyTo() const { return impl_->message.ReplyTo; }
void TolvanSMTP::ReplyTo(const std::string& value) { impl_->message.ReplyTo = value; }
bool TolvanSMTP::UseMSMail() const { return impl_->message.UseMSMail; }
void TolvanSMTP::UseMSMail(bool value) { impl_->message.UseMSMail = value; }
bool TolvanSMTP::UseMIME() const { return impl_->message.UseMIME; }
void TolvanSMTP::UseMIME(bool value) { impl_->message.UseMIME = value; }
bool TolvanSMTP::InternationalText() const { return impl_->message.InternationalText; }
void TolvanSMTP::InternationalText(bool value) { impl_->message.InternationalText = value; }
std::string TolvanSMTP::Version() const { return "1.10b"; }
std::string TolvanSMTP::SMTPError() const { return impl_->smtpError; }
void TolvanSMTP::Host(const std::string& value) { impl_->hostList = value; }
void TolvanSMTP::Port(int16_t value) { impl_->port = value; }

void TolvanSMTP::CharSet(int32_t value)
{
    impl_->message.charset = value > 2 ? 1 : value;
}

int32_t TolvanSMTP::CharSet() const { return impl_->message.charset; }
int32_t TolvanSMTP::Priority() const { return impl_->message.priority; }

void TolvanSMTP::Priority(int32_t value)
{
    impl_->message.priority = (value < 0 || value > 5) ? 1 : value;
}

int32_t TolvanSMTP::TimeOut() const { return impl_->timeOut; }

void TolvanSMTP::TimeOut(int32_t value)
{
    impl_->timeOut = (value < 0 || value > 1500) ? 0 : value;
}

int32_t TolvanSMTP::CountAttachment() const
{
    return static_cast<int32_t>(impl_->message.attachments.size());
}

int32_t TolvanSMTP::AddAttachment(const std::string& Filename, int32_t Encoding)
{
    if (!platform::IsNormalFile(Filename))
        return smtp_result::ArgumentRefused;
    impl_->message.attachments.push_back({platform::BaseName(Filename), Filename, Encoding});
    return smtp_result::Ok;
}

void TolvanSMTP::Clear(int32_t Clearflag)
{
    const int32_t flags = Clearflag == 0 ? 7 : Clearflag;
    if (flags & 1)
        impl_->message.attachments.clear();
    if (flags & 2)
        impl_->message.recipients.clear();
    if (flags & 4) {
        impl_->message.CustomHeaders.clear();
        impl_->message.CustomFields.clear();
    }
}

int32_t TolvanSMTP::CountRecipients() const
{
    return static_cast<int32_t>(impl_->message.recipients.size());
}

int32_t TolvanSMTP::AddRecipients(const std::string& Name, const std::string& Email, const int32_t& RecipientType)
{
    if (!isAcceptableName(Name, impl_->message.InternationalText) || Email.size() > kMaxNameOrAddress)
        return smtp_result::ArgumentRefused;
    // An address with a line break could end the RCPT TO command and smuggle another;
    // one with a blank or ">" could close the address and add ESMTP parameters.
    if (smtp::HasLineBreak(Email) || smtp::HasAddressBreak(Email))
        return smtp_result::ArgumentRefused;
    if (RecipientType < 0 || RecipientType > 255)
        throw Error(errc::Overflow, "Overflow: RecipientType " + std::to_string(RecipientType) + " is outside 0 to 255");
    impl_->message.recipients.push_back({Name, Email, static_cast<uint8_t>(RecipientType)});
    return smtp_result::Ok;
}

// Each of these raises events, and a handler may drop the host's last reference.
int32_t TolvanSMTP::Connect()
{
    const Ref<TolvanSMTP> keepAlive = shared_from_this();
    return impl_->Connect();
}

int32_t TolvanSMTP::Send()
{
    const Ref<TolvanSMTP> keepAlive = shared_from_this();
    return impl_->Send();
}

int32_t TolvanSMTP::SendMessageFile(const std::string& Filename)
{
    const Ref<TolvanSMTP> keepAlive = shared_from_this();
    return impl_->SendMessageFile(Filename);
}

int32_t TolvanSMTP::SaveMessage(const std::string& Filename)
{
    const Ref<TolvanSMTP> keepAlive = shared_from_this();
    return impl_->SaveMessage(Filename);
}

int32_t TolvanSMTP::Disconnect()
{
    const Ref<TolvanSMTP> keepAlive = shared_from_this();
    return impl_->Disconnect();
}

int32_t TolvanSMTP::AddCustomHeader(const std::string& NameOfHeader, const std::string& Value)
{
    if (NameOfHeader.empty() || Value.empty())
        return smtp_result::ArgumentRefused;
    // A name with a line break would start a header line of its own.
    if (smtp::HasLineBreak(NameOfHeader))
        return smtp_result::ArgumentRefused;
    impl_->message.CustomHeaders += NameOfHeader + ": " + smtp::FoldHeaderValue(Value) + "\r\n";
    impl_->message.CustomFields.emplace_back(NameOfHeader, Value);
    return smtp_result::Ok;
}

int32_t TolvanSMTP::ImportMailBody(const std::string& Filename)
{
    if (!platform::IsNormalFile(Filename))
        return file_result::Missing;
    platform::FileResult result = file_result::Ok;
    platform::File file = platform::File::OpenRead(Filename, result);
    if (!file.isOpen())
        return result == file_result::Ok ? file_result::OtherFailure : result;
    std::string contents;
    char buffer[65536];
    for (;;) {
        const long n = file.read(buffer, sizeof buffer, result);
        if (n < 0)
            return result;
        if (n == 0)
            break;
        contents.append(buffer, static_cast<size_t>(n));
    }
    impl_->message.MailBody += contents;
    return file_result::Ok;
}

std::string TolvanSMTP::UserName() const { return impl_->userName; }
void TolvanSMTP::UserName(const std::string& value) { impl_->userName = value; }

void TolvanSMTP::Password(const std::string& value)
{
    socket::WipeText(impl_->password);
    impl_->password = value;
}

void TolvanSMTP::OAuth2Token(const std::string& value)
{
    socket::WipeText(impl_->oauth2Token);
    impl_->oauth2Token = value;
}

bool TolvanSMTP::AllowPasswordWithoutTLS() const { return impl_->allowPasswordWithoutTls; }
void TolvanSMTP::AllowPasswordWithoutTLS(bool value) { impl_->allowPasswordWithoutTls = value; }

int32_t TolvanSMTP::Security() const { return impl_->security; }

void TolvanSMTP::Security(int32_t value)
{
    // An unknown mode must not quietly become a weaker one.
    if (value < security_mode::None || value > security_mode::Implicit)
        throw Error(errc::InvalidCall, "Invalid procedure call: Security " + std::to_string(value) + " is outside 0 to 3");
    impl_->security = value;
}

std::string TolvanSMTP::CAFile() const { return impl_->caFile; }
void TolvanSMTP::CAFile(const std::string& value) { impl_->caFile = value; }
bool TolvanSMTP::SkipCertificateCheck() const { return impl_->skipCertificateCheck; }
void TolvanSMTP::SkipCertificateCheck(bool value) { impl_->skipCertificateCheck = value; }

void TolvanSMTP::Trace(std::shared_ptr<DialogueTrace> sink) { socket::SetTrace(*impl_->socket, std::move(sink)); }
uint32_t TolvanSMTP::Advise(std::shared_ptr<TolvanSMTPEvents> sink) { return impl_->events.Advise(std::move(sink)); }
void TolvanSMTP::Unadvise(uint32_t cookie) { impl_->events.Unadvise(cookie); }

} // namespace tolmail
