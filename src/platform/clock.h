// Tick count and elapsed-time clock.
#pragma once

#include <cstdint>

namespace tolmail::platform {

/// Milliseconds of a monotonic clock as a signed 32-bit number (wraps like a tick count).
int32_t TickCount();

/// Seconds of a monotonic clock, with fractions; for deadlines.
double SecondsNow();

} // namespace tolmail::platform
