// GoogleTest's Notification stands on std::mutex and std::condition_variable, which the
// win32 thread flavour of the cross compiler lacks. GoogleTest uses it only to start the
// threads of its own tests; this one waits by looking at a flag.
#pragma once

#include <atomic>

namespace testing::internal {

class Notification {
public:
    Notification() = default;
    Notification(const Notification&) = delete;
    Notification& operator=(const Notification&) = delete;

    void Notify() { notified_.store(true); }
    void WaitForNotification()
    {
        while (!notified_.load()) {
        }
    }

private:
    std::atomic<bool> notified_{false};
};

} // namespace testing::internal

#define GTEST_HAS_NOTIFICATION_ 1
