// The tables' invokers reach the C++ member each entry names: every property read and
// written through its table agrees with the C++ accessor on the same object, and a few
// methods and events show their arguments and results travelling both ways.
#include <gtest/gtest.h>

#include <functional>
#include <memory>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "model/attachment_impl.h"
#include "platform/library_access.h"
#include "pop3/message_impl.h"
#include "server/arguments.h"
#include "server/type_table.h"
#include "support/loopback_peer.h"
#include "tolmail/Messages.h"
#include "tolmail/TolvanPOP3.h"
#include "tolmail/TolvanSMTP.h"
#include "tolmail/TolvanSocket.h"
#include "tolmail/error.h"
#include "tolmail/message_loop.h"
#include "tolmail/pop3_codes.h"
#include "tolmail/smtp_codes.h"
#include "tolmail/socket_codes.h"

namespace tolmail::server {
namespace {

const TypeEntry& TypeNamed(std::string_view name)
{
    for (const TypeEntry* type : TheLibrary().types)
        if (name == type->name)
            return *type;
    throw std::runtime_error("no type " + std::string(name));
}

const Member& MemberOf(const TypeEntry& type, std::string_view name)
{
    for (const Member& member : type.members)
        if (name == member.name)
            return member;
    throw std::runtime_error("no member " + std::string(name) + " in " + type.name);
}

/// Calls one accessor as the dispatch does; `byRef` marks the arguments a host passed by
/// reference, which the call may rewrite in `args`.
Variant Invoke(const Member& member, Invoker accessor, const std::shared_ptr<void>& self, std::vector<Variant>& args,
               std::vector<bool> byRef = {})
{
    std::vector<Arguments::Slot> slots;
    for (size_t i = 0; i < args.size(); ++i)
        slots.push_back({&args[i], i < byRef.size() && byRef[i]});
    Arguments arguments(slots, member.name);
    Variant result;
    accessor(self.get(), arguments, result);
    return result;
}

/// An object of one interface and the handles the test keeps on it.
struct Target {
    const char* interface;
    std::shared_ptr<void> self;

    const Member& member(std::string_view name) const { return MemberOf(TypeNamed(interface), name); }
    Variant call(std::string_view name, std::vector<Variant> args = {}) const
    {
        const Member& m = member(name);
        return Invoke(m, m.get, self, args);
    }
    void let(std::string_view name, Variant value) const
    {
        const Member& m = member(name);
        std::vector<Variant> args{std::move(value)};
        Invoke(m, m.put, self, args);
    }
};

int32_t ErrorOf(const std::function<void()>& call)
{
    try {
        call();
    } catch (const Error& error) {
        return error.code();
    }
    return 0;
}

/// True when `value` holds what a member of automation type `type` hands out.
bool HoldsType(const Variant& value, TmVarType type)
{
    switch (type) {
    case TM_VT_BSTR: return value.holds<std::string>();
    case TM_VT_I4: return value.holds<int32_t>();
    case TM_VT_I2: return value.holds<int16_t>();
    case TM_VT_BOOL: return value.holds<bool>();
    case TM_VT_UI1: return value.holds<uint8_t>();
    case TM_VT_DISPATCH:
    case TM_VT_UNKNOWN: return value.holds<Object>() && value.get<Object>().ptr;
    default: return false;
    }
}

/// A property as the C++ class has it: its getter (none for write-only properties) and a
/// value to assign through the table (none for read-only ones).
struct Probe {
    const char* name;
    std::function<Variant()> cpp;
    Variant let = {};
};

Variant Toggled(bool value) { return Variant(!value); }

/// Every property of the interface is probed: its table get equals the C++ getter, and a
/// value let through the table is what the C++ getter reads back. Write-only properties
/// are let last, and must not disturb any other property.
void CheckProperties(const Target& target, const std::vector<Probe>& probes)
{
    SCOPED_TRACE(target.interface);
    for (const Member& member : TypeNamed(target.interface).members) {
        if (member.access == Method || member.dispid == TM_DISPID_NEWENUM)
            continue;
        bool probed = false;
        for (const Probe& probe : probes)
            probed |= member.name == std::string_view(probe.name);
        EXPECT_TRUE(probed) << member.name << " has no probe";
    }
    auto checkAll = [&](bool letting) {
        for (const Probe& probe : probes) {
            SCOPED_TRACE(probe.name);
            const Member& member = target.member(probe.name);
            if (letting && !probe.let.isEmpty() && probe.cpp) {
                target.let(probe.name, probe.let);
                EXPECT_EQ(probe.cpp(), probe.let);
            }
            if (member.get) {
                const Variant got = target.call(probe.name);
                EXPECT_TRUE(HoldsType(got, member.type));
                EXPECT_EQ(got, probe.cpp());
            }
        }
    };
    checkAll(true);
    for (const Probe& probe : probes)
        if (!probe.cpp)
            target.let(probe.name, probe.let);
    checkAll(false);
}

TEST(TableInvokers, SocketPropertiesReachTheComponent)
{
    auto s = TolvanSocket::Create();
    CheckProperties({"_TolvanSocket", s},
                    {
                        {"LocalPort", [&] { return Variant(s->LocalPort()); }, int32_t{2525}},
                        {"Broadcast", [&] { return Variant(s->Broadcast()); }, Toggled(s->Broadcast())},
                        {"Version", [&] { return Variant(s->Version()); }},
                        {"LocalHostName", [&] { return Variant(s->LocalHostName()); }},
                        {"TimeOut", [&] { return Variant(s->TimeOut()); }, int32_t{17}},
                        {"SocketType", [&] { return Variant(static_cast<int32_t>(s->SocketType())); }, int32_t{17}},
                        {"SocketHandle", [&] { return Variant(s->SocketHandle()); }},
                        {"Connected", [&] { return Variant(s->Connected()); }},
                        {"Port", [&] { return Variant(s->Port()); }, int32_t{8025}},
                        {"Host", [&] { return Variant(s->Host()); }, "mail.example.org"},
                        {"ImplicitTLS", [&] { return Variant(s->ImplicitTLS()); }, Toggled(s->ImplicitTLS())},
                        {"TLSCAFile", [&] { return Variant(s->TLSCAFile()); }, "/etc/ca.pem"},
                        {"TLSSkipVerification", [&] { return Variant(s->TLSSkipVerification()); },
                         Toggled(s->TLSSkipVerification())},
                        {"Encrypted", [&] { return Variant(s->Encrypted()); }},
                        {"TLSError", [&] { return Variant(s->TLSError()); }},
                    });
}

TEST(TableInvokers, SmtpPropertiesReachTheComponent)
{
    auto m = TolvanSMTP::Create();
    CheckProperties({"_TolvanSMTP", m},
                    {
                        {"ContentType", [&] { return Variant(m->ContentType()); }, "text/html"},
                        {"DateTime", [&] { return Variant(m->DateTime()); }, "Mon, 1 Jan 2024 10:00:00 +0100"},
                        {"Subject", [&] { return Variant(m->Subject()); }, "the subject"},
                        {"MailBody", [&] { return Variant(m->MailBody()); }, "the body\r\n"},
                        {"FromName", [&] { return Variant(m->FromName()); }, "From Name"},
                        {"FromEmail", [&] { return Variant(m->FromEmail()); }, "from@example.org"},
                        {"CustomCharset", [&] { return Variant(m->CustomCharset()); }, "koi8-r"},
                        {"ReturnReceipt", [&] { return Variant(m->ReturnReceipt()); }, Toggled(m->ReturnReceipt())},
                        {"ReplyTo", [&] { return Variant(m->ReplyTo()); }, "reply@example.org"},
                        {"UseMSMail", [&] { return Variant(m->UseMSMail()); }, Toggled(m->UseMSMail())},
                        {"UseMIME", [&] { return Variant(m->UseMIME()); }, Toggled(m->UseMIME())},
                        {"Version", [&] { return Variant(m->Version()); }},
                        {"SMTPError", [&] { return Variant(m->SMTPError()); }},
                        {"Host", nullptr, "smtp.example.org"},
                        {"Port", nullptr, int16_t{2587}},
                        {"CharSet", [&] { return Variant(m->CharSet()); }, int32_t{2}},
                        {"Priority", [&] { return Variant(m->Priority()); }, int32_t{5}},
                        {"TimeOut", [&] { return Variant(m->TimeOut()); }, int32_t{600}},
                        {"CountAttachment", [&] { return Variant(m->CountAttachment()); }},
                        {"CountRecipients", [&] { return Variant(m->CountRecipients()); }},
                        {"UserName", [&] { return Variant(m->UserName()); }, "user"},
                        {"Password", nullptr, "secret"},
                        {"OAuth2Token", nullptr, "token"},
                        {"AllowPasswordWithoutTLS", [&] { return Variant(m->AllowPasswordWithoutTLS()); },
                         Toggled(m->AllowPasswordWithoutTLS())},
                        {"Security", [&] { return Variant(m->Security()); }, int32_t{2}},
                        {"CAFile", [&] { return Variant(m->CAFile()); }, "/etc/ca.pem"},
                        {"SkipCertificateCheck", [&] { return Variant(m->SkipCertificateCheck()); },
                         Toggled(m->SkipCertificateCheck())},
                        {"InternationalText", [&] { return Variant(m->InternationalText()); },
                         Toggled(m->InternationalText())},
                    });
}

TEST(TableInvokers, Pop3PropertiesReachTheComponent)
{
    auto p = TolvanPOP3::Create();
    auto replacement = LibraryAccess::create<Messages>();
    CheckProperties({"_TolvanPOP3", p},
                    {
                        {"Login", [&] { return Variant(p->Login()); }, "login"},
                        {"Port", [&] { return Variant(p->Port()); }, int16_t{1110}},
                        {"Host", [&] { return Variant(p->Host()); }, "pop.example.org"},
                        {"SaveAttachment", [&] { return Variant(p->SaveAttachment()); }, Toggled(p->SaveAttachment())},
                        {"CachedDirectory", [&] { return Variant(p->CachedDirectory()); }, "/tmp/cache/"},
                        {"AlternativeType", [&] { return Variant(p->AlternativeType()); }, "HTML"},
                        {"MaxMemAttachment", [&] { return Variant(p->MaxMemAttachment()); }, int32_t{4096}},
                        {"Version", [&] { return Variant(p->Version()); }},
                        {"TimeOut", [&] { return Variant(p->TimeOut()); }, int32_t{33}},
                        {"Password", [&] { return Variant(p->Password()); }, "secret"},
                        {"Messages", [&] { return Variant(Object{p->Messages(), "Messages"}); },
                         Object{replacement, "Messages"}},
                        {"POP3Error", [&] { return Variant(p->POP3Error()); }},
                        {"Security", [&] { return Variant(p->Security()); }, int32_t{1}},
                        {"CAFile", [&] { return Variant(p->CAFile()); }, "/etc/ca.pem"},
                        {"SkipCertificateCheck", [&] { return Variant(p->SkipCertificateCheck()); },
                         Toggled(p->SkipCertificateCheck())},
                        {"UseAPOP", [&] { return Variant(p->UseAPOP()); }, Toggled(p->UseAPOP())},
                        {"UseAuthPlain", [&] { return Variant(p->UseAuthPlain()); }, Toggled(p->UseAuthPlain())},
                        {"AllowPasswordWithoutTLS", [&] { return Variant(p->AllowPasswordWithoutTLS()); },
                         Toggled(p->AllowPasswordWithoutTLS())},
                        {"FetchUniqueIds", [&] { return Variant(p->FetchUniqueIds()); }, Toggled(p->FetchUniqueIds())},
                        {"InternationalText", [&] { return Variant(p->InternationalText()); },
                         Toggled(p->InternationalText())},
                    });
}

TEST(TableInvokers, MessagePropertiesReachTheMessage)
{
    auto g = LibraryAccess::create<Message>();
    // Every field its own text, so that a table entry reading a neighbour shows.
    auto& impl = LibraryAccess::impl(*g);
    impl.Subject = "Subject";
    impl.Size = "1234";
    impl.ReplyToAddress = "reply@example.org";
    impl.ReplyToName = "Reply Name";
    impl.Priority = "3";
    impl.MessageText = "MessageText";
    impl.MessageId = "<id@example.org>";
    impl.UniqueId = "UniqueId";
    impl.MessageStatus = 3;
    impl.CompleteHeader = "Subject: Subject\r\n";
    impl.FullMsgFilename = "/tmp/full.TMB";
    impl.RawMsgFilename = "/tmp/raw.eml";
    impl.FromAddress = "from@example.org";
    impl.FromName = "From Name";
    impl.DateTime = "Mon, 1 Jan 2024";
    impl.ContentType = "TEXT";
    impl.ContentSubType = "PLAIN";
    impl.IsMIME = true;
    impl.ReturnReceipt = "receipt@example.org";
    CheckProperties({"Message", g},
                    {
                        {"CharSet", [&] { return Variant(g->CharSet()); }, "iso-8859-2"},
                        {"Recipients", [&] { return Variant(Object{g->Recipients(), "Recipients"}); }},
                        {"Attachments", [&] { return Variant(Object{g->Attachments(), "Attachments"}); }},
                        {"Subject", [&] { return Variant(g->Subject()); }},
                        {"Size", [&] { return Variant(g->Size()); }},
                        {"ReplyToAddress", [&] { return Variant(g->ReplyToAddress()); }},
                        {"ReplyToName", [&] { return Variant(g->ReplyToName()); }},
                        {"Priority", [&] { return Variant(g->Priority()); }},
                        {"MessageText", [&] { return Variant(g->MessageText()); }},
                        {"MessageId", [&] { return Variant(g->MessageId()); }},
                        {"MessageStatus", [&] { return Variant(g->MessageStatus()); }},
                        {"CompleteHeader", [&] { return Variant(g->CompleteHeader()); }},
                        {"FullMsgFilename", [&] { return Variant(g->FullMsgFilename()); }},
                        {"FromAddress", [&] { return Variant(g->FromAddress()); }},
                        {"FromName", [&] { return Variant(g->FromName()); }},
                        {"DateTime", [&] { return Variant(g->DateTime()); }},
                        {"ContentType", [&] { return Variant(g->ContentType()); }},
                        {"ContentSubType", [&] { return Variant(g->ContentSubType()); }},
                        {"IsMIME", [&] { return Variant(g->IsMIME()); }},
                        {"ReturnReceipt", [&] { return Variant(g->ReturnReceipt()); }},
                        {"UniqueId", [&] { return Variant(g->UniqueId()); }},
                        {"RawMsgFilename", [&] { return Variant(g->RawMsgFilename()); }},
                    });
}

TEST(TableInvokers, RecordPropertiesReachTheRecord)
{
    auto a = LibraryAccess::create<Attachment>();
    auto& impl = LibraryAccess::impl(*a);
    impl.attachmentBody = "body";
    impl.tempFilename = "/tmp/part.TMA";
    impl.contentType = "APPLICATION";
    impl.contentSubType = "PDF";
    impl.size = "42";
    impl.filename = "report.pdf";
    impl.encoding = "BASE64";
    impl.description = "the report";
    CheckProperties({"Attachment", a},
                    {
                        {"AttachmentBody", [&] { return Variant(a->AttachmentBody()); }},
                        {"TempFilename", [&] { return Variant(a->TempFilename()); }},
                        {"ContentType", [&] { return Variant(a->ContentType()); }},
                        {"ContentSubType", [&] { return Variant(a->ContentSubType()); }},
                        {"Size", [&] { return Variant(a->Size()); }},
                        {"Name", [&] { return Variant(a->Name()); }, "renamed.pdf"},
                        {"Filename", [&] { return Variant(a->Filename()); }},
                        {"Encoding", [&] { return Variant(a->Encoding()); }},
                        {"Description", [&] { return Variant(a->Description()); }},
                    });

    auto r = LibraryAccess::create<Recipient>();
    CheckProperties({"Recipient", r},
                    {
                        {"Types", [&] { return Variant(r->Types()); }, int16_t{2}},
                        {"Name", [&] { return Variant(r->Name()); }, "Name"},
                        {"Address", [&] { return Variant(r->Address()); }, "to@example.org"},
                    });
}

TEST(TableInvokers, CollectionsAddIndexAndRemoveThroughTheirTables)
{
    auto recipients = LibraryAccess::create<Recipients>();
    const Target r{"Recipients", recipients};
    const Variant first = r.call("Add", {"a@example.org", "A", int16_t{1}});  // sKey left out
    const Variant keyed = r.call("Add", {"b@example.org", "B", int16_t{2}, "Bee"});
    ASSERT_TRUE(HoldsType(first, TM_VT_DISPATCH));
    EXPECT_EQ(r.call("Count"), Variant(int32_t{2}));
    EXPECT_EQ(r.call("Item", {int32_t{1}}), first);
    EXPECT_EQ(r.call("Item", {"bEE"}), keyed);
    EXPECT_STREQ(keyed.get<Object>().typeName, "Recipient");
    EXPECT_EQ(InterfaceOf(keyed.get<Object>().typeName), &TypeNamed("Recipient"));
    EXPECT_EQ(recipients->Item(Variant("Bee"))->Types(), 2);
    EXPECT_EQ(ErrorOf([&] { r.call("Item", {int32_t{3}}); }), errc::InvalidIndex);
    EXPECT_EQ(ErrorOf([&] { r.call("Add", {"c@example.org", "C", int16_t{1}, "BEE"}); }), errc::DuplicateKey);
    r.call("Remove", {int32_t{1}});
    EXPECT_EQ(recipients->Count(), 1);
    EXPECT_TRUE(HoldsType(r.call("NewEnum"), TM_VT_UNKNOWN));

    auto attachments = LibraryAccess::create<Attachments>();
    const Target a{"Attachments", attachments};
    const Variant part = a.call("Add", {"desc", "BASE64", "f.txt", "n.txt", "3", "TEXT", "PLAIN", "", "/tmp/",
                                        int32_t{0}});
    EXPECT_EQ(attachments->Count(), 1);
    EXPECT_EQ(a.call("Item", {int32_t{1}}), part);
    EXPECT_EQ(attachments->Item(Variant(int32_t{1}))->Name(), "n.txt");
    EXPECT_EQ(attachments->Item(Variant(int32_t{1}))->Encoding(), "BASE64");
    EXPECT_EQ(ErrorOf([&] { a.call("Add", {"", "", "", "", "", "", "", "", "", "not a number"}); }),
              TM_DISP_E_TYPEMISMATCH);

    auto messages = LibraryAccess::create<Messages>();
    const Target m{"Messages", messages};
    for (int32_t n = 1; n <= 3; ++n)
        pop3::AddMessage(*messages, n, WeakRef<TolvanPOP3>{});
    EXPECT_EQ(m.call("Item", {int32_t{2}}), Variant(Object{messages->Item(Variant(int32_t{2})), "Message"}));
    m.call("Delete", {int32_t{1}});
    EXPECT_EQ(m.call("Count"), Variant(int32_t{2}));
    m.call("DeleteAllMessage");
    EXPECT_EQ(messages->Count(), 0);
}

TEST(TableInvokers, MethodsPassArgumentsAndResults)
{
    auto socket = TolvanSocket::Create();
    const Target s{"_TolvanSocket", socket};
    // DataBuff comes back through the host's variable, emptied, when nothing can arrive.
    for (const char* read : {"GetData", "GetlnData"}) {
        std::vector<Variant> args{"stale"};
        const Member& member = s.member(read);
        EXPECT_EQ(Invoke(member, member.get, socket, args, {true}), Variant(socket_result::NotConnected)) << read;
        EXPECT_EQ(args[0], Variant("")) << read;
    }
    EXPECT_EQ(s.call("senddta", {"text"}), Variant(int16_t{socket_result::NotConnected}));
    EXPECT_EQ(s.call("Accept", {int32_t{-1}}), Variant(socket_result::AcceptFailed));
    s.let("TimeOut", int32_t{500});  // the component's own fallback, reached through the table
    EXPECT_EQ(socket->TimeOut(), 120);

    auto smtp = TolvanSMTP::Create();
    const Target m{"_TolvanSMTP", smtp};
    EXPECT_EQ(m.call("Connect"), Variant(smtp_result::NoHost));
    EXPECT_EQ(m.call("AddCustomHeader", {"", "value"}), Variant(smtp_result::ArgumentRefused));
    EXPECT_EQ(m.call("AddRecipients", {"To Name", "to@example.org", int32_t{1}}), Variant(smtp_result::Ok));
    EXPECT_EQ(smtp->CountRecipients(), 1);
    m.call("Clear", {Missing{}});  // left out: every list
    EXPECT_EQ(smtp->CountRecipients(), 0);

    auto pop3 = TolvanPOP3::Create();
    const Target p{"_TolvanPOP3", pop3};
    EXPECT_EQ(p.call("Connect"), Variant(pop3_result::NoHost));
    EXPECT_EQ(p.call("GetMessageCount"), Variant(int32_t{0}));
    EXPECT_EQ(p.call("Cancel"), Variant(false));
    EXPECT_EQ(p.call("GetMessages", {int32_t{0}}), Variant(pop3_result::Ok));
    EXPECT_EQ(ErrorOf([&] { p.call("GetMessages", {int32_t{256}}); }), TM_DISP_E_OVERFLOW);
    p.let("Port", "995");  // coerced as a host would
    EXPECT_EQ(pop3->Port(), 995);
    // Nothing assigned to Messages lets the next read make a fresh, empty collection.
    const auto held = pop3->Messages();
    p.let("Messages", Variant());
    EXPECT_NE(pop3->Messages(), held);
}

struct Recorded {
    int32_t dispid;
    std::vector<Variant> args;
};

EventForwarder RecordInto(std::vector<Recorded>& events)
{
    return [&events](int32_t dispid, std::span<Variant> args) {
        events.push_back({dispid, std::vector<Variant>(args.begin(), args.end())});
    };
}

TEST(TableEvents, ClassesCreateAndForwardEventsUntilUnadvised)
{
    const TypeEntry& pop3Class = TypeNamed("TolvanPOP3");
    const std::shared_ptr<void> pop3 = pop3Class.create();
    ASSERT_NE(pop3, nullptr);
    std::vector<Recorded> events;
    const uint32_t cookie = pop3Class.advise(pop3.get(), RecordInto(events));
    const Target p{"_TolvanPOP3", pop3};
    EXPECT_EQ(p.call("Disconnect"), Variant(pop3_result::NoReply));
    ASSERT_EQ(events.size(), 2u);
    EXPECT_EQ(events[0].dispid, 1);
    const std::vector<Variant> disconnecting{pop3_event::Disconnecting.text, pop3_event::Disconnecting.task,
                                             int32_t{0}, int32_t{0}};
    EXPECT_EQ(events[0].args, disconnecting);
    EXPECT_EQ(events[1].args[1], Variant(pop3_event::DirtyLogoff.task));
    pop3Class.unadvise(pop3.get(), cookie);
    p.call("Disconnect");
    EXPECT_EQ(events.size(), 2u);

    for (const char* name : {"TolvanSMTP", "TolvanSocket"}) {
        const TypeEntry& type = TypeNamed(name);
        const std::shared_ptr<void> object = type.create();
        ASSERT_NE(object, nullptr) << name;
        const Target created{type.defaultInterface->name, object};
        EXPECT_EQ(created.call("Version"), Variant("1.10b")) << name;
    }
}

TEST(TableEvents, SocketAcceptReachesTheHandlerWithTheListeningHandle)
{
    const TypeEntry& socketClass = TypeNamed("TolvanSocket");
    auto listener = TolvanSocket::Create();
    const Target l{"_TolvanSocket", listener};
    l.let("LocalPort", int32_t{loopback::freePort()});
    ASSERT_EQ(l.call("Listen"), Variant(socket_result::Ok));
    std::vector<Recorded> events;
    socketClass.advise(listener.get(), [&](int32_t dispid, std::span<Variant> args) {
        events.push_back({dispid, std::vector<Variant>(args.begin(), args.end())});
        args[0] = Variant("not a handle");  // a handler's answer that does not convert is ignored
    });

    auto client = TolvanSocket::Create();
    client->Host("127.0.0.1");
    client->Port(listener->LocalPort());
    ASSERT_EQ(client->Connect(), socket_result::Ok);  // its wait dispatches the listener's accept
    for (int pass = 0; pass < 200 && events.empty(); ++pass) {
        PumpMessages();
        loopback::pause(5);
    }
    ASSERT_FALSE(events.empty());
    EXPECT_EQ(events[0].dispid, 2);
    EXPECT_EQ(events[0].args, std::vector<Variant>(1, Variant(listener->SocketHandle())));
    client->CloseSocket();
    listener->CloseSocket();
}

} // namespace
} // namespace tolmail::server
