// TolvanSocket as a host sees it: the interface _TolvanSocket, the class, its event
// interface __TolvanSocket and the enumeration IpProto.
#include <memory>
#include <string>

#include "server/tables/entries.h"
#include "server/tables/invoker_kit.h"
#include "tolmail/TolvanSocket.h"
#include "tolmail/error.h"

namespace tolmail::server::tables {
namespace {

using S = TolvanSocket;

constexpr Param kAcceptParams[] = {{"socketID", TM_VT_I4}};
// DataBuff receives the text; DataLen is only read, whatever a host passes.
constexpr Param kGetDataParams[] = {{"DataBuff", TM_VT_BSTR, TM_PARAMFLAG_BYREF},
                                    {"DataLen", TM_VT_I4, TM_PARAMFLAG_OPTIONAL}};
constexpr Param kGetlnDataParams[] = {{"DataBuff", TM_VT_BSTR, TM_PARAMFLAG_BYREF}};
constexpr Param kSenddtaParams[] = {{"DataBuff", TM_VT_VARIANT}};

constinit const Member kMembers[] = {
    {.name = "LocalPort", .dispid = 1, .access = Get | Let, .type = TM_VT_I4,
     .get = [](void* s, Arguments&, Variant& r) { r = Self<S>(s).LocalPort(); },
     .put = [](void* s, Arguments& a, Variant&) { Self<S>(s).LocalPort(a.Long(0)); }},
    {.name = "Broadcast", .dispid = 2, .access = Get | Let, .type = TM_VT_BOOL,
     .get = [](void* s, Arguments&, Variant& r) { r = Self<S>(s).Broadcast(); },
     .put = [](void* s, Arguments& a, Variant&) { Self<S>(s).Broadcast(a.Boolean(0)); }},
    {.name = "Version", .dispid = 3, .access = Get, .type = TM_VT_BSTR,
     .get = [](void* s, Arguments&, Variant& r) { r = Self<S>(s).Version(); }},
    {.name = "LocalHostName", .dispid = 4, .access = Get, .type = TM_VT_BSTR,
     .get = [](void* s, Arguments&, Variant& r) { r = Self<S>(s).LocalHostName(); }},
    {.name = "TimeOut", .dispid = 5, .access = Get | Let, .type = TM_VT_I4,
     .get = [](void* s, Arguments&, Variant& r) { r = Self<S>(s).TimeOut(); },
     .put = [](void* s, Arguments& a, Variant&) {
         const int32_t seconds = a.Long(0);
         Self<S>(s).TimeOut(seconds);
     }},
    {.name = "SocketType", .dispid = 6, .access = Get | Let, .type = TM_VT_I4,
     .get = [](void* s, Arguments&, Variant& r) { r = static_cast<int32_t>(Self<S>(s).SocketType()); },
     .put = [](void* s, Arguments& a, Variant&) { Self<S>(s).SocketType(a.Long(0)); }},
    {.name = "SocketHandle", .dispid = 7, .access = Get, .type = TM_VT_I4,
     .get = [](void* s, Arguments&, Variant& r) { r = Self<S>(s).SocketHandle(); }},
    {.name = "Connected", .dispid = 8, .access = Get, .type = TM_VT_BOOL,
     .get = [](void* s, Arguments&, Variant& r) { r = Self<S>(s).Connected(); }},
    {.name = "Port", .dispid = 9, .access = Get | Let, .type = TM_VT_I4,
     .get = [](void* s, Arguments&, Variant& r) { r = Self<S>(s).Port(); },
     .put = [](void* s, Arguments& a, Variant&) { Self<S>(s).Port(a.Long(0)); }},
    {.name = "Host", .dispid = 10, .access = Get | Let, .type = TM_VT_BSTR,
     .get = [](void* s, Arguments&, Variant& r) { r = Self<S>(s).Host(); },
     .put = [](void* s, Arguments& a, Variant&) { Self<S>(s).Host(a.String(0)); }},
    {.name = "Connect", .dispid = 11, .access = Method, .type = TM_VT_I4,
     .get = [](void* s, Arguments&, Variant& r) { r = Self<S>(s).Connect(); }},
    {.name = "CloseSocket", .dispid = 12, .access = Method, .type = TM_VT_EMPTY,
     .get = [](void* s, Arguments&, Variant&) { Self<S>(s).CloseSocket(); }},
    {.name = "Listen", .dispid = 13, .access = Method, .type = TM_VT_I4,
     .get = [](void* s, Arguments&, Variant& r) { r = Self<S>(s).Listen(); }},
    {.name = "Accept", .dispid = 14, .access = Method, .type = TM_VT_I4, .params = kAcceptParams,
     .get = [](void* s, Arguments& a, Variant& r) { r = Self<S>(s).Accept(a.Long(0)); }},
    {.name = "GetData", .dispid = 15, .access = Method, .type = TM_VT_I4, .params = kGetDataParams,
     .get = [](void* s, Arguments& a, Variant& r) {
         std::string text;
         r = Self<S>(s).GetData(text, a.IsMissing(1) ? 0 : a.Long(1));
         a.SetByRef(0, std::move(text));
     }},
    {.name = "GetlnData", .dispid = 16, .access = Method, .type = TM_VT_I4, .params = kGetlnDataParams,
     .get = [](void* s, Arguments& a, Variant& r) {
         std::string line;
         r = Self<S>(s).GetlnData(line);
         a.SetByRef(0, std::move(line));
     }},
    {.name = "senddta", .dispid = 17, .access = Method, .type = TM_VT_VARIANT, .params = kSenddtaParams,
     .get = [](void* s, Arguments& a, Variant& r) { r = Self<S>(s).senddta(a.Value(0)); }},

    {.name = "ImplicitTLS", .dispid = 100, .access = Get | Let, .type = TM_VT_BOOL,
     .get = [](void* s, Arguments&, Variant& r) { r = Self<S>(s).ImplicitTLS(); },
     .put = [](void* s, Arguments& a, Variant&) { Self<S>(s).ImplicitTLS(a.Boolean(0)); }},
    {.name = "TLSCAFile", .dispid = 101, .access = Get | Let, .type = TM_VT_BSTR,
     .get = [](void* s, Arguments&, Variant& r) { r = Self<S>(s).TLSCAFile(); },
     .put = [](void* s, Arguments& a, Variant&) { Self<S>(s).TLSCAFile(a.String(0)); }},
    {.name = "TLSSkipVerification", .dispid = 102, .access = Get | Let, .type = TM_VT_BOOL,
     .get = [](void* s, Arguments&, Variant& r) { r = Self<S>(s).TLSSkipVerification(); },
     .put = [](void* s, Arguments& a, Variant&) { Self<S>(s).TLSSkipVerification(a.Boolean(0)); }},
    {.name = "Encrypted", .dispid = 103, .access = Get, .type = TM_VT_BOOL,
     .get = [](void* s, Arguments&, Variant& r) { r = Self<S>(s).Encrypted(); }},
    {.name = "TLSError", .dispid = 104, .access = Get, .type = TM_VT_BSTR,
     .get = [](void* s, Arguments&, Variant& r) { r = Self<S>(s).TLSError(); }},
    {.name = "StartTLS", .dispid = 105, .access = Method, .type = TM_VT_I4,
     .get = [](void* s, Arguments&, Variant& r) { r = Self<S>(s).StartTLS(); }},
};

constexpr Param kOnRecvDataParams[] = {{"DataLen", TM_VT_I4}, {"RcvPort", TM_VT_I4}, {"RcvAddr", TM_VT_BSTR}};
// The handler answers through socketID, so it travels by reference.
constexpr Param kOnAcceptConnectionParams[] = {{"socketID", TM_VT_I4, TM_PARAMFLAG_BYREF}};

constexpr Event kEvents[] = {
    {"OnRecvData", 1, kOnRecvDataParams},
    {"OnAcceptConnection", 2, kOnAcceptConnectionParams},
    {"OnCloseConnection", 3, {}},
    {"OnConnect", 4, {}},
};

constexpr EnumValue kIpProtoValues[] = {{"IPPROTO_TCP", 6}, {"IPPROTO_UDP", 17}};

/// What a handler left in a by-reference argument, as the 32-bit integer the event passes
/// on; a value that does not convert leaves `unchanged`, since a host's mistake in its
/// handler must not break the component's own step.
int32_t LongFromHandler(Variant& value, int32_t unchanged, const char* event)
{
    const Arguments::Slot slot{&value};
    const Arguments answer({&slot, 1}, event);
    try {
        return answer.Long(0);
    } catch (const Error&) {
        return unchanged;
    }
}

class SocketEventSink final : public TolvanSocketEvents {
public:
    explicit SocketEventSink(EventForwarder forward) : forward_(std::move(forward)) {}

    void OnRecvData(int32_t DataLen, int32_t RcvPort, const std::string& RcvAddr) override
    {
        Variant args[] = {DataLen, RcvPort, RcvAddr};
        forward_(kEvents[0].dispid, args);
    }
    void OnAcceptConnection(int32_t& socketID) override
    {
        Variant args[] = {socketID};
        forward_(kEvents[1].dispid, args);
        socketID = LongFromHandler(args[0], socketID, kEvents[1].name);
    }
    void OnCloseConnection() override { forward_(kEvents[2].dispid, {}); }
    void OnConnect() override { forward_(kEvents[3].dispid, {}); }

private:
    EventForwarder forward_;
};

} // namespace

constinit const TypeEntry kSocketInterface{
    .name = "_TolvanSocket",
    .kind = TM_TKIND_INTERFACE,
    .flags = kDualFlags | TM_TYPEFLAG_HIDDEN,
    .guid = {0xB38FB931, 0x521E, 0x4D25, {0x9A, 0xD0, 0x8C, 0xC4, 0xEF, 0xEF, 0xAF, 0xFB}},
    .members = kMembers,
};

constinit const TypeEntry kSocketEvents{
    .name = "__TolvanSocket",
    .kind = TM_TKIND_DISPATCH,
    .flags = TM_TYPEFLAG_HIDDEN,
    .guid = {0xD9B923E6, 0xF771, 0x485E, {0xAF, 0x04, 0xF4, 0x4E, 0xA2, 0x43, 0xE6, 0x98}},
    .events = kEvents,
};

constinit const TypeEntry kSocketClass{
    .name = "TolvanSocket",
    .kind = TM_TKIND_COCLASS,
    .flags = TM_TYPEFLAG_CANCREATE,
    .guid = {0x8BA3C810, 0x02D1, 0x41C4, {0xAF, 0xEA, 0x27, 0x81, 0xFE, 0x17, 0xF7, 0x7D}},
    .defaultInterface = &kSocketInterface,
    .eventInterface = &kSocketEvents,
    .create = []() -> std::shared_ptr<void> { return S::Create(); },
    .advise = [](void* s, EventForwarder forward) {
        return Self<S>(s).Advise(std::make_shared<SocketEventSink>(std::move(forward)));
    },
    .unadvise = [](void* s, uint32_t cookie) { Self<S>(s).Unadvise(cookie); },
};

constinit const TypeEntry kIpProto{
    .name = "IpProto",
    .kind = TM_TKIND_ENUM,
    .flags = 0,
    .guid = {0xD19F9B2B, 0x3FD0, 0x4AF9, {0xBE, 0x88, 0x18, 0x6C, 0x3C, 0xAF, 0xDD, 0x53}},
    .values = kIpProtoValues,
};

} // namespace tolmail::server::tables
