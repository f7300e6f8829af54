// The per-thread message loop: poll the watched sockets, turn their readiness into
// notifications, deliver queued notifications and host tasks.
#include "platform/loop_dispatch.h"
#include "platform/loop_internal.h"
#include "platform/net.h"

#include <poll.h>
#include <sys/epoll.h>
#include <sys/eventfd.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cmath>

namespace tolmail::platform {
namespace detail {
namespace {

// Most readiness reports taken in one pass; the rest stay due for the next one.
constexpr int kMaxEventsPerPass = 64;

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
    holds_.forget(fd);
}

size_t Loop::hold(int fd)
{
    return holds_.hold(fd);
}

void Loop::release(size_t slot)
{
    holds_.release(slot);
    // What was held is due now; inside a dispatch its end looks.
    if (depth_ == 0)
        syncSignal();
}

bool Loop::isHeld(int fd) const
{
    return holds_.isHeld(fd);
}

bool Loop::isHeld(const Posted& item) const
{
    return item.fromSocket && holds_.holdsBack(item.wParam, item.lParam);
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
    if (holds_.empty())
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

void Loop::deliver()
{
    DeliverInOrder(
        queue_, [this](const Posted& item) { return isHeld(item); },
        [this](Posted& item) {
            if (item.task)
                item.task();
            else
                CallInstalled(windowProc, item.message, item.wParam, item.lParam);
        });
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

} // namespace detail

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
