#include "event_connections.h"

#include <map>

#include "host_dispatch.h"
#include "output.h"

namespace script_host {
namespace {

/// Turns each event into a call of the script's procedure prefix + event name. A failing
/// handler is reported here: the component that raised the event cannot act on it.
class EventSink final : public IDispatch {
public:
    EventSink(RunState& state, const IID& events, ComPtr<ITypeInfo> names, std::wstring prefix)
        : state_(state), events_(events), names_(std::move(names)), prefix_(std::move(prefix))
    {
    }

    HRESULT STDMETHODCALLTYPE QueryInterface(REFIID iid, void** object) override
    {
        if (iid == IID_IUnknown || iid == IID_IDispatch || iid == events_) {
            *object = static_cast<IDispatch*>(this);
            AddRef();
            return S_OK;
        }
        *object = nullptr;
        return E_NOINTERFACE;
    }
    ULONG STDMETHODCALLTYPE AddRef() override { return static_cast<ULONG>(InterlockedIncrement(&references_)); }
    ULONG STDMETHODCALLTYPE Release() override
    {
        const LONG left = InterlockedDecrement(&references_);
        if (left == 0)
            delete this;
        return static_cast<ULONG>(left);
    }
    HRESULT STDMETHODCALLTYPE GetTypeInfoCount(UINT* count) override
    {
        *count = 0;
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE GetTypeInfo(UINT, LCID, ITypeInfo** info) override
    {
        *info = nullptr;
        return E_NOTIMPL;
    }
    HRESULT STDMETHODCALLTYPE GetIDsOfNames(REFIID, LPOLESTR*, UINT, LCID, DISPID*) override { return E_NOTIMPL; }

    HRESULT STDMETHODCALLTYPE Invoke(DISPID id, REFIID, LCID locale, WORD, DISPPARAMS* params, VARIANT* result,
                                     EXCEPINFO*, UINT*) override
    {
        // After Quit or an error the script is on its way out and runs nothing more.
        if (state_.Stopping() || state_.engine == nullptr)
            return S_OK;
        const std::wstring procedure = prefix_ + EventName(id);
        if (procedure.size() == prefix_.size())
            return S_OK;
        ComPtr<IDispatch> script;
        if (FAILED(state_.engine->GetScriptDispatch(nullptr, &script)))
            return S_OK;
        LPOLESTR name = const_cast<LPOLESTR>(procedure.c_str());
        DISPID procedureId = DISPID_UNKNOWN;
        // A script handles only the events it wants.
        if (FAILED(script->GetIDsOfNames(IID_NULL, &name, 1, locale, &procedureId)))
            return S_OK;

        DISPPARAMS none{};
        const DISPPARAMS& given = params != nullptr ? *params : none;
        std::vector<VARIANT> values(given.cArgs);
        for (VARIANT& value : values)
            VariantInit(&value);
        DISPPARAMS passed{given.rgvarg, nullptr, given.cArgs, 0};
        if (!state_.scriptTakesByRef) {
            for (UINT i = 0; i < given.cArgs; ++i)
                VariantCopyInd(&values[i], &given.rgvarg[i]);
            passed.rgvarg = values.data();
        }
        OwnedExcepInfo error;
        const int errorsBefore = state_.errors;
        const HRESULT hr =
            script->Invoke(procedureId, IID_NULL, locale, DISPATCH_METHOD, &passed, result, &error, nullptr);
        for (VARIANT& value : values)
            VariantClear(&value);
        // The engine usually reports a handler's error to the site itself.
        if (FAILED(hr) && !state_.Stopping() && state_.errors == errorsBefore) {
            Complain(state_.scriptPath + L": in " + procedure + L": " + ExceptionText(error, hr));
            ++state_.errors;
        }
        return S_OK;
    }

private:
    std::wstring EventName(DISPID id)
    {
        const auto known = eventNames_.find(id);
        if (known != eventNames_.end())
            return known->second;
        BSTR name = nullptr;
        UINT got = 0;
        std::wstring text;
        if (SUCCEEDED(names_->GetNames(id, &name, 1, &got)) && got == 1)
            text.assign(name, SysStringLen(name));
        SysFreeString(name);
        eventNames_.emplace(id, text);
        return text;
    }

    LONG references_ = 1;
    RunState& state_;
    const IID events_;
    const ComPtr<ITypeInfo> names_;
    const std::wstring prefix_;
    std::map<DISPID, std::wstring> eventNames_;
};

IID GuidOf(ITypeInfo* info)
{
    TYPEATTR* attributes = nullptr;
    IID guid = IID_NULL;
    if (SUCCEEDED(info->GetTypeAttr(&attributes))) {
        guid = attributes->guid;
        info->ReleaseTypeAttr(attributes);
    }
    return guid;
}

/// The coclass's [default, source] interface, when the object tells its class.
ComPtr<ITypeInfo> DefaultSourceOf(IDispatch* object)
{
    ComPtr<IProvideClassInfo> provider;
    ComPtr<ITypeInfo> coclass;
    TYPEATTR* attributes = nullptr;
    if (FAILED(object->QueryInterface(IID_IProvideClassInfo, &provider)) || FAILED(provider->GetClassInfo(&coclass)) ||
        FAILED(coclass->GetTypeAttr(&attributes)))
        return {};
    const UINT implemented = attributes->cImplTypes;
    coclass->ReleaseTypeAttr(attributes);
    for (UINT i = 0; i < implemented; ++i) {
        INT flags = 0;
        HREFTYPE reference = 0;
        ComPtr<ITypeInfo> source;
        if (SUCCEEDED(coclass->GetImplTypeFlags(i, &flags)) && (flags & IMPLTYPEFLAG_FDEFAULT) &&
            (flags & IMPLTYPEFLAG_FSOURCE) && SUCCEEDED(coclass->GetRefTypeOfImplType(i, &reference)) &&
            SUCCEEDED(coclass->GetRefTypeInfo(reference, &source)))
            return source;
    }
    return {};
}

/// The description of `events` in the type library the object's own interface comes from.
ComPtr<ITypeInfo> TypeInfoBeside(IDispatch* object, const IID& events)
{
    ComPtr<ITypeInfo> own;
    ComPtr<ITypeLib> library;
    ComPtr<ITypeInfo> found;
    UINT index = 0;
    if (SUCCEEDED(object->GetTypeInfo(0, LOCALE_USER_DEFAULT, &own)) && own &&
        SUCCEEDED(own->GetContainingTypeLib(&library, &index)))
        library->GetTypeInfoOfGuid(events, &found);
    return found;
}

struct EventSource {
    IID iid = IID_NULL;
    ComPtr<ITypeInfo> names;
    ComPtr<IConnectionPoint> point;
};

EventSource FindEventSource(IDispatch* object)
{
    ComPtr<IConnectionPointContainer> container;
    if (FAILED(object->QueryInterface(IID_IConnectionPointContainer, &container)))
        throw HostError{E_NOINTERFACE, L"the object raises no events"};
    EventSource source;
    source.names = DefaultSourceOf(object);
    if (source.names) {
        source.iid = GuidOf(source.names.Get());
        if (SUCCEEDED(container->FindConnectionPoint(source.iid, &source.point)))
            return source;
    }
    // Without class information: the first connection point whose interface the
    // object's type library describes.
    ComPtr<IEnumConnectionPoints> points;
    if (SUCCEEDED(container->EnumConnectionPoints(&points))) {
        ComPtr<IConnectionPoint> point;
        while (points->Next(1, point.ReleaseAndGetAddressOf(), nullptr) == S_OK) {
            IID iid = IID_NULL;
            if (FAILED(point->GetConnectionInterface(&iid)))
                continue;
            ComPtr<ITypeInfo> names = TypeInfoBeside(object, iid);
            if (names)
                return EventSource{iid, names, point};
        }
    }
    throw HostError{E_NOINTERFACE, L"the object's event interface is not described"};
}

ComPtr<IUnknown> IdentityOf(IDispatch* object)
{
    ComPtr<IUnknown> identity;
    object->QueryInterface(IID_IUnknown, &identity);
    return identity;
}

} // namespace

void EventConnections::Connect(IDispatch* object, const std::wstring& prefix)
{
    Disconnect(object);
    EventSource source = FindEventSource(object);
    ComPtr<IDispatch> sink;
    sink.Attach(new EventSink(state_, source.iid, source.names, prefix));
    DWORD cookie = 0;
    const HRESULT hr = source.point->Advise(sink.Get(), &cookie);
    if (FAILED(hr))
        throw HostError{hr, L"the object refused the connection to its events"};
    connections_.push_back({IdentityOf(object), source.point, cookie});
}

void EventConnections::Disconnect(IDispatch* object)
{
    const ComPtr<IUnknown> identity = IdentityOf(object);
    std::erase_if(connections_, [&](Connection& connection) {
        // Raw pointers: the smart pointer compares only as true or false.
        if (connection.identity.Get() != identity.Get())
            return false;
        connection.point->Unadvise(connection.cookie);
        return true;
    });
}

void EventConnections::DisconnectAll()
{
    for (Connection& connection : connections_)
        connection.point->Unadvise(connection.cookie);
    connections_.clear();
}

} // namespace script_host
