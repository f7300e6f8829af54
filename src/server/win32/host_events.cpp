#include "server/win32/host_events.h"

#include <new>

#include "server/win32/host_variant.h"

#include "server/win32/single_interface.h"

namespace tolmail::server::win32 {

EventPoint::EventPoint(IConnectionPointContainer& owner, TmDispatch* core, const GUID& events)
    : owner_(owner), core_(core), events_(events)
{
}

EventPoint::~EventPoint()
{
    for (const auto& connection : connections_) {
        core_->vtbl->Unadvise(core_, connection->cookie);
        connection->sink->Release();
    }
}

HRESULT EventPoint::QueryInterface(REFIID iid, void** out)
{
    if (!out)
        return E_POINTER;
    if (IsEqualIID(iid, IID_IUnknown) || IsEqualIID(iid, IID_IConnectionPoint)) {
        *out = static_cast<IConnectionPoint*>(this);
        AddRef();
        return S_OK;
    }
    *out = nullptr;
    return E_NOINTERFACE;
}

HRESULT EventPoint::GetConnectionInterface(IID* iid)
{
    if (!iid)
        return E_POINTER;
    *iid = events_;
    return S_OK;
}

HRESULT EventPoint::GetConnectionPointContainer(IConnectionPointContainer** container)
{
    if (!container)
        return E_POINTER;
    owner_.AddRef();
    *container = &owner_;
    return S_OK;
}

HRESULT EventPoint::Advise(IUnknown* sink, DWORD* cookie)
{
    if (!sink || !cookie)
        return E_POINTER;
    *cookie = 0;
    IDispatch* dispatch = nullptr;
    if (FAILED(sink->QueryInterface(events_, reinterpret_cast<void**>(&dispatch))) &&
        FAILED(sink->QueryInterface(IID_IDispatch, reinterpret_cast<void**>(&dispatch))))
        return CONNECT_E_CANNOTCONNECT;
    auto connection = std::unique_ptr<Connection>(new (std::nothrow) Connection{dispatch, 0});
    if (!connection) {
        dispatch->Release();
        return E_OUTOFMEMORY;
    }
    const TmResult result = core_->vtbl->Advise(core_, &Forward, connection.get(), &connection->cookie);
    if (!TM_SUCCEEDED(result)) {
        dispatch->Release();
        return result == TM_E_NOINTERFACE ? CONNECT_E_CANNOTCONNECT : result;
    }
    *cookie = connection->cookie;
    connections_.push_back(std::move(connection));
    return S_OK;
}

HRESULT EventPoint::Unadvise(DWORD cookie)
{
    for (auto it = connections_.begin(); it != connections_.end(); ++it) {
        if ((*it)->cookie != cookie)
            continue;
        const std::unique_ptr<Connection> gone = std::move(*it);
        connections_.erase(it);
        core_->vtbl->Unadvise(core_, cookie);
        gone->sink->Release();
        return S_OK;
    }
    return CONNECT_E_NOCONNECTION;
}

HRESULT EventPoint::EnumConnections(IEnumConnections** connections)
{
    if (connections)
        *connections = nullptr;
    return E_NOTIMPL;
}

void EventPoint::Forward(void* context, int32_t dispid, TmVariant* args, uint32_t count)
{
    IDispatch* sink = static_cast<Connection*>(context)->sink;
    // A handler may disconnect itself (and so end the connection) while it runs.
    sink->AddRef();
    std::vector<VARIANT> values(count);    // by-value arguments, and what by-reference ones point to
    std::vector<VARIANT> reversed(count);  // what the sink gets: the last argument first
    for (uint32_t i = 0; i < count; ++i) {
        VariantInit(&values[i]);
        VariantInit(&reversed[i]);
    }
    for (uint32_t i = 0; i < count; ++i) {
        const bool byRef = args[i].vt == (TM_VT_BYREF | TM_VT_VARIANT) && args[i].u.ref;
        CopyToHost(byRef ? *args[i].u.ref : args[i], values[i]);
        VARIANT& slot = reversed[count - 1 - i];
        if (byRef && V_VT(&values[i]) != VT_EMPTY) {
            // A reference of the value's own type, as the event interface declares it.
            V_VT(&slot) = VT_BYREF | V_VT(&values[i]);
            V_BYREF(&slot) = &V_UI1(&values[i]);
        } else if (byRef) {
            V_VT(&slot) = VT_BYREF | VT_VARIANT;
            V_VARIANTREF(&slot) = &values[i];
        } else {
            slot = values[i];
        }
    }
    DISPPARAMS params{count ? reversed.data() : nullptr, nullptr, count, 0};
    VARIANT ignored;
    VariantInit(&ignored);
    const HRESULT hr = sink->Invoke(dispid, IID_NULL, LOCALE_USER_DEFAULT, DISPATCH_METHOD, &params, &ignored,
                                    nullptr, nullptr);
    VariantClear(&ignored);
    for (uint32_t i = 0; i < count; ++i) {
        const bool byRef = args[i].vt == (TM_VT_BYREF | TM_VT_VARIANT) && args[i].u.ref;
        if (byRef && SUCCEEDED(hr)) {
            TmVariant answer{};
            if (SUCCEEDED(ToCore(values[i], answer))) {
                TmVariantClear(args[i].u.ref);
                *args[i].u.ref = answer;
            }
        }
        VariantClear(&values[i]);
    }
    sink->Release();
}

namespace {

class PointList final : public SingleInterface<IEnumConnectionPoints, IID_IEnumConnectionPoints> {
public:
    PointList(IConnectionPoint* point, ULONG position) : point_(point), position_(position)
    {
        if (point_)
            point_->AddRef();
    }
    ~PointList()
    {
        if (point_)
            point_->Release();
    }

    HRESULT STDMETHODCALLTYPE Next(ULONG count, IConnectionPoint** points, ULONG* fetched) override
    {
        if (!points && count)
            return E_POINTER;
        ULONG n = 0;
        while (n < count && position_ < size()) {
            point_->AddRef();
            points[n++] = point_;
            ++position_;
        }
        if (fetched)
            *fetched = n;
        return n == count ? S_OK : S_FALSE;
    }
    HRESULT STDMETHODCALLTYPE Skip(ULONG count) override
    {
        const ULONG left = size() - position_;
        position_ += count < left ? count : left;
        return count <= left ? S_OK : S_FALSE;
    }
    HRESULT STDMETHODCALLTYPE Reset() override
    {
        position_ = 0;
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE Clone(IEnumConnectionPoints** copy) override
    {
        if (!copy)
            return E_POINTER;
        *copy = new (std::nothrow) PointList(point_, position_);
        return *copy ? S_OK : E_OUTOFMEMORY;
    }

private:
    ULONG size() const { return point_ ? 1 : 0; }

    IConnectionPoint* point_;
    ULONG position_;
};

} // namespace

IEnumConnectionPoints* NewPointList(IConnectionPoint* point)
{
    return new (std::nothrow) PointList(point, 0);
}

} // namespace tolmail::server::win32
