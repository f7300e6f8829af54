#include "script_engine.h"

#include "event_connections.h"
#include "output.h"
#include "wscript.h"

namespace script_host {
namespace {

// mingw-w64's uuid library lacks the 64-bit IActiveScriptParse's id.
constexpr IID kIActiveScriptParse64 = {0xc7ef7658, 0xe1ee, 0x480e, {0x97, 0xea, 0xd5, 0x2c, 0xb4, 0xd7, 0x6d, 0x17}};

constexpr wchar_t kGlobalObjectName[] = L"WScript";

class ScriptSite final : public IActiveScriptSite {
public:
    ScriptSite(RunState& state, IDispatch* wscript) : state_(state), wscript_(wscript) {}

    // Lives on RunScript's stack, longer than the engine that holds it.
    HRESULT STDMETHODCALLTYPE QueryInterface(REFIID iid, void** object) override
    {
        if (iid == IID_IUnknown || iid == IID_IActiveScriptSite) {
            *object = static_cast<IActiveScriptSite*>(this);
            return S_OK;
        }
        *object = nullptr;
        return E_NOINTERFACE;
    }
    ULONG STDMETHODCALLTYPE AddRef() override { return 2; }
    ULONG STDMETHODCALLTYPE Release() override { return 1; }

    HRESULT STDMETHODCALLTYPE GetLCID(LCID*) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE GetItemInfo(LPCOLESTR name, DWORD mask, IUnknown** item, ITypeInfo** info) override
    {
        if (lstrcmpiW(name, kGlobalObjectName) != 0)
            return TYPE_E_ELEMENTNOTFOUND;
        if ((mask & SCRIPTINFO_IUNKNOWN) != 0) {
            wscript_->AddRef();
            *item = wscript_;
        }
        if ((mask & SCRIPTINFO_ITYPEINFO) != 0)
            *info = nullptr;
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE GetDocVersionString(BSTR*) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE OnScriptTerminate(const VARIANT*, const EXCEPINFO*) override { return S_OK; }
    HRESULT STDMETHODCALLTYPE OnStateChange(SCRIPTSTATE) override { return S_OK; }
    HRESULT STDMETHODCALLTYPE OnScriptError(IActiveScriptError* error) override
    {
        OwnedExcepInfo info;
        error->GetExceptionInfo(&info);
        // Quit and the stop after an error unwind the script through an error of ours.
        if (state_.quitRequested || info.scode == kScriptStopping)
            return S_OK;
        DWORD context = 0;
        ULONG line = 0;
        LONG column = 0;
        error->GetSourcePosition(&context, &line, &column);
        Complain(state_.scriptPath + L":" + std::to_wstring(line + 1) + L": " + ExceptionText(info, E_FAIL));
        ++state_.errors;
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE OnEnterScript() override { return S_OK; }
    HRESULT STDMETHODCALLTYPE OnLeaveScript() override { return S_OK; }

private:
    RunState& state_;
    IDispatch* wscript_;
};

ComPtr<IActiveScript> StartEngine(ScriptLanguage language)
{
    const wchar_t* name = language == ScriptLanguage::JScript ? L"JScript" : L"VBScript";
    CLSID clsid;
    ComPtr<IActiveScript> engine;
    HRESULT hr = CLSIDFromProgID(name, &clsid);
    if (SUCCEEDED(hr))
        hr = CoCreateInstance(clsid, nullptr, CLSCTX_INPROC_SERVER, IID_IActiveScript, &engine);
    if (FAILED(hr))
        Complain(std::wstring(L"tolmail-script: no ") + name + L" engine (" + HresultText(hr) + L")");
    return engine;
}

} // namespace

bool RunScript(RunState& state, ScriptLanguage language, const std::wstring& code)
{
    const ComPtr<IActiveScript> engine = StartEngine(language);
    if (!engine)
        return false;
    ComPtr<IActiveScriptParse> parser;
    HRESULT hr = engine->QueryInterface(kIActiveScriptParse64, &parser);
    if (SUCCEEDED(hr))
        hr = parser->InitNew();
    if (FAILED(hr)) {
        Complain(L"tolmail-script: the engine takes no script text (" + HresultText(hr) + L")");
        return false;
    }

    state.scriptTakesByRef = language == ScriptLanguage::VBScript;
    EventConnections connections(state);
    ComPtr<IDispatch> wscript;
    wscript.Attach(new WScriptObject(state, connections));
    ScriptSite site(state, wscript.Get());
    hr = engine->SetScriptSite(&site);
    if (SUCCEEDED(hr))
        hr = engine->AddNamedItem(kGlobalObjectName, SCRIPTITEM_ISVISIBLE);
    if (FAILED(hr)) {
        Complain(L"tolmail-script: the engine refused the host (" + HresultText(hr) + L")");
        engine->Close();
        return false;
    }

    state.engine = engine.Get();
    OwnedExcepInfo parseError;
    hr = parser->ParseScriptText(code.c_str(), nullptr, nullptr, nullptr, 0, 0, 0, nullptr, &parseError);
    if (SUCCEEDED(hr))
        hr = engine->SetScriptState(SCRIPTSTATE_CONNECTED);
    // Errors went to the site with their line; one the engine kept to itself counts too.
    if (FAILED(hr) && !state.Stopping()) {
        Complain(state.scriptPath + L": " + ExceptionText(parseError, hr));
        ++state.errors;
    }
    connections.DisconnectAll();
    state.engine = nullptr;
    engine->Close();
    return true;
}

} // namespace script_host
