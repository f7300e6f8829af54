// Whether an in-process server agrees to be unloaded once a script has let go of it:
// the proof that its objects and the references it handed out were all released.
#pragma once

namespace script_host {

enum class UnloadAnswer {
    NotLoaded,     ///< the module is not in this process
    NoEntryPoint,  ///< it exports no DllCanUnloadNow
    CanUnload,     ///< DllCanUnloadNow answered S_OK
    StillInUse,    ///< it answered S_FALSE (or failed)
};

UnloadAnswer AskToUnload(const wchar_t* module);

} // namespace script_host
