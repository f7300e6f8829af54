// A retrieved message and the mailbox's list of them as a host sees them: Message and the
// collection Messages.
#include <string>

#include "server/tables/entries.h"
#include "server/tables/invoker_kit.h"
#include "tolmail/Messages.h"

namespace tolmail::server::tables {
namespace {

using G = Message;
using C = Messages;

constexpr Param kGetMessageParams[] = {{"param", TM_VT_I4}};

constinit const Member kMessageMembers[] = {
    {.name = "CharSet", .dispid = 1, .access = Get | Let, .type = TM_VT_BSTR,
     .get = [](void* s, Arguments&, Variant& r) { r = Self<G>(s).CharSet(); },
     .put = [](void* s, Arguments& a, Variant&) { Self<G>(s).CharSet(a.String(0)); }},
    {.name = "Recipients", .dispid = 2, .access = Get, .type = TM_VT_DISPATCH,
     .get = [](void* s, Arguments&, Variant& r) { r = ObjectOut(Self<G>(s).Recipients(), "Recipients"); }},
    {.name = "Attachments", .dispid = 3, .access = Get, .type = TM_VT_DISPATCH,
     .get = [](void* s, Arguments&, Variant& r) { r = ObjectOut(Self<G>(s).Attachments(), "Attachments"); }},
    {.name = "GetMessage", .dispid = 4, .access = Method, .type = TM_VT_I4, .params = kGetMessageParams,
     .get = [](void* s, Arguments& a, Variant& r) { r = Self<G>(s).GetMessage(a.Long(0)); }},
    {.name = "DeleteAtServer", .dispid = 5, .access = Method, .type = TM_VT_I4,
     .get = [](void* s, Arguments&, Variant& r) { r = Self<G>(s).DeleteAtServer(); }},
    {.name = "Subject", .dispid = 6, .access = Get, .type = TM_VT_BSTR,
     .get = [](void* s, Arguments&, Variant& r) { r = Self<G>(s).Subject(); }},
    {.name = "Size", .dispid = 7, .access = Get, .type = TM_VT_BSTR,
     .get = [](void* s, Arguments&, Variant& r) { r = Self<G>(s).Size(); }},
    {.name = "ReplyToAddress", .dispid = 8, .access = Get, .type = TM_VT_BSTR,
     .get = [](void* s, Arguments&, Variant& r) { r = Self<G>(s).ReplyToAddress(); }},
    {.name = "ReplyToName", .dispid = 9, .access = Get, .type = TM_VT_BSTR,
     .get = [](void* s, Arguments&, Variant& r) { r = Self<G>(s).ReplyToName(); }},
    {.name = "Priority", .dispid = 10, .access = Get, .type = TM_VT_BSTR,
     .get = [](void* s, Arguments&, Variant& r) { r = Self<G>(s).Priority(); }},
    {.name = "MessageText", .dispid = 11, .access = Get, .type = TM_VT_BSTR,
     .get = [](void* s, Arguments&, Variant& r) { r = Self<G>(s).MessageText(); }},
    {.name = "MessageId", .dispid = 12, .access = Get, .type = TM_VT_BSTR,
     .get = [](void* s, Arguments&, Variant& r) { r = Self<G>(s).MessageId(); }},
    {.name = "MessageStatus", .dispid = 13, .access = Get, .type = TM_VT_I4,
     .get = [](void* s, Arguments&, Variant& r) { r = Self<G>(s).MessageStatus(); }},
    {.name = "CompleteHeader", .dispid = 14, .access = Get, .type = TM_VT_BSTR,
     .get = [](void* s, Arguments&, Variant& r) { r = Self<G>(s).CompleteHeader(); }},
    {.name = "FullMsgFilename", .dispid = 15, .access = Get, .type = TM_VT_BSTR,
     .get = [](void* s, Arguments&, Variant& r) { r = Self<G>(s).FullMsgFilename(); }},
    {.name = "FromAddress", .dispid = 16, .access = Get, .type = TM_VT_BSTR,
     .get = [](void* s, Arguments&, Variant& r) { r = Self<G>(s).FromAddress(); }},
    {.name = "FromName", .dispid = 17, .access = Get, .type = TM_VT_BSTR,
     .get = [](void* s, Arguments&, Variant& r) { r = Self<G>(s).FromName(); }},
    {.name = "DateTime", .dispid = 18, .access = Get, .type = TM_VT_BSTR,
     .get = [](void* s, Arguments&, Variant& r) { r = Self<G>(s).DateTime(); }},
    {.name = "ContentType", .dispid = 19, .access = Get, .type = TM_VT_BSTR,
     .get = [](void* s, Arguments&, Variant& r) { r = Self<G>(s).ContentType(); }},
    {.name = "ContentSubType", .dispid = 20, .access = Get, .type = TM_VT_BSTR,
     .get = [](void* s, Arguments&, Variant& r) { r = Self<G>(s).ContentSubType(); }},
    {.name = "IsMIME", .dispid = 21, .access = Get, .type = TM_VT_BOOL,
     .get = [](void* s, Arguments&, Variant& r) { r = Self<G>(s).IsMIME(); }},
    {.name = "ReturnReceipt", .dispid = 22, .access = Get, .type = TM_VT_BSTR,
     .get = [](void* s, Arguments&, Variant& r) { r = Self<G>(s).ReturnReceipt(); }},

    {.name = "UniqueId", .dispid = 100, .access = Get, .type = TM_VT_BSTR,
     .get = [](void* s, Arguments&, Variant& r) { r = Self<G>(s).UniqueId(); }},
    {.name = "RawMsgFilename", .dispid = 101, .access = Get, .type = TM_VT_BSTR,
     .get = [](void* s, Arguments&, Variant& r) { r = Self<G>(s).RawMsgFilename(); }},
};

constexpr Param kIndexParams[] = {{"vntIndexKey", TM_VT_VARIANT}};

constinit const Member kMessagesMembers[] = {
    {.name = "DeleteAllMessage", .dispid = 1, .access = Method, .type = TM_VT_EMPTY,
     .get = [](void* s, Arguments&, Variant&) { Self<C>(s).DeleteAllMessage(); }},
    {.name = "Delete", .dispid = 2, .access = Method, .type = TM_VT_EMPTY, .params = kIndexParams,
     .get = [](void* s, Arguments& a, Variant&) { Self<C>(s).Delete(a.Value(0)); },
     .help = "delete 1 msg"},
    {.name = "Item", .dispid = 0, .access = Method, .type = TM_VT_DISPATCH, .params = kIndexParams,
     .get = [](void* s, Arguments& a, Variant& r) { r = ObjectOut(Self<C>(s).Item(a.Value(0)), "Message"); }},
    {.name = "Count", .dispid = 3, .access = Get, .type = TM_VT_I4,
     .get = [](void* s, Arguments&, Variant& r) { r = Self<C>(s).Count(); }},
    {.name = "Remove", .dispid = 4, .access = Method, .type = TM_VT_EMPTY, .params = kIndexParams,
     .get = [](void* s, Arguments& a, Variant&) { Self<C>(s).Remove(a.Value(0)); }},
    {.name = "NewEnum", .dispid = -4, .access = Get, .type = TM_VT_UNKNOWN,
     .get = [](void* s, Arguments&, Variant& r) { r = EnumerationOf(Self<C>(s).NewEnum(), "Message"); },
     .hidden = true},
};

} // namespace

constinit const TypeEntry kMessage{
    .name = "Message",
    .kind = TM_TKIND_INTERFACE,
    .flags = kDualFlags,
    .guid = {0x16BE9E8B, 0xE547, 0x4099, {0xAE, 0x9F, 0x2A, 0x15, 0x41, 0x22, 0x2A, 0x6F}},
    .members = kMessageMembers,
};

constinit const TypeEntry kMessages{
    .name = "Messages",
    .kind = TM_TKIND_INTERFACE,
    .flags = kDualFlags,
    .guid = {0x919EC538, 0x42BD, 0x4226, {0xBD, 0xDA, 0x19, 0x1B, 0x52, 0xEE, 0xE3, 0x6E}},
    .members = kMessagesMembers,
};

} // namespace tolmail::server::tables
