/// \file
/// Recipients: the keyed collection of a message's recipients.
#pragma once

#include <cstdint>
#include <memory>
#include <string>

#include "tolmail/Recipient.h"
#include "tolmail/enumerator.h"
#include "tolmail/error.h"
#include "tolmail/export.h"
#include "tolmail/ref.h"
#include "tolmail/variant.h"

namespace tolmail {

/// The To and Cc recipients of a retrieved message, in header order. Positions are
/// 1-based; keys are optional and unique without regard to letter case. Made by the
/// library only.
class TOLMAIL_API Recipients {
public:
    ~Recipients();
    Recipients(const Recipients&) = delete;
    Recipients& operator=(const Recipients&) = delete;

    /// Appends a new recipient and returns it; Types 1 To, 2 Cc. A key already in the
    /// collection throws Error(errc::DuplicateKey) and adds nothing.
    Ref<Recipient> Add(const std::string& Address, const std::string& Name, int16_t Types,
                       const std::string& sKey = {});
    /// The default member: the recipient at a 1-based position (a number) or under a
    /// key (a string); anything else throws Error(errc::InvalidIndex).
    Ref<Recipient> Item(const Variant& vntIndexKey) const;
    /// The number of recipients.
    int32_t Count() const;
    /// Removes the recipient at a position or under a key (Error(errc::InvalidIndex)
    /// when there is none).
    void Remove(const Variant& vntIndexKey);
    /// An enumerator over the recipients as they are now.
    Enumerator<Recipient> NewEnum() const;

private:
    friend class LibraryAccess;
    Recipients();
    class Impl;
    std::unique_ptr<Impl> impl_;
};

} // namespace tolmail
