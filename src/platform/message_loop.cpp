// The per-thread message loop: poll the watched sockets, turn their readiness into
// notifications, deliver queued notifications and host tasks.
#include "platform/loop_internal.h"
#include "platform/net.h"

#include <poll.h>
#include <sys/epoll.h>
#include <sys/eventfd.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cmath>
#include <memory>

namespace tolmail::platform {
namespace detail {
namespace {

// Most readiness reports taken in one pass; the rest stay due for the next one.
constexpr int kMaxEventsPerPass = 64;
// Yield points look at the clock once in this many calls, and dispatch at most once
// per interval: codec loops call them per line and must keep running at memory speed.
constexpr unsigned kYieldCallsPerClockLook = 64;
constexpr int64_t kYieldIntervalNs = 2'000'000;

// Trivially destructible, so that yield points reach it without an init guard.
struct FastState {
    Loop* loop = nullptr;
    unsigned countdown = 1;
    int64_t lastLookNs = 0;
};
thread_local FastState tFast;

thread_local bool tOwnerGone = false;

struct Owner {
    std::unique_ptr<Loop> loop;
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

// Ends a dispatch on every way out, a handler or task that throws included: the
// nesting depth comes back, and the outermost one leaves the descriptor readable
// exactly when something is still queued.
struct DispatchScope {
    Loop& loop;
    int& depth;
    DispatchScope(Loop& l, int& d) : loop(l), depth(d) { ++depth; }
    ~DispatchScope()
    {
        if (--depth == 0)
            loop.syncSignal();
    }
};

} // namespace

Loop::Loop()
{
    epollFd_ = ::epoll_create1(EPOLL_CLOEXEC);
    eventFd_ = ::eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK);
    epoll_event ev{};
    ev.events = EPOLLIN;
    ev.data.fd = eventFd_;
    ::epoll_ctl(epollFd_, EPOLL_CTL_ADD, eventFd_, &ev);
}

Loop::~Loop()
{
    ::close(eventFd_);
    ::close(epollFd_);
}

void Loop::signal()
{
    if (signaled_)
        return;
    uint64_t one = 1;
    if (::write(eventFd_, &one, sizeof one) == sizeof one)
        signaled_ = true;
}

void Loop::unsignal()
{
    if (!signaled_)
        return;
    uint64_t count = 0;
    if (::read(eventFd_, &count, sizeof count) == sizeof count || errno == EAGAIN)
        signaled_ = false;
}

void Loop::post(Posted item)
{
    queue_.push_back(std::move(item));
    // Inside a dispatch the end of that dispatch signals what is left over.
    if (depth_ == 0)
        signal();
}

void Loop::purgeSocket(int fd)
{
    std::erase_if(queue_, [fd](const Posted& p) { return p.fromSocket && p.wParam == fd; });
    std::replace(held_.begin(), held_.end(), fd, -1);
}

size_t Loop::hold(int fd)
{
    held_.push_back(fd);
    return held_.size() - 1;
}

void Loop::release(size_t slot)
{
    if (slot < held_.size())
        held_[slot] = -1;
    while (!held_.empty() && held_.back() == -1)
        held_.pop_back();
    // What was held is due now; inside a dispatch its end looks.
    if (depth_ == 0)
        syncSignal();
}

bool Loop::isHeld(int fd) const
{
    return fd >= 0 && std::find(held_.begin(), held_.end(), fd) != held_.end();
}

bool Loop::isHeld(const Posted& item) const
{
    if (!item.fromSocket || held_.empty())
        return false;
    int32_t event = item.lParam & 0xFFFF;
    return (event == FdRead || event == FdClose) && isHeld(item.wParam);
}

bool Loop::hasDue() const
{
    return std::any_of(queue_.begin(), queue_.end(), [this](const Posted& p) { return !isHeld(p); });
}

void Loop::dispatch()
{
    DispatchScope scope(*this, depth_);
    pollSockets();
    deliver();
}

void Loop::syncSignal()
{
    if (hasDue())
        signal();
    else
        unsignal();
}

void Loop::wait(double seconds)
{
    if (seconds <= 0 || hasDue())
        return;
    // A wait inside a handler runs in the middle of a dispatch whose end has not
    // cleared the signal yet, and what is queued may all be held: neither may wake it.
    unsignal();
    double ms = std::ceil(seconds * 1000.0);
    int timeout = ms > 2'000'000'000.0 ? 2'000'000'000 : static_cast<int>(ms);
    // While only held sockets are watched nothing can become due but a post, and their
    // readiness, which no pass takes in, must not end the wait at once again and again.
    pollfd p{nothingToPoll() ? eventFd_ : epollFd_, POLLIN, 0};
    ::poll(&p, 1, timeout);
}

bool Loop::nothingToPoll() const
{
    if (held_.empty())
        return watches_.empty();
    for (const auto& [fd, watch] : watches_) {
        if (!isHeld(fd) || watch.writeArmed || watch.connecting || watch.listener)
            return false;
    }
    return true;
}

void Loop::pollSockets()
{
    // Nothing to ask the kernel when no socket is watched, or when the only ones are
    // held and want no write notification: a held socket's readiness stays pending
    // (the descriptor is level-triggered). Receiving a large download goes through
    // here twice per read, so the saved calls count.
    if (nothingToPoll())
        return;
    epoll_event events[kMaxEventsPerPass];
    int n = ::epoll_wait(epollFd_, events, kMaxEventsPerPass, 0);
    for (int i = 0; i < n; ++i) {
        // Otherwise a held socket's readiness is noted too: its read and close wait in
        // the queue, and its flags keep the kernel from reporting it again meanwhile.
        if (events[i].data.fd == eventFd_)
            continue;
        if (Watch* watch = findWatch(events[i].data.fd))
            onReady(*watch, events[i].events);
    }
}

// Delivers what was queued when delivery began; what handlers post meanwhile waits
// for the next pass, so a task that re-posts itself cannot hold a wait forever.
void Loop::deliver()
{
    std::deque<Posted> held;
    for (size_t n = queue_.size(); n > 0 && !queue_.empty(); --n) {
        Posted item = std::move(queue_.front());
        queue_.pop_front();
        if (isHeld(item)) {
            held.push_back(std::move(item));
            continue;
        }
        if (item.task) {
            item.task();
            continue;
        }
        if (windowProc)
            windowProc(item.message, item.wParam, item.lParam);
    }
    // Held notifications go back in front, in their order.
    queue_.insert(queue_.begin(), std::make_move_iterator(held.begin()), std::make_move_iterator(held.end()));
}

Watch* Loop::findWatch(int fd)
{
    auto it = watches_.find(fd);
    return it == watches_.end() ? nullptr : &it->second;
}

Watch& Loop::addWatch(int fd)
{
    Watch& watch = watches_[fd];
    watch.fd = fd;
    return watch;
}

void Loop::removeWatch(int fd)
{
    auto it = watches_.find(fd);
    if (it == watches_.end())
        return;
    if (it->second.interest != 0)
        ::epoll_ctl(epollFd_, EPOLL_CTL_DEL, fd, nullptr);
    watches_.erase(it);
}

void Loop::updateInterest(Watch& watch)
{
    uint32_t wanted = wantedInterest(watch);
    if (wanted == watch.interest)
        return;
    epoll_event ev{};
    ev.events = wanted;
    ev.data.fd = watch.fd;
    // A descriptor with nothing to report leaves the set: epoll would otherwise keep
    // reporting hang-ups and errors, and a wait would spin on them.
    if (wanted == 0)
        ::epoll_ctl(epollFd_, EPOLL_CTL_DEL, watch.fd, nullptr);
    else if (watch.interest == 0)
        ::epoll_ctl(epollFd_, EPOLL_CTL_ADD, watch.fd, &ev);
    else
        ::epoll_ctl(epollFd_, EPOLL_CTL_MOD, watch.fd, &ev);
    watch.interest = wanted;
}

void Loop::growInterest(Watch& watch)
{
    uint32_t wanted = wantedInterest(watch);
    if (wanted == 0 || (wanted & ~watch.interest) == 0)
        return;
    epoll_event ev{};
    ev.events = wanted | watch.interest;
    ev.data.fd = watch.fd;
    ::epoll_ctl(epollFd_, watch.interest == 0 ? EPOLL_CTL_ADD : EPOLL_CTL_MOD, watch.fd, &ev);
    watch.interest = ev.events;
}

void Loop::postSocket(const Watch& watch, int32_t event, int32_t error)
{
    if ((watch.mask & event) == 0)
        return;
    Posted item;
    item.message = watch.message;
    item.wParam = watch.fd;
    item.lParam = static_cast<int32_t>((static_cast<uint32_t>(error) << 16) | static_cast<uint32_t>(event));
    item.fromSocket = true;
    post(std::move(item));
}

Loop& loop()
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

Loop* loopIfAny() noexcept
{
    return tFast.loop;
}

} // namespace detail

void dispatchPending()
{
    detail::loop().dispatch();
}

void dispatchPendingExcept(int32_t socketHandle)
{
    SocketHold hold(socketHandle);
    detail::loop().dispatch();
}

SocketHold::SocketHold(int32_t socketHandle) : slot_(detail::loop().hold(socketHandle)) {}

SocketHold::~SocketHold()
{
    if (detail::Loop* loop = detail::loopIfAny())
        loop->release(slot_);
}

bool SocketHeld(int32_t socketHandle)
{
    detail::Loop* loop = detail::loopIfAny();
    return loop && loop->isHeld(socketHandle);
}

void yieldPoint()
{
    detail::FastState& fast = detail::tFast;
    if (!fast.loop || --fast.countdown != 0)
        return;
    fast.countdown = detail::kYieldCallsPerClockLook;
    int64_t now = detail::monotonicNs();
    if (now - fast.lastLookNs < detail::kYieldIntervalNs)
        return;
    fast.lastLookNs = now;
    fast.loop->dispatch();
}

void waitForActivity(double seconds)
{
    detail::loop().wait(seconds);
}

WindowProc SetWindowProc(WindowProc proc)
{
    detail::Loop& l = detail::loop();
    WindowProc previous = l.windowProc;
    l.windowProc = proc;
    return previous;
}

int32_t CallWindowProc(WindowProc proc, uint32_t message, int32_t wParam, int32_t lParam)
{
    return proc ? proc(message, wParam, lParam) : 0;
}

void PostWindowMessage(uint32_t message, int32_t wParam, int32_t lParam)
{
    detail::Posted item;
    item.message = message;
    item.wParam = wParam;
    item.lParam = lParam;
    detail::loop().post(std::move(item));
}

void PostSocketNotification(uint32_t message, int32_t socketHandle, int32_t event)
{
    detail::Posted item;
    item.message = message;
    item.wParam = socketHandle;
    item.lParam = event;
    item.fromSocket = true;
    detail::loop().post(std::move(item));
}

void PostTask(std::function<void()> task)
{
    if (!task)
        return;
    detail::Posted item;
    item.task = std::move(task);
    detail::loop().post(std::move(item));
}

} // namespace tolmail::platform
