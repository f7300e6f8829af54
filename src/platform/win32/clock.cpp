// The system's own tick count, so that it agrees with what a host reads, wrap included.
#include "platform/clock.h"

#include <chrono>

#include "platform/win32/windows_api.h"

namespace tolmail::platform {

int32_t TickCount()
{
    return static_cast<int32_t>(GetTickCount());
}

double SecondsNow()
{
    using namespace std::chrono;
    return duration<double>(steady_clock::now().time_since_epoch()).count();
}

} // namespace tolmail::platform
