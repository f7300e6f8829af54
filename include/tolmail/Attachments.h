/// \file
/// Attachments: the keyed collection of a message's parts.
#pragma once

#include <cstdint>
#include <memory>
#include <string>

#include "tolmail/Attachment.h"
#include "tolmail/enumerator.h"
#include "tolmail/error.h"
#include "tolmail/export.h"
#include "tolmail/ref.h"
#include "tolmail/variant.h"

namespace tolmail {

class TolvanPOP3;

/// The parts of a retrieved message, in the order the body gave them. Positions are
/// 1-based; keys are optional and unique without regard to letter case. Made by the
/// library only.
class TOLMAIL_API Attachments {
public:
    ~Attachments();
    Attachments(const Attachments&) = delete;
    Attachments& operator=(const Attachments&) = delete;

    /// Appends a new attachment with these fields and returns it. Pop3Handle is the
    /// component whose events report the attachment's Save (may be empty). A key
    /// already in the collection throws Error(errc::DuplicateKey) and adds nothing.
    Ref<Attachment> Add(const std::string& Description, const std::string& Encoding, const std::string& Filename,
                        const std::string& Name, const std::string& Size, const std::string& ContentType,
                        const std::string& ContentSubType, const std::string& TempFilename,
                        const std::string& CachedDirectory, WeakRef<TolvanPOP3> Pop3Handle,
                        const std::string& sKey = {});
    /// The attachment at a 1-based position (a number) or under a key (a string);
    /// anything else throws Error(errc::InvalidIndex).
    Ref<Attachment> Item(const Variant& vntIndexKey) const;
    /// The number of attachments.
    int32_t Count() const;
    /// Removes the attachment at a position or under a key (Error(errc::InvalidIndex)
    /// when there is none); its temporary file goes with its last reference.
    void Remove(const Variant& vntIndexKey);
    /// An enumerator over the attachments as they are now.
    Enumerator<Attachment> NewEnum() const;

private:
    friend class LibraryAccess;
    Attachments();
    class Impl;
    std::unique_ptr<Impl> impl_;
};

} // namespace tolmail
