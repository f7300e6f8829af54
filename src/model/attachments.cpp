// Attachments: the parts of a retrieved message, in the order the body gave them.
#include "tolmail/Attachments.h"

#include "model/attachment_impl.h"
#include "model/keyed_store.h"
#include "platform/library_access.h"

namespace tolmail {

class TOLMAIL_HIDDEN Attachments::Impl {
public:
    model::KeyedStore<Attachment> store;
};

Attachments::Attachments() : impl_(std::make_unique<Impl>()) {}
Attachments::~Attachments() = default;

Ref<Attachment> Attachments::Add(const std::string& Description, const std::string& Encoding,
                                 const std::string& Filename, const std::string& Name, const std::string& Size,
                                 const std::string& ContentType, const std::string& ContentSubType,
                                 const std::string& TempFilename, const std::string& CachedDirectory,
                                 WeakRef<TolvanPOP3> Pop3Handle, const std::string& sKey)
{
    Ref<Attachment> attachment = LibraryAccess::create<Attachment>();
    AttachmentImpl& fields = LibraryAccess::impl(*attachment);
    fields.tempFilename = TempFilename;
    fields.description = Description;
    fields.encoding = Encoding;
    fields.filename = Filename;
    fields.name = Name;
    fields.size = Size;
    fields.contentType = ContentType;
    fields.contentSubType = ContentSubType;
    fields.cachedDirectory = CachedDirectory;
    fields.progress = model::SaveProgressOf(Pop3Handle);
    // A duplicate key throws here; the new attachment is then released at once.
    impl_->store.add(attachment, sKey);
    return attachment;
}

Ref<Attachment> Attachments::Item(const Variant& vntIndexKey) const { return impl_->store.item(vntIndexKey); }
int32_t Attachments::Count() const { return impl_->store.count(); }
void Attachments::Remove(const Variant& vntIndexKey) { impl_->store.remove(vntIndexKey); }
Enumerator<Attachment> Attachments::NewEnum() const { return Enumerator<Attachment>(impl_->store.items()); }

} // namespace tolmail
