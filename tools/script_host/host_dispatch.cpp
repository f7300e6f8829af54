#include "host_dispatch.h"

namespace script_host {
namespace {

VARIANT Converted(const VARIANT& source, VARTYPE type, const wchar_t* wanted, USHORT conversion = 0)
{
    VARIANT converted;
    VariantInit(&converted);
    const HRESULT hr = VariantChangeType(&converted, const_cast<VARIANT*>(&source), conversion, type);
    if (FAILED(hr))
        throw HostError{DISP_E_TYPEMISMATCH, std::wstring(L"argument is not ") + wanted};
    return converted;
}

} // namespace

std::wstring CallArguments::Text(UINT index, USHORT conversion) const
{
    VARIANT text = Converted(Raw(index), VT_BSTR, L"text", conversion);
    std::wstring value(V_BSTR(&text), SysStringLen(V_BSTR(&text)));
    VariantClear(&text);
    return value;
}

LONG CallArguments::Long(UINT index) const
{
    VARIANT number = Converted(Raw(index), VT_I4, L"a number");
    return V_I4(&number);
}

ComPtr<IDispatch> CallArguments::Object(UINT index) const
{
    // Not through VariantChangeType: Wine's keeps a reference of an object it converts,
    // which would keep the object's server loaded.
    const VARIANT* given = &Raw(index);
    // VBScript passes its variables as references to variants.
    while (V_VT(given) == (VT_VARIANT | VT_BYREF))
        given = V_VARIANTREF(given);
    const VARTYPE type = V_VT(given);
    IUnknown* object = nullptr;
    if (type == VT_DISPATCH || type == VT_UNKNOWN)
        object = V_UNKNOWN(given);
    else if (type == (VT_DISPATCH | VT_BYREF) || type == (VT_UNKNOWN | VT_BYREF))
        object = *V_UNKNOWNREF(given);
    else
        throw HostError{DISP_E_TYPEMISMATCH, L"argument is not an object"};
    ComPtr<IDispatch> held;
    if (object == nullptr || FAILED(object->QueryInterface(IID_IDispatch, &held)))
        throw HostError{DISP_E_TYPEMISMATCH, L"argument is Nothing"};
    return held;
}

void CallArguments::Expect(UINT least, UINT most) const
{
    if (params_.cArgs < least || params_.cArgs > most)
        throw HostError{DISP_E_BADPARAMCOUNT, L"wrong number of arguments"};
}

HRESULT HostDispatch::QueryInterface(REFIID iid, void** object)
{
    if (object == nullptr)
        return E_POINTER;
    if (iid == IID_IUnknown || iid == IID_IDispatch) {
        *object = static_cast<IDispatch*>(this);
        AddRef();
        return S_OK;
    }
    *object = nullptr;
    return E_NOINTERFACE;
}

ULONG HostDispatch::AddRef() { return static_cast<ULONG>(InterlockedIncrement(&references_)); }

ULONG HostDispatch::Release()
{
    const LONG left = InterlockedDecrement(&references_);
    if (left == 0)
        delete this;
    return static_cast<ULONG>(left);
}

HRESULT HostDispatch::GetTypeInfoCount(UINT* count)
{
    *count = 0;
    return S_OK;
}

HRESULT HostDispatch::GetTypeInfo(UINT, LCID, ITypeInfo** info)
{
    *info = nullptr;
    return E_NOTIMPL;
}

HRESULT HostDispatch::GetIDsOfNames(REFIID, LPOLESTR* names, UINT count, LCID, DISPID* ids)
{
    for (UINT i = 0; i < count; ++i)
        ids[i] = DISPID_UNKNOWN;
    if (count == 0)
        return DISP_E_UNKNOWNNAME;
    for (const HostMember& member : Members()) {
        if (lstrcmpiW(member.name, names[0]) == 0) {
            ids[0] = member.id;
            // Named arguments are not offered.
            return count == 1 ? S_OK : DISP_E_UNKNOWNNAME;
        }
    }
    return DISP_E_UNKNOWNNAME;
}

HRESULT HostDispatch::Invoke(DISPID id, REFIID, LCID, WORD flags, DISPPARAMS* params, VARIANT* result,
                             EXCEPINFO* exception, UINT*)
{
    if ((flags & (DISPATCH_METHOD | DISPATCH_PROPERTYGET)) == 0)
        return DISP_E_MEMBERNOTFOUND;
    bool known = false;
    for (const HostMember& member : Members())
        known = known || member.id == id;
    if (!known)
        return DISP_E_MEMBERNOTFOUND;
    DISPPARAMS none{};
    if (params == nullptr)
        params = &none;
    if (params->cNamedArgs != 0)
        return DISP_E_NONAMEDARGS;
    if (result != nullptr)
        VariantInit(result);
    try {
        Call(id, CallArguments(*params), result);
        return S_OK;
    } catch (const HostError& error) {
        if (exception == nullptr)
            return error.code;
        *exception = EXCEPINFO{};
        exception->bstrSource = SysAllocString(L"WScript");
        exception->bstrDescription = SysAllocString(error.text.c_str());
        exception->scode = error.code;
        return DISP_E_EXCEPTION;
    }
}

void ReturnText(VARIANT* result, const std::wstring& text)
{
    if (result == nullptr)
        return;
    V_VT(result) = VT_BSTR;
    V_BSTR(result) = SysAllocStringLen(text.data(), static_cast<UINT>(text.size()));
}

void ReturnLong(VARIANT* result, LONG value)
{
    if (result == nullptr)
        return;
    V_VT(result) = VT_I4;
    V_I4(result) = value;
}

void ReturnObject(VARIANT* result, IDispatch* object)
{
    if (result == nullptr)
        return;
    object->AddRef();
    V_VT(result) = VT_DISPATCH;
    V_DISPATCH(result) = object;
}

} // namespace script_host
