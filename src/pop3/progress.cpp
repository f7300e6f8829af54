// Raising TolvanPOP3's progress events through a weak back-reference.
#include "pop3/progress.h"

#include "platform/library_access.h"
#include "pop3/pop3_impl.h"

namespace tolmail::pop3 {

void Raise(const WeakRef<TolvanPOP3>& owner, const TaskEvent& event, int32_t param1, int32_t param2,
           std::string_view named)
{
    Ref<TolvanPOP3> component = owner.lock();
    if (!component)
        return;
    LibraryAccess::impl(*component).raise(event, param1, param2, named);
}

} // namespace tolmail::pop3
