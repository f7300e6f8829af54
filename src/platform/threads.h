// The thread services the library needs beyond std::atomic: a plain lock for the few
// tables that are built once and then shared, and the calling thread's identity. The
// Windows toolchain's thread flavour has no std::mutex, and its std::this_thread::get_id
// gives every thread the same id, so each system gets its own.
#pragma once

#ifdef _WIN32
#include "platform/win32/windows_api.h"
#else
#include <mutex>
#include <thread>
#endif

namespace tolmail::platform {

/// Meets the standard's Lockable requirements, so std::lock_guard takes it.
class ThreadLock {
public:
    ThreadLock() = default;
    ThreadLock(const ThreadLock&) = delete;
    ThreadLock& operator=(const ThreadLock&) = delete;

#ifdef _WIN32
    void lock() { AcquireSRWLockExclusive(&lock_); }
    void unlock() { ReleaseSRWLockExclusive(&lock_); }
    bool try_lock() { return TryAcquireSRWLockExclusive(&lock_) != 0; }

private:
    SRWLOCK lock_ = SRWLOCK_INIT;
#else
    void lock() { mutex_.lock(); }
    void unlock() { mutex_.unlock(); }
    bool try_lock() { return mutex_.try_lock(); }

private:
    std::mutex mutex_;
#endif
};

#ifdef _WIN32
using ThreadId = DWORD;
/// The calling thread, as the system tells threads apart.
inline ThreadId CurrentThreadId() noexcept { return GetCurrentThreadId(); }
#else
using ThreadId = std::thread::id;
/// The calling thread, as the system tells threads apart.
inline ThreadId CurrentThreadId() noexcept { return std::this_thread::get_id(); }
#endif

} // namespace tolmail::platform
