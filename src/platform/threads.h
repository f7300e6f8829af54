// A plain lock for the few tables that are built once and then shared by every thread.
// The Windows toolchain's thread flavour has no std::mutex, so each system gets its own.
#pragma once

#ifdef _WIN32
#include "platform/win32/windows_api.h"
#else
#include <mutex>
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

} // namespace tolmail::platform
