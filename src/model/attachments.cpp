// Attachments: the parts of a retrieved message, in the order the body gave them.
#include "tolmail/Attachments.h"

#include "platform/library_caller.h"

namespace tolmail {

Ref<Attachments> Attachments::Create(const detail::Caller& caller)
{
    caller.require("Attachments.Create");
    return std::make_shared<Attachments>(Private{});
}

Ref<Attachment> Attachments::Add(const std::string& Description, const std::string& Encoding,
                                 const std::string& Filename, const std::string& Name, const std::string& Size,
                                 const std::string& ContentType, const std::string& ContentSubType,
                                 const std::string& TempFilename, const std::string& CachedDirectory,
                                 WeakRef<TolvanPOP3> Pop3Handle, const std::string& sKey)
{
    const detail::Caller library = detail::libraryCaller();
    auto attachment = std::make_shared<Attachment>(Attachment::Private{});
    attachment->TempFilename(TempFilename, library);
    attachment->Description(Description, library);
    attachment->Encoding(Encoding, library);
    attachment->Filename(Filename, library);
    attachment->Name(Name);
    attachment->Size(Size, library);
    attachment->ContentType(ContentType, library);
    attachment->ContentSubType(ContentSubType, library);
    attachment->CachedDirectory(CachedDirectory, library);
    attachment->Pop3Handle(std::move(Pop3Handle), library);
    // A duplicate key throws here; the new attachment is then released at once.
    store_.add(attachment, sKey);
    return attachment;
}

} // namespace tolmail
