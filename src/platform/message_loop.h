// The per-thread message loop: the stand-in for the hidden notification window and
// the thread's window-message queue.
#pragma once

#include <cstdint>
#include <functional>

namespace tolmail::platform {

/// Dispatches everything that is due on this thread without blocking: turns socket
/// readiness into notifications, delivers queued notifications and host tasks.
void dispatchPending();

/// The same pass, leaving one socket's notifications for a later pass: a socket's
/// handler that lets messages be dispatched must not have that socket's next
/// notifications overtake the one it is handling.
void dispatchPendingExcept(int32_t socketHandle);

/// "Let the host's pending window messages be dispatched once" inside codec and
/// file loops. Costs a few nanoseconds when nothing is due: it only dispatches when
/// the loop exists and a few milliseconds have passed since the last look.
void yieldPoint();

/// Blocks until a watched descriptor is ready, a task is posted, or `seconds` pass
/// (no spinning). Returns at once for seconds <= 0.
void waitForActivity(double seconds);

/// The procedure of this thread's notification window.
using WindowProc = int32_t (*)(uint32_t message, int32_t wParam, int32_t lParam);

/// Replaces the notification window's procedure; returns the one it replaces. The
/// initial procedure drops every message.
WindowProc SetWindowProc(WindowProc proc);

/// Calls the given procedure (a previous one kept by a replacement) with a message.
int32_t CallWindowProc(WindowProc proc, uint32_t message, int32_t wParam, int32_t lParam);

/// Queues a message for this thread's notification window.
void PostWindowMessage(uint32_t message, int32_t wParam, int32_t lParam);

/// Queues a task that runs inside the next dispatch on this thread.
void PostTask(std::function<void()> task);

} // namespace tolmail::platform
