// The loop's state, shared by the loop itself and the socket services that feed it.
#pragma once

#include <cstdint>
#include <deque>
#include <functional>
#include <unordered_map>
#include <vector>

#include "platform/loop_dispatch.h"
#include "platform/message_loop.h"

namespace tolmail::platform::detail {

/// Notification state of one socket that asked for notifications. The flags follow
/// the re-enabling rules: a read or accept notification is not repeated until the
/// owner has received or accepted, a write notification is armed by a renewed
/// request or a send that would block, connect and close are posted once.
struct Watch {
    int fd = -1;
    uint32_t message = 0;
    int32_t mask = 0;
    bool listener = false;
    bool datagram = false;
    bool connecting = false;
    bool readEnabled = true;
    bool acceptEnabled = true;
    bool writeArmed = false;
    bool eofReadPosted = false;
    bool closePosted = false;
    bool dead = false;          // a failed connect: nothing more to report
    uint32_t interest = 0;      // epoll events currently registered (0: not registered)
};

struct Posted {
    uint32_t message = 0;
    int32_t wParam = 0;
    int32_t lParam = 0;
    bool fromSocket = false;
    std::function<void()> task;  // set: a host task rather than a window message
};

class Loop {
public:
    Loop();
    ~Loop();
    Loop(const Loop&) = delete;
    Loop& operator=(const Loop&) = delete;

    int descriptor() const noexcept { return epollFd_; }

    /// One pass: poll the sockets, deliver what is queued and not held.
    void dispatch();
    void wait(double seconds);
    void post(Posted item);
    /// Drops queued notifications and holds of a socket that is being closed, so that
    /// a new socket reusing its number never sees them.
    void purgeSocket(int fd);

    /// Holds a socket's read and close notifications back; returns the slot to release.
    size_t hold(int fd);
    void release(size_t slot);
    bool isHeld(int fd) const;

    Watch* findWatch(int fd);
    Watch& addWatch(int fd);
    void removeWatch(int fd);
    /// Brings the descriptor's registration in line with what its flags want to hear.
    void updateInterest(Watch& watch);
    /// Registers what the flags want on top of what is registered, dropping nothing:
    /// a bit that is no longer wanted goes when it next fires. This keeps the common
    /// read-notify-receive cycle free of registration calls.
    void growInterest(Watch& watch);

    /// Leaves the descriptor readable exactly when something deliverable is queued.
    void syncSignal();
    /// Queues a notification of the watch's socket, when its mask asks for the event.
    void postSocket(const Watch& watch, int32_t event, int32_t error);

    WindowProc windowProc = nullptr;

private:
    void pollSockets();
    void onReady(Watch& watch, uint32_t events);
    void deliver();
    bool isHeld(const Posted& item) const;
    bool hasDue() const;
    /// True when no socket is watched, or all are held and want no write notification.
    bool nothingToPoll() const;
    void signal();
    void unsignal();

    int epollFd_ = -1;
    int eventFd_ = -1;
    bool signaled_ = false;
    int depth_ = 0;
    std::deque<Posted> queue_;
    SocketHolds holds_;
    std::unordered_map<int, Watch> watches_;
};

/// This thread's loop, created on first use (loop_dispatch.cpp keeps it).
Loop& loop();
/// This thread's loop, or null while it has not been created (or is gone).
Loop* loopIfAny() noexcept;

/// The interest a watch wants, as epoll event bits.
uint32_t wantedInterest(const Watch& watch);

} // namespace tolmail::platform::detail
