// What both systems' loops do with a notification or task once it is taken from a queue:
// hold a socket's read and close back while its handler runs, and deliver the rest in
// order. The queues themselves, and how the system is asked what is ready, stay with each
// system's loop.
#pragma once

#include <cstddef>
#include <cstdint>
#include <deque>
#include <iterator>
#include <vector>

#include "platform/message_loop.h"

namespace tolmail::platform::detail {

/// The live SocketHolds of one thread.
class SocketHolds {
public:
    /// Holds a socket's read and close notifications back; returns the slot to release.
    size_t hold(int32_t socket);
    void release(size_t slot);
    bool isHeld(int32_t socket) const;
    /// True when a notification of `socket` carrying `lParam` must wait for a hold to end.
    bool holdsBack(int32_t socket, int32_t lParam) const;
    /// The socket is being closed: its holds end, so that a new socket given the same
    /// number is not held.
    void forget(int32_t socket);
    bool empty() const noexcept { return held_.empty(); }

private:
    std::vector<int32_t> held_;  // one entry per live hold; -1 once released or closed
};

/// Delivers what `queue` held when delivery began, in order; an item `held` says must
/// wait keeps its place in front, ahead of anything queued meanwhile. What is delivered
/// may queue more: it waits for the next delivery, so a task that re-posts itself cannot
/// keep one delivery going forever. A handler that throws leaves the held items queued.
template <class Item, class Held, class Deliver>
void DeliverInOrder(std::deque<Item>& queue, Held held, Deliver deliver)
{
    struct PutBack {
        std::deque<Item>& queue;
        std::deque<Item> kept;
        ~PutBack() { queue.insert(queue.begin(), std::make_move_iterator(kept.begin()), std::make_move_iterator(kept.end())); }
    } putBack{queue, {}};
    for (size_t n = queue.size(); n > 0 && !queue.empty(); --n) {
        Item item = std::move(queue.front());
        queue.pop_front();
        if (held(item))
            putBack.kept.push_back(std::move(item));
        else
            deliver(item);
    }
}

/// Hands a message to the window procedure a host or the socket layer installed.
inline void CallInstalled(WindowProc proc, uint32_t message, int32_t wParam, int32_t lParam)
{
    if (proc)
        proc(message, wParam, lParam);
}

} // namespace tolmail::platform::detail
