// Attachment: one part of a retrieved message, its body still encoded, held in
// memory or in a temporary file under the cache directory.
#pragma once

#include <cstdint>
#include <string>

#include "tolmail/caller.h"
#include "tolmail/ref.h"

namespace tolmail {

class TolvanPOP3;

class Attachment {
    struct Private {
        explicit Private() = default;
    };
    friend class Attachments;

public:
    explicit Attachment(Private) {}
    /// Deletes the temporary file (CachedDirectory + TempFilename), if any.
    ~Attachment();
    Attachment(const Attachment&) = delete;
    Attachment& operator=(const Attachment&) = delete;

    std::string AttachmentBody() const { return attachmentBody_; }
    std::string TempFilename() const { return tempFilename_; }
    std::string ContentType() const { return contentType_; }
    std::string ContentSubType() const { return contentSubType_; }
    /// Decodes the body into a new file; a FileResult-style code (0 saved).
    int32_t Save(const std::string& Filename);
    std::string Size() const { return size_; }
    void Name(const std::string& value) { name_ = value; }
    std::string Name() const { return name_; }
    std::string Filename() const { return filename_; }
    std::string Encoding() const { return encoding_; }
    std::string Description() const { return description_; }

    // Component-only members: the library's own classes pass the genuine Caller.
    void Description(const std::string& value, const detail::Caller& caller);
    void Encoding(const std::string& value, const detail::Caller& caller);
    void Filename(const std::string& value, const detail::Caller& caller);
    void Size(const std::string& value, const detail::Caller& caller);
    void ContentType(const std::string& value, const detail::Caller& caller);
    void ContentSubType(const std::string& value, const detail::Caller& caller);
    void TempFilename(const std::string& value, const detail::Caller& caller);
    void AttachmentBody(std::string value, const detail::Caller& caller);
    void CachedDirectory(const std::string& value, const detail::Caller& caller);
    std::string CachedDirectory(const detail::Caller& caller) const;
    /// The back-reference to the component that raises Save's progress events; a
    /// weak handle, so an attachment that outlives its component never touches it.
    void Pop3Handle(WeakRef<TolvanPOP3> owner, const detail::Caller& caller);

private:
    std::string description_;
    std::string encoding_;
    std::string filename_;
    std::string name_;
    std::string size_;
    std::string contentType_;
    std::string contentSubType_;
    std::string tempFilename_;
    std::string attachmentBody_;
    std::string cachedDirectory_;
    WeakRef<TolvanPOP3> owner_;
};

} // namespace tolmail
