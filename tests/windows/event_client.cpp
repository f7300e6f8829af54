// A C++ client of tolmail.dll as any Windows program would be one: it creates two
// TolvanSocket objects by ProgID, finds their event interface through IProvideClassInfo,
// connects sinks through IConnectionPointContainer::FindConnectionPoint and sees the
// socket events of a loopback connection, which the thread's message loop delivers.
// At the end, with every reference released, the DLL must agree to be unloaded.
//   event_client LISTEN_PORT
#define WIN32_LEAN_AND_MEAN
#include <windows.h>
#include <ole2.h>
#include <oleauto.h>
#include <ocidl.h>

#include <cstdlib>
#include <string>
#include <vector>

#include "check.h"

using windows_test::check;

namespace {

// The dispatch ids of __TolvanSocket, as its type library lists them.
enum SocketEvent : DISPID { kOnRecvData = 1, kOnAcceptConnection = 2, kOnCloseConnection = 3, kOnConnect = 4 };

/// Counts the events it is told, and keeps the socket id OnAcceptConnection announces.
class CountingSink final : public IDispatch {
public:
    explicit CountingSink(const IID& events) : events_(events) {}

    int count[5] = {};
    LONG announcedSocket = 0;
    bool byReference = false;
    LONG receivedLength = 0;

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
    ULONG STDMETHODCALLTYPE AddRef() override { return static_cast<ULONG>(++references_); }
    ULONG STDMETHODCALLTYPE Release() override { return static_cast<ULONG>(--references_); }
    HRESULT STDMETHODCALLTYPE GetTypeInfoCount(UINT* n) override
    {
        *n = 0;
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE GetTypeInfo(UINT, LCID, ITypeInfo**) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE GetIDsOfNames(REFIID, LPOLESTR*, UINT, LCID, DISPID*) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE Invoke(DISPID id, REFIID, LCID, WORD, DISPPARAMS* params, VARIANT*, EXCEPINFO*,
                                     UINT*) override
    {
        if (id >= kOnRecvData && id <= kOnConnect)
            ++count[id];
        // Arguments come last first.
        if (id == kOnAcceptConnection && params->cArgs == 1) {
            // By reference: to a long, or to a variant that holds one.
            const VARIANT* socketId = &params->rgvarg[0];
            if (V_VT(socketId) == (VT_VARIANT | VT_BYREF))
                socketId = V_VARIANTREF(socketId);
            if (V_VT(socketId) == (VT_I4 | VT_BYREF))
                announcedSocket = *V_I4REF(socketId);
            else if (V_VT(socketId) == VT_I4)
                announcedSocket = V_I4(socketId);
            byReference = V_VT(&params->rgvarg[0]) & VT_BYREF;
        }
        if (id == kOnRecvData && params->cArgs == 3 && V_VT(&params->rgvarg[2]) == VT_I4)
            receivedLength += V_I4(&params->rgvarg[2]);
        return S_OK;
    }

    /// References the component still holds (the client's own one excluded).
    LONG HeldByOthers() const { return references_ - 1; }

private:
    IID events_;
    LONG references_ = 1;
};

/// Late-bound calls by name, the way a script makes them.
class Object {
public:
    explicit Object(const wchar_t* progId)
    {
        CLSID clsid;
        if (SUCCEEDED(CLSIDFromProgID(progId, &clsid)))
            CoCreateInstance(clsid, nullptr, CLSCTX_INPROC_SERVER, IID_IDispatch, reinterpret_cast<void**>(&object_));
    }
    Object(const Object&) = delete;
    Object& operator=(const Object&) = delete;
    ~Object() { Release(); }
    void Release()
    {
        if (object_ != nullptr)
            object_->Release();
        object_ = nullptr;
    }
    IDispatch* get() const { return object_; }

    /// Calls a method (arguments first to last) and gives its result as a number.
    LONG Call(const wchar_t* name, std::vector<VARIANT> arguments = {})
    {
        std::vector<VARIANT> reversed(arguments.rbegin(), arguments.rend());
        DISPPARAMS params{reversed.data(), nullptr, static_cast<UINT>(reversed.size()), 0};
        VARIANT result;
        VariantInit(&result);
        if (FAILED(Invoke(name, DISPATCH_METHOD, params, &result)))
            return 0x7fffffff;
        VariantChangeType(&result, &result, 0, VT_I4);
        const LONG value = V_VT(&result) == VT_I4 ? V_I4(&result) : 0x7fffffff;
        VariantClear(&result);
        return value;
    }
    void Put(const wchar_t* name, VARIANT value)
    {
        DISPID putId = DISPID_PROPERTYPUT;
        DISPPARAMS params{&value, &putId, 1, 1};
        Invoke(name, DISPATCH_PROPERTYPUT, params, nullptr);
    }

private:
    HRESULT Invoke(const wchar_t* name, WORD flags, DISPPARAMS& params, VARIANT* result)
    {
        DISPID id = DISPID_UNKNOWN;
        LPOLESTR names = const_cast<LPOLESTR>(name);
        HRESULT hr = object_->GetIDsOfNames(IID_NULL, &names, 1, LOCALE_USER_DEFAULT, &id);
        if (SUCCEEDED(hr))
            hr = object_->Invoke(id, IID_NULL, LOCALE_USER_DEFAULT, flags, &params, result, nullptr, nullptr);
        return hr;
    }

    IDispatch* object_ = nullptr;
};

VARIANT Long(LONG value)
{
    VARIANT v;
    VariantInit(&v);
    V_VT(&v) = VT_I4;
    V_I4(&v) = value;
    return v;
}

/// A string variant the callee only reads; freed by the caller once the call is done.
struct Text {
    explicit Text(const wchar_t* text) { V_VT(&value) = VT_BSTR, V_BSTR(&value) = SysAllocString(text); }
    ~Text() { VariantClear(&value); }
    VARIANT value{};
};

/// The IID of the class's [default, source] interface, as its class information tells.
IID DefaultEventsOf(IDispatch* object)
{
    IID iid = IID_NULL;
    IProvideClassInfo* provider = nullptr;
    ITypeInfo* coclass = nullptr;
    TYPEATTR* attributes = nullptr;
    if (FAILED(object->QueryInterface(IID_IProvideClassInfo, reinterpret_cast<void**>(&provider))))
        return iid;
    if (SUCCEEDED(provider->GetClassInfo(&coclass)) && SUCCEEDED(coclass->GetTypeAttr(&attributes))) {
        for (UINT i = 0; i < attributes->cImplTypes; ++i) {
            INT flags = 0;
            HREFTYPE reference = 0;
            ITypeInfo* source = nullptr;
            TYPEATTR* sourceAttributes = nullptr;
            if (SUCCEEDED(coclass->GetImplTypeFlags(i, &flags)) && flags == (IMPLTYPEFLAG_FDEFAULT | IMPLTYPEFLAG_FSOURCE) &&
                SUCCEEDED(coclass->GetRefTypeOfImplType(i, &reference)) &&
                SUCCEEDED(coclass->GetRefTypeInfo(reference, &source))) {
                if (SUCCEEDED(source->GetTypeAttr(&sourceAttributes))) {
                    iid = sourceAttributes->guid;
                    source->ReleaseTypeAttr(sourceAttributes);
                }
                source->Release();
            }
        }
        coclass->ReleaseTypeAttr(attributes);
    }
    if (coclass != nullptr)
        coclass->Release();
    provider->Release();
    return iid;
}

/// A sink connected to one object until the end of its scope.
class Connection {
public:
    Connection(IDispatch* object, const IID& events, IUnknown* sink)
    {
        IConnectionPointContainer* container = nullptr;
        if (SUCCEEDED(object->QueryInterface(IID_IConnectionPointContainer, reinterpret_cast<void**>(&container)))) {
            if (SUCCEEDED(container->FindConnectionPoint(events, &point_)) && FAILED(point_->Advise(sink, &cookie_))) {
                point_->Release();
                point_ = nullptr;
            }
            container->Release();
        }
    }
    Connection(const Connection&) = delete;
    Connection& operator=(const Connection&) = delete;
    ~Connection()
    {
        if (point_ != nullptr) {
            point_->Unadvise(cookie_);
            point_->Release();
        }
    }
    bool connected() const { return point_ != nullptr; }

private:
    IConnectionPoint* point_ = nullptr;
    DWORD cookie_ = 0;
};

/// Dispatches the thread's messages until `done` holds, for 10 seconds at most.
template <typename Condition>
bool PumpUntil(Condition done)
{
    const ULONGLONG end = GetTickCount64() + 10000;
    while (!done() && GetTickCount64() < end) {
        MsgWaitForMultipleObjects(0, nullptr, FALSE, 20, QS_ALLINPUT);
        MSG message;
        while (PeekMessageW(&message, nullptr, 0, 0, PM_REMOVE)) {
            TranslateMessage(&message);
            DispatchMessageW(&message);
        }
    }
    return done();
}

void LoopbackEvents(LONG port)
{
    Object listener(L"TolvanMail.TolvanSocket");
    Object accepting(L"TolvanMail.TolvanSocket");
    Object client(L"TolvanMail.TolvanSocket");
    check(listener.get() && accepting.get() && client.get(), "three TolvanSocket objects created by ProgID");
    if (!listener.get() || !accepting.get() || !client.get())
        return;
    const IID events = DefaultEventsOf(listener.get());
    check(events != IID_NULL, "IProvideClassInfo names the class's default event interface");

    CountingSink listenerSink(events), acceptingSink(events), clientSink(events);
    {
        Connection toListener(listener.get(), events, &listenerSink);
        Connection toAccepting(accepting.get(), events, &acceptingSink);
        Connection toClient(client.get(), events, &clientSink);
        check(toListener.connected() && toAccepting.connected() && toClient.connected(),
              "FindConnectionPoint gives a point that takes our sinks");

        listener.Put(L"LocalPort", Long(port));
        check(listener.Call(L"Listen") == 0, "Listen on the loopback port");
        client.Put(L"Host", Text(L"127.0.0.1").value);
        client.Put(L"Port", Long(port));
        check(client.Call(L"Connect") == 0, "Connect to it");
        check(clientSink.count[kOnConnect] == 1, "OnConnect on the connecting side");
        check(PumpUntil([&] { return listenerSink.count[kOnAcceptConnection] == 1; }),
              "OnAcceptConnection on the listener");
        check(listenerSink.byReference && listenerSink.announcedSocket > 0,
              "its socket id is a number passed by reference");
        check(accepting.Call(L"Accept", {Long(listenerSink.announcedSocket)}) == -1,
              "Accept takes the announced connection");
        check(acceptingSink.count[kOnConnect] == 1, "OnConnect on the accepting side");

        Text greeting(L"hello\r\n");
        client.Call(L"senddta", {greeting.value});
        check(PumpUntil([&] { return acceptingSink.receivedLength >= 7; }), "OnRecvData with the length that arrived");
        accepting.Call(L"CloseSocket");
        check(PumpUntil([&] { return clientSink.count[kOnCloseConnection] == 1; }),
              "OnCloseConnection when the peer closes");
        listener.Call(L"CloseSocket");
    }
    check(listenerSink.HeldByOthers() == 0 && acceptingSink.HeldByOthers() == 0 && clientSink.HeldByOthers() == 0,
          "Unadvise lets go of every sink");
}

} // namespace

int main(int argc, char** argv)
{
    if (argc != 2) {
        std::fprintf(stderr, "usage: event_client LISTEN_PORT\n");
        return 2;
    }
    if (FAILED(CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED)))
        return 2;
    LoopbackEvents(std::atoi(argv[1]));

    using CanUnloadNow = HRESULT(STDAPICALLTYPE*)();
    const HMODULE dll = GetModuleHandleW(L"tolmail.dll");
    const auto canUnload = dll == nullptr ? nullptr
                                          : reinterpret_cast<CanUnloadNow>(reinterpret_cast<void (*)()>(
                                                GetProcAddress(dll, "DllCanUnloadNow")));
    check(canUnload != nullptr && canUnload() == S_OK, "tolmail.dll may be unloaded once everything is released");
    CoUninitialize();
    return windows_test::finish();
}
