// Events of the objects a script created or connected, delivered to its procedures
// named prefix + event name, as a script on Windows expects of WScript.
#pragma once

#include <string>
#include <vector>

#include "com.h"
#include "run_state.h"

namespace script_host {

class EventConnections {
public:
    explicit EventConnections(RunState& state) : state_(state) {}
    EventConnections(const EventConnections&) = delete;
    EventConnections& operator=(const EventConnections&) = delete;
    ~EventConnections() { DisconnectAll(); }

    /// Connects the object's default event interface; a second call for the same object
    /// replaces the prefix. Throws HostError when the object raises no events we can name.
    void Connect(IDispatch* object, const std::wstring& prefix);
    /// Disconnects the object; one that is not connected is left alone.
    void Disconnect(IDispatch* object);
    /// Disconnects everything, so that the components let go of our sinks.
    void DisconnectAll();

private:
    struct Connection {
        ComPtr<IUnknown> identity;
        ComPtr<IConnectionPoint> point;
        DWORD cookie;
    };

    RunState& state_;
    std::vector<Connection> connections_;
};

} // namespace script_host
