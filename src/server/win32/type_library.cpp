#include "server/win32/type_library.h"

namespace tolmail::server::win32 {

HMODULE ThisModule()
{
    HMODULE module = nullptr;
    GetModuleHandleExW(GET_MODULE_HANDLE_EX_FLAG_FROM_ADDRESS | GET_MODULE_HANDLE_EX_FLAG_UNCHANGED_REFCOUNT,
                       reinterpret_cast<LPCWSTR>(&ThisModule), &module);
    return module;
}

std::wstring ThisModulePath()
{
    std::wstring path(MAX_PATH, L'\0');
    for (;;) {
        const DWORD length = GetModuleFileNameW(ThisModule(), path.data(), static_cast<DWORD>(path.size()));
        if (length == 0)
            return {};
        if (length < path.size()) {
            path.resize(length);
            return path;
        }
        path.resize(path.size() * 2);
    }
}

ITypeLib* EmbeddedTypeLibrary()
{
    // Kept for the life of the process: the system holds its own copy of the data, not the
    // module, so this does not keep the DLL loaded.
    static ITypeLib* const library = [] {
        ITypeLib* loaded = nullptr;
        const std::wstring path = ThisModulePath();
        if (FAILED(LoadTypeLibEx(path.c_str(), REGKIND_NONE, &loaded)))
            return static_cast<ITypeLib*>(nullptr);
        return loaded;
    }();
    return library;
}

HRESULT DualTypeInfos(const GUID& iid, ITypeInfo** vtable, ITypeInfo** dispatch)
{
    *vtable = *dispatch = nullptr;
    ITypeLib* library = EmbeddedTypeLibrary();
    if (!library)
        return TYPE_E_CANTLOADLIBRARY;
    ITypeInfo* info = nullptr;
    HRESULT hr = library->GetTypeInfoOfGuid(iid, &info);
    if (FAILED(hr))
        return hr;
    TYPEATTR* attributes = nullptr;
    hr = info->GetTypeAttr(&attributes);
    if (FAILED(hr)) {
        info->Release();
        return hr;
    }
    const bool dispatchSide = attributes->typekind == TKIND_DISPATCH;
    info->ReleaseTypeAttr(attributes);
    if (!dispatchSide) {
        // Asked by the vtable side: the dispatch side is its partner.
        *vtable = info;
        HREFTYPE partner = 0;
        if (SUCCEEDED(info->GetRefTypeOfImplType(-1, &partner)) && SUCCEEDED(info->GetRefTypeInfo(partner, dispatch)))
            return S_OK;
        info->AddRef();
        *dispatch = info;
        return S_OK;
    }
    HREFTYPE partner = 0;
    hr = info->GetRefTypeOfImplType(-1, &partner);
    if (SUCCEEDED(hr))
        hr = info->GetRefTypeInfo(partner, vtable);
    if (FAILED(hr)) {
        info->Release();
        return hr;
    }
    *dispatch = info;
    return S_OK;
}

} // namespace tolmail::server::win32
