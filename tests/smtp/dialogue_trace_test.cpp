// TolvanSMTP's dialogue trace against a scripted loopback peer, and the reasons
// SMTPError gives when no server greets.
#include <gtest/gtest.h>

#include <stdexcept>
#include <utility>

#include "support/loopback_peer.h"
#include "tolmail/TolvanSMTP.h"
#include "tolmail/TolvanSocket.h"
#include "tolmail/dialogue_trace.h"

using namespace loopback;
using tolmail::TolvanSMTP;

namespace {

using Traced = std::vector<std::pair<bool, std::string>>;
constexpr bool kSent = true, kRead = false;

struct TraceLog : tolmail::DialogueTrace {
    Traced lines;
    bool throws = false;
    void OnDialogueLine(bool sent, const std::string& line) override
    {
        lines.emplace_back(sent, line);
        if (throws)
            throw std::runtime_error("the host's sink failed");
    }
};

tolmail::Ref<TolvanSMTP> makeSmtp(const std::string& hosts, uint16_t port)
{
    auto smtp = TolvanSMTP::Create();
    smtp->Host(hosts);
    smtp->Port(static_cast<int16_t>(port));
    smtp->TimeOut(1);
    smtp->FromEmail("ann@example.test");
    smtp->AddRecipients("Bob", "bob@example.test", 1);
    smtp->MailBody("one line\r\n.leading dot\r\n");
    return smtp;
}

/// The bytes the peer took between the DATA go-ahead and its reply: the message data.
size_t DataBytes(const std::string& dialogue)
{
    const size_t start = dialogue.find("DATA\r\n") + 6;
    return dialogue.find("\r\n.\r\n", start) + 5 - start;
}

} // namespace

TEST(SmtpTrace, EveryCommandAndReplyLineInOrderAndTheDataAsItsSize)
{
    const std::string helo = "HELO " + tolmail::TolvanSocket::Create()->LocalHostName();
    const struct {
        const char* name;
        bool throws;
        bool cleared;  // Trace(nullptr) after the sink was set
    } cases[] = {
        {"traced", false, false},
        {"a sink that throws loses nothing but its lines", true, false},
        {"cleared", false, true},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        Script script = Replies({"220-peer.example\r\n220 ready\r\n", "250 hello\r\n", "250-sender\r\n250 ok\r\n",
                                 "250 recipient ok\r\n", "354 go ahead\r\n"});
        script.insert(script.end(), {HearData(), Say("250 queued\r\n"), Hear(), Say("221 bye\r\n")});
        ScriptedPeer peer({script});
        auto smtp = makeSmtp("127.0.0.1", peer.port());
        auto log = std::make_shared<TraceLog>();
        log->throws = c.throws;
        smtp->Trace(log);
        if (c.cleared)
            smtp->Trace(nullptr);
        EXPECT_EQ(smtp->Send(), 0);
        EXPECT_EQ(smtp->Disconnect(), 0);
        const std::string dialogue = peer.finish()[0];
        if (c.cleared) {
            EXPECT_TRUE(log->lines.empty());
            continue;
        }
        const Traced expected = {
            {kRead, "220-peer.example"},
            {kRead, "220 ready"},
            {kSent, helo},
            {kRead, "250 hello"},
            {kSent, "MAIL FROM: <ann@example.test>"},
            {kRead, "250-sender"},
            {kRead, "250 ok"},
            {kSent, "RCPT TO: <bob@example.test>"},
            {kRead, "250 recipient ok"},
            {kSent, "DATA"},
            {kRead, "354 go ahead"},
            {kSent, "[message data: " + std::to_string(DataBytes(dialogue)) + " bytes]"},
            {kRead, "250 queued"},
            {kSent, "QUIT"},
            {kRead, "221 bye"},
        };
        EXPECT_EQ(log->lines, expected) << dialogue;
    }
}

TEST(SmtpTrace, SmtpErrorSaysWhyTheLastHostGaveNoSession)
{
    // Nothing listens at `nobody`, nor on 127.0.0.2 at the silent peer's port.
    const uint16_t nobody = freePort();
    ScriptedPeer silent({Script{Listen(3000)}, Script{Listen(3000)}});
    ScriptedPeer hangsUp({Script{Hangup()}});
    const std::string at = " port " + std::to_string(silent.port());
    const struct {
        const char* name;
        std::string hosts;
        uint16_t port;
        int32_t result;
        std::string error;
    } cases[] = {
        {"refused", "127.0.0.1", nobody, 4,
         "Cannot connect to 127.0.0.1 port " + std::to_string(nobody) + ": Connection refused"},
        {"closed before greeting", "127.0.0.1", hangsUp.port(), 6,
         "127.0.0.1 port " + std::to_string(hangsUp.port()) + " closed the connection without a greeting"},
        {"silent, then refused", "127.0.0.1;127.0.0.2", silent.port(), 4,
         "Cannot connect to 127.0.0.2" + at + ": Connection refused"},
        {"refused, then silent", "127.0.0.2;127.0.0.1", silent.port(), 6,
         "No greeting from 127.0.0.1" + at + " within 1 s"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        auto smtp = makeSmtp(c.hosts, c.port);
        EXPECT_EQ(smtp->Connect(), c.result);
        EXPECT_EQ(smtp->SMTPError(), c.error);
    }
}
