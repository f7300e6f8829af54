// What the parts of one script run share: the engine while it runs, how the run is to
// end, and the script's identity for messages.
#pragma once

#include <string>
#include <vector>

#include "com.h"

namespace script_host {

struct RunState {
    std::wstring scriptPath;
    std::vector<std::wstring> arguments;
    /// Set while the engine runs; event sinks find the script's procedures through it.
    IActiveScript* engine = nullptr;
    /// VBScript can write back through by-reference arguments; JScript has no such
    /// parameters and is handed plain values instead.
    bool scriptTakesByRef = true;
    bool quitRequested = false;
    int quitCode = 0;
    int errors = 0;

    /// After Quit or a reported error the script is on its way out: host calls fail and
    /// events are no longer delivered.
    bool Stopping() const { return quitRequested || errors != 0; }
};

/// The error host calls raise while the script is stopping; the site does not report it.
inline constexpr HRESULT kScriptStopping = MAKE_HRESULT(SEVERITY_ERROR, FACILITY_ITF, 0x5701);

} // namespace script_host
