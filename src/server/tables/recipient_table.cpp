// The recipients of a retrieved message as a host sees them: Recipient and the
// collection Recipients.
#include <string>

#include "server/tables/entries.h"
#include "server/tables/invoker_kit.h"
#include "tolmail/Recipients.h"

namespace tolmail::server::tables {
namespace {

using R = Recipient;
using C = Recipients;

constinit const Member kRecipientMembers[] = {
    {.name = "Types", .dispid = 1, .access = Get | Let, .type = TM_VT_I2,
     .get = [](void* s, Arguments&, Variant& r) { r = Self<R>(s).Types(); },
     .put = [](void* s, Arguments& a, Variant&) { Self<R>(s).Types(a.Integer(0)); }, .putFirst = true},
    {.name = "Name", .dispid = 2, .access = Get | Let, .type = TM_VT_BSTR,
     .get = [](void* s, Arguments&, Variant& r) { r = Self<R>(s).Name(); },
     .put = [](void* s, Arguments& a, Variant&) { Self<R>(s).Name(a.String(0)); }, .putFirst = true},
    {.name = "Address", .dispid = 3, .access = Get | Let, .type = TM_VT_BSTR,
     .get = [](void* s, Arguments&, Variant& r) { r = Self<R>(s).Address(); },
     .put = [](void* s, Arguments& a, Variant&) { Self<R>(s).Address(a.String(0)); }, .putFirst = true},
};

constexpr Param kAddParams[] = {{"Address", TM_VT_BSTR},
                                {"Name", TM_VT_BSTR},
                                {"Types", TM_VT_I2},
                                {"sKey", TM_VT_BSTR, TM_PARAMFLAG_OPTIONAL}};
constexpr Param kIndexParams[] = {{"vntIndexKey", TM_VT_VARIANT}};

constinit const Member kRecipientsMembers[] = {
    {.name = "Add", .dispid = 1, .access = Method, .type = TM_VT_DISPATCH, .params = kAddParams,
     .get = [](void* s, Arguments& a, Variant& r) {
         r = ObjectOut(Self<C>(s).Add(a.String(0), a.String(1), a.Integer(2), OptionalString(a, 3)), "Recipient");
     }},
    {.name = "Item", .dispid = 0, .access = Method, .type = TM_VT_DISPATCH, .params = kIndexParams,
     .get = [](void* s, Arguments& a, Variant& r) { r = ObjectOut(Self<C>(s).Item(a.Value(0)), "Recipient"); }},
    {.name = "Count", .dispid = 2, .access = Get, .type = TM_VT_I4,
     .get = [](void* s, Arguments&, Variant& r) { r = Self<C>(s).Count(); }},
    {.name = "Remove", .dispid = 3, .access = Method, .type = TM_VT_EMPTY, .params = kIndexParams,
     .get = [](void* s, Arguments& a, Variant&) { Self<C>(s).Remove(a.Value(0)); }},
    {.name = "NewEnum", .dispid = -4, .access = Get, .type = TM_VT_UNKNOWN,
     .get = [](void* s, Arguments&, Variant& r) { r = EnumerationOf(Self<C>(s).NewEnum(), "Recipient"); },
     .hidden = true},
};

} // namespace

constinit const TypeEntry kRecipient{
    .name = "Recipient",
    .kind = TM_TKIND_INTERFACE,
    .flags = kDualFlags,
    .guid = {0xD85BEE44, 0xAEDE, 0x4F1D, {0xA0, 0x2E, 0xF0, 0xC8, 0x85, 0x90, 0x01, 0x90}},
    .members = kRecipientMembers,
};

constinit const TypeEntry kRecipients{
    .name = "Recipients",
    .kind = TM_TKIND_INTERFACE,
    .flags = kDualFlags,
    .guid = {0x5E21A686, 0xDA35, 0x430B, {0x84, 0x33, 0xFE, 0x45, 0x40, 0x08, 0x42, 0xE1}},
    .members = kRecipientsMembers,
};

} // namespace tolmail::server::tables
