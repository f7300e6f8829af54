// TolvanPOP3: creation and release, stored properties and their setter rules, the
// event sinks and the services its messages and attachments reach it through.
#include "platform/library_access.h"
#include "pop3/pop3_impl.h"
#include "socket/dialogue.h"
#include "socket/dialogue_trace.h"

namespace tolmail {

namespace {
constexpr const char* kVersion = "1.10b";
constexpr int32_t kMinTimeOut = 5;  // seconds; a smaller value would end every wait at once


/// The sink of Save's progress is the component's Impl, reached through a handle that
/// shares the component's count: it expires with the component.
WeakRef<model::SaveProgress> SaveProgressOfComponent(const WeakRef<TolvanPOP3>& owner)
{
    Ref<TolvanPOP3> component = owner.lock();
    if (!component)
        return {};
    return Ref<model::SaveProgress>(component, &LibraryAccess::impl(*component));
}

} // namespace

Ref<TolvanPOP3> TolvanPOP3::Create()
{
    model::InstallSaveProgressLookup(&SaveProgressOfComponent);
    return Ref<TolvanPOP3>(new TolvanPOP3());
}

TolvanPOP3::TolvanPOP3() : impl_(std::make_unique<Impl>())
{
    impl_->Messages = LibraryAccess::create<tolmail::Messages>();
    impl_->Socket = TolvanSocket::Create();
}

TolvanPOP3::~TolvanPOP3()
{
    // Messages released here cannot reach us any more: their weak handles have expired.
    impl_->Messages.reset();
    if (impl_->Socket && impl_->Socket->Connected())
        impl_->Socket->CloseSocket();
    impl_->Socket.reset();
    socket::WipeText(impl_->Password);
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
void TolvanPOP3::Password(const std::string& value)
{
    socket::WipeText(impl_->Password);
    impl_->Password = value;
}
std::string TolvanPOP3::Password() const { return impl_->Password; }
std::string TolvanPOP3::POP3Error() const { return impl_->POP3Error; }
int32_t TolvanPOP3::Security() const { return impl_->Security; }
void TolvanPOP3::Security(int32_t value) { impl_->Security = value; }
std::string TolvanPOP3::CAFile() const { return impl_->CAFile; }
void TolvanPOP3::CAFile(const std::string& value) { impl_->CAFile = value; }
bool TolvanPOP3::SkipCertificateCheck() const { return impl_->SkipCertificateCheck; }
void TolvanPOP3::SkipCertificateCheck(bool value) { impl_->SkipCertificateCheck = value; }
bool TolvanPOP3::UseAPOP() const { return impl_->UseAPOP; }
void TolvanPOP3::UseAPOP(bool value) { impl_->UseAPOP = value; }
bool TolvanPOP3::UseAuthPlain() const { return impl_->UseAuthPlain; }
void TolvanPOP3::UseAuthPlain(bool value) { impl_->UseAuthPlain = value; }
bool TolvanPOP3::AllowPasswordWithoutTLS() const { return impl_->AllowPasswordWithoutTLS; }
void TolvanPOP3::AllowPasswordWithoutTLS(bool value) { impl_->AllowPasswordWithoutTLS = value; }
bool TolvanPOP3::FetchUniqueIds() const { return impl_->FetchUniqueIds; }
void TolvanPOP3::FetchUniqueIds(bool value) { impl_->FetchUniqueIds = value; }
bool TolvanPOP3::InternationalText() const { return impl_->InternationalText; }
void TolvanPOP3::InternationalText(bool value) { impl_->InternationalText = value; }

Ref<tolmail::Messages> TolvanPOP3::Messages()
{
    if (!impl_->Messages)
        impl_->Messages = LibraryAccess::create<tolmail::Messages>();
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

void TolvanPOP3::Trace(std::shared_ptr<DialogueTrace> sink)
{
    socket::SetTrace(*impl_->Socket, std::move(sink));
}

uint32_t TolvanPOP3::Advise(std::shared_ptr<TolvanPOP3Events> sink)
{
    return impl_->Events.Advise(std::move(sink));
}

void TolvanPOP3::Unadvise(uint32_t cookie)
{
    impl_->Events.Unadvise(cookie);
}

void TolvanPOP3::Impl::raise(const TaskEvent& event, int32_t param1, int32_t param2, std::string_view named) const
{
    const std::string text = event.Text(named);
    Events.raise([&](TolvanPOP3Events& sink) { sink.OnPOP3Event(text, event.task, param1, param2); });
}

void TolvanPOP3::Impl::decoding(const std::string& file, int32_t total, int32_t left)
{
    raise(pop3_event::Decoding, total, left, file);
}

void TolvanPOP3::Impl::decodingDone(int32_t total)
{
    raise(pop3_event::DecodingDone, total, 0);
}

} // namespace tolmail
