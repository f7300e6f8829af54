// The tables first: the system headers define `interface`, a name they use.
#include "server/library_desc.h"
#include "server/win32/host_object.h"

#include <cstring>
#include <new>

#include "server/win32/host_events.h"
#include "server/win32/host_text.h"
#include "server/win32/host_variant.h"
#include "server/win32/type_library.h"

namespace tolmail::server::win32 {
namespace {

// Asked of a host's object to find the core object behind it; only this library's objects
// answer it.
constexpr GUID kCoreIid = {0x5E0C6A43, 0x7F2B, 0x4C1D, {0x9B, 0x8E, 0x3A, 0x41, 0xD2, 0xC7, 0xF0, 0x19}};

/// The creatable class whose default interface is `type`; nullptr for the others.
const TmTypeDesc* ClassOfInterface(const TmTypeDesc& type)
{
    const TmLibraryDesc& library = DescriptionOf(TheLibrary()).desc();
    for (uint32_t i = 0; i < library.typeCount; ++i) {
        const TmTypeDesc& candidate = library.types[i];
        if (candidate.kind == TM_TKIND_COCLASS && candidate.defaultInterface == &type)
            return &candidate;
    }
    return nullptr;
}

BSTR Text(const char* bytes)
{
    return ToHostText(std::string_view(bytes, strnlen(bytes, 512)));
}

/// The size of the [out] slot of each type a vtable method returns.
size_t SlotSize(VARTYPE vt)
{
    switch (vt) {
    case VT_I2:
    case VT_BOOL: return sizeof(SHORT);
    case VT_I4: return sizeof(LONG);
    case VT_R4: return sizeof(FLOAT);
    case VT_R8: return sizeof(DOUBLE);
    case VT_UI1: return sizeof(BYTE);
    case VT_VARIANT: return sizeof(VARIANT);
    default: return sizeof(void*);
    }
}

} // namespace

HRESULT ReportFailure(TmResult result, const TmErrorInfo& error, const GUID& iid)
{
    HRESULT hr = result;
    if (result == TM_DISP_E_EXCEPTION && error.code != 0)
        // A code a script compares with Err.Number; a bare number becomes the control
        // facility's error of that number, as script engines report theirs.
        hr = error.code < 0 ? error.code : MAKE_HRESULT(SEVERITY_ERROR, FACILITY_CONTROL, error.code & 0xFFFF);
    ICreateErrorInfo* create = nullptr;
    if (SUCCEEDED(CreateErrorInfo(&create))) {
        BSTR source = Text(error.source);
        BSTR description = Text(error.description);
        create->SetGUID(iid);
        create->SetSource(source);
        create->SetDescription(description);
        SysFreeString(source);
        SysFreeString(description);
        IErrorInfo* info = nullptr;
        if (SUCCEEDED(create->QueryInterface(IID_IErrorInfo, reinterpret_cast<void**>(&info)))) {
            SetErrorInfo(0, info);
            info->Release();
        }
        create->Release();
    }
    return hr;
}

// ---- ObjectCore ---------------------------------------------------------------------------

ObjectCore::ObjectCore(TmDispatch* core, const TmTypeDesc& type)
    : core_(core), type_(type), class_(ClassOfInterface(type))
{
    DualTypeInfos(AsGuid(type.guid), &vtableInfo_, &dispatchInfo_);
    if (class_ && class_->eventInterface)
        events_ = std::make_unique<EventPoint>(*this, core_, AsGuid(class_->eventInterface->guid));
}

ObjectCore::~ObjectCore()
{
    // The connections first: the core object must not outlive a sink it still calls.
    events_.reset();
    if (vtableInfo_)
        vtableInfo_->Release();
    if (dispatchInfo_)
        dispatchInfo_->Release();
    core_->vtbl->Release(core_);
}

HRESULT ObjectCore::QueryOther(REFIID iid, void** out)
{
    *out = nullptr;
    if (IsEqualIID(iid, IID_ISupportErrorInfo) || IsEqualIID(iid, kCoreIid))
        *out = static_cast<ISupportErrorInfo*>(this);
    else if (class_ && (IsEqualIID(iid, IID_IProvideClassInfo) || IsEqualIID(iid, IID_IProvideClassInfo2)))
        *out = static_cast<IProvideClassInfo2*>(this);
    else if (events_ && IsEqualIID(iid, IID_IConnectionPointContainer))
        *out = static_cast<IConnectionPointContainer*>(this);
    if (!*out)
        return E_NOINTERFACE;
    static_cast<IUnknown*>(*out)->AddRef();
    return S_OK;
}

HRESULT ObjectCore::InterfaceSupportsErrorInfo(REFIID iid)
{
    return IsEqualIID(iid, AsGuid(type_.guid)) ? S_OK : S_FALSE;
}

HRESULT ObjectCore::GetClassInfo(ITypeInfo** info)
{
    if (!info)
        return E_POINTER;
    *info = nullptr;
    ITypeLib* library = EmbeddedTypeLibrary();
    if (!class_ || !library)
        return E_UNEXPECTED;
    return library->GetTypeInfoOfGuid(AsGuid(class_->guid), info);
}

HRESULT ObjectCore::GetGUID(DWORD kind, GUID* guid)
{
    if (!guid)
        return E_POINTER;
    if (kind != GUIDKIND_DEFAULT_SOURCE_DISP_IID || !events_) {
        *guid = GUID_NULL;
        return E_INVALIDARG;
    }
    *guid = events_->events();
    return S_OK;
}

HRESULT ObjectCore::EnumConnectionPoints(IEnumConnectionPoints** points)
{
    if (!points)
        return E_POINTER;
    *points = NewPointList(events_.get());
    return *points ? S_OK : E_OUTOFMEMORY;
}

HRESULT ObjectCore::FindConnectionPoint(REFIID iid, IConnectionPoint** point)
{
    if (!point)
        return E_POINTER;
    *point = nullptr;
    if (!events_ || !IsEqualIID(iid, events_->events()))
        return CONNECT_E_NOCONNECTION;
    events_->AddRef();
    *point = events_.get();
    return S_OK;
}

HRESULT ObjectCore::TypeInfo(UINT index, ITypeInfo** info)
{
    if (!info)
        return E_POINTER;
    *info = nullptr;
    if (index != 0)
        return DISP_E_BADINDEX;
    if (!dispatchInfo_)
        return TYPE_E_CANTLOADLIBRARY;
    dispatchInfo_->AddRef();
    *info = dispatchInfo_;
    return S_OK;
}

HRESULT ObjectCore::IdsOfNames(LPOLESTR* names, UINT count, DISPID* ids)
{
    if (!vtableInfo_)
        return TYPE_E_CANTLOADLIBRARY;
    return DispGetIDsOfNames(vtableInfo_, names, count, ids);
}

HRESULT ObjectCore::InvokeVtable(void* dual, DISPID dispid, WORD flags, DISPPARAMS* params, VARIANT* result,
                                 EXCEPINFO* exception, UINT* argError)
{
    if (!vtableInfo_)
        return TYPE_E_CANTLOADLIBRARY;
    HRESULT hr = DispInvoke(dual, vtableInfo_, dispid, flags, params, result, exception, argError);
    // Some script engines call a property get (a collection's NewEnum, or a member whose
    // value they discard) as a method; the type library then finds no such method. Asked
    // again as either, with a slot for the value, it does.
    if (hr == DISP_E_MEMBERNOTFOUND && flags == DISPATCH_METHOD) {
        VARIANT discarded;
        VariantInit(&discarded);
        hr = DispInvoke(dual, vtableInfo_, dispid, DISPATCH_METHOD | DISPATCH_PROPERTYGET, params,
                        result ? result : &discarded, exception, argError);
        VariantClear(&discarded);
    }
    return hr;
}

// ---- CoreCall -----------------------------------------------------------------------------

CoreCall::~CoreCall()
{
    for (TmVariant& arg : args_)
        if (arg.vt != (TM_VT_BYREF | TM_VT_VARIANT))
            TmVariantClear(&arg);
    for (TmVariant& held : byRef_)
        TmVariantClear(&held);
}

void CoreCall::In(VARTYPE vt, const void* value)
{
    VARIANT v;
    VariantInit(&v);
    V_VT(&v) = vt;
    switch (vt) {
    case VT_I2:
    case VT_BOOL: V_I2(&v) = *static_cast<const SHORT*>(value); break;
    case VT_I4: V_I4(&v) = *static_cast<const LONG*>(value); break;
    case VT_R4: V_R4(&v) = *static_cast<const FLOAT*>(value); break;
    case VT_R8: V_R8(&v) = *static_cast<const DOUBLE*>(value); break;
    case VT_UI1: V_UI1(&v) = *static_cast<const BYTE*>(value); break;
    case VT_BSTR: V_BSTR(&v) = *static_cast<const BSTR*>(value); break;
    case VT_DISPATCH:
    case VT_UNKNOWN: V_UNKNOWN(&v) = *static_cast<IUnknown* const*>(value); break;
    default: V_VT(&v) = VT_EMPTY; failed_ = DISP_E_TYPEMISMATCH; break;
    }
    In(v);  // v borrows the caller's value: not cleared
}

void CoreCall::In(const VARIANT& value)
{
    TmVariant arg{};
    const HRESULT hr = ToCore(value, arg);
    if (FAILED(hr) && SUCCEEDED(failed_))
        failed_ = hr;
    args_.push_back(arg);
}

void CoreCall::InOut(VARIANT* value)
{
    TmVariant& held = byRef_.emplace_back();
    if (value) {
        const HRESULT hr = ToCore(*value, held);
        if (FAILED(hr) && SUCCEEDED(failed_))
            failed_ = hr;
    }
    TmVariant arg{};
    arg.vt = TM_VT_BYREF | TM_VT_VARIANT;
    arg.u.ref = &held;
    args_.push_back(arg);
    byRefHosts_.push_back(value);
}

HRESULT CoreCall::Run(TmVariant* result)
{
    if (FAILED(failed_))
        return failed_;
    TmDispatch* core = object_.core();
    TmErrorInfo error{};
    const TmResult outcome = core->vtbl->Invoke(core, dispid_, flags_, args_.data(),
                                                static_cast<uint32_t>(args_.size()), result, &error);
    if (!TM_SUCCEEDED(outcome))
        return ReportFailure(outcome, error, AsGuid(object_.type().guid));
    // What the member wrote into its by-reference arguments goes back to the host.
    for (size_t i = 0; i < byRefHosts_.size(); ++i) {
        VARIANT* host = byRefHosts_[i];
        if (!host)
            continue;
        if (V_VT(host) == (VT_BYREF | VT_VARIANT) && V_VARIANTREF(host))
            host = V_VARIANTREF(host);
        if (V_VT(host) & VT_BYREF)
            continue;  // a typed reference: left as it was
        const HRESULT hr = ToHost(byRef_[i], *host);
        if (FAILED(hr))
            return hr;
    }
    return S_OK;
}

HRESULT CoreCall::Finish()
{
    return Run(nullptr);
}

HRESULT CoreCall::Finish(VARTYPE vt, void* result)
{
    if (!result)
        return E_POINTER;
    std::memset(result, 0, SlotSize(vt));
    TmVariant value{};
    HRESULT hr = Run(&value);
    if (FAILED(hr)) {
        TmVariantClear(&value);
        return hr;
    }
    VARIANT v;
    VariantInit(&v);
    hr = ToHost(value, v);
    if (SUCCEEDED(hr) && vt == VT_VARIANT) {
        *static_cast<VARIANT*>(result) = v;
        return S_OK;
    }
    if (SUCCEEDED(hr) && (vt == VT_DISPATCH || vt == VT_UNKNOWN) && (V_VT(&v) == VT_EMPTY || V_VT(&v) == VT_NULL))
        return S_OK;  // Nothing
    if (SUCCEEDED(hr) && V_VT(&v) != vt)
        hr = VariantChangeType(&v, &v, 0, vt);
    if (FAILED(hr)) {
        VariantClear(&v);
        return hr;
    }
    switch (vt) {
    case VT_I2:
    case VT_BOOL: *static_cast<SHORT*>(result) = V_I2(&v); break;
    case VT_I4: *static_cast<LONG*>(result) = V_I4(&v); break;
    case VT_R4: *static_cast<FLOAT*>(result) = V_R4(&v); break;
    case VT_R8: *static_cast<DOUBLE*>(result) = V_R8(&v); break;
    case VT_UI1: *static_cast<BYTE*>(result) = V_UI1(&v); break;
    case VT_BSTR: *static_cast<BSTR*>(result) = V_BSTR(&v); break;  // the caller owns it now
    case VT_DISPATCH:
    case VT_UNKNOWN: *static_cast<IUnknown**>(result) = V_UNKNOWN(&v); break;
    default: VariantClear(&v); return DISP_E_TYPEMISMATCH;
    }
    return S_OK;
}

// ---- Objects between host and core --------------------------------------------------------

IDispatch* WrapForHost(TmDispatch* core)
{
    const TmTypeDesc* type = core->vtbl->GetTypeDesc(core);
    IDispatch* host = nullptr;
    try {
        host = type ? NewDualObject(core, *type) : nullptr;
    } catch (...) {
        host = nullptr;
    }
    if (!host)
        core->vtbl->Release(core);
    return host;
}

TmDispatch* CoreOf(IUnknown* host)
{
    void* found = nullptr;
    if (!host || FAILED(host->QueryInterface(kCoreIid, &found)) || !found)
        return nullptr;
    auto* object = static_cast<ObjectCore*>(static_cast<ISupportErrorInfo*>(found));
    TmDispatch* core = object->core();
    core->vtbl->AddRef(core);
    static_cast<ISupportErrorInfo*>(found)->Release();
    return core;
}

} // namespace tolmail::server::win32
