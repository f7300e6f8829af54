#include "server/win32/host_variant.h"

#include "server/win32/host_enumerator.h"
#include "server/win32/host_object.h"
#include "server/win32/host_text.h"

namespace tolmail::server::win32 {
namespace {

HRESULT BytesToCore(SAFEARRAY* array, TmVariant& out)
{
    if (!array || SafeArrayGetDim(array) != 1)
        return DISP_E_TYPEMISMATCH;
    LONG low = 0, high = -1;
    SafeArrayGetLBound(array, 1, &low);
    SafeArrayGetUBound(array, 1, &high);
    void* data = nullptr;
    if (FAILED(SafeArrayAccessData(array, &data)))
        return E_FAIL;
    const TmResult result = TmVariantSetBytes(&out, static_cast<const uint8_t*>(data),
                                              static_cast<uint32_t>(high >= low ? high - low + 1 : 0));
    SafeArrayUnaccessData(array);
    return TM_SUCCEEDED(result) ? S_OK : E_OUTOFMEMORY;
}

HRESULT BytesToHost(const TmVariant& value, VARIANT& out)
{
    SAFEARRAY* array = SafeArrayCreateVector(VT_UI1, 0, value.u.str.length);
    if (!array)
        return E_OUTOFMEMORY;
    void* data = nullptr;
    if (SUCCEEDED(SafeArrayAccessData(array, &data))) {
        if (value.u.str.length)
            memcpy(data, value.u.str.data, value.u.str.length);
        SafeArrayUnaccessData(array);
    }
    V_VT(&out) = VT_ARRAY | VT_UI1;
    V_ARRAY(&out) = array;
    return S_OK;
}

} // namespace

HRESULT ToCore(const VARIANT& value, TmVariant& out)
{
    out = TmVariant{};
    switch (V_VT(&value)) {
    case VT_EMPTY: return S_OK;
    case VT_NULL: out.vt = TM_VT_NULL; return S_OK;
    case VT_I2: out.vt = TM_VT_I2; out.u.i2 = V_I2(&value); return S_OK;
    case VT_I4: out.vt = TM_VT_I4; out.u.i4 = V_I4(&value); return S_OK;
    case VT_R4: out.vt = TM_VT_R4; out.u.r4 = V_R4(&value); return S_OK;
    case VT_R8: out.vt = TM_VT_R8; out.u.r8 = V_R8(&value); return S_OK;
    case VT_BOOL: out.vt = TM_VT_BOOL; out.u.boolean = V_BOOL(&value); return S_OK;
    case VT_UI1: out.vt = TM_VT_UI1; out.u.ui1 = V_UI1(&value); return S_OK;
    case VT_ERROR: out.vt = TM_VT_ERROR; out.u.scode = V_ERROR(&value); return S_OK;
    case VT_BSTR: {
        const std::string bytes = FromHostText(V_BSTR(&value));
        return TM_SUCCEEDED(TmVariantSetString(&out, bytes.data(), static_cast<uint32_t>(bytes.size())))
                   ? S_OK : E_OUTOFMEMORY;
    }
    case VT_DISPATCH:
    case VT_UNKNOWN:
        // Nothing, or an object the core turns down when it is not one of ours.
        out.vt = TM_VT_DISPATCH;
        out.u.object = V_UNKNOWN(&value) ? CoreOf(V_UNKNOWN(&value)) : nullptr;
        return S_OK;
    case VT_ARRAY | VT_UI1: return BytesToCore(V_ARRAY(&value), out);
    case VT_BYREF | VT_VARIANT:
        if (!V_VARIANTREF(&value))
            return E_POINTER;
        return ToCore(*V_VARIANTREF(&value), out);
    default:
        break;
    }
    // A by-reference value followed, any other number (or a date) as the core's nearest kind.
    VARIANT plain;
    VariantInit(&plain);
    HRESULT hr;
    if (V_VT(&value) & VT_BYREF) {
        hr = VariantCopyInd(&plain, const_cast<VARIANT*>(&value));
        if (SUCCEEDED(hr))
            hr = (V_VT(&plain) & VT_BYREF) ? DISP_E_TYPEMISMATCH : ToCore(plain, out);
    } else {
        hr = VariantChangeType(&plain, const_cast<VARIANT*>(&value), 0, V_VT(&value) == VT_DATE ? VT_BSTR : VT_R8);
        if (SUCCEEDED(hr))
            hr = ToCore(plain, out);
    }
    VariantClear(&plain);
    return FAILED(hr) ? DISP_E_TYPEMISMATCH : S_OK;
}

HRESULT CopyToHost(const TmVariant& value, VARIANT& out)
{
    VariantClear(&out);
    switch (value.vt) {
    case TM_VT_EMPTY: return S_OK;
    case TM_VT_NULL: V_VT(&out) = VT_NULL; return S_OK;
    case TM_VT_I2: V_VT(&out) = VT_I2; V_I2(&out) = value.u.i2; return S_OK;
    case TM_VT_I4: V_VT(&out) = VT_I4; V_I4(&out) = value.u.i4; return S_OK;
    case TM_VT_R4: V_VT(&out) = VT_R4; V_R4(&out) = value.u.r4; return S_OK;
    case TM_VT_R8: V_VT(&out) = VT_R8; V_R8(&out) = value.u.r8; return S_OK;
    case TM_VT_BOOL: V_VT(&out) = VT_BOOL; V_BOOL(&out) = value.u.boolean ? VARIANT_TRUE : VARIANT_FALSE; return S_OK;
    case TM_VT_UI1: V_VT(&out) = VT_UI1; V_UI1(&out) = value.u.ui1; return S_OK;
    case TM_VT_ERROR: V_VT(&out) = VT_ERROR; V_ERROR(&out) = value.u.scode; return S_OK;
    case TM_VT_BSTR: {
        BSTR text = ToHostText({value.u.str.data ? value.u.str.data : "", value.u.str.data ? value.u.str.length : 0});
        if (!text)
            return E_OUTOFMEMORY;
        V_VT(&out) = VT_BSTR;
        V_BSTR(&out) = text;
        return S_OK;
    }
    case TM_VT_ARRAY | TM_VT_UI1: return BytesToHost(value, out);
    case TM_VT_DISPATCH: {
        TmDispatch* core = value.u.object;
        V_VT(&out) = VT_DISPATCH;
        V_DISPATCH(&out) = nullptr;
        if (!core)
            return S_OK;
        core->vtbl->AddRef(core);
        V_DISPATCH(&out) = WrapForHost(core);
        return V_DISPATCH(&out) ? S_OK : E_OUTOFMEMORY;
    }
    case TM_VT_UNKNOWN: {
        TmUnknown* unknown = value.u.unknown;
        V_VT(&out) = VT_UNKNOWN;
        V_UNKNOWN(&out) = nullptr;
        if (!unknown)
            return S_OK;
        unknown->vtbl->AddRef(unknown);
        V_UNKNOWN(&out) = WrapEnumerator(unknown);
        return V_UNKNOWN(&out) ? S_OK : E_NOINTERFACE;
    }
    default:
        return DISP_E_TYPEMISMATCH;
    }
}

HRESULT ToHost(TmVariant& value, VARIANT& out)
{
    const HRESULT hr = CopyToHost(value, out);
    TmVariantClear(&value);
    return hr;
}

} // namespace tolmail::server::win32
