// Raising TolvanPOP3's progress events through a weak back-reference.
#include "pop3/progress.h"

#include "platform/library_caller.h"
#include "tolmail/TolvanPOP3.h"

namespace tolmail::pop3 {

void Raise(const WeakRef<TolvanPOP3>& owner, const TaskEvent& event, int32_t param1, int32_t param2,
           std::string_view named)
{
    Ref<TolvanPOP3> component = owner.lock();
    if (!component)
        return;
    component->RaiseProgress(event.Text(named), event.task, param1, param2, detail::libraryCaller());
}

} // namespace tolmail::pop3
