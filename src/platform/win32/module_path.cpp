// The loaded module that holds this function is the DLL (or the program it is linked into).
#include "platform/module_path.h"

#include <string>

#include "platform/win32/windows_api.h"

namespace tolmail::platform {

std::string ModulePath()
{
    HMODULE module = nullptr;
    // No reference is taken: the module holds this code, so it stays loaded while it runs.
    if (!GetModuleHandleExW(GET_MODULE_HANDLE_EX_FLAG_FROM_ADDRESS | GET_MODULE_HANDLE_EX_FLAG_UNCHANGED_REFCOUNT,
                            reinterpret_cast<LPCWSTR>(&ModulePath), &module))
        return {};
    // Long paths may exceed MAX_PATH; the call says so by filling the buffer to the brim.
    std::wstring path(MAX_PATH, L'\0');
    for (;;) {
        const DWORD length = GetModuleFileNameW(module, path.data(), static_cast<DWORD>(path.size()));
        if (length == 0)
            return {};
        if (length < path.size()) {
            path.resize(length);
            break;
        }
        if (path.size() >= 32768)  // the longest path the system has
            return {};
        path.resize(path.size() * 2);
    }
    const int count = static_cast<int>(path.size());
    const int size = WideCharToMultiByte(CP_UTF8, 0, path.data(), count, nullptr, 0, nullptr, nullptr);
    std::string utf8(static_cast<size_t>(size > 0 ? size : 0), '\0');
    if (size <= 0 || WideCharToMultiByte(CP_UTF8, 0, path.data(), count, utf8.data(), size, nullptr, nullptr) != size)
        return {};
    return utf8;
}

} // namespace tolmail::platform
