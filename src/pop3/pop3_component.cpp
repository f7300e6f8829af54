// TolvanPOP3: creation and release, stored properties and their setter rules, the
// event sinks and the services its messages and attachments reach it through.
#include "platform/library_caller.h"
#include "pop3/pop3_impl.h"

namespace tolmail {

namespace {
constexpr const char* kVersion = "1.10b";
constexpr int32_t kMinTimeOut = 5;  // seconds; a smaller value would end every wait at once
} // namespace

Ref<TolvanPOP3> TolvanPOP3::Create()
{
    return std::make_shared<TolvanPOP3>(Private{});
}

TolvanPOP3::TolvanPOP3(Private) : impl_(std::make_unique<Impl>())
{
    impl_->Messages = Messages::Create(detail::libraryCaller());
    impl_->Socket = TolvanSocket::Create();
}

TolvanPOP3::~TolvanPOP3()
{
    // Messages released here cannot reach us any more: their weak handles have expired.
    impl_->Messages.reset();
    if (impl_->Socket && impl_->Socket->Connected())
        impl_->Socket->CloseSocket();
    impl_->Socket.reset();
}

std::string TolvanPOP3::Login() const { return impl_->Login; }
void TolvanPOP3::Login(const std::string& value) { impl_->Login = value; }
int16_t TolvanPOP3::Port() const { return impl_->Port; }
void TolvanPOP3::Port(int16_t value) { impl_->Port = value; }
std::string TolvanPOP3::Host() const { return impl_->Host; }
void TolvanPOP3::Host(const std::string& value) { impl_->Host = value; }
bool TolvanPOP3::SaveAttachment() const { return impl_->SaveAttachment; }
void TolvanPOP3::SaveAttachment(bool value) { impl_->SaveAttachment = value; }
std::string TolvanPOP3::CachedDirectory() const { return impl_->CachedDirectory; }
void TolvanPOP3::CachedDirectory(const std::string& value) { impl_->CachedDirectory = value; }
std::string TolvanPOP3::AlternativeType() const { return impl_->AlternativeType; }
void TolvanPOP3::AlternativeType(const std::string& value) { impl_->AlternativeType = value; }
int32_t TolvanPOP3::GetMessageCount() { return impl_->MessageCount; }
int32_t TolvanPOP3::GetMessageSize() { return impl_->MailboxSize; }
void TolvanPOP3::MaxMemAttachment(int32_t value) { impl_->MaxMemAttachment = value; }
int32_t TolvanPOP3::MaxMemAttachment() const { return impl_->MaxMemAttachment; }
std::string TolvanPOP3::Version() const { return kVersion; }
void TolvanPOP3::TimeOut(int32_t value) { impl_->TimeOut = value < kMinTimeOut ? kMinTimeOut : value; }
int32_t TolvanPOP3::TimeOut() const { return impl_->TimeOut; }
void TolvanPOP3::Password(const std::string& value) { impl_->Password = value; }
std::string TolvanPOP3::Password() const { return impl_->Password; }
std::string TolvanPOP3::POP3Error() const { return impl_->POP3Error; }

Ref<tolmail::Messages> TolvanPOP3::Messages()
{
    if (!impl_->Messages)
        impl_->Messages = Messages::Create(detail::libraryCaller());
    return impl_->Messages;
}

void TolvanPOP3::Messages(Ref<tolmail::Messages> value)
{
    impl_->Messages = std::move(value);
}

bool TolvanPOP3::Cancel()
{
    // The request is honoured by a GetMessages or GetMessageHeader loop before its
    // next message; true tells the host that such a loop is running to see it.
    impl_->CancelRequested = true;
    return impl_->loopsRunning > 0;
}

uint32_t TolvanPOP3::Advise(std::shared_ptr<TolvanPOP3Events> sink)
{
    return impl_->Events.Advise(std::move(sink));
}

void TolvanPOP3::Unadvise(uint32_t cookie)
{
    impl_->Events.Unadvise(cookie);
}

Ref<TolvanSocket> TolvanPOP3::SocketOf(const detail::Caller& caller) const
{
    caller.require("TolvanPOP3.SocketOf");
    return impl_->Socket;
}

void TolvanPOP3::RaiseProgress(const std::string& text, int32_t task, int32_t param1, int32_t param2,
                               const detail::Caller& caller)
{
    caller.require("TolvanPOP3.RaiseProgress");
    impl_->Events.raise([&](TolvanPOP3Events& sink) { sink.OnPOP3Event(text, task, param1, param2); });
}

void TolvanPOP3::ReportError(const std::string& text, const detail::Caller& caller)
{
    caller.require("TolvanPOP3.ReportError");
    impl_->POP3Error = text;
}

void TolvanPOP3::Impl::raise(const TaskEvent& event, int32_t param1, int32_t param2) const
{
    const std::string text = event.Text();
    Events.raise([&](TolvanPOP3Events& sink) { sink.OnPOP3Event(text, event.task, param1, param2); });
}

} // namespace tolmail
