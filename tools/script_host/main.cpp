// tolmail-script: runs a VBScript (.vbs) or JScript (.js) file with a WScript object that
// also connects events to the script's procedures, which Wine's own host cannot do.
//
//   tolmail-script [--expect-unload[=MODULE]] SCRIPT [ARGUMENT...]
//
// --expect-unload asks MODULE (tolmail.dll unless named) through DllCanUnloadNow, after
// the script has ended and its engine is closed, whether it may be unloaded.
// Status: 1 the script failed (a syntax or runtime error, also in an event handler); else
// what it passed to WScript.Quit when not 0; 2 the host could not run it; 3 the module was
// not loaded or still holds objects; 0 otherwise.
#include <string>
#include <vector>

#include "com.h"
#include "module_unload.h"
#include "output.h"
#include "run_state.h"
#include "script_engine.h"
#include "script_file.h"

using namespace script_host;

namespace {

enum Status { kScriptFailed = 1, kHostFailed = 2, kModuleStillLoaded = 3 };

constexpr wchar_t kUsage[] = L"usage: tolmail-script [--expect-unload[=MODULE]] SCRIPT.vbs|SCRIPT.js [ARGUMENT...]";
constexpr std::wstring_view kExpectUnload = L"--expect-unload";

/// Reports the module's answer; true when it agrees to go.
bool ModuleLetGo(const std::wstring& module)
{
    switch (AskToUnload(module.c_str())) {
    case UnloadAnswer::CanUnload:
        return true;
    case UnloadAnswer::NotLoaded:
        Complain(L"tolmail-script: " + module + L" was never loaded, so its unloading proves nothing");
        return false;
    case UnloadAnswer::NoEntryPoint:
        Complain(L"tolmail-script: " + module + L" exports no DllCanUnloadNow");
        return false;
    case UnloadAnswer::StillInUse:
        Complain(L"tolmail-script: " + module + L" still holds objects after the script released everything");
        return false;
    }
    return false;
}

} // namespace

int wmain(int argc, wchar_t** argv)
{
    std::wstring unloadModule;
    int next = 1;
    for (; next < argc && std::wstring_view(argv[next]).starts_with(L"--"); ++next) {
        const std::wstring_view option = argv[next];
        if (option == kExpectUnload)
            unloadModule = L"tolmail.dll";
        else if (option.starts_with(kExpectUnload) && option[kExpectUnload.size()] == L'=')
            unloadModule = option.substr(kExpectUnload.size() + 1);
        else {
            Complain(kUsage);
            return kHostFailed;
        }
    }
    if (next >= argc) {
        Complain(kUsage);
        return kHostFailed;
    }

    RunState state;
    state.scriptPath = argv[next];
    state.arguments.assign(argv + next + 1, argv + argc);
    const auto language = LanguageOf(state.scriptPath);
    if (!language) {
        Complain(L"tolmail-script: " + state.scriptPath + L" is neither .vbs nor .js");
        return kHostFailed;
    }
    const auto code = ReadScriptText(state.scriptPath);
    if (!code) {
        Complain(L"tolmail-script: cannot read " + state.scriptPath);
        return kHostFailed;
    }

    if (FAILED(CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED))) {
        Complain(L"tolmail-script: COM did not start");
        return kHostFailed;
    }
    const bool ran = RunScript(state, *language, *code);
    // Before CoUninitialize, which would unload the module whatever it answers.
    const bool unloaded = unloadModule.empty() || ModuleLetGo(unloadModule);
    CoUninitialize();

    if (!ran)
        return kHostFailed;
    if (state.errors != 0)
        return kScriptFailed;
    // The script's own verdict first: its failures say more than the module's answer.
    if (state.quitCode != 0)
        return state.quitCode;
    return unloaded ? 0 : kModuleStillLoaded;
}
