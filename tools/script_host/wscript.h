// The global object WScript, with the members scripts written for the usual Windows host
// use: Echo, Arguments, Quit, Sleep, CreateObject, ConnectObject, DisconnectObject,
// ScriptName, ScriptFullName, Name, FullName and Path.
#pragma once

#include "event_connections.h"
#include "host_dispatch.h"
#include "run_state.h"
#include "script_arguments.h"

namespace script_host {

class WScriptObject final : public HostDispatch {
public:
    WScriptObject(RunState& state, EventConnections& connections);

private:
    ~WScriptObject() override;
    std::span<const HostMember> Members() const override;
    void Call(DISPID id, const CallArguments& arguments, VARIANT* result) override;

    void Echo(const CallArguments& arguments);
    void Sleep(const CallArguments& arguments);
    void CreateObject(const CallArguments& arguments, VARIANT* result);

    RunState& state_;
    EventConnections& connections_;
    ScriptArguments* arguments_;
};

} // namespace script_host
