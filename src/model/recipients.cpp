// Recipients: the To and Cc recipients of a retrieved message (RFC 5322 address lists).
#include "tolmail/Recipients.h"

#include "model/keyed_store.h"
#include "platform/library_access.h"

namespace tolmail {

class TOLMAIL_HIDDEN Recipients::Impl {
public:
    model::KeyedStore<Recipient> store;
};

Recipients::Recipients() : impl_(std::make_unique<Impl>()) {}
Recipients::~Recipients() = default;

Ref<Recipient> Recipients::Add(const std::string& Address, const std::string& Name, int16_t Types,
                               const std::string& sKey)
{
    Ref<Recipient> recipient = LibraryAccess::create<Recipient>();
    recipient->Address(Address);
    recipient->Name(Name);
    recipient->Types(Types);
    impl_->store.add(recipient, sKey);
    return recipient;
}

Ref<Recipient> Recipients::Item(const Variant& vntIndexKey) const { return impl_->store.item(vntIndexKey); }
int32_t Recipients::Count() const { return impl_->store.count(); }
void Recipients::Remove(const Variant& vntIndexKey) { impl_->store.remove(vntIndexKey); }
Enumerator<Recipient> Recipients::NewEnum() const { return Enumerator<Recipient>(impl_->store.items()); }

} // namespace tolmail
