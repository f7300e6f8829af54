// Raising TolvanPOP3's progress events through a weak back-reference.
#include "pop3/progress.h"

#include "platform/library_access.h"
#include "pop3/pop3_impl.h"

namespace tolmail::pop3 {

static_assert([] {
    for (size_t i = 0; i < std::size(kProgressEvents); ++i) {
        if (static_cast<size_t>(kProgressEvents[i].id) != i)
            return false;
    }
    return true;
}(), "kProgressEvents must list the events in the order of Progress");

std::string EventText(Progress id, std::string_view detail)
{
    const ProgressEvent& event = EventOf(id);
    std::string text = event.text;
    if (*event.tail == '\0')
        return text;
    text += detail;
    text += event.tail;
    return text;
}

void Raise(const WeakRef<TolvanPOP3>& owner, Progress id, int32_t param1, int32_t param2, std::string_view detail)
{
    Ref<TolvanPOP3> component = owner.lock();
    if (!component)
        return;
    LibraryAccess::impl(*component).raise(id, param1, param2, detail);
}

} // namespace tolmail::pop3
