// TolvanPOP3's loops over the mailbox: GetMessages ("RETR" each message) and
// GetMessageHeader ("LIST" and "TOP" each message), both stoppable by Cancel.
#include "platform/library_access.h"
#include "pop3/message_impl.h"
#include "pop3/pop3_impl.h"

namespace tolmail {

namespace {

/// Counts a running loop, so that Cancel can tell whether a loop will see its request.
class LoopScope {
public:
    explicit LoopScope(int32_t& running) : running_(running) { ++running_; }
    ~LoopScope() { --running_; }
    LoopScope(const LoopScope&) = delete;
    LoopScope& operator=(const LoopScope&) = delete;

private:
    int32_t& running_;
};

/// True (and the request consumed) when Cancel asked the loop to stop.
bool TakeCancel(bool& requested)
{
    if (!requested)
        return false;
    requested = false;
    return true;
}

void RemoveItem(Messages& messages, const Ref<Message>& message)
{
    int32_t position = 1;
    for (const Ref<Message>& item : messages.NewEnum()) {
        if (item == message) {
            messages.Remove(Variant(position));
            return;
        }
        ++position;
    }
}

} // namespace

int32_t TolvanPOP3::GetMessages(uint8_t param)
{
    const Ref<TolvanPOP3> keepAlive = shared_from_this();  // a handler may drop the host's last reference
    Impl& pop = *impl_;
    LoopScope scope(pop.loopsRunning);
    pop.CancelRequested = false;
    const int32_t count = GetMessageCount();
    // Messages handed out earlier stay valid for whoever holds them.
    Ref<tolmail::Messages> messages = LibraryAccess::create<tolmail::Messages>();
    pop.Messages = messages;
    const std::vector<std::string> ids = pop.UniqueIdsByNumber();
    for (int32_t number = 1; number <= count; ++number) {
        if (TakeCancel(pop.CancelRequested))
            break;
        Ref<Message> message = pop3::AddMessage(*messages, number, weak_from_this());
        pop3::SetUniqueId(*message, ids, number);
        int32_t result = message->GetMessage(param);
        if (result != pop3_result::Ok)
            return result;  // the message stays, as far as it was filled
    }
    return pop3_result::Ok;
}

int32_t TolvanPOP3::GetMessageHeader()
{
    const Ref<TolvanPOP3> keepAlive = shared_from_this();  // a handler may drop the host's last reference
    Impl& pop = *impl_;
    LoopScope scope(pop.loopsRunning);
    pop.CancelRequested = false;
    if (!pop.Messages || pop.Messages->Count() != 0)
        pop.Messages = LibraryAccess::create<tolmail::Messages>();
    Ref<tolmail::Messages> messages = pop.Messages;
    const std::vector<std::string> ids = pop.UniqueIdsByNumber();
    for (int32_t number = 1; number <= GetMessageCount(); ++number) {
        if (TakeCancel(pop.CancelRequested))
            break;
        Ref<Message> message;
        int32_t result = pop.FetchHeader(number, messages, weak_from_this(), message);
        if (result == pop3_result::Ok) {
            pop3::SetUniqueId(*message, ids, number);
            continue;
        }
        RemoveItem(*messages, message);
        return result;
    }
    return pop3_result::Ok;
}

} // namespace tolmail
