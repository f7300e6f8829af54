// TolvanPOP3's dialogue trace against a scripted loopback peer, and the reasons
// POP3Error gives when no server greets.
#include <gtest/gtest.h>

#include <utility>

#include "support/loopback_peer.h"
#include "tolmail/Messages.h"
#include "tolmail/TolvanPOP3.h"
#include "tolmail/dialogue_trace.h"

namespace tolmail {
namespace {

using loopback::Replies;
using loopback::ScriptedPeer;
using Traced = std::vector<std::pair<bool, std::string>>;
constexpr bool kSent = true, kRead = false;

struct TraceLog : DialogueTrace {
    Traced lines;
    void OnDialogueLine(bool sent, const std::string& line) override { lines.emplace_back(sent, line); }
};

Ref<TolvanPOP3> MakePop3(const std::string& host, uint16_t port)
{
    auto pop = TolvanPOP3::Create();
    pop->Host(host);
    pop->Port(static_cast<int16_t>(port));
    pop->Login("ann");
    pop->Password("s3cret-word");
    pop->TimeOut(5);
    return pop;
}

} // namespace

TEST(Pop3Trace, StatusLinesInOrderThePasswordMaskedAndMessagesAsTheirSize)
{
    const std::string header = "Subject: one\r\n\r\n.\r\n";
    const std::string message = "Subject: one\r\n\r\nbody line\r\n..dotted\r\n.\r\n";
    ScriptedPeer peer({Replies({"+OK ready\r\n", "+OK\r\n", "+OK logged in\r\n", "+OK 1 60\r\n", "+OK 1 60\r\n",
                                "+OK\r\n" + header, "+OK 60 octets\r\n" + message, "+OK bye\r\n"})});
    auto pop = MakePop3("127.0.0.1", peer.port());
    auto log = std::make_shared<TraceLog>();
    pop->Trace(log);
    ASSERT_EQ(pop->Connect(), 0);
    EXPECT_EQ(pop->GetMessageHeader(), 0);
    EXPECT_EQ(pop->GetMessages(0), 0);
    EXPECT_EQ(pop->Disconnect(), 0);
    const Traced expected = {
        {kRead, "+OK ready"},
        {kSent, "USER ann"},
        {kRead, "+OK"},
        {kSent, "PASS ********"},
        {kRead, "+OK logged in"},
        {kSent, "STAT"},
        {kRead, "+OK 1 60"},
        {kSent, "LIST 1"},
        {kRead, "+OK 1 60"},
        {kSent, "TOP 1 0"},
        {kRead, "+OK"},
        {kRead, "[message: " + std::to_string(header.size()) + " bytes]"},
        {kSent, "RETR 1"},
        {kRead, "+OK 60 octets"},
        {kRead, "[message: " + std::to_string(message.size()) + " bytes]"},
        {kSent, "QUIT"},
        {kRead, "+OK bye"},
    };
    EXPECT_EQ(log->lines, expected);
    for (const auto& [sent, line] : log->lines)
        EXPECT_EQ(line.find("s3cret"), std::string::npos) << line;
    peer.finish();
    EXPECT_EQ(peer.lines().at(1), "PASS s3cret-word") << "the server still gets the password";
}

TEST(Pop3Trace, Pop3ErrorSaysWhyNoSessionCameAbout)
{
    const uint16_t nobody = loopback::freePort();
    ScriptedPeer silent({Replies({}, true)});
    const struct {
        const char* name;
        std::string hosts;
        uint16_t port;
        int32_t result;
        std::string error;
    } cases[] = {
        {"refused", "127.0.0.1", nobody, 4,
         "Cannot connect to 127.0.0.1 port " + std::to_string(nobody) + ": Connection refused"},
        {"refused, then silent", "127.0.0.2;127.0.0.1", silent.port(), 1,
         "No greeting from 127.0.0.1 port " + std::to_string(silent.port()) + " within 5 s"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        auto pop = MakePop3(c.hosts, c.port);
        EXPECT_EQ(pop->Connect(), c.result);
        EXPECT_EQ(pop->POP3Error(), c.error);
    }
}

} // namespace tolmail
