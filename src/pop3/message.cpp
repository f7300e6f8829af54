// Message: the public members of a retrieved message, its release, deletion at the
// server ("DELE", RFC 1939) and the settings it reads through its component.
#include "tolmail/Message.h"

#include <iterator>
#include <utility>

#include "codec/temp_files.h"
#include "platform/library_access.h"
#include "pop3/message_impl.h"
#include "pop3/pop3_impl.h"
#include "pop3/progress.h"
#include "pop3/retrieval.h"
#include "pop3/session.h"
#include "tolmail/socket_codes.h"

namespace tolmail {

namespace {
static_assert([] {
    for (size_t i = 0; i < std::size(pop3::kFailures); ++i) {
        if (static_cast<size_t>(pop3::kFailures[i].failure) != i)
            return false;
    }
    return true;
}(), "kFailures must list the failures in the order of Failure");

// What a message reads when its component has gone.
constexpr const char* kDefaultAlternativeType = "PLAIN";
constexpr int32_t kDefaultMaxMemAttachment = 16384;
} // namespace

Message::Message() : impl_(std::make_unique<Impl>()) {}

Message::~Message()
{
    // A host's handler must not be able to throw through a release.
    try {
        pop3::Raise(impl_->Owner, pop3_event::CleaningUp, 0, 0);
    } catch (...) {
    }
    for (const std::string* file : {&impl_->FullMsgFilename, &impl_->RawMsgFilename}) {
        if (!file->empty())
            (void)codec::DeleteFileIfPresent(*file);
    }
    impl_->Owner.reset();
}

std::string Message::CharSet() const { return impl_->CharSet; }
void Message::CharSet(const std::string& value) { impl_->CharSet = value; }

Ref<tolmail::Recipients> Message::Recipients()
{
    if (!impl_->Recipients)
        impl_->Recipients = LibraryAccess::create<tolmail::Recipients>();
    return impl_->Recipients;
}

Ref<tolmail::Attachments> Message::Attachments()
{
    if (!impl_->Attachments)
        impl_->Attachments = LibraryAccess::create<tolmail::Attachments>();
    return impl_->Attachments;
}

std::string Message::Subject() const { return impl_->Subject; }
std::string Message::Size() const { return impl_->Size; }
std::string Message::ReplyToAddress() const { return impl_->ReplyToAddress; }
std::string Message::ReplyToName() const { return impl_->ReplyToName; }
std::string Message::Priority() const { return impl_->Priority; }
std::string Message::MessageText() const { return impl_->MessageText; }
std::string Message::MessageId() const { return impl_->MessageId; }
std::string Message::UniqueId() const { return impl_->UniqueId; }
int32_t Message::MessageStatus() const { return impl_->MessageStatus; }
std::string Message::CompleteHeader() const { return impl_->CompleteHeader; }
std::string Message::FullMsgFilename() const { return impl_->FullMsgFilename; }
std::string Message::RawMsgFilename() const { return impl_->RawMsgFilename; }
std::string Message::FromAddress() const { return impl_->FromAddress; }
std::string Message::FromName() const { return impl_->FromName; }
std::string Message::DateTime() const { return impl_->DateTime; }
std::string Message::ContentType() const { return impl_->ContentType; }
std::string Message::ContentSubType() const { return impl_->ContentSubType; }
bool Message::IsMIME() const { return impl_->IsMIME; }
std::string Message::ReturnReceipt() const { return impl_->ReturnReceipt; }

int32_t Message::DeleteAtServer()
{
    Impl& message = *impl_;
    message.failure = pop3::Failure::None;
    const int32_t result = message.DeleteAtServer();
    message.ReportFailure();
    return result;
}

int32_t Message::Impl::DeleteAtServer()
{
    using pop3::Failure;
    if (!connected())
        return Fail(Failure::NotConnected);
    socket::Dialogue talk = pop3::StatusDialogue(*Socket);
    talk.command("DELE " + std::to_string(ServerNumber));
    talk.readReply();
    const std::string& reply = talk.reply();
    if (reply.empty()) {
        // A reply still on its way would be read as the next command's.
        const bool closed = !connected();
        Abandon();
        return Fail(closed ? Failure::DeleteConnectionLost : Failure::DeleteNoReply);
    }
    return pop3::StartsWith(reply, "-ERR") ? Fail(Failure::DeleteRefused) : pop3_result::Ok;
}

int32_t Message::Impl::Fail(pop3::Failure why, std::string detail)
{
    failure = why;
    failureDetail = std::move(detail);
    return pop3::RowOf(why).code;
}

void Message::Impl::ReportFailure() const
{
    Ref<TolvanPOP3> owner = Owner.lock();
    if (!owner)
        return;
    std::string text = pop3::RowOf(failure).text;
    if (failure != pop3::Failure::None && !failureDetail.empty())
        text += ": " + failureDetail;
    LibraryAccess::impl(*owner).POP3Error = std::move(text);
}

void Message::Impl::Abandon()
{
    if (Socket)
        Socket->CloseSocket();
}

void Message::Impl::DrainLines()
{
    std::string line;
    for (;;) {
        const int32_t code = Socket->GetlnData(line);
        if (line == ".\r\n")
            return;
        if (line.empty() && code != socket_result::LineTooLong) {
            Abandon();
            return;
        }
    }
}

bool Message::Impl::connected() const
{
    return Socket && Socket->Connected();
}

std::string Message::Impl::cachedDirectory() const
{
    Ref<TolvanPOP3> owner = Owner.lock();
    return owner ? owner->CachedDirectory() : std::string();
}

std::string Message::Impl::alternativeType() const
{
    Ref<TolvanPOP3> owner = Owner.lock();
    return owner ? owner->AlternativeType() : std::string(kDefaultAlternativeType);
}

bool Message::Impl::internationalText() const
{
    Ref<TolvanPOP3> owner = Owner.lock();
    return owner && owner->InternationalText();
}

int32_t Message::Impl::maxMemAttachment() const
{
    Ref<TolvanPOP3> owner = Owner.lock();
    return owner ? owner->MaxMemAttachment() : kDefaultMaxMemAttachment;
}

} // namespace tolmail
