// The private cache directory on Windows: under the user's temporary directory, which
// only the user may enter, and removed when a console interrupt or close ends the command.
#include "private_cache.h"

#ifndef WIN32_LEAN_AND_MEAN
#define WIN32_LEAN_AND_MEAN
#endif
#ifndef NOMINMAX
#define NOMINMAX
#endif
#include <windows.h>

#include <filesystem>
#include <random>
#include <string>
#include <system_error>

namespace tolmail::cli {

namespace {

constexpr int kMostAttempts = 100;

// The one live cache, as the console handler sees it. The handler runs on a thread of its
// own while the command goes on: the critical section keeps the two from removing it at once.
CRITICAL_SECTION gLock;
std::string* gCache = nullptr;

void RemoveCache()
{
    EnterCriticalSection(&gLock);
    if (gCache) {
        std::error_code ignored;
        std::filesystem::remove_all(*gCache, ignored);
        delete gCache;
        gCache = nullptr;
    }
    LeaveCriticalSection(&gLock);
}

BOOL WINAPI RemoveCacheAndEnd(DWORD)
{
    RemoveCache();
    return FALSE;  // the default handler ends the program
}

/// The user's temporary directory with a trailing separator, "" when there is none.
std::string TempDirectory()
{
    char buffer[MAX_PATH + 1];
    const DWORD length = GetTempPathA(sizeof buffer, buffer);
    return length == 0 || length > MAX_PATH ? "" : std::string(buffer, length);
}

} // namespace

PrivateCache::PrivateCache(const char* command)
{
    static const bool ready = (InitializeCriticalSection(&gLock), true);
    (void)ready;
    const std::string base = TempDirectory();
    if (base.empty())
        return;
    for (int attempt = 0; attempt < kMostAttempts && path_.empty(); ++attempt) {
        const std::string path = base + "tolmail-" + command + "-" + std::to_string(std::random_device()());
        if (CreateDirectoryA(path.c_str(), nullptr))
            path_ = path + "/";
        else if (GetLastError() != ERROR_ALREADY_EXISTS)
            return;
    }
    if (path_.empty())
        return;
    EnterCriticalSection(&gLock);
    gCache = new std::string(path_);
    LeaveCriticalSection(&gLock);
    SetConsoleCtrlHandler(RemoveCacheAndEnd, TRUE);
}

PrivateCache::~PrivateCache()
{
    if (path_.empty())
        return;
    SetConsoleCtrlHandler(RemoveCacheAndEnd, FALSE);
    RemoveCache();
}

} // namespace tolmail::cli
