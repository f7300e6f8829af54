// Messages: the keyed collection that TolvanPOP3 fills.
#pragma once

#include <cstdint>
#include <string>

#include "tolmail/Message.h"
#include "tolmail/keyed_collection.h"

namespace tolmail {

class Messages {
    struct Private {
        explicit Private() = default;
    };

public:
    explicit Messages(Private) {}
    static Ref<Messages> Create(const detail::Caller& caller);

    /// Removes every message from the collection; the server is not contacted.
    void DeleteAllMessage();
    /// Removes one message from the collection ("delete 1 msg"); the server is not contacted.
    void Delete(const Variant& vntIndexKey) { Remove(vntIndexKey); }
    Ref<Message> Item(const Variant& vntIndexKey) const { return store_.item(vntIndexKey); }
    int32_t Count() const { return store_.count(); }
    void Remove(const Variant& vntIndexKey) { store_.remove(vntIndexKey); }
    Enumerator<Message> NewEnum() const { return Enumerator<Message>(store_.items()); }

    /// Component-only: creates a message with these fields and inserts it.
    Ref<Message> AddMessage(int32_t serverNumber, const std::string& CharSet, const std::string& ContentType,
                            const std::string& DateTime, const std::string& FromName,
                            const std::string& FromAddress, const std::string& FullMsgFilename,
                            const std::string& CompleteHeader, int32_t MessageStatus, const std::string& MessageId,
                            const std::string& MessageText, const std::string& Priority,
                            const std::string& ReplyToName, const std::string& ReplyToAddress,
                            const std::string& Size, const std::string& Subject, WeakRef<TolvanPOP3> Pop3Handle,
                            const std::string& sKey, const detail::Caller& caller);

private:
    detail::KeyedStore<Message> store_;
};

} // namespace tolmail
