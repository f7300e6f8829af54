/// \file
/// A component's event source: hosts advise sinks and get events synchronously.
#pragma once

#include <cstdint>
#include <memory>
#include <utility>
#include <vector>

namespace tolmail {

/// Holds the sinks connected to one component. Events are raised synchronously on
/// the component's thread; a handler may advise or unadvise while an event runs.
/// \tparam Sink The event interface (TolvanSocketEvents, TolvanSMTPEvents, ...).
template <class Sink>
class EventSource {
public:
    /// Connects a sink; returns the cookie that disconnects it.
    uint32_t Advise(std::shared_ptr<Sink> sink)
    {
        sinks_.push_back({++lastCookie_, std::move(sink)});
        return lastCookie_;
    }

    /// Disconnects the sink of this cookie (an unknown cookie is ignored).
    void Unadvise(uint32_t cookie)
    {
        for (auto it = sinks_.begin(); it != sinks_.end(); ++it) {
            if (it->cookie == cookie) {
                sinks_.erase(it);
                return;
            }
        }
    }

    /// True when no sink is connected.
    bool empty() const noexcept { return sinks_.empty(); }

    /// Calls fn(sink) for every sink connected when the event started.
    /// \tparam Fn Called as fn(Sink&).
    template <class Fn>
    void raise(Fn&& fn) const
    {
        if (sinks_.empty())
            return;
        auto snapshot = sinks_;
        for (auto& entry : snapshot)
            fn(*entry.sink);
    }

private:
    struct Entry {
        uint32_t cookie;
        std::shared_ptr<Sink> sink;
    };
    std::vector<Entry> sinks_;
    uint32_t lastCookie_ = 0;
};

} // namespace tolmail
