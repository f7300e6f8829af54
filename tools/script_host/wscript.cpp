#include "wscript.h"

#include "message_pump.h"
#include "output.h"

namespace script_host {
namespace {

enum : DISPID {
    kName = DISPID_VALUE,
    kEcho = 1,
    kArguments,
    kQuit,
    kSleep,
    kCreateObject,
    kConnectObject,
    kDisconnectObject,
    kScriptName,
    kScriptFullName,
    kFullName,
    kPath,
};

constexpr HostMember kMembers[] = {
    {L"Name", kName},
    {L"Echo", kEcho},
    {L"Arguments", kArguments},
    {L"Quit", kQuit},
    {L"Sleep", kSleep},
    {L"CreateObject", kCreateObject},
    {L"ConnectObject", kConnectObject},
    {L"DisconnectObject", kDisconnectObject},
    {L"ScriptName", kScriptName},
    {L"ScriptFullName", kScriptFullName},
    {L"FullName", kFullName},
    {L"Path", kPath},
};

std::wstring FullPathOf(const std::wstring& path)
{
    const DWORD size = GetFullPathNameW(path.c_str(), 0, nullptr, nullptr);
    if (size == 0)
        return path;
    std::wstring full(size, L'\0');
    full.resize(GetFullPathNameW(path.c_str(), size, full.data(), nullptr));
    return full;
}

std::wstring FolderOf(const std::wstring& path) { return path.substr(0, path.find_last_of(L"\\/")); }
std::wstring FileNameOf(const std::wstring& path) { return path.substr(path.find_last_of(L"\\/") + 1); }

std::wstring HostProgramPath()
{
    std::wstring path(MAX_PATH, L'\0');
    for (;;) {
        const DWORD length = GetModuleFileNameW(nullptr, path.data(), static_cast<DWORD>(path.size()));
        if (length < path.size()) {
            path.resize(length);
            return path;
        }
        path.resize(path.size() * 2);
    }
}

} // namespace

WScriptObject::WScriptObject(RunState& state, EventConnections& connections)
    : state_(state), connections_(connections), arguments_(new ScriptArguments(state.arguments))
{
}

WScriptObject::~WScriptObject() { arguments_->Release(); }

std::span<const HostMember> WScriptObject::Members() const { return kMembers; }

void WScriptObject::Call(DISPID id, const CallArguments& arguments, VARIANT* result)
{
    if (state_.Stopping())
        throw HostError{kScriptStopping, L"the script is ending"};
    switch (id) {
    case kName:
        ReturnText(result, L"tolmail script host");
        return;
    case kEcho:
        Echo(arguments);
        return;
    case kArguments:
        // Arguments(i) reaches here with the index, in VBScript as in JScript.
        if (arguments.Count() == 0)
            ReturnObject(result, arguments_);
        else if (arguments.Count() == 1)
            ReturnText(result, arguments_->Item(arguments.Long(0)));
        else
            arguments.Expect(0, 1);
        return;
    case kQuit:
        arguments.Expect(0, 1);
        state_.quitCode = arguments.Count() == 1 ? static_cast<int>(arguments.Long(0)) : 0;
        state_.quitRequested = true;
        // Unwinds the script: the site knows this error and stays silent.
        throw HostError{kScriptStopping, L"Quit"};
    case kSleep:
        Sleep(arguments);
        return;
    case kCreateObject:
        CreateObject(arguments, result);
        return;
    case kConnectObject:
        arguments.Expect(2, 2);
        connections_.Connect(arguments.Object(0).Get(), arguments.Text(1));
        return;
    case kDisconnectObject:
        arguments.Expect(1, 1);
        connections_.Disconnect(arguments.Object(0).Get());
        return;
    case kScriptName:
        ReturnText(result, FileNameOf(state_.scriptPath));
        return;
    case kScriptFullName:
        ReturnText(result, FullPathOf(state_.scriptPath));
        return;
    case kFullName:
        ReturnText(result, HostProgramPath());
        return;
    case kPath:
        ReturnText(result, FolderOf(HostProgramPath()));
        return;
    }
}

void WScriptObject::Echo(const CallArguments& arguments)
{
    std::wstring line;
    for (UINT i = 0; i < arguments.Count(); ++i) {
        if (i != 0)
            line += L' ';
        // Null and Empty echo as nothing, as they would in a string concatenation.
        const VARTYPE type = V_VT(&arguments.Raw(i)) & ~VT_BYREF;
        if (type != VT_NULL && type != VT_EMPTY)
            line += arguments.Text(i, VARIANT_ALPHABOOL);
    }
    EchoLine(line);
}

void WScriptObject::Sleep(const CallArguments& arguments)
{
    arguments.Expect(1, 1);
    const LONG milliseconds = arguments.Long(0);
    if (milliseconds < 0)
        throw HostError{E_INVALIDARG, L"Sleep needs a time of 0 or more milliseconds"};
    // Socket notifications arrive as messages: the script's events come while it sleeps.
    PumpMessages(static_cast<DWORD>(milliseconds), [this] { return state_.Stopping(); });
    // A handler may have ended the script while we waited.
    if (state_.Stopping())
        throw HostError{kScriptStopping, L"the script is ending"};
}

void WScriptObject::CreateObject(const CallArguments& arguments, VARIANT* result)
{
    arguments.Expect(1, 2);
    const std::wstring name = arguments.Text(0);
    CLSID clsid;
    HRESULT hr = CLSIDFromProgID(name.c_str(), &clsid);
    if (FAILED(hr))
        hr = CLSIDFromString(name.c_str(), &clsid);
    if (FAILED(hr))
        throw HostError{hr, L"no class is registered as \"" + name + L"\""};
    ComPtr<IDispatch> object;
    hr = CoCreateInstance(clsid, nullptr, CLSCTX_INPROC_SERVER | CLSCTX_LOCAL_SERVER, IID_IDispatch, &object);
    if (FAILED(hr))
        throw HostError{hr, L"could not create \"" + name + L"\" (" + HresultText(hr) + L")"};
    if (arguments.Count() == 2) {
        const std::wstring prefix = arguments.Text(1);
        if (!prefix.empty())
            connections_.Connect(object.Get(), prefix);
    }
    ReturnObject(result, object.Get());
}

} // namespace script_host
