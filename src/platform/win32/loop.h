// The thread's notification window and what the library keeps beside the system's
// message queue: host tasks, notifications held back for a socket's handler, and the
// sockets whose notifications come to this window.
#pragma once

#include <cstdint>
#include <deque>
#include <functional>
#include <unordered_map>
#include <unordered_set>
#include <vector>

#include "platform/loop_dispatch.h"
#include "platform/message_loop.h"
#include "platform/win32/windows_api.h"

namespace tolmail::platform::win32 {

/// A message taken off the system queue that waits for a hold to end.
struct Deferred {
    UINT message = 0;
    WPARAM wParam = 0;
    LPARAM lParam = 0;
};

class Loop {
public:
    Loop();
    ~Loop();
    Loop(const Loop&) = delete;
    Loop& operator=(const Loop&) = delete;

    HWND window() const noexcept { return window_; }

    /// One pass: what was deferred and is due, then the thread's queue up to the
    /// messages posted after the pass began.
    void dispatch();
    void wait(double seconds);
    void postTask(std::function<void()> task);

    size_t hold(int32_t socket);
    void release(size_t slot);
    bool isHeld(int32_t socket) const;

    /// Notes that `socket`'s notifications arrive as `message` (set by a select request).
    void watch(int32_t socket, UINT message);
    /// The socket is being closed: its holds end and its notifications still queued go,
    /// so that a new socket given the same number never sees them.
    void forget(int32_t socket);
    /// The message a socket's notifications arrive as; 0 when it asked for none.
    UINT messageOf(int32_t socket) const;

    /// Everything that reaches the window, through a pass or through a host's own loop.
    LRESULT handle(UINT message, WPARAM wParam, LPARAM lParam);

    WindowProc windowProc = nullptr;

private:
    bool isSocketNotification(UINT message) const;
    bool isHeld(const Deferred& item) const;
    bool hasDueDeferred() const;
    void deliverDeferred();
    /// Makes a host's own loop come back to what was deferred and is now due.
    void wakeForDeferred();

    HWND window_ = nullptr;
    int depth_ = 0;
    bool wakePosted_ = false;
    uint64_t passesBegun_ = 0;
    uint64_t passesEnded_ = 0;
    std::deque<Deferred> deferred_;
    std::deque<std::function<void()>> tasks_;
    detail::SocketHolds holds_;
    std::unordered_map<int32_t, UINT> sockets_;
    std::unordered_set<UINT> socketMessages_;
};

/// This thread's loop, created on first use (loop_dispatch.cpp keeps it).
Loop& loop();
/// This thread's loop, or null while it has not been created (or is gone).
Loop* loopIfAny() noexcept;

} // namespace tolmail::platform::win32
