// The parts of the thread's message loop that do not depend on how the system reports
// readiness: holds, in-order delivery, the loop's life on its thread, and the entry
// points of message_loop.h over whichever loop the system has.
#include "platform/loop_dispatch.h"

#ifdef _WIN32
#include "platform/win32/loop.h"
#else
#include "platform/loop_internal.h"
#endif
#include "platform/net.h"

#include <algorithm>
#include <chrono>
#include <memory>

namespace tolmail::platform {

#ifdef _WIN32
namespace native = win32;
#else
namespace native = detail;
#endif

namespace detail {

size_t SocketHolds::hold(int32_t socket)
{
    held_.push_back(socket);
    return held_.size() - 1;
}

void SocketHolds::release(size_t slot)
{
    if (slot < held_.size())
        held_[slot] = -1;
    while (!held_.empty() && held_.back() == -1)
        held_.pop_back();
}

bool SocketHolds::isHeld(int32_t socket) const
{
    return socket != -1 && std::find(held_.begin(), held_.end(), socket) != held_.end();
}

bool SocketHolds::holdsBack(int32_t socket, int32_t lParam) const
{
    if (held_.empty())
        return false;
    const int32_t event = lParam & 0xFFFF;
    return (event == FdRead || event == FdClose) && isHeld(socket);
}

void SocketHolds::forget(int32_t socket)
{
    std::replace(held_.begin(), held_.end(), socket, -1);
}

} // namespace detail

namespace {

// Yield points look at the clock once in this many calls, and dispatch at most once
// per interval: codec loops call them per line and must keep running at memory speed.
constexpr unsigned kYieldCallsPerClockLook = 64;
constexpr int64_t kYieldIntervalNs = 2'000'000;

// Trivially destructible, so that yield points reach it without an init guard.
struct FastState {
    native::Loop* loop = nullptr;
    unsigned countdown = 1;
    int64_t lastLookNs = 0;
};
thread_local FastState tFast;

thread_local bool tOwnerGone = false;

struct Owner {
    std::unique_ptr<native::Loop> loop;
    ~Owner()
    {
        tFast.loop = nullptr;
        tOwnerGone = true;
    }
};
thread_local Owner tOwner;

int64_t monotonicNs()
{
    return std::chrono::duration_cast<std::chrono::nanoseconds>(
               std::chrono::steady_clock::now().time_since_epoch())
        .count();
}

} // namespace

native::Loop& native::loop()
{
    if (tFast.loop)
        return *tFast.loop;
    if (tOwnerGone) {
        // Thread exit: a socket closed by a thread_local destructor after the loop went.
        tFast.loop = new Loop;
        return *tFast.loop;
    }
    tOwner.loop = std::make_unique<Loop>();
    tFast.loop = tOwner.loop.get();
    return *tFast.loop;
}

native::Loop* native::loopIfAny() noexcept
{
    return tFast.loop;
}

void dispatchPending()
{
    native::loop().dispatch();
}

void dispatchPendingExcept(int32_t socketHandle)
{
    SocketHold hold(socketHandle);
    native::loop().dispatch();
}

SocketHold::SocketHold(int32_t socketHandle) : slot_(native::loop().hold(socketHandle)) {}

SocketHold::~SocketHold()
{
    if (native::Loop* loop = native::loopIfAny())
        loop->release(slot_);
}

bool SocketHeld(int32_t socketHandle)
{
    native::Loop* loop = native::loopIfAny();
    return loop && loop->isHeld(socketHandle);
}

void yieldPoint()
{
    FastState& fast = tFast;
    if (!fast.loop || --fast.countdown != 0)
        return;
    fast.countdown = kYieldCallsPerClockLook;
    const int64_t now = monotonicNs();
    if (now - fast.lastLookNs < kYieldIntervalNs)
        return;
    fast.lastLookNs = now;
    fast.loop->dispatch();
}

void waitForActivity(double seconds)
{
    native::loop().wait(seconds);
}

WindowProc SetWindowProc(WindowProc proc)
{
    native::Loop& l = native::loop();
    WindowProc previous = l.windowProc;
    l.windowProc = proc;
    return previous;
}

int32_t CallWindowProc(WindowProc proc, uint32_t message, int32_t wParam, int32_t lParam)
{
    return proc ? proc(message, wParam, lParam) : 0;
}

} // namespace tolmail::platform
