// Attachment: its fields and the deletion of the temporary file that holds the
// still-encoded body.
#include "model/attachment_impl.h"

#include "codec/temp_files.h"

namespace tolmail {

Attachment::Attachment() : impl_(std::make_unique<Impl>()) {}

Attachment::~Attachment()
{
    // The file lives exactly as long as the last reference to this attachment.
    if (!impl_->tempFilename.empty())
        (void)codec::DeleteFileIfPresent(impl_->cachedDirectory + impl_->tempFilename);
}

std::string Attachment::AttachmentBody() const { return impl_->attachmentBody; }
std::string Attachment::TempFilename() const { return impl_->tempFilename; }
std::string Attachment::ContentType() const { return impl_->contentType; }
std::string Attachment::ContentSubType() const { return impl_->contentSubType; }
std::string Attachment::Size() const { return impl_->size; }
void Attachment::Name(const std::string& value) { impl_->name = value; }
std::string Attachment::Name() const { return impl_->name; }
std::string Attachment::Filename() const { return impl_->filename; }
std::string Attachment::Encoding() const { return impl_->encoding; }
std::string Attachment::Description() const { return impl_->description; }

} // namespace tolmail
