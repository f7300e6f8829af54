// What the invokers of every table share: reaching the C++ object behind `self` and
// handing objects and enumerators out as variants.
#pragma once

#include <cstdint>
#include <memory>
#include <vector>

#include "server/arguments.h"
#include "server/enumerator_object.h"
#include "server/type_table.h"
#include "tolmail/enumerator.h"
#include "tolmail/variant.h"

namespace tolmail::server::tables {

/// The flags every dual interface of the library carries.
inline constexpr uint16_t kDualFlags = TM_TYPEFLAG_DUAL | TM_TYPEFLAG_NONEXTENSIBLE | TM_TYPEFLAG_OLEAUTOMATION;

/// The arguments of both mail components' progress event.
inline constexpr Param kProgressEventParams[] = {
    {"paramtext", TM_VT_BSTR}, {"task", TM_VT_I4}, {"param1", TM_VT_I4}, {"param2", TM_VT_I4}};

/// The C++ object an invoker was called on (the dispatch hands the table's own class only).
template <class T>
T& Self(void* self)
{
    return *static_cast<T*>(self);
}

/// An object as a host receives it; `typeName` is its C++ class name, by which the
/// dispatch finds its interface (InterfaceOf).
template <class T>
Variant ObjectOut(std::shared_ptr<T> object, const char* typeName)
{
    return Variant(Object{std::move(object), typeName});
}

/// A collection's NewEnum: its items, in order, as objects of `typeName`.
template <class T>
Variant EnumerationOf(const Enumerator<T>& items, const char* typeName)
{
    std::vector<Variant> objects;
    for (const auto& item : items)
        objects.push_back(ObjectOut(item, typeName));
    return MakeEnumerator(std::move(objects));
}

/// The text of optional argument i, or "" when the host left it out.
inline std::string OptionalString(const Arguments& args, size_t i)
{
    return args.IsMissing(i) ? std::string() : args.String(i);
}

} // namespace tolmail::server::tables
