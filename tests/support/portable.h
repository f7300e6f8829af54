// The few things the tests need from the system that the Windows cross build's thread
// flavour or C library lacks: a thread, a lock, a fresh temporary directory, and setting
// an environment variable. On POSIX they are the standard ones.
#pragma once

#include <chrono>
#include <filesystem>
#include <string>
#include <system_error>

#ifdef _WIN32
#include "platform/win32/windows_api.h"
// Names of the library's own that the system headers define as macros.
#undef GetMessage
#undef IPPROTO_TCP
#undef IPPROTO_UDP

#include <cstdlib>
#include <functional>
#include <memory>
#include <utility>
#else
#include <stdlib.h>

#include <mutex>
#include <thread>
#endif

namespace portable {

#ifdef _WIN32
/// What the tests use of std::thread: start with a callable, join.
class Thread {
public:
    Thread() = default;
    template <class Body>
    explicit Thread(Body body) : body_(std::make_unique<std::function<void()>>(std::move(body)))
    {
        handle_ = CreateThread(nullptr, 0, &Thread::run, body_.get(), 0, nullptr);
    }
    Thread(Thread&& other) noexcept
        : body_(std::move(other.body_)), handle_(std::exchange(other.handle_, nullptr))
    {
    }
    Thread& operator=(Thread&& other) noexcept
    {
        join();
        body_ = std::move(other.body_);
        handle_ = std::exchange(other.handle_, nullptr);
        return *this;
    }
    ~Thread() { join(); }

    bool joinable() const { return handle_ != nullptr; }
    void join()
    {
        if (!handle_)
            return;
        WaitForSingleObject(handle_, INFINITE);
        CloseHandle(handle_);
        handle_ = nullptr;
    }

private:
    static DWORD WINAPI run(void* body)
    {
        (*static_cast<std::function<void()>*>(body))();
        return 0;
    }

    std::unique_ptr<std::function<void()>> body_;
    HANDLE handle_ = nullptr;
};

/// Meets the Lockable requirements, so std::lock_guard takes it.
class Mutex {
public:
    void lock() { AcquireSRWLockExclusive(&lock_); }
    void unlock() { ReleaseSRWLockExclusive(&lock_); }
    bool try_lock() { return TryAcquireSRWLockExclusive(&lock_) != 0; }

private:
    SRWLOCK lock_ = SRWLOCK_INIT;
};

inline void SetEnv(const char* name, const char* value) { _putenv_s(name, value); }
inline void UnsetEnv(const char* name) { _putenv_s(name, ""); }
#else
using Thread = std::thread;
using Mutex = std::mutex;

inline void SetEnv(const char* name, const char* value) { ::setenv(name, value, 1); }
inline void UnsetEnv(const char* name) { ::unsetenv(name); }
#endif

/// A new, empty directory under the system's temporary path, named after `prefix`; its
/// path without a trailing separator, or empty when none could be made.
inline std::string MakeTempDir(const std::string& prefix)
{
    namespace fs = std::filesystem;
    std::error_code ec;
    const fs::path base = fs::temp_directory_path(ec);
    if (ec)
        return {};
    // The clock's low bits differ between runs, and the counter between calls of one run;
    // create_directory refuses a name that exists, so a clash only costs a try.
    static unsigned counter = 0;
    const auto seed = static_cast<unsigned long long>(std::chrono::steady_clock::now().time_since_epoch().count());
    for (int attempt = 0; attempt < 100; ++attempt) {
        const fs::path dir = base / (prefix + "-" + std::to_string((seed + ++counter * 7919ULL) % 1000000007ULL));
        if (fs::create_directory(dir, ec))
            return dir.generic_string();
    }
    return {};
}

} // namespace portable
