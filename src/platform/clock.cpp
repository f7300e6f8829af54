// Tick count and elapsed-time clock from the monotonic clock.
#include "platform/clock.h"

#include <chrono>

namespace tolmail::platform {

int32_t TickCount()
{
    using namespace std::chrono;
    const auto ms = duration_cast<milliseconds>(steady_clock::now().time_since_epoch()).count();
    // Wraps through negative numbers like a 32-bit millisecond tick counter.
    return static_cast<int32_t>(static_cast<uint32_t>(static_cast<uint64_t>(ms)));
}

double SecondsNow()
{
    using namespace std::chrono;
    return duration<double>(steady_clock::now().time_since_epoch()).count();
}

} // namespace tolmail::platform
