// The per-thread message loop: the stand-in for the hidden notification window and
// the thread's window-message queue.
#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>

namespace tolmail::platform {

/// Dispatches everything that is due on this thread without blocking: turns socket
/// readiness into notifications, delivers queued notifications and host tasks.
void dispatchPending();

/// The same pass under a SocketHold of one socket: a socket's handler that lets
/// messages be dispatched must not have that socket's next notifications overtake
/// the one it is handling.
void dispatchPendingExcept(int32_t socketHandle);

/// Holds back one socket's read and close notifications while it lives: dispatches
/// meanwhile deliver everything else (that socket's write notifications included),
/// and the held ones follow in their order once the last hold of the socket ends.
/// A socket's read handler runs under one, so it is never re-entered by its own
/// socket's next read, however long it keeps the loop turning. Closing the socket
/// ends its holds, so a new socket that gets the same number is not held.
class SocketHold {
public:
    explicit SocketHold(int32_t socketHandle);
    ~SocketHold();
    SocketHold(const SocketHold&) = delete;
    SocketHold& operator=(const SocketHold&) = delete;

private:
    size_t slot_;
};

/// True while a SocketHold holds this socket's notifications back.
bool SocketHeld(int32_t socketHandle);

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

/// Queues a socket's notification as though the system had raised it: it waits behind
/// the socket's holds and is dropped when the socket closes. For input a layer above the
/// system already took in (decrypted text), which the system will not report again.
void PostSocketNotification(uint32_t message, int32_t socketHandle, int32_t event);

/// Queues a task that runs inside the next dispatch on this thread.
void PostTask(std::function<void()> task);

} // namespace tolmail::platform
