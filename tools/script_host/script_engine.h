// One script file run by the system's VBScript or JScript engine, with WScript as its
// global object.
#pragma once

#include <string>

#include "run_state.h"

namespace script_host {

enum class ScriptLanguage { VBScript, JScript };

/// Runs `code` to its end (or to Quit or its first error, which `state` records), then
/// disconnects every event and closes the engine, so that nothing of the script holds an
/// object any more. False when the engine could not be started (said on standard error).
bool RunScript(RunState& state, ScriptLanguage language, const std::wstring& code);

} // namespace script_host
