// Host integration: the loop's pollable descriptor, the pump, and host tasks.
#include "tolmail/message_loop.h"

#include "platform/loop_internal.h"

namespace tolmail {

int MessageLoopDescriptor()
{
    return platform::detail::loop().descriptor();
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
