// The per-thread message loop: the stand-in for the hidden notification window and
// the thread's window-message queue.
#pragma once

#include <cstdint>
#include <functional>

namespace tolmail::platform {

/// Dispatches everything that is due on this thread without blocking: turns socket
/// readiness into notifications, delivers queued notifications and host tasks.
void dispatchPending();

/// "Let the host's pending window messages be dispatched once" inside codec and
/// file loops. Costs a few nanoseconds when nothing is due: it only dispatches when
/// the loop exists and a few milliseconds have passed since the last look.
void yieldPoint();

/// Blocks until a watched descriptor is ready, a task is posted, or `seconds` pass
/// (no spinning). Returns at once for seconds <= 0.
void waitForActivity(double seconds);

} // namespace tolmail::platform
