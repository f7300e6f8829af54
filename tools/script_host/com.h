// The Windows and COM headers the host needs, in the one order that compiles, and the
// smart pointer it holds interfaces with.
#pragma once

#define WIN32_LEAN_AND_MEAN
#include <windows.h>
#include <ole2.h>
#include <oleauto.h>
#include <ocidl.h>
#include <activscp.h>
#include <wrl/client.h>

namespace script_host {

using Microsoft::WRL::ComPtr;

} // namespace script_host

namespace script_host {

/// An EXCEPINFO whose strings are freed with it.
struct OwnedExcepInfo : EXCEPINFO {
    OwnedExcepInfo() : EXCEPINFO{} {}
    OwnedExcepInfo(const OwnedExcepInfo&) = delete;
    OwnedExcepInfo& operator=(const OwnedExcepInfo&) = delete;
    ~OwnedExcepInfo()
    {
        SysFreeString(bstrSource);
        SysFreeString(bstrDescription);
        SysFreeString(bstrHelpFile);
    }
};

} // namespace script_host
