// Placeholder until the per-thread loop lands: nothing is ever due.
#include "platform/message_loop.h"

#include <chrono>
#include <thread>

namespace tolmail::platform {

void dispatchPending() {}
void yieldPoint() {}
void waitForActivity(double seconds)
{
    if (seconds > 0)
        std::this_thread::sleep_for(std::chrono::duration<double>(seconds));
}

} // namespace tolmail::platform
