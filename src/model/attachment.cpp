// Attachment: the component-only setters and the deletion of the temporary file
// that holds the still-encoded body.
#include "tolmail/Attachment.h"

#include "codec/temp_files.h"

namespace tolmail {

Attachment::~Attachment()
{
    // The file lives exactly as long as the last reference to this attachment.
    if (!tempFilename_.empty())
        (void)codec::DeleteFileIfPresent(cachedDirectory_ + tempFilename_);
    owner_.reset();
}

void Attachment::Description(const std::string& value, const detail::Caller& caller)
{
    caller.require("Attachment.Description");
    description_ = value;
}

void Attachment::Encoding(const std::string& value, const detail::Caller& caller)
{
    caller.require("Attachment.Encoding");
    encoding_ = value;
}

void Attachment::Filename(const std::string& value, const detail::Caller& caller)
{
    caller.require("Attachment.Filename");
    filename_ = value;
}

void Attachment::Size(const std::string& value, const detail::Caller& caller)
{
    caller.require("Attachment.Size");
    size_ = value;
}

void Attachment::ContentType(const std::string& value, const detail::Caller& caller)
{
    caller.require("Attachment.ContentType");
    contentType_ = value;
}

void Attachment::ContentSubType(const std::string& value, const detail::Caller& caller)
{
    caller.require("Attachment.ContentSubType");
    contentSubType_ = value;
}

void Attachment::TempFilename(const std::string& value, const detail::Caller& caller)
{
    caller.require("Attachment.TempFilename");
    tempFilename_ = value;
}

void Attachment::AttachmentBody(std::string value, const detail::Caller& caller)
{
    caller.require("Attachment.AttachmentBody");
    attachmentBody_ = std::move(value);
}

void Attachment::CachedDirectory(const std::string& value, const detail::Caller& caller)
{
    caller.require("Attachment.CachedDirectory");
    cachedDirectory_ = value;
}

std::string Attachment::CachedDirectory(const detail::Caller& caller) const
{
    caller.require("Attachment.CachedDirectory");
    return cachedDirectory_;
}

void Attachment::Pop3Handle(WeakRef<TolvanPOP3> owner, const detail::Caller& caller)
{
    caller.require("Attachment.Pop3Handle");
    owner_ = std::move(owner);
}

} // namespace tolmail
