// Host integration: a host's own message loop already dispatches the notification
// window's messages, so there is no descriptor to watch; the pump and tasks remain.
#include "tolmail/message_loop.h"

#include "platform/message_loop.h"

namespace tolmail {

int MessageLoopDescriptor()
{
    return -1;
}

void PumpMessages()
{
    platform::dispatchPending();
}

void PostHostTask(std::function<void()> task)
{
    platform::PostTask(std::move(task));
}

} // namespace tolmail
