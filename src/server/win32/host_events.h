// The connection point of a creatable class's event interface: a host's sink (IDispatch)
// is connected through the core's Advise; each event reaches it as an Invoke whose
// arguments are in reverse order, as dispatch parameters are.
#pragma once

#define WIN32_LEAN_AND_MEAN
#include <windows.h>
#include <ocidl.h>
#include <olectl.h>

#include <memory>
#include <vector>

#include "tolmail/automation.h"

namespace tolmail::server::win32 {

class EventPoint final : public IConnectionPoint {
public:
    /// Part of `owner`, which it counts references for; `core` is the owner's core object.
    EventPoint(IConnectionPointContainer& owner, TmDispatch* core, const GUID& events);
    /// Disconnects every sink that is still connected.
    ~EventPoint();
    EventPoint(const EventPoint&) = delete;
    EventPoint& operator=(const EventPoint&) = delete;

    const GUID& events() const noexcept { return events_; }

    HRESULT STDMETHODCALLTYPE QueryInterface(REFIID iid, void** out) override;
    ULONG STDMETHODCALLTYPE AddRef() override { return owner_.AddRef(); }
    ULONG STDMETHODCALLTYPE Release() override { return owner_.Release(); }

    HRESULT STDMETHODCALLTYPE GetConnectionInterface(IID* iid) override;
    HRESULT STDMETHODCALLTYPE GetConnectionPointContainer(IConnectionPointContainer** container) override;
    HRESULT STDMETHODCALLTYPE Advise(IUnknown* sink, DWORD* cookie) override;
    HRESULT STDMETHODCALLTYPE Unadvise(DWORD cookie) override;
    HRESULT STDMETHODCALLTYPE EnumConnections(IEnumConnections** connections) override;

private:
    struct Connection {
        IDispatch* sink;
        uint32_t cookie;
    };
    static void Forward(void* context, int32_t dispid, TmVariant* args, uint32_t count);

    IConnectionPointContainer& owner_;
    TmDispatch* core_;
    GUID events_;
    std::vector<std::unique_ptr<Connection>> connections_;
};

/// An enumeration of a container's connection points (none or one).
IEnumConnectionPoints* NewPointList(IConnectionPoint* point);

} // namespace tolmail::server::win32
