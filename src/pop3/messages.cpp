// Messages: the collection that TolvanPOP3 fills; it builds each Message with its
// socket and its weak back-reference to the component.
#include "tolmail/Messages.h"

#include "model/keyed_store.h"
#include "platform/library_access.h"
#include "pop3/message_impl.h"
#include "pop3/pop3_impl.h"

namespace tolmail {

class TOLMAIL_HIDDEN Messages::Impl {
public:
    model::KeyedStore<Message> store;
};

Messages::Messages() : impl_(std::make_unique<Impl>()) {}
Messages::~Messages() = default;

void Messages::DeleteAllMessage()
{
    for (int32_t position = Count(); position >= 1; --position)
        Delete(Variant(position));
}

void Messages::Delete(const Variant& vntIndexKey) { Remove(vntIndexKey); }
Ref<Message> Messages::Item(const Variant& vntIndexKey) const { return impl_->store.item(vntIndexKey); }
int32_t Messages::Count() const { return impl_->store.count(); }
void Messages::Remove(const Variant& vntIndexKey) { impl_->store.remove(vntIndexKey); }
Enumerator<Message> Messages::NewEnum() const { return Enumerator<Message>(impl_->store.items()); }

Ref<Message> pop3::AddMessage(Messages& into, int32_t serverNumber, const WeakRef<TolvanPOP3>& owner,
                              const std::string& key)
{
    Ref<Message> message = LibraryAccess::create<Message>();
    MessageImpl& fields = LibraryAccess::impl(*message);
    fields.ServerNumber = serverNumber;
    fields.Owner = owner;
    if (Ref<TolvanPOP3> component = owner.lock())
        fields.Socket = LibraryAccess::impl(*component).Socket;
    fields.Attachments = LibraryAccess::create<Attachments>();
    fields.Recipients = LibraryAccess::create<Recipients>();
    // A duplicate key throws here; the new message is then released at once.
    LibraryAccess::impl(into).store.add(message, key);
    return message;
}

} // namespace tolmail
