// The type library as the tables declare it: what a host's tools see before any call.
#include <gtest/gtest.h>

#include <algorithm>
#include <cctype>
#include <cstdio>
#include <set>
#include <string>
#include <string_view>
#include <vector>

#include "server/type_table.h"

namespace tolmail::server {
namespace {

constexpr uint16_t kDual = TM_TYPEFLAG_DUAL | TM_TYPEFLAG_NONEXTENSIBLE | TM_TYPEFLAG_OLEAUTOMATION;

const TypeEntry& TypeNamed(std::string_view name)
{
    for (const TypeEntry* type : TheLibrary().types)
        if (name == type->name)
            return *type;
    throw std::runtime_error("no type " + std::string(name));
}

const Member* MemberNamed(const TypeEntry& type, std::string_view name)
{
    for (const Member& member : type.members)
        if (name == member.name)
            return &member;
    return nullptr;
}

std::string Text(const TmGuid& g)
{
    char text[40];
    std::snprintf(text, sizeof text, "%08X-%04X-%04X-%02X%02X-%02X%02X%02X%02X%02X%02X", g.data1, g.data2, g.data3,
                  g.data4[0], g.data4[1], g.data4[2], g.data4[3], g.data4[4], g.data4[5], g.data4[6], g.data4[7]);
    return text;
}

TEST(TypeTable, LibraryDeclaresItsSixteenTypesInOrder)
{
    const Library& library = TheLibrary();
    EXPECT_STREQ(library.name, "TolvanMail");
    EXPECT_EQ(library.majorVersion, 40);
    EXPECT_EQ(library.minorVersion, 0);
    EXPECT_EQ(library.lcid, 1033u);

    struct Expected {
        const char* name;
        uint16_t kind;
        uint16_t flags;
        const char* defaultInterface;  // classes
        const char* eventInterface;
    };
    const Expected expected[] = {
        {"Attachment", TM_TKIND_INTERFACE, kDual, nullptr, nullptr},
        {"Recipients", TM_TKIND_INTERFACE, kDual, nullptr, nullptr},
        {"Attachments", TM_TKIND_INTERFACE, kDual, nullptr, nullptr},
        {"Message", TM_TKIND_INTERFACE, kDual, nullptr, nullptr},
        {"Messages", TM_TKIND_INTERFACE, kDual, nullptr, nullptr},
        {"_TolvanPOP3", TM_TKIND_INTERFACE, kDual | TM_TYPEFLAG_HIDDEN, nullptr, nullptr},
        {"TolvanPOP3", TM_TKIND_COCLASS, TM_TYPEFLAG_CANCREATE, "_TolvanPOP3", "__TolvanPOP3"},
        {"Recipient", TM_TKIND_INTERFACE, kDual, nullptr, nullptr},
        {"_TolvanSMTP", TM_TKIND_INTERFACE, kDual | TM_TYPEFLAG_HIDDEN, nullptr, nullptr},
        {"TolvanSMTP", TM_TKIND_COCLASS, TM_TYPEFLAG_CANCREATE, "_TolvanSMTP", "__TolvanSMTP"},
        {"_TolvanSocket", TM_TKIND_INTERFACE, kDual | TM_TYPEFLAG_HIDDEN, nullptr, nullptr},
        {"TolvanSocket", TM_TKIND_COCLASS, TM_TYPEFLAG_CANCREATE, "_TolvanSocket", "__TolvanSocket"},
        {"__TolvanPOP3", TM_TKIND_DISPATCH, TM_TYPEFLAG_HIDDEN, nullptr, nullptr},
        {"__TolvanSMTP", TM_TKIND_DISPATCH, TM_TYPEFLAG_HIDDEN, nullptr, nullptr},
        {"__TolvanSocket", TM_TKIND_DISPATCH, TM_TYPEFLAG_HIDDEN, nullptr, nullptr},
        {"IpProto", TM_TKIND_ENUM, 0, nullptr, nullptr},
    };
    ASSERT_EQ(library.types.size(), std::size(expected));
    for (size_t i = 0; i < std::size(expected); ++i) {
        const TypeEntry& type = *library.types[i];
        SCOPED_TRACE(expected[i].name);
        EXPECT_STREQ(type.name, expected[i].name);
        EXPECT_EQ(type.kind, expected[i].kind);
        EXPECT_EQ(type.flags, expected[i].flags);
        const bool isClass = expected[i].defaultInterface != nullptr;
        EXPECT_EQ(type.create != nullptr, isClass);
        EXPECT_EQ(type.advise != nullptr && type.unadvise != nullptr, isClass);
        if (isClass) {
            ASSERT_NE(type.defaultInterface, nullptr);
            ASSERT_NE(type.eventInterface, nullptr);
            EXPECT_STREQ(type.defaultInterface->name, expected[i].defaultInterface);
            EXPECT_STREQ(type.eventInterface->name, expected[i].eventInterface);
            EXPECT_EQ(ClassOf(*type.defaultInterface), &type);
            EXPECT_EQ(InterfaceOf(type.name), type.defaultInterface);
        } else if (type.kind == TM_TKIND_INTERFACE && !(type.flags & TM_TYPEFLAG_HIDDEN)) {
            EXPECT_EQ(ClassOf(type), nullptr);  // the model's objects are made by the library only
        }
    }
    EXPECT_EQ(InterfaceOf("Message"), &TypeNamed("Message"));
    EXPECT_EQ(InterfaceOf("IpProto"), nullptr);
    EXPECT_EQ(InterfaceOf("Nothing"), nullptr);

    const TypeEntry& ipProto = TypeNamed("IpProto");
    ASSERT_EQ(ipProto.values.size(), 2u);
    EXPECT_STREQ(ipProto.values[0].name, "IPPROTO_TCP");
    EXPECT_EQ(ipProto.values[0].value, 6);
    EXPECT_STREQ(ipProto.values[1].name, "IPPROTO_UDP");
    EXPECT_EQ(ipProto.values[1].value, 17);
}

// The one place the identifiers are repeated: a changed GUID breaks every registered host.
TEST(TypeTable, IdentifiersStayAsRegistered)
{
    const std::pair<const char*, const char*> pinned[] = {
        {"Attachment", "31DE624E-CD1B-49AF-AA34-56F254966305"},
        {"Recipients", "5E21A686-DA35-430B-8433-FE45400842E1"},
        {"Attachments", "0CD34B4D-1F57-4814-9D3D-3E717CC2BCEC"},
        {"Message", "16BE9E8B-E547-4099-AE9F-2A1541222A6F"},
        {"Messages", "919EC538-42BD-4226-BDDA-191B52EEE36E"},
        {"_TolvanPOP3", "AF4A8BE8-7D93-4871-B8BF-464C34533361"},
        {"TolvanPOP3", "5F53A8AC-F874-43AA-96AB-ED43C5E6062D"},
        {"Recipient", "D85BEE44-AEDE-4F1D-A02E-F0C885900190"},
        {"_TolvanSMTP", "2E3886EB-AB2E-42BE-B8A3-A8409524956A"},
        {"TolvanSMTP", "14F2E741-ABA6-4F01-ABFB-7F449655CB72"},
        {"_TolvanSocket", "B38FB931-521E-4D25-9AD0-8CC4EFEFAFFB"},
        {"TolvanSocket", "8BA3C810-02D1-41C4-AFEA-2781FE17F77D"},
        {"__TolvanPOP3", "CE3CA37A-46BA-4A14-9F5A-8FA379C50227"},
        {"__TolvanSMTP", "0F67089F-F445-44E7-A5B4-4312B9178F68"},
        {"__TolvanSocket", "D9B923E6-F771-485E-AF04-F44EA243E698"},
        {"IpProto", "D19F9B2B-3FD0-4AF9-BE88-186C3CAFDD53"},
    };
    EXPECT_EQ(Text(TheLibrary().guid), "16BF0DAB-5EFC-47A0-9753-627C3B41E057");
    for (const auto& [name, guid] : pinned)
        EXPECT_EQ(Text(TypeNamed(name).guid), guid) << name;
}

// Each interface's members begin with those of its class, in slot order; what was added
// since comes after them.
TEST(TypeTable, MembersFollowTheirClassInOrder)
{
    const std::pair<const char*, std::vector<std::string>> interfaces[] = {
        {"Attachment",
         {"AttachmentBody", "TempFilename", "ContentType", "ContentSubType", "Save", "Size", "Name", "Filename",
          "Encoding", "Description"}},
        {"Recipients", {"Add", "Item", "Count", "Remove", "NewEnum"}},
        {"Attachments", {"Add", "Item", "Count", "Remove", "NewEnum"}},
        {"Message",
         {"CharSet", "Recipients", "Attachments", "GetMessage", "DeleteAtServer", "Subject", "Size", "ReplyToAddress",
          "ReplyToName", "Priority", "MessageText", "MessageId", "MessageStatus", "CompleteHeader",
          "FullMsgFilename", "FromAddress", "FromName", "DateTime", "ContentType", "ContentSubType", "IsMIME",
          "ReturnReceipt"}},
        {"Messages", {"DeleteAllMessage", "Delete", "Item", "Count", "Remove", "NewEnum"}},
        {"_TolvanPOP3",
         {"Login", "Port", "Host", "SaveAttachment", "CachedDirectory", "AlternativeType", "CancelDelete",
          "KeepAlive", "GetMessageHeader", "GetMessages", "GetMessageCount", "GetMessageSize", "Connect",
          "Disconnect", "Cancel", "MaxMemAttachment", "Version", "TimeOut", "Password", "Messages"}},
        {"Recipient", {"Types", "Name", "Address"}},
        {"_TolvanSMTP",
         {"ContentType", "DateTime", "Subject", "MailBody", "FromName", "FromEmail", "CustomCharset", "ReturnReceipt",
          "ReplyTo", "UseMSMail", "UseMIME", "Version", "SMTPError", "Host", "Port", "CharSet", "Priority", "TimeOut",
          "CountAttachment", "AddAttachment", "Clear", "CountRecipients", "AddRecipients", "Connect", "Send",
          "Disconnect", "AddCustomHeader", "ImportMailBody"}},
        {"_TolvanSocket",
         {"LocalPort", "Broadcast", "Version", "LocalHostName", "TimeOut", "SocketType", "SocketHandle", "Connected",
          "Port", "Host", "Connect", "CloseSocket", "Listen", "Accept", "GetData", "GetlnData", "senddta"}},
    };
    for (const auto& [name, expected] : interfaces) {
        SCOPED_TRACE(name);
        const TypeEntry& type = TypeNamed(name);
        ASSERT_GE(type.members.size(), expected.size());
        std::set<std::string> lowerNames;
        std::set<int32_t> dispids;
        for (size_t i = 0; i < type.members.size(); ++i) {
            const Member& member = type.members[i];
            if (i < expected.size())
                EXPECT_EQ(member.name, expected[i]);
            else
                EXPECT_GE(member.dispid, 100) << member.name << " was added after the class's own members";
            // Hosts find members by name in any letter case, and by id.
            std::string lower = member.name;
            std::transform(lower.begin(), lower.end(), lower.begin(), [](unsigned char c) { return std::tolower(c); });
            EXPECT_TRUE(lowerNames.insert(lower).second) << member.name;
            EXPECT_TRUE(dispids.insert(member.dispid).second) << member.name;
            // Every accessor the member declares reaches the object, and only those.
            EXPECT_EQ(member.get != nullptr, (member.access & (Method | Get)) != 0) << member.name;
            EXPECT_EQ(member.put != nullptr, (member.access & (Let | Set)) != 0) << member.name;
            EXPECT_EQ(member.hidden, member.dispid == TM_DISPID_NEWENUM) << member.name;
        }
    }
    // What a script cannot use stays out.
    for (const char* component : {"_TolvanPOP3", "_TolvanSMTP", "_TolvanSocket"})
        for (const char* left : {"Advise", "Unadvise", "Trace", "Create"})
            EXPECT_EQ(MemberNamed(TypeNamed(component), left), nullptr) << component << "." << left;
}

TEST(TypeTable, CollectionsIndexByDefaultAndEnumerateHidden)
{
    for (const char* collection : {"Recipients", "Attachments", "Messages"}) {
        SCOPED_TRACE(collection);
        const Member* item = MemberNamed(TypeNamed(collection), "Item");
        const Member* newEnum = MemberNamed(TypeNamed(collection), "NewEnum");
        ASSERT_TRUE(item && newEnum);
        EXPECT_EQ(item->dispid, TM_DISPID_VALUE);
        EXPECT_EQ(item->type, TM_VT_DISPATCH);
        EXPECT_FALSE(item->hidden);
        EXPECT_EQ(newEnum->dispid, TM_DISPID_NEWENUM);
        EXPECT_EQ(newEnum->type, TM_VT_UNKNOWN);
        EXPECT_TRUE(newEnum->hidden);
    }
}

TEST(TypeTable, ParametersCarryTheirOptionalAndReferenceFlags)
{
    struct Case {
        const char* type;
        const char* member;
        const char* param;
        uint16_t flags;
    };
    const Case cases[] = {
        {"Recipients", "Add", "sKey", TM_PARAMFLAG_OPTIONAL},
        {"Recipients", "Add", "Types", 0},
        {"Attachments", "Add", "sKey", TM_PARAMFLAG_OPTIONAL},
        {"Attachments", "Add", "Pop3Handle", 0},
        {"_TolvanSocket", "GetData", "DataBuff", TM_PARAMFLAG_BYREF},
        {"_TolvanSocket", "GetData", "DataLen", TM_PARAMFLAG_OPTIONAL},
        {"_TolvanSocket", "GetlnData", "DataBuff", TM_PARAMFLAG_BYREF},
        {"_TolvanSocket", "Accept", "socketID", 0},
        {"_TolvanSMTP", "Clear", "Clearflag", TM_PARAMFLAG_OPTIONAL},
        {"_TolvanSMTP", "AddRecipients", "RecipientType", 0},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(std::string(c.type) + "." + c.member + " " + c.param);
        const Member* member = MemberNamed(TypeNamed(c.type), c.member);
        ASSERT_NE(member, nullptr);
        auto param = std::find_if(member->params.begin(), member->params.end(),
                                  [&](const Param& p) { return std::string_view(p.name) == c.param; });
        ASSERT_NE(param, member->params.end());
        EXPECT_EQ(param->flags, c.flags);
        // An optional parameter may only be followed by optional ones.
        for (auto after = param; c.flags & TM_PARAMFLAG_OPTIONAL && after != member->params.end(); ++after)
            EXPECT_TRUE(after->flags & TM_PARAMFLAG_OPTIONAL) << after->name;
    }
    size_t optional = 0;
    for (const TypeEntry* type : TheLibrary().types)
        for (const Member& member : type->members)
            for (const Param& param : member.params)
                optional += (param.flags & TM_PARAMFLAG_OPTIONAL) != 0;
    EXPECT_EQ(optional, 4u) << "only four parameters are optional";
}

TEST(TypeTable, HelpStringsAndEvents)
{
    EXPECT_STREQ(MemberNamed(TypeNamed("Attachment"), "Save")->help, "param = filename to save");
    EXPECT_STREQ(MemberNamed(TypeNamed("Attachment"), "Name")->help, "attachment name");
    EXPECT_STREQ(MemberNamed(TypeNamed("Messages"), "Delete")->help, "delete 1 msg");

    struct Expected {
        const char* type;
        std::vector<std::pair<std::string, int32_t>> events;
    };
    const Expected expected[] = {
        {"__TolvanPOP3", {{"OnPOP3Event", 1}}},
        {"__TolvanSMTP", {{"OnSMTPEvent", 1}}},
        {"__TolvanSocket", {{"OnRecvData", 1}, {"OnAcceptConnection", 2}, {"OnCloseConnection", 3}, {"OnConnect", 4}}},
    };
    for (const Expected& e : expected) {
        SCOPED_TRACE(e.type);
        const TypeEntry& type = TypeNamed(e.type);
        ASSERT_EQ(type.events.size(), e.events.size());
        for (size_t i = 0; i < e.events.size(); ++i) {
            EXPECT_EQ(type.events[i].name, e.events[i].first);
            EXPECT_EQ(type.events[i].dispid, e.events[i].second);
        }
    }
    const auto progress = TypeNamed("__TolvanSMTP").events[0].params;
    ASSERT_EQ(progress.size(), 4u);
    EXPECT_STREQ(progress[0].name, "paramtext");
    EXPECT_EQ(progress[0].type, TM_VT_BSTR);
    const auto accept = TypeNamed("__TolvanSocket").events[1].params;
    ASSERT_EQ(accept.size(), 1u);
    EXPECT_EQ(accept[0].flags, TM_PARAMFLAG_BYREF);
}

} // namespace
} // namespace tolmail::server
