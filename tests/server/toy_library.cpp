#include "toy_library.h"

#include <stdexcept>

#include "server/arguments.h"
#include "server/enumerator_object.h"
#include "tolmail/error.h"

namespace toy {
namespace {

using namespace tolmail::server;
using tolmail::Error;
using tolmail::Object;
using tolmail::Variant;

Counter& C(void* self) { return *static_cast<Counter*>(self); }

constexpr TmGuid Guid(uint32_t n) { return TmGuid{n, 0x1234, 0x5678, {1, 2, 3, 4, 5, 6, 7, 8}}; }

const Param kAddParams[] = {{"a", TM_VT_I4}, {"b", TM_VT_I4, TM_PARAMFLAG_OPTIONAL}};
const Param kRefParam[] = {{"x", TM_VT_VARIANT, TM_PARAMFLAG_BYREF}};
const Param kIndexParam[] = {{"index", TM_VT_VARIANT}};
const Param kChildParam[] = {{"child", TM_VT_DISPATCH}};
const Param kManyParams[] = {{"a", TM_VT_I4}, {"b", TM_VT_I4}, {"c", TM_VT_I4},
                             {"d", TM_VT_I4}, {"e", TM_VT_I4}, {"f", TM_VT_I4},
                             {"g", TM_VT_I4}, {"h", TM_VT_I4}, {"i", TM_VT_I4, TM_PARAMFLAG_OPTIONAL},
                             {"j", TM_VT_VARIANT, TM_PARAMFLAG_OPTIONAL | TM_PARAMFLAG_BYREF}};

const Member kCounterMembers[] = {
    {"Item", kItem, Method, TM_VT_DISPATCH, kIndexParam,
     [](void* self, Arguments& a, Variant& r) {
         auto& children = C(self).children;
         const int32_t index = a.Long(0);
         if (index < 1 || index > static_cast<int32_t>(children.size()))
             throw Error(tolmail::errc::InvalidIndex, "Invalid procedure call or argument");
         r = Object{children[index - 1], "Child"};
     }},
    {"Value", kValue, Get | Let, TM_VT_I4, {},
     [](void* self, Arguments&, Variant& r) { r = C(self).value; },
     [](void* self, Arguments& a, Variant&) { C(self).value = a.Long(0); }},
    {"Name", kName, Get | Let, TM_VT_BSTR, {},
     [](void* self, Arguments&, Variant& r) { r = C(self).name; },
     [](void* self, Arguments& a, Variant&) { C(self).name = a.String(0); }},
    {"Add", kAdd, Method, TM_VT_I4, kAddParams,
     [](void*, Arguments& a, Variant& r) { r = a.Long(0) + (a.IsMissing(1) ? 0 : a.Long(1)); }},
    {"Swap", kSwap, Method, TM_VT_EMPTY, kRefParam,
     [](void*, Arguments& a, Variant&) {
         if (a.Value(0).isString() && a.String(0).rfind("swapped:", 0) != 0)
             a.SetByRef(0, "swapped:" + a.String(0));
     }},
    {"Fail", kFail, Method, TM_VT_EMPTY, kIndexParam,
     [](void*, Arguments& a, Variant&) {
         if (a.Long(0) == 1)
             throw Error(tolmail::errc::DuplicateKey, "This key is already associated with an element");
         throw std::runtime_error("disk on fire");
     }},
    {"Flag", kFlag, Get | Let, TM_VT_BOOL, {},
     [](void* self, Arguments&, Variant& r) { r = C(self).flag; },
     [](void* self, Arguments& a, Variant&) { C(self).flag = a.Boolean(0); }},
    {"Small", kSmall, Get | Let, TM_VT_I2, {},
     [](void* self, Arguments&, Variant& r) { r = C(self).small; },
     [](void* self, Arguments& a, Variant&) { C(self).small = a.Integer(0); }},
    {"Adopt", kAdopt, Method, TM_VT_BSTR, kChildParam,
     [](void*, Arguments& a, Variant& r) { r = static_cast<Child*>(a.Object(0, "Child").get())->name; }},
    {"Tick", kTick, Method, TM_VT_VARIANT, {},
     [](void* self, Arguments&, Variant& r) {
         auto sinks = C(self).sinks;  // a handler may disconnect
         for (auto& [cookie, forward] : sinks) {
             Variant args[] = {Variant("tick"), Variant()};
             forward(kOnTick, args);
             r = args[1];
         }
     }},
    {"Sum", kSum, Method, TM_VT_I4, kManyParams,
     [](void*, Arguments& a, Variant& r) {
         int32_t sum = 0;
         for (size_t i = 0; i < 9; ++i)
             sum += a.IsMissing(i) ? 0 : a.Long(i);
         a.SetByRef(9, sum);
         r = sum;
     }},
    {"NewEnum", kNewEnum, Method, TM_VT_UNKNOWN, {},
     [](void* self, Arguments&, Variant& r) {
         std::vector<Variant> items;
         for (const auto& child : C(self).children)
             items.emplace_back(Object{child, "Child"});
         r = MakeEnumerator(std::move(items));
     },
     nullptr, true},
};

const Member kChildMembers[] = {
    {"Name", kChildName, Get, TM_VT_BSTR, {},
     [](void* self, Arguments&, Variant& r) { r = static_cast<Child*>(self)->name; }},
};

const Param kTickParams[] = {{"text", TM_VT_BSTR}, {"answer", TM_VT_VARIANT, TM_PARAMFLAG_BYREF}};
const Event kCounterEvents[] = {{"OnTick", kOnTick, kTickParams}};

const TypeEntry* const kTypes[] = {&childInterface, &counterInterface, &counterClass, &counterEvents};

} // namespace

const TypeEntry childInterface{"Child", TM_TKIND_INTERFACE, TM_TYPEFLAG_DUAL, Guid(1), "", kChildMembers};
const TypeEntry counterInterface{"_Counter", TM_TKIND_INTERFACE, TM_TYPEFLAG_DUAL | TM_TYPEFLAG_HIDDEN, Guid(2), "",
                                 kCounterMembers};
const TypeEntry counterEvents{"__Counter", TM_TKIND_DISPATCH, TM_TYPEFLAG_HIDDEN, Guid(3), "", {}, kCounterEvents};
const TypeEntry counterClass{
    "Counter", TM_TKIND_COCLASS, TM_TYPEFLAG_CANCREATE, Guid(4), "", {}, {}, {}, &counterInterface, &counterEvents,
    [] {
        auto counter = std::make_shared<Counter>();
        for (const char* name : {"one", "two", "three"})
            counter->children.push_back(std::make_shared<Child>(Child{name}));
        return std::shared_ptr<void>(counter);
    },
    [](void* self, EventForwarder forward) {
        const uint32_t cookie = C(self).nextCookie++;
        C(self).sinks.emplace(cookie, std::move(forward));
        return cookie;
    },
    [](void* self, uint32_t cookie) { C(self).sinks.erase(cookie); }};

const tolmail::server::Library& Library()
{
    static const tolmail::server::Library library{"Toy", Guid(9), 2, 5, 1033, "a toy", kTypes};
    return library;
}

const tolmail::server::Catalog& Catalog()
{
    static const tolmail::server::Catalog catalog{
        &Library,
        [](const char* typeName) -> const TypeEntry* {
            const std::string name = typeName;
            return name == "Counter" ? &counterInterface : name == "Child" ? &childInterface : nullptr;
        },
        [](const TypeEntry& interface) -> const TypeEntry* {
            return &interface == &counterInterface ? &counterClass : nullptr;
        }};
    return catalog;
}

} // namespace toy
