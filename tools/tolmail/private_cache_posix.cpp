// The private cache directory, and its removal on a terminating signal with
// async-signal-safe calls only.
#include "private_cache.h"

#include <dirent.h>
#include <fcntl.h>
#include <sys/syscall.h>
#include <unistd.h>

#include <csignal>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <iterator>
#include <system_error>

namespace tolmail::cli {

namespace {

constexpr int kCleanupSignals[] = {SIGINT, SIGTERM, SIGHUP, SIGPIPE};  // SIGPIPE: output closed early
constexpr size_t kLongestPath = 4096;

// The one live cache, as the signal handler sees it. The library writes plain files
// straight into the directory, so removing its entries and then itself is enough.
volatile sig_atomic_t gCacheFd = -1;
char gCachePath[kLongestPath];
struct sigaction gPrevious[std::size(kCleanupSignals)];

/// Unlinks every entry of the directory open as `fd`; stops when a pass removes nothing.
void EmptyDirectory(int fd)
{
    alignas(8) char entries[4096];
    for (bool removed = true; removed;) {
        removed = false;
        ::lseek(fd, 0, SEEK_SET);
        for (;;) {
            const long got = ::syscall(SYS_getdents64, fd, entries, sizeof entries);
            if (got <= 0)
                break;
            for (long at = 0; at < got;) {
                const auto* entry = reinterpret_cast<const dirent64*>(entries + at);
                at += entry->d_reclen;
                const char* name = entry->d_name;
                if (std::strcmp(name, ".") != 0 && std::strcmp(name, "..") != 0 && ::unlinkat(fd, name, 0) == 0)
                    removed = true;
            }
        }
    }
}

void RemoveCacheAndDie(int signal)
{
    const int fd = gCacheFd;
    gCacheFd = -1;
    if (fd >= 0) {
        EmptyDirectory(fd);
        ::rmdir(gCachePath);
    }
    // Die of the signal itself, so that the caller sees how the command ended.
    ::signal(signal, SIG_DFL);
    ::raise(signal);
}

} // namespace

PrivateCache::PrivateCache(const char* command)
{
    const char* tmp = std::getenv("TMPDIR");
    std::string base = std::string(tmp && *tmp ? tmp : "/tmp") + "/tolmail-" + command + "-XXXXXX";
    if (base.size() >= kLongestPath || !::mkdtemp(base.data()))
        return;
    path_ = base + "/";
    std::memcpy(gCachePath, base.c_str(), base.size() + 1);
    gCacheFd = ::open(base.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    struct sigaction action {};
    action.sa_handler = RemoveCacheAndDie;
    sigemptyset(&action.sa_mask);
    for (int signal : kCleanupSignals)
        sigaddset(&action.sa_mask, signal);  // one cleanup at a time
    for (size_t i = 0; i < std::size(kCleanupSignals); ++i) {
        ::sigaction(kCleanupSignals[i], nullptr, &gPrevious[i]);
        // A signal the caller chose to ignore (nohup, a background job) stays ignored.
        if (gPrevious[i].sa_handler != SIG_IGN)
            ::sigaction(kCleanupSignals[i], &action, nullptr);
    }
}

PrivateCache::~PrivateCache()
{
    if (path_.empty())
        return;
    for (size_t i = 0; i < std::size(kCleanupSignals); ++i)
        ::sigaction(kCleanupSignals[i], &gPrevious[i], nullptr);
    const int fd = gCacheFd;
    gCacheFd = -1;
    if (fd >= 0)
        ::close(fd);
    std::error_code ignored;
    std::filesystem::remove_all(path_, ignored);
}

} // namespace tolmail::cli
