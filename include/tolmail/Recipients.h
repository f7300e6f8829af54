// Recipients: the keyed collection of a message's recipients.
#pragma once

#include <string>

#include "tolmail/Recipient.h"
#include "tolmail/caller.h"
#include "tolmail/keyed_collection.h"

namespace tolmail {

class Recipients {
    struct Private {
        explicit Private() = default;
    };

public:
    explicit Recipients(Private) {}
    /// Made by the library only (a host cannot create one).
    static Ref<Recipients> Create(const detail::Caller& caller);

    Ref<Recipient> Add(const std::string& Address, const std::string& Name, int16_t Types,
                       const std::string& sKey = {});
    /// The default member: by 1-based position or by key.
    Ref<Recipient> Item(const Variant& vntIndexKey) const { return store_.item(vntIndexKey); }
    int32_t Count() const { return store_.count(); }
    void Remove(const Variant& vntIndexKey) { store_.remove(vntIndexKey); }
    Enumerator<Recipient> NewEnum() const { return Enumerator<Recipient>(store_.items()); }

private:
    detail::KeyedStore<Recipient> store_;
};

} // namespace tolmail
