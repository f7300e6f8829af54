// DllRegisterServer / DllUnregisterServer: the registry keys that let a host create the
// classes by ProgID, and the embedded type library.
// The tables first: the system headers define `interface`, a name they use.
#include "server/type_table.h"

#define WIN32_LEAN_AND_MEAN
#include <windows.h>
#include <ole2.h>
#include <olectl.h>

#include <cstring>
#include <string>
#include <vector>

#include "server/win32/type_library.h"

namespace tolmail::server::win32 {
namespace {

std::wstring Wide(const char* ascii)
{
    return std::wstring(ascii, ascii + strlen(ascii));
}

std::wstring GuidText(const TmGuid& guid)
{
    wchar_t text[40] = {};
    StringFromGUID2(reinterpret_cast<const GUID&>(guid), text, 40);
    return text;
}

/// One key and its values (name empty: the default value).
struct Key {
    std::wstring path;
    std::vector<std::pair<std::wstring, std::wstring>> values;
};

/// What registration writes for one creatable class; the first key of each tree is the one
/// that unregistration deletes with everything below it.
std::vector<Key> ClassKeys(const Library& library, const TypeEntry& entry, const std::wstring& modulePath)
{
    const std::wstring clsid = L"CLSID\\" + GuidText(entry.guid);
    const std::wstring progId = Wide(library.name) + L"." + Wide(entry.name);
    const std::wstring version = std::to_wstring(library.majorVersion) + L"." + std::to_wstring(library.minorVersion);
    return {
        {clsid, {{L"", progId}}},
        {clsid + L"\\InprocServer32", {{L"", modulePath}, {L"ThreadingModel", L"Apartment"}}},
        {clsid + L"\\ProgID", {{L"", progId}}},
        {clsid + L"\\TypeLib", {{L"", GuidText(library.guid)}}},
        {clsid + L"\\Version", {{L"", version}}},
        {progId, {{L"", progId}}},
        {progId + L"\\CLSID", {{L"", GuidText(entry.guid)}}},
    };
}

/// The roots of what ClassKeys writes.
std::vector<std::wstring> ClassRoots(const Library& library, const TypeEntry& entry)
{
    return {L"CLSID\\" + GuidText(entry.guid), Wide(library.name) + L"." + Wide(entry.name)};
}

bool Creatable(const TypeEntry& entry)
{
    return entry.kind == TM_TKIND_COCLASS && entry.create;
}

LONG Write(const Key& key)
{
    HKEY handle = nullptr;
    LONG status = RegCreateKeyExW(HKEY_CLASSES_ROOT, key.path.c_str(), 0, nullptr, 0, KEY_WRITE, nullptr, &handle,
                                  nullptr);
    if (status != ERROR_SUCCESS)
        return status;
    for (const auto& [name, value] : key.values) {
        status = RegSetValueExW(handle, name.empty() ? nullptr : name.c_str(), 0, REG_SZ,
                                reinterpret_cast<const BYTE*>(value.c_str()),
                                static_cast<DWORD>((value.size() + 1) * sizeof(wchar_t)));
        if (status != ERROR_SUCCESS)
            break;
    }
    RegCloseKey(handle);
    return status;
}

HRESULT UnregisterAll(const Library& library)
{
    bool failed = false;
    for (const TypeEntry* entry : library.types) {
        if (!Creatable(*entry))
            continue;
        for (const std::wstring& root : ClassRoots(library, *entry)) {
            const LONG status = RegDeleteTreeW(HKEY_CLASSES_ROOT, root.c_str());
            failed |= status != ERROR_SUCCESS && status != ERROR_FILE_NOT_FOUND;
        }
    }
    const HRESULT hr = UnRegisterTypeLib(reinterpret_cast<const GUID&>(library.guid), library.majorVersion,
                                         library.minorVersion, library.lcid, SYS_WIN64);
    if (FAILED(hr) && hr != TYPE_E_REGISTRYACCESS && hr != TYPE_E_LIBNOTREGISTERED)
        failed = true;
    return failed ? SELFREG_E_CLASS : S_OK;
}

} // namespace
} // namespace tolmail::server::win32

using namespace tolmail::server;

STDAPI DllRegisterServer()
{
    try {
        const Library& library = TheLibrary();
        const std::wstring path = win32::ThisModulePath();
        if (path.empty())
            return SELFREG_E_CLASS;
        for (const TypeEntry* entry : library.types) {
            if (!win32::Creatable(*entry))
                continue;
            for (const win32::Key& key : win32::ClassKeys(library, *entry, path)) {
                if (win32::Write(key) != ERROR_SUCCESS) {
                    win32::UnregisterAll(library);
                    return SELFREG_E_CLASS;
                }
            }
        }
        ITypeLib* typeLibrary = nullptr;
        const HRESULT hr = LoadTypeLibEx(path.c_str(), REGKIND_REGISTER, &typeLibrary);
        if (FAILED(hr)) {
            win32::UnregisterAll(library);
            return SELFREG_E_TYPELIB;
        }
        typeLibrary->Release();
        return S_OK;
    } catch (...) {
        return SELFREG_E_CLASS;
    }
}

STDAPI DllUnregisterServer()
{
    try {
        return win32::UnregisterAll(TheLibrary());
    } catch (...) {
        return SELFREG_E_CLASS;
    }
}
