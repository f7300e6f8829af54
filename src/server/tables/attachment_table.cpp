// The parts of a retrieved message as a host sees them: Attachment and the collection
// Attachments.
#include <string>

#include "server/tables/entries.h"
#include "server/tables/invoker_kit.h"
#include "tolmail/Attachments.h"

namespace tolmail::server::tables {
namespace {

using A = Attachment;
using C = Attachments;

constexpr Param kSaveParams[] = {{"Filename", TM_VT_BSTR}};

constinit const Member kAttachmentMembers[] = {
    {.name = "AttachmentBody", .dispid = 1, .access = Get, .type = TM_VT_BSTR,
     .get = [](void* s, Arguments&, Variant& r) { r = Self<A>(s).AttachmentBody(); }},
    {.name = "TempFilename", .dispid = 2, .access = Get, .type = TM_VT_BSTR,
     .get = [](void* s, Arguments&, Variant& r) { r = Self<A>(s).TempFilename(); }},
    {.name = "ContentType", .dispid = 3, .access = Get, .type = TM_VT_BSTR,
     .get = [](void* s, Arguments&, Variant& r) { r = Self<A>(s).ContentType(); }},
    {.name = "ContentSubType", .dispid = 4, .access = Get, .type = TM_VT_BSTR,
     .get = [](void* s, Arguments&, Variant& r) { r = Self<A>(s).ContentSubType(); }},
    {.name = "Save", .dispid = 5, .access = Method, .type = TM_VT_I4, .params = kSaveParams,
     .get = [](void* s, Arguments& a, Variant& r) { r = Self<A>(s).Save(a.String(0)); },
     .help = "param = filename to save"},
    {.name = "Size", .dispid = 6, .access = Get, .type = TM_VT_BSTR,
     .get = [](void* s, Arguments&, Variant& r) { r = Self<A>(s).Size(); }, .putFirst = true},
    {.name = "Name", .dispid = 7, .access = Get | Let, .type = TM_VT_BSTR,
     .get = [](void* s, Arguments&, Variant& r) { r = Self<A>(s).Name(); },
     .put = [](void* s, Arguments& a, Variant&) { Self<A>(s).Name(a.String(0)); },
     .help = "attachment name"},
    {.name = "Filename", .dispid = 8, .access = Get, .type = TM_VT_BSTR,
     .get = [](void* s, Arguments&, Variant& r) { r = Self<A>(s).Filename(); }},
    {.name = "Encoding", .dispid = 9, .access = Get, .type = TM_VT_BSTR,
     .get = [](void* s, Arguments&, Variant& r) { r = Self<A>(s).Encoding(); }},
    {.name = "Description", .dispid = 10, .access = Get, .type = TM_VT_BSTR,
     .get = [](void* s, Arguments&, Variant& r) { r = Self<A>(s).Description(); }},
};

constexpr Param kAddParams[] = {
    {"Description", TM_VT_BSTR},     {"Encoding", TM_VT_BSTR},    {"Filename", TM_VT_BSTR},
    {"Name", TM_VT_BSTR},            {"Size", TM_VT_BSTR},        {"ContentType", TM_VT_BSTR},
    {"ContentSubType", TM_VT_BSTR},  {"TempFilename", TM_VT_BSTR}, {"CachedDirectory", TM_VT_BSTR},
    {"Pop3Handle", TM_VT_I4},        {"sKey", TM_VT_BSTR, TM_PARAMFLAG_OPTIONAL}};
constexpr Param kIndexParams[] = {{"vntIndexKey", TM_VT_VARIANT}};

constinit const Member kAttachmentsMembers[] = {
    {.name = "Add", .dispid = 1, .access = Method, .type = TM_VT_DISPATCH, .params = kAddParams,
     .get = [](void* s, Arguments& a, Variant& r) {
         // A host has no component identity to give: the number is checked and the part
         // added without an owner, so its Save reports no progress.
         (void)a.Long(9);
         r = ObjectOut(Self<C>(s).Add(a.String(0), a.String(1), a.String(2), a.String(3), a.String(4), a.String(5),
                                      a.String(6), a.String(7), a.String(8), WeakRef<TolvanPOP3>{},
                                      OptionalString(a, 10)),
                       "Attachment");
     }},
    {.name = "Item", .dispid = 0, .access = Method, .type = TM_VT_DISPATCH, .params = kIndexParams,
     .get = [](void* s, Arguments& a, Variant& r) { r = ObjectOut(Self<C>(s).Item(a.Value(0)), "Attachment"); }},
    {.name = "Count", .dispid = 2, .access = Get, .type = TM_VT_I4,
     .get = [](void* s, Arguments&, Variant& r) { r = Self<C>(s).Count(); }},
    {.name = "Remove", .dispid = 3, .access = Method, .type = TM_VT_EMPTY, .params = kIndexParams,
     .get = [](void* s, Arguments& a, Variant&) { Self<C>(s).Remove(a.Value(0)); }},
    {.name = "NewEnum", .dispid = -4, .access = Get, .type = TM_VT_UNKNOWN,
     .get = [](void* s, Arguments&, Variant& r) { r = EnumerationOf(Self<C>(s).NewEnum(), "Attachment"); },
     .hidden = true},
};

} // namespace

constinit const TypeEntry kAttachment{
    .name = "Attachment",
    .kind = TM_TKIND_INTERFACE,
    .flags = kDualFlags,
    .guid = {0x31DE624E, 0xCD1B, 0x49AF, {0xAA, 0x34, 0x56, 0xF2, 0x54, 0x96, 0x63, 0x05}},
    .members = kAttachmentMembers,
};

constinit const TypeEntry kAttachments{
    .name = "Attachments",
    .kind = TM_TKIND_INTERFACE,
    .flags = kDualFlags,
    .guid = {0x0CD34B4D, 0x1F57, 0x4814, {0x9D, 0x3D, 0x3E, 0x71, 0x7C, 0xC2, 0xBC, 0xEC}},
    .members = kAttachmentsMembers,
};

} // namespace tolmail::server::tables
