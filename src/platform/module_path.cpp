// The loaded file that holds this function is the library (or the program it is linked into).
#include "platform/module_path.h"

#include <dlfcn.h>
#include <limits.h>
#include <link.h>
#include <stdlib.h>

#include <filesystem>
#include <system_error>

namespace tolmail::platform {
namespace {

std::string Resolved(const char* path)
{
    char resolved[PATH_MAX];
    return path && *path && realpath(path, resolved) ? std::string(resolved) : std::string();
}

/// The name the library was loaded by, made absolute but with its links kept: loaded by
/// its versioned link name, the registration survives an update behind that link.
std::string Absolute(const char* path)
{
    std::error_code error;
    const std::filesystem::path absolute = std::filesystem::absolute(path, error);
    return error ? Resolved(path) : absolute.lexically_normal().string();
}

} // namespace

std::string ModulePath()
{
    Dl_info info{};
    link_map* map = nullptr;
    // The program's own entry has no name in the link map (dladdr would answer with the
    // name it was started by, relative to a directory it may have left): ask the kernel.
    if (dladdr1(reinterpret_cast<const void*>(&ModulePath), &info, reinterpret_cast<void**>(&map),
                RTLD_DL_LINKMAP) &&
        map && map->l_name && *map->l_name)
        return Absolute(map->l_name);
    return Resolved("/proc/self/exe");
}

} // namespace tolmail::platform
