// TmVariant <-> Variant, and the C functions that manage a TmVariant's contents.
#include "server/abi_variant.h"

#include <cstdlib>
#include <cstring>
#include <new>
#include <string>

#include "server/dispatch_object.h"
#include "server/enumerator_object.h"
#include "tolmail/error.h"

namespace tolmail::server {
namespace {

/// A library-allocated copy of `length` bytes (never NULL, so an empty string is still a
/// string the host can tell from a missing one).
char* CopyOut(const void* data, size_t length)
{
    if (length > UINT32_MAX)
        throw Error(TM_DISP_E_OVERFLOW, "Overflow: a value of more than 4 GiB cannot be handed to the host");
    char* copy = static_cast<char*>(std::malloc(length ? length : 1));
    if (!copy)
        throw std::bad_alloc();
    if (length)
        std::memcpy(copy, data, length);
    return copy;
}

void SetText(TmVariant& out, TmVarType type, const void* data, size_t length)
{
    out.u.str.data = CopyOut(data, length);
    out.u.str.length = static_cast<uint32_t>(length);
    out.vt = type;
}

[[noreturn]] void Unsupported(TmVarType type)
{
    throw Error(TM_DISP_E_TYPEMISMATCH, "Type mismatch: the library does not take a variant of type " +
                                            std::to_string(type));
}

} // namespace

Variant FromHost(const TmVariant& value)
{
    switch (value.vt) {
    case TM_VT_EMPTY:
    case TM_VT_NULL:
        return Variant();
    case TM_VT_I2:
        return Variant(value.u.i2);
    case TM_VT_I4:
        return Variant(value.u.i4);
    case TM_VT_R4:
        return Variant(value.u.r4);
    case TM_VT_R8:
        return Variant(value.u.r8);
    case TM_VT_BOOL:
        return Variant(value.u.boolean != 0);
    case TM_VT_UI1:
        return Variant(value.u.ui1);
    case TM_VT_ERROR:
        if (value.u.scode == TM_DISP_E_PARAMNOTFOUND)
            return Variant(Missing{});
        return Variant(value.u.scode);
    case TM_VT_BSTR:
        return Variant(std::string(value.u.str.data ? value.u.str.data : "", value.u.str.data ? value.u.str.length : 0));
    case TM_VT_ARRAY | TM_VT_UI1: {
        const auto* bytes = reinterpret_cast<const uint8_t*>(value.u.str.data);
        return Variant(bytes ? Bytes(bytes, bytes + value.u.str.length) : Bytes());
    }
    case TM_VT_DISPATCH: {
        Object object;
        UnwrapObject(value.u.object, object);
        return Variant(std::move(object));
    }
    case TM_VT_BYREF | TM_VT_VARIANT:
        if (value.u.ref && !(value.u.ref->vt & TM_VT_BYREF))
            return FromHost(*value.u.ref);
        Unsupported(value.vt);
    default:
        Unsupported(value.vt);
    }
}

void ToHost(const Variant& value, const Catalog& catalog, TmVariant& out)
{
    out = TmVariant{};
    std::visit(
        [&](const auto& v) {
            using T = std::decay_t<decltype(v)>;
            if constexpr (std::is_same_v<T, std::monostate>) {
                out.vt = TM_VT_EMPTY;
            } else if constexpr (std::is_same_v<T, bool>) {
                out.vt = TM_VT_BOOL;
                out.u.boolean = v ? -1 : 0;
            } else if constexpr (std::is_same_v<T, uint8_t>) {
                out.vt = TM_VT_UI1;
                out.u.ui1 = v;
            } else if constexpr (std::is_same_v<T, int16_t>) {
                out.vt = TM_VT_I2;
                out.u.i2 = v;
            } else if constexpr (std::is_same_v<T, int32_t>) {
                out.vt = TM_VT_I4;
                out.u.i4 = v;
            } else if constexpr (std::is_same_v<T, float>) {
                out.vt = TM_VT_R4;
                out.u.r4 = v;
            } else if constexpr (std::is_same_v<T, double>) {
                out.vt = TM_VT_R8;
                out.u.r8 = v;
            } else if constexpr (std::is_same_v<T, std::string>) {
                SetText(out, TM_VT_BSTR, v.data(), v.size());
            } else if constexpr (std::is_same_v<T, Bytes>) {
                SetText(out, TM_VT_ARRAY | TM_VT_UI1, v.data(), v.size());
            } else if constexpr (std::is_same_v<T, Object>) {
                if (!v.ptr) {
                    out.vt = TM_VT_DISPATCH;
                    out.u.object = nullptr;
                } else if (IsEnumerator(v)) {
                    out.u.unknown = reinterpret_cast<TmUnknown*>(NewHostEnumerator(catalog, v));
                    out.vt = TM_VT_UNKNOWN;
                } else {
                    const TypeEntry* interface = catalog.interfaceOf(v.typeName);
                    if (!interface)
                        throw std::runtime_error(std::string("no automation interface for objects of class ") +
                                                 v.typeName);
                    out.u.object = WrapObject(catalog, *interface, v.ptr, v.typeName);
                    out.vt = TM_VT_DISPATCH;
                }
            } else if constexpr (std::is_same_v<T, Missing>) {
                out.vt = TM_VT_ERROR;
                out.u.scode = TM_DISP_E_PARAMNOTFOUND;
            }
        },
        value.value());
}

} // namespace tolmail::server

using namespace tolmail::server;

extern "C" {

TOLMAIL_C_API void TmVariantClear(TmVariant* variant)
{
    if (!variant)
        return;
    switch (variant->vt) {
    case TM_VT_BSTR:
    case TM_VT_ARRAY | TM_VT_UI1:
        std::free(variant->u.str.data);
        break;
    case TM_VT_DISPATCH:
        if (variant->u.object)
            variant->u.object->vtbl->Release(variant->u.object);
        break;
    case TM_VT_UNKNOWN:
        if (variant->u.unknown)
            variant->u.unknown->vtbl->Release(variant->u.unknown);
        break;
    default:
        break;  // numbers own nothing; a by-reference variant belongs to the host
    }
    *variant = TmVariant{};
}

TOLMAIL_C_API TmResult TmVariantSetString(TmVariant* variant, const char* data, uint32_t length)
{
    if (!variant || (!data && length))
        return TM_E_POINTER;
    char* copy = static_cast<char*>(std::malloc(length ? length : 1));
    if (!copy)
        return TM_E_OUTOFMEMORY;
    if (length)
        std::memcpy(copy, data, length);
    TmVariantClear(variant);
    variant->vt = TM_VT_BSTR;
    variant->u.str.data = copy;
    variant->u.str.length = length;
    return TM_S_OK;
}

TOLMAIL_C_API TmResult TmVariantSetBytes(TmVariant* variant, const uint8_t* data, uint32_t length)
{
    const TmResult result = TmVariantSetString(variant, reinterpret_cast<const char*>(data), length);
    if (TM_SUCCEEDED(result))
        variant->vt = TM_VT_ARRAY | TM_VT_UI1;
    return result;
}

} // extern "C"
