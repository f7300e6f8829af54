// What a host holds on Windows: a COM object around one reference to a core object
// (TmDispatch). The core does the work — names, coercion, argument counts, errors,
// threads; this adapter only speaks COM: IDispatch through the type library onto the dual
// interface's vtable, whose methods (generated from the tables) come back to the core's
// Invoke through CoreCall.
#pragma once

#define WIN32_LEAN_AND_MEAN
#include <windows.h>
#include <ocidl.h>
#include <olectl.h>
#include <oleauto.h>

#include <deque>
#include <memory>
#include <vector>

#include "tolmail/automation.h"

namespace tolmail::server::win32 {

/// The core's identifiers have the system's layout.
inline const GUID& AsGuid(const TmGuid& guid)
{
    static_assert(sizeof(TmGuid) == sizeof(GUID));
    return reinterpret_cast<const GUID&>(guid);
}

class EventPoint;

/// Everything of a host object that does not depend on its dual interface.
class ObjectCore : public ISupportErrorInfo, public IProvideClassInfo2, public IConnectionPointContainer {
public:
    /// Takes over the reference `core`.
    ObjectCore(TmDispatch* core, const TmTypeDesc& type);
    virtual ~ObjectCore();
    ObjectCore(const ObjectCore&) = delete;
    ObjectCore& operator=(const ObjectCore&) = delete;

    TmDispatch* core() const noexcept { return core_; }
    const TmTypeDesc& type() const noexcept { return type_; }

    // ISupportErrorInfo
    HRESULT STDMETHODCALLTYPE InterfaceSupportsErrorInfo(REFIID iid) override;
    // IProvideClassInfo2
    HRESULT STDMETHODCALLTYPE GetClassInfo(ITypeInfo** info) override;
    HRESULT STDMETHODCALLTYPE GetGUID(DWORD kind, GUID* guid) override;
    // IConnectionPointContainer
    HRESULT STDMETHODCALLTYPE EnumConnectionPoints(IEnumConnectionPoints** points) override;
    HRESULT STDMETHODCALLTYPE FindConnectionPoint(REFIID iid, IConnectionPoint** point) override;

protected:
    /// The interfaces other than IUnknown, IDispatch and the dual one.
    HRESULT QueryOther(REFIID iid, void** out);
    HRESULT TypeInfo(UINT index, ITypeInfo** info);
    HRESULT IdsOfNames(LPOLESTR* names, UINT count, DISPID* ids);
    HRESULT InvokeVtable(void* dual, DISPID dispid, WORD flags, DISPPARAMS* params, VARIANT* result,
                         EXCEPINFO* exception, UINT* argError);

    LONG refs_ = 1;

private:
    TmDispatch* core_;
    const TmTypeDesc& type_;
    const TmTypeDesc* class_;   // the creatable class whose default interface this is
    ITypeInfo* vtableInfo_ = nullptr;
    ITypeInfo* dispatchInfo_ = nullptr;
    std::unique_ptr<EventPoint> events_;
};

/// A host object with the dual interface `I` (generated per interface by emit_idl).
template <class I>
class DualObject : public I, public ObjectCore {
public:
    DualObject(TmDispatch* core, const TmTypeDesc& type) : ObjectCore(core, type) {}

    HRESULT STDMETHODCALLTYPE QueryInterface(REFIID iid, void** out) override
    {
        if (!out)
            return E_POINTER;
        if (IsEqualIID(iid, IID_IUnknown) || IsEqualIID(iid, IID_IDispatch) ||
            IsEqualIID(iid, AsGuid(type().guid))) {
            *out = static_cast<I*>(this);
            AddRef();
            return S_OK;
        }
        return QueryOther(iid, out);
    }
    ULONG STDMETHODCALLTYPE AddRef() override { return static_cast<ULONG>(InterlockedIncrement(&refs_)); }
    ULONG STDMETHODCALLTYPE Release() override
    {
        const LONG left = InterlockedDecrement(&refs_);
        if (left == 0)
            delete this;
        return static_cast<ULONG>(left);
    }

    HRESULT STDMETHODCALLTYPE GetTypeInfoCount(UINT* count) override
    {
        if (!count)
            return E_POINTER;
        *count = 1;
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE GetTypeInfo(UINT index, LCID, ITypeInfo** info) override
    {
        return TypeInfo(index, info);
    }
    HRESULT STDMETHODCALLTYPE GetIDsOfNames(REFIID, LPOLESTR* names, UINT count, LCID, DISPID* ids) override
    {
        return IdsOfNames(names, count, ids);
    }
    HRESULT STDMETHODCALLTYPE Invoke(DISPID dispid, REFIID, LCID, WORD flags, DISPPARAMS* params, VARIANT* result,
                                     EXCEPINFO* exception, UINT* argError) override
    {
        return InvokeVtable(static_cast<I*>(this), dispid, flags, params, result, exception, argError);
    }
};

/// One call of the core's Invoke from a vtable method: the arguments in natural order (the
/// put value last), then the result converted to the slot's type. A failure of the core
/// becomes the thread's error info and the HRESULT the host sees.
class CoreCall {
public:
    CoreCall(ObjectCore& object, int32_t dispid, uint16_t flags) : object_(object), dispid_(dispid), flags_(flags) {}
    ~CoreCall();
    CoreCall(const CoreCall&) = delete;
    CoreCall& operator=(const CoreCall&) = delete;

    /// A typed argument: `value` points to a value of type `vt`.
    void In(VARTYPE vt, const void* value);
    /// A VARIANT argument (an optional one may be VT_ERROR / DISP_E_PARAMNOTFOUND).
    void In(const VARIANT& value);
    /// An argument the member may write back.
    void InOut(VARIANT* value);

    /// Runs the call for a member without a result.
    HRESULT Finish();
    /// Runs the call and stores its value, converted to `vt`, at `result`.
    HRESULT Finish(VARTYPE vt, void* result);

private:
    HRESULT Run(TmVariant* result);

    ObjectCore& object_;
    int32_t dispid_;
    uint16_t flags_;
    HRESULT failed_ = S_OK;  // an argument that could not be converted
    std::vector<TmVariant> args_;
    std::deque<TmVariant> byRef_;       // what the by-reference arguments point to
    std::vector<VARIANT*> byRefHosts_;  // where they go back to, in the same order
};

/// A new host object (count 1) of the dual interface `type` around `core`, whose reference
/// it takes over; nullptr for an interface the library does not have (generated).
IDispatch* NewDualObject(TmDispatch* core, const TmTypeDesc& type);

/// NewDualObject for a core object of any of the library's interfaces; releases `core` and
/// gives nullptr when it cannot be wrapped.
IDispatch* WrapForHost(TmDispatch* core);

/// The core object behind a host's IDispatch (a counted core reference), or nullptr when it
/// is not one of this library's objects.
TmDispatch* CoreOf(IUnknown* host);

/// Records a failure of the core for the host (SetErrorInfo) and gives the HRESULT to return.
HRESULT ReportFailure(TmResult result, const TmErrorInfo& error, const GUID& iid);

} // namespace tolmail::server::win32
