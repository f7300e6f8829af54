// The fields behind an Attachment; the retrieval fills them, Save reads them.
#pragma once

#include <string>

#include "model/save_progress.h"
#include "platform/hidden.h"
#include "platform/library_access.h"
#include "tolmail/Attachment.h"

namespace tolmail {

class TOLMAIL_HIDDEN Attachment::Impl {
public:
    std::string description;
    std::string encoding;
    std::string filename;
    std::string name;
    std::string size;
    std::string contentType;
    std::string contentSubType;
    std::string tempFilename;
    std::string attachmentBody;
    std::string cachedDirectory;
    /// Weak, so an attachment that outlives its component never reaches it.
    WeakRef<model::SaveProgress> progress;
};

using AttachmentImpl = LibraryAccess::Of<Attachment>::Impl;

} // namespace tolmail
