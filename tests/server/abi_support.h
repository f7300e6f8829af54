// Calling the automation ABI from a test as a host would: variants in, results and error
// info out, everything the library allocated released.
#pragma once

#include <cstring>
#include <initializer_list>
#include <string>
#include <vector>

#include "tolmail/automation.h"

namespace host {

inline TmVariant I4(int32_t v) { TmVariant x{}; x.vt = TM_VT_I4; x.u.i4 = v; return x; }
inline TmVariant R8(double v) { TmVariant x{}; x.vt = TM_VT_R8; x.u.r8 = v; return x; }
inline TmVariant Bool(bool v) { TmVariant x{}; x.vt = TM_VT_BOOL; x.u.boolean = v ? -1 : 0; return x; }
inline TmVariant MissingArg() { TmVariant x{}; x.vt = TM_VT_ERROR; x.u.scode = TM_DISP_E_PARAMNOTFOUND; return x; }
inline TmVariant Object(TmDispatch* o) { TmVariant x{}; x.vt = TM_VT_DISPATCH; x.u.object = o; return x; }
/// A by-value string pointing at the caller's text (the library only reads it).
inline TmVariant Str(const char* text)
{
    TmVariant x{};
    x.vt = TM_VT_BSTR;
    x.u.str.data = const_cast<char*>(text);
    x.u.str.length = static_cast<uint32_t>(std::strlen(text));
    return x;
}
inline TmVariant Ref(TmVariant* target) { TmVariant x{}; x.vt = TM_VT_BYREF | TM_VT_VARIANT; x.u.ref = target; return x; }

inline std::string Text(const TmVariant& v) { return std::string(v.u.str.data, v.u.str.length); }

/// One Invoke: its result code, value and error info.
struct Call {
    Call(TmDispatch* object, int32_t dispid, uint16_t flags, std::vector<TmVariant> args = {})
    {
        hr = object->vtbl->Invoke(object, dispid, flags, args.data(), static_cast<uint32_t>(args.size()), &value,
                                  &error);
    }
    ~Call() { TmVariantClear(&value); }
    Call(const Call&) = delete;
    Call& operator=(const Call&) = delete;

    TmResult hr = 0;
    TmVariant value{};
    TmErrorInfo error{};
};

inline int32_t IdOf(TmDispatch* object, const char* name)
{
    int32_t dispid = 0x7fffffff;
    TmErrorInfo error{};
    object->vtbl->GetIDOfName(object, name, &dispid, &error);
    return dispid;
}

} // namespace host
