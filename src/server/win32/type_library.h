// This module and the type library embedded in it.
#pragma once

#define WIN32_LEAN_AND_MEAN
#include <windows.h>
#include <oaidl.h>

#include <string>

namespace tolmail::server::win32 {

/// The DLL this code is linked into.
HMODULE ThisModule();
/// Its full path.
std::wstring ThisModulePath();

/// The embedded type library, loaded once (not registered); nullptr if it cannot be read.
ITypeLib* EmbeddedTypeLibrary();

/// The type infos of a dual interface: the vtable one (for DispInvoke) and the dispatch one
/// (for GetTypeInfo). Counted references.
HRESULT DualTypeInfos(const GUID& iid, ITypeInfo** vtable, ITypeInfo** dispatch);

} // namespace tolmail::server::win32
