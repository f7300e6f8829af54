// Attachments: the keyed collection of a message's parts.
#pragma once

#include <string>

#include "tolmail/Attachment.h"
#include "tolmail/keyed_collection.h"

namespace tolmail {

class Attachments {
    struct Private {
        explicit Private() = default;
    };

public:
    explicit Attachments(Private) {}
    static Ref<Attachments> Create(const detail::Caller& caller);

    Ref<Attachment> Add(const std::string& Description, const std::string& Encoding, const std::string& Filename,
                        const std::string& Name, const std::string& Size, const std::string& ContentType,
                        const std::string& ContentSubType, const std::string& TempFilename,
                        const std::string& CachedDirectory, WeakRef<TolvanPOP3> Pop3Handle,
                        const std::string& sKey = {});
    Ref<Attachment> Item(const Variant& vntIndexKey) const { return store_.item(vntIndexKey); }
    int32_t Count() const { return store_.count(); }
    void Remove(const Variant& vntIndexKey) { store_.remove(vntIndexKey); }
    Enumerator<Attachment> NewEnum() const { return Enumerator<Attachment>(store_.items()); }

private:
    detail::KeyedStore<Attachment> store_;
};

} // namespace tolmail
