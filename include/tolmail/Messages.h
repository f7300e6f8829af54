/// \file
/// Messages: the keyed collection that TolvanPOP3 fills.
#pragma once

#include <cstdint>
#include <memory>
#include <string>

#include "tolmail/Message.h"
#include "tolmail/enumerator.h"
#include "tolmail/error.h"
#include "tolmail/export.h"
#include "tolmail/ref.h"
#include "tolmail/variant.h"

namespace tolmail {

/// The messages that TolvanPOP3 fills, in mailbox order. Positions are 1-based; keys
/// are unique without regard to letter case. Made by the library only.
class TOLMAIL_API Messages {
public:
    ~Messages();
    Messages(const Messages&) = delete;
    Messages& operator=(const Messages&) = delete;

    /// Removes every message from the collection; the server is not contacted.
    void DeleteAllMessage();
    /// Removes one message from the collection (as Remove); the server is not contacted.
    void Delete(const Variant& vntIndexKey);
    /// The message at a 1-based position (a number) or under a key (a string);
    /// anything else throws Error(errc::InvalidIndex).
    Ref<Message> Item(const Variant& vntIndexKey) const;
    /// The number of messages.
    int32_t Count() const;
    /// Removes the message at a position or under a key (Error(errc::InvalidIndex)
    /// when there is none).
    void Remove(const Variant& vntIndexKey);
    /// An enumerator over the messages as they are now.
    Enumerator<Message> NewEnum() const;

private:
    friend class LibraryAccess;
    Messages();
    class Impl;
    std::unique_ptr<Impl> impl_;
};

} // namespace tolmail
