// TolvanSMTP as a host sees it: the interface _TolvanSMTP, the class and its event
// interface __TolvanSMTP.
#include <memory>
#include <string>

#include "server/tables/entries.h"
#include "server/tables/invoker_kit.h"
#include "tolmail/TolvanSMTP.h"

namespace tolmail::server::tables {
namespace {

using M = TolvanSMTP;

constexpr Param kAddAttachmentParams[] = {{"Filename", TM_VT_BSTR}, {"Encoding", TM_VT_I4}};
constexpr Param kClearParams[] = {{"Clearflag", TM_VT_I4, TM_PARAMFLAG_OPTIONAL}};
constexpr Param kAddRecipientsParams[] = {{"Name", TM_VT_BSTR}, {"Email", TM_VT_BSTR}, {"RecipientType", TM_VT_I4}};
constexpr Param kAddCustomHeaderParams[] = {{"NameOfHeader", TM_VT_BSTR}, {"Value", TM_VT_BSTR}};
constexpr Param kFilenameParams[] = {{"Filename", TM_VT_BSTR}};

constinit const Member kMembers[] = {
    {.name = "ContentType", .dispid = 1, .access = Get | Let, .type = TM_VT_BSTR,
     .get = [](void* s, Arguments&, Variant& r) { r = Self<M>(s).ContentType(); },
     .put = [](void* s, Arguments& a, Variant&) { Self<M>(s).ContentType(a.String(0)); }},
    {.name = "DateTime", .dispid = 2, .access = Get | Let, .type = TM_VT_BSTR,
     .get = [](void* s, Arguments&, Variant& r) { r = Self<M>(s).DateTime(); },
     .put = [](void* s, Arguments& a, Variant&) { Self<M>(s).DateTime(a.String(0)); }},
    {.name = "Subject", .dispid = 3, .access = Get | Let, .type = TM_VT_BSTR,
     .get = [](void* s, Arguments&, Variant& r) { r = Self<M>(s).Subject(); },
     .put = [](void* s, Arguments& a, Variant&) { Self<M>(s).Subject(a.String(0)); }},
    {.name = "MailBody", .dispid = 4, .access = Get | Let, .type = TM_VT_BSTR,
     .get = [](void* s, Arguments&, Variant& r) { r = Self<M>(s).MailBody(); },
     .put = [](void* s, Arguments& a, Variant&) { Self<M>(s).MailBody(a.String(0)); }},
    {.name = "FromName", .dispid = 5, .access = Get | Let, .type = TM_VT_BSTR,
     .get = [](void* s, Arguments&, Variant& r) { r = Self<M>(s).FromName(); },
     .put = [](void* s, Arguments& a, Variant&) { Self<M>(s).FromName(a.String(0)); }},
    {.name = "FromEmail", .dispid = 6, .access = Get | Let, .type = TM_VT_BSTR,
     .get = [](void* s, Arguments&, Variant& r) { r = Self<M>(s).FromEmail(); },
     .put = [](void* s, Arguments& a, Variant&) { Self<M>(s).FromEmail(a.String(0)); }},
    {.name = "CustomCharset", .dispid = 7, .access = Get | Let, .type = TM_VT_BSTR,
     .get = [](void* s, Arguments&, Variant& r) { r = Self<M>(s).CustomCharset(); },
     .put = [](void* s, Arguments& a, Variant&) { Self<M>(s).CustomCharset(a.String(0)); }},
    {.name = "ReturnReceipt", .dispid = 8, .access = Get | Let, .type = TM_VT_BOOL,
     .get = [](void* s, Arguments&, Variant& r) { r = Self<M>(s).ReturnReceipt(); },
     .put = [](void* s, Arguments& a, Variant&) { Self<M>(s).ReturnReceipt(a.Boolean(0)); }},
    {.name = "ReplyTo", .dispid = 9, .access = Get | Let, .type = TM_VT_BSTR,
     .get = [](void* s, Arguments&, Variant& r) { r = Self<M>(s).ReplyTo(); },
     .put = [](void* s, Arguments& a, Variant&) { Self<M>(s).ReplyTo(a.String(0)); }},
    {.name = "UseMSMail", .dispid = 10, .access = Get | Let, .type = TM_VT_BOOL,
     .get = [](void* s, Arguments&, Variant& r) { r = Self<M>(s).UseMSMail(); },
     .put = [](void* s, Arguments& a, Variant&) { Self<M>(s).UseMSMail(a.Boolean(0)); }},
    {.name = "UseMIME", .dispid = 11, .access = Get | Let, .type = TM_VT_BOOL,
     .get = [](void* s, Arguments&, Variant& r) { r = Self<M>(s).UseMIME(); },
     .put = [](void* s, Arguments& a, Variant&) { Self<M>(s).UseMIME(a.Boolean(0)); }},
    {.name = "Version", .dispid = 12, .access = Get, .type = TM_VT_BSTR,
     .get = [](void* s, Arguments&, Variant& r) { r = Self<M>(s).Version(); }},
    {.name = "SMTPError", .dispid = 13, .access = Get, .type = TM_VT_BSTR,
     .get = [](void* s, Arguments&, Variant& r) { r = Self<M>(s).SMTPError(); }},
    {.name = "Host", .dispid = 14, .access = Let, .type = TM_VT_BSTR,
     .put = [](void* s, Arguments& a, Variant&) { Self<M>(s).Host(a.String(0)); }},
    {.name = "Port", .dispid = 15, .access = Let, .type = TM_VT_I2,
     .put = [](void* s, Arguments& a, Variant&) { Self<M>(s).Port(a.Integer(0)); }},
    {.name = "CharSet", .dispid = 16, .access = Get | Let, .type = TM_VT_I4,
     .get = [](void* s, Arguments&, Variant& r) { r = Self<M>(s).CharSet(); },
     .put = [](void* s, Arguments& a, Variant&) { Self<M>(s).CharSet(a.Long(0)); }, .putFirst = true},
    {.name = "Priority", .dispid = 17, .access = Get | Let, .type = TM_VT_I4,
     .get = [](void* s, Arguments&, Variant& r) { r = Self<M>(s).Priority(); },
     .put = [](void* s, Arguments& a, Variant&) { Self<M>(s).Priority(a.Long(0)); }},
    {.name = "TimeOut", .dispid = 18, .access = Get | Let, .type = TM_VT_I4,
     .get = [](void* s, Arguments&, Variant& r) { r = Self<M>(s).TimeOut(); },
     .put = [](void* s, Arguments& a, Variant&) { Self<M>(s).TimeOut(a.Long(0)); }},
    {.name = "CountAttachment", .dispid = 19, .access = Get, .type = TM_VT_I4,
     .get = [](void* s, Arguments&, Variant& r) { r = Self<M>(s).CountAttachment(); }},
    {.name = "AddAttachment", .dispid = 20, .access = Method, .type = TM_VT_I4, .params = kAddAttachmentParams,
     .get = [](void* s, Arguments& a, Variant& r) { r = Self<M>(s).AddAttachment(a.String(0), a.Long(1)); }},
    {.name = "Clear", .dispid = 21, .access = Method, .type = TM_VT_EMPTY, .params = kClearParams,
     .get = [](void* s, Arguments& a, Variant&) { Self<M>(s).Clear(a.IsMissing(0) ? 0 : a.Long(0)); }},
    {.name = "CountRecipients", .dispid = 22, .access = Get, .type = TM_VT_I4,
     .get = [](void* s, Arguments&, Variant& r) { r = Self<M>(s).CountRecipients(); }},
    {.name = "AddRecipients", .dispid = 23, .access = Method, .type = TM_VT_I4, .params = kAddRecipientsParams,
     .get = [](void* s, Arguments& a, Variant& r) {
         const int32_t type = a.Long(2);
         r = Self<M>(s).AddRecipients(a.String(0), a.String(1), type);
     }},
    {.name = "Connect", .dispid = 24, .access = Method, .type = TM_VT_I4,
     .get = [](void* s, Arguments&, Variant& r) { r = Self<M>(s).Connect(); }},
    {.name = "Send", .dispid = 25, .access = Method, .type = TM_VT_I4,
     .get = [](void* s, Arguments&, Variant& r) { r = Self<M>(s).Send(); }},
    {.name = "Disconnect", .dispid = 26, .access = Method, .type = TM_VT_I4,
     .get = [](void* s, Arguments&, Variant& r) { r = Self<M>(s).Disconnect(); }},
    {.name = "AddCustomHeader", .dispid = 27, .access = Method, .type = TM_VT_I4, .params = kAddCustomHeaderParams,
     .get = [](void* s, Arguments& a, Variant& r) { r = Self<M>(s).AddCustomHeader(a.String(0), a.String(1)); }},
    {.name = "ImportMailBody", .dispid = 28, .access = Method, .type = TM_VT_I4, .params = kFilenameParams,
     .get = [](void* s, Arguments& a, Variant& r) { r = Self<M>(s).ImportMailBody(a.String(0)); }},

    {.name = "SendMessageFile", .dispid = 100, .access = Method, .type = TM_VT_I4, .params = kFilenameParams,
     .get = [](void* s, Arguments& a, Variant& r) { r = Self<M>(s).SendMessageFile(a.String(0)); }},
    {.name = "SaveMessage", .dispid = 101, .access = Method, .type = TM_VT_I4, .params = kFilenameParams,
     .get = [](void* s, Arguments& a, Variant& r) { r = Self<M>(s).SaveMessage(a.String(0)); }},
    {.name = "UserName", .dispid = 102, .access = Get | Let, .type = TM_VT_BSTR,
     .get = [](void* s, Arguments&, Variant& r) { r = Self<M>(s).UserName(); },
     .put = [](void* s, Arguments& a, Variant&) { Self<M>(s).UserName(a.String(0)); }},
    // Secrets are written only: nothing reads them back out of the component.
    {.name = "Password", .dispid = 103, .access = Let, .type = TM_VT_BSTR,
     .put = [](void* s, Arguments& a, Variant&) { Self<M>(s).Password(a.String(0)); }},
    {.name = "OAuth2Token", .dispid = 104, .access = Let, .type = TM_VT_BSTR,
     .put = [](void* s, Arguments& a, Variant&) { Self<M>(s).OAuth2Token(a.String(0)); }},
    {.name = "AllowPasswordWithoutTLS", .dispid = 105, .access = Get | Let, .type = TM_VT_BOOL,
     .get = [](void* s, Arguments&, Variant& r) { r = Self<M>(s).AllowPasswordWithoutTLS(); },
     .put = [](void* s, Arguments& a, Variant&) { Self<M>(s).AllowPasswordWithoutTLS(a.Boolean(0)); }},
    {.name = "Security", .dispid = 106, .access = Get | Let, .type = TM_VT_I4,
     .get = [](void* s, Arguments&, Variant& r) { r = Self<M>(s).Security(); },
     .put = [](void* s, Arguments& a, Variant&) { Self<M>(s).Security(a.Long(0)); }},
    {.name = "CAFile", .dispid = 107, .access = Get | Let, .type = TM_VT_BSTR,
     .get = [](void* s, Arguments&, Variant& r) { r = Self<M>(s).CAFile(); },
     .put = [](void* s, Arguments& a, Variant&) { Self<M>(s).CAFile(a.String(0)); }},
    {.name = "SkipCertificateCheck", .dispid = 108, .access = Get | Let, .type = TM_VT_BOOL,
     .get = [](void* s, Arguments&, Variant& r) { r = Self<M>(s).SkipCertificateCheck(); },
     .put = [](void* s, Arguments& a, Variant&) { Self<M>(s).SkipCertificateCheck(a.Boolean(0)); }},
    {.name = "InternationalText", .dispid = 109, .access = Get | Let, .type = TM_VT_BOOL,
     .get = [](void* s, Arguments&, Variant& r) { r = Self<M>(s).InternationalText(); },
     .put = [](void* s, Arguments& a, Variant&) { Self<M>(s).InternationalText(a.Boolean(0)); }},
};

constexpr Event kEvents[] = {{"OnSMTPEvent", 1, kProgressEventParams}};

class SmtpEventSink final : public TolvanSMTPEvents {
public:
    explicit SmtpEventSink(EventForwarder forward) : forward_(std::move(forward)) {}

    void OnSMTPEvent(const std::string& paramtext, int32_t task, int32_t param1, int32_t param2) override
    {
        Variant args[] = {paramtext, task, param1, param2};
        forward_(kEvents[0].dispid, args);
    }

private:
    EventForwarder forward_;
};

} // namespace

constinit const TypeEntry kSmtpInterface{
    .name = "_TolvanSMTP",
    .kind = TM_TKIND_INTERFACE,
    .flags = kDualFlags | TM_TYPEFLAG_HIDDEN,
    .guid = {0x2E3886EB, 0xAB2E, 0x42BE, {0xB8, 0xA3, 0xA8, 0x40, 0x95, 0x24, 0x95, 0x6A}},
    .members = kMembers,
};

constinit const TypeEntry kSmtpEvents{
    .name = "__TolvanSMTP",
    .kind = TM_TKIND_DISPATCH,
    .flags = TM_TYPEFLAG_HIDDEN,
    .guid = {0x0F67089F, 0xF445, 0x44E7, {0xA5, 0xB4, 0x43, 0x12, 0xB9, 0x17, 0x8F, 0x68}},
    .events = kEvents,
};

constinit const TypeEntry kSmtpClass{
    .name = "TolvanSMTP",
    .kind = TM_TKIND_COCLASS,
    .flags = TM_TYPEFLAG_CANCREATE,
    .guid = {0x14F2E741, 0xABA6, 0x4F01, {0xAB, 0xFB, 0x7F, 0x44, 0x96, 0x55, 0xCB, 0x72}},
    .defaultInterface = &kSmtpInterface,
    .eventInterface = &kSmtpEvents,
    .create = []() -> std::shared_ptr<void> { return M::Create(); },
    .advise = [](void* s, EventForwarder forward) {
        return Self<M>(s).Advise(std::make_shared<SmtpEventSink>(std::move(forward)));
    },
    .unadvise = [](void* s, uint32_t cookie) { Self<M>(s).Unadvise(cookie); },
};

} // namespace tolmail::server::tables
