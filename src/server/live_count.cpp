// Counters that a host may read from any thread (DllCanUnloadNow), hence atomic.
#include "server/live_count.h"

#include <atomic>

namespace tolmail::server {
namespace {

std::atomic<int64_t> liveObjects{0};
std::atomic<int64_t> serverLocks{0};

} // namespace

void ObjectCreated() noexcept { liveObjects.fetch_add(1, std::memory_order_relaxed); }
void ObjectDestroyed() noexcept { liveObjects.fetch_sub(1, std::memory_order_relaxed); }

void ServerLocked() noexcept { serverLocks.fetch_add(1, std::memory_order_relaxed); }

void ServerUnlocked() noexcept
{
    // An unbalanced unlock must not let a later lock count for nothing.
    int64_t current = serverLocks.load(std::memory_order_relaxed);
    while (current > 0 && !serverLocks.compare_exchange_weak(current, current - 1, std::memory_order_relaxed)) {
    }
}

bool CanUnload() noexcept
{
    return liveObjects.load(std::memory_order_relaxed) == 0 && serverLocks.load(std::memory_order_relaxed) == 0;
}

} // namespace tolmail::server
