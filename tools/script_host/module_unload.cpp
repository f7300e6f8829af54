#include "module_unload.h"

#include "com.h"

namespace script_host {

UnloadAnswer AskToUnload(const wchar_t* module)
{
    const HMODULE loaded = GetModuleHandleW(module);
    if (loaded == nullptr)
        return UnloadAnswer::NotLoaded;
    using CanUnloadNow = HRESULT(STDAPICALLTYPE*)();
    const auto entry = reinterpret_cast<CanUnloadNow>(
        reinterpret_cast<void (*)()>(GetProcAddress(loaded, "DllCanUnloadNow")));
    if (entry == nullptr)
        return UnloadAnswer::NoEntryPoint;
    return entry() == S_OK ? UnloadAnswer::CanUnload : UnloadAnswer::StillInUse;
}

} // namespace script_host
