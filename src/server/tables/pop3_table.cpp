// TolvanPOP3 as a host sees it: the interface _TolvanPOP3, the class and its event
// interface __TolvanPOP3.
#include <memory>
#include <string>

#include "server/tables/entries.h"
#include "server/tables/invoker_kit.h"
#include "tolmail/TolvanPOP3.h"
#include "tolmail/error.h"

namespace tolmail::server::tables {
namespace {

using P = TolvanPOP3;

constexpr Param kGetMessagesParams[] = {{"param", TM_VT_UI1}};

/// The collection a host assigns to Messages; Nothing lets the next read make an empty one.
Ref<Messages> AssignedMessages(const Arguments& args)
{
    const Variant& value = args.Value(0);
    if (value.isEmpty() || (value.holds<Object>() && !value.get<Object>().ptr))
        return nullptr;
    return std::static_pointer_cast<Messages>(args.Object(0, "Messages"));
}

constinit const Member kMembers[] = {
    {.name = "Login", .dispid = 1, .access = Get | Let, .type = TM_VT_BSTR,
     .get = [](void* s, Arguments&, Variant& r) { r = Self<P>(s).Login(); },
     .put = [](void* s, Arguments& a, Variant&) { Self<P>(s).Login(a.String(0)); }},
    {.name = "Port", .dispid = 2, .access = Get | Let, .type = TM_VT_I2,
     .get = [](void* s, Arguments&, Variant& r) { r = Self<P>(s).Port(); },
     .put = [](void* s, Arguments& a, Variant&) { Self<P>(s).Port(a.Integer(0)); }},
    {.name = "Host", .dispid = 3, .access = Get | Let, .type = TM_VT_BSTR,
     .get = [](void* s, Arguments&, Variant& r) { r = Self<P>(s).Host(); },
     .put = [](void* s, Arguments& a, Variant&) { Self<P>(s).Host(a.String(0)); }},
    {.name = "SaveAttachment", .dispid = 4, .access = Get | Let, .type = TM_VT_BOOL,
     .get = [](void* s, Arguments&, Variant& r) { r = Self<P>(s).SaveAttachment(); },
     .put = [](void* s, Arguments& a, Variant&) { Self<P>(s).SaveAttachment(a.Boolean(0)); }},
    {.name = "CachedDirectory", .dispid = 5, .access = Get | Let, .type = TM_VT_BSTR,
     .get = [](void* s, Arguments&, Variant& r) { r = Self<P>(s).CachedDirectory(); },
     .put = [](void* s, Arguments& a, Variant&) { Self<P>(s).CachedDirectory(a.String(0)); }},
    {.name = "AlternativeType", .dispid = 6, .access = Get | Let, .type = TM_VT_BSTR,
     .get = [](void* s, Arguments&, Variant& r) { r = Self<P>(s).AlternativeType(); },
     .put = [](void* s, Arguments& a, Variant&) { Self<P>(s).AlternativeType(a.String(0)); }},
    {.name = "CancelDelete", .dispid = 7, .access = Method, .type = TM_VT_I4,
     .get = [](void* s, Arguments&, Variant& r) { r = Self<P>(s).CancelDelete(); }},
    {.name = "KeepAlive", .dispid = 8, .access = Method, .type = TM_VT_I4,
     .get = [](void* s, Arguments&, Variant& r) { r = Self<P>(s).KeepAlive(); }},
    {.name = "GetMessageHeader", .dispid = 9, .access = Method, .type = TM_VT_I4,
     .get = [](void* s, Arguments&, Variant& r) { r = Self<P>(s).GetMessageHeader(); }},
    {.name = "GetMessages", .dispid = 10, .access = Method, .type = TM_VT_I4, .params = kGetMessagesParams,
     .get = [](void* s, Arguments& a, Variant& r) {
         // A Byte: the argument must fit 0 to 255, as an automation host would insist.
         const int32_t param = a.Long(0);
         if (param < 0 || param > 255)
             throw Error(TM_DISP_E_OVERFLOW, "Overflow: argument 1 of GetMessages must be 0 to 255");
         r = Self<P>(s).GetMessages(static_cast<uint8_t>(param));
     }},
    {.name = "GetMessageCount", .dispid = 11, .access = Method, .type = TM_VT_I4,
     .get = [](void* s, Arguments&, Variant& r) { r = Self<P>(s).GetMessageCount(); }},
    {.name = "GetMessageSize", .dispid = 12, .access = Method, .type = TM_VT_I4,
     .get = [](void* s, Arguments&, Variant& r) { r = Self<P>(s).GetMessageSize(); }},
    {.name = "Connect", .dispid = 13, .access = Method, .type = TM_VT_I4,
     .get = [](void* s, Arguments&, Variant& r) { r = Self<P>(s).Connect(); }},
    {.name = "Disconnect", .dispid = 14, .access = Method, .type = TM_VT_I4,
     .get = [](void* s, Arguments&, Variant& r) { r = Self<P>(s).Disconnect(); }},
    {.name = "Cancel", .dispid = 15, .access = Method, .type = TM_VT_BOOL,
     .get = [](void* s, Arguments&, Variant& r) { r = Self<P>(s).Cancel(); }},
    {.name = "MaxMemAttachment", .dispid = 16, .access = Get | Let, .type = TM_VT_I4,
     .get = [](void* s, Arguments&, Variant& r) { r = Self<P>(s).MaxMemAttachment(); },
     .put = [](void* s, Arguments& a, Variant&) { Self<P>(s).MaxMemAttachment(a.Long(0)); }, .putFirst = true},
    {.name = "Version", .dispid = 17, .access = Get, .type = TM_VT_BSTR,
     .get = [](void* s, Arguments&, Variant& r) { r = Self<P>(s).Version(); }},
    {.name = "TimeOut", .dispid = 18, .access = Get | Let, .type = TM_VT_I4,
     .get = [](void* s, Arguments&, Variant& r) { r = Self<P>(s).TimeOut(); },
     .put = [](void* s, Arguments& a, Variant&) { Self<P>(s).TimeOut(a.Long(0)); }, .putFirst = true},
    {.name = "Password", .dispid = 19, .access = Get | Let, .type = TM_VT_BSTR,
     .get = [](void* s, Arguments&, Variant& r) { r = Self<P>(s).Password(); },
     .put = [](void* s, Arguments& a, Variant&) { Self<P>(s).Password(a.String(0)); }, .putFirst = true},
    {.name = "Messages", .dispid = 20, .access = Get | Set, .type = TM_VT_DISPATCH,
     .get = [](void* s, Arguments&, Variant& r) { r = ObjectOut(Self<P>(s).Messages(), "Messages"); },
     .put = [](void* s, Arguments& a, Variant&) { Self<P>(s).Messages(AssignedMessages(a)); }},

    {.name = "POP3Error", .dispid = 100, .access = Get, .type = TM_VT_BSTR,
     .get = [](void* s, Arguments&, Variant& r) { r = Self<P>(s).POP3Error(); }},
    {.name = "Security", .dispid = 101, .access = Get | Let, .type = TM_VT_I4,
     .get = [](void* s, Arguments&, Variant& r) { r = Self<P>(s).Security(); },
     .put = [](void* s, Arguments& a, Variant&) { Self<P>(s).Security(a.Long(0)); }},
    {.name = "CAFile", .dispid = 102, .access = Get | Let, .type = TM_VT_BSTR,
     .get = [](void* s, Arguments&, Variant& r) { r = Self<P>(s).CAFile(); },
     .put = [](void* s, Arguments& a, Variant&) { Self<P>(s).CAFile(a.String(0)); }},
    {.name = "SkipCertificateCheck", .dispid = 103, .access = Get | Let, .type = TM_VT_BOOL,
     .get = [](void* s, Arguments&, Variant& r) { r = Self<P>(s).SkipCertificateCheck(); },
     .put = [](void* s, Arguments& a, Variant&) { Self<P>(s).SkipCertificateCheck(a.Boolean(0)); }},
    {.name = "UseAPOP", .dispid = 104, .access = Get | Let, .type = TM_VT_BOOL,
     .get = [](void* s, Arguments&, Variant& r) { r = Self<P>(s).UseAPOP(); },
     .put = [](void* s, Arguments& a, Variant&) { Self<P>(s).UseAPOP(a.Boolean(0)); }},
    {.name = "UseAuthPlain", .dispid = 105, .access = Get | Let, .type = TM_VT_BOOL,
     .get = [](void* s, Arguments&, Variant& r) { r = Self<P>(s).UseAuthPlain(); },
     .put = [](void* s, Arguments& a, Variant&) { Self<P>(s).UseAuthPlain(a.Boolean(0)); }},
    {.name = "AllowPasswordWithoutTLS", .dispid = 106, .access = Get | Let, .type = TM_VT_BOOL,
     .get = [](void* s, Arguments&, Variant& r) { r = Self<P>(s).AllowPasswordWithoutTLS(); },
     .put = [](void* s, Arguments& a, Variant&) { Self<P>(s).AllowPasswordWithoutTLS(a.Boolean(0)); }},
    {.name = "FetchUniqueIds", .dispid = 107, .access = Get | Let, .type = TM_VT_BOOL,
     .get = [](void* s, Arguments&, Variant& r) { r = Self<P>(s).FetchUniqueIds(); },
     .put = [](void* s, Arguments& a, Variant&) { Self<P>(s).FetchUniqueIds(a.Boolean(0)); }},
    {.name = "UniqueIds", .dispid = 108, .access = Method, .type = TM_VT_BSTR,
     .get = [](void* s, Arguments&, Variant& r) { r = Self<P>(s).UniqueIds(); }},
    {.name = "InternationalText", .dispid = 109, .access = Get | Let, .type = TM_VT_BOOL,
     .get = [](void* s, Arguments&, Variant& r) { r = Self<P>(s).InternationalText(); },
     .put = [](void* s, Arguments& a, Variant&) { Self<P>(s).InternationalText(a.Boolean(0)); }},
};

constexpr Event kEvents[] = {{"OnPOP3Event", 1, kProgressEventParams}};

class Pop3EventSink final : public TolvanPOP3Events {
public:
    explicit Pop3EventSink(EventForwarder forward) : forward_(std::move(forward)) {}

    void OnPOP3Event(const std::string& paramtext, int32_t task, int32_t param1, int32_t param2) override
    {
        Variant args[] = {paramtext, task, param1, param2};
        forward_(kEvents[0].dispid, args);
    }

private:
    EventForwarder forward_;
};

} // namespace

constinit const TypeEntry kPop3Interface{
    .name = "_TolvanPOP3",
    .kind = TM_TKIND_INTERFACE,
    .flags = kDualFlags | TM_TYPEFLAG_HIDDEN,
    .guid = {0xAF4A8BE8, 0x7D93, 0x4871, {0xB8, 0xBF, 0x46, 0x4C, 0x34, 0x53, 0x33, 0x61}},
    .members = kMembers,
};

constinit const TypeEntry kPop3Events{
    .name = "__TolvanPOP3",
    .kind = TM_TKIND_DISPATCH,
    .flags = TM_TYPEFLAG_HIDDEN,
    .guid = {0xCE3CA37A, 0x46BA, 0x4A14, {0x9F, 0x5A, 0x8F, 0xA3, 0x79, 0xC5, 0x02, 0x27}},
    .events = kEvents,
};

constinit const TypeEntry kPop3Class{
    .name = "TolvanPOP3",
    .kind = TM_TKIND_COCLASS,
    .flags = TM_TYPEFLAG_CANCREATE,
    .guid = {0x5F53A8AC, 0xF874, 0x43AA, {0x96, 0xAB, 0xED, 0x43, 0xC5, 0xE6, 0x06, 0x2D}},
    .defaultInterface = &kPop3Interface,
    .eventInterface = &kPop3Events,
    .create = []() -> std::shared_ptr<void> { return P::Create(); },
    .advise = [](void* s, EventForwarder forward) {
        return Self<P>(s).Advise(std::make_shared<Pop3EventSink>(std::move(forward)));
    },
    .unadvise = [](void* s, uint32_t cookie) { Self<P>(s).Unadvise(cookie); },
};

} // namespace tolmail::server::tables
