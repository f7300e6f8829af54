// Dialogue faults against scripted loopback peers: silent and multi-line greetings,
// refusals, a server that hangs up, and the host list.
#include <gtest/gtest.h>

#include <chrono>
#include <cstdio>
#include <fstream>
#include <thread>

#include "smtp/event_log.h"
#include "platform/message_loop.h"
#include "support/loopback_peer.h"
#include "tolmail/TolvanSMTP.h"

using namespace loopback;
using namespace smtptest;
using tolmail::TolvanSMTP;

namespace {

const std::string kGreeting = "220 peer ready\r\n";

tolmail::Ref<TolvanSMTP> makeSmtp(const ScriptedPeer& peer, int timeOut = 3)
{
    auto smtp = TolvanSMTP::Create();
    smtp->Host("127.0.0.1");
    smtp->Port(static_cast<int16_t>(peer.port()));
    smtp->TimeOut(timeOut);
    smtp->FromEmail("sender@example.test");
    smtp->DateTime("Mon, 07 Dec 2026 10:00:00 +0000");
    return smtp;
}

Script upToData()
{
    return {Say(kGreeting), Hear(), Say("250 hello\r\n"), Hear(), Say("250 sender ok\r\n"), Hear(),
            Say("250 rcpt ok\r\n"), Hear()};
}

} // namespace

TEST(SmtpDialogueFaults, SilentGreetingGivesHostDown)
{
    ScriptedPeer peer({{Listen(4000)}});
    auto smtp = makeSmtp(peer, 1);
    auto log = Record(*smtp);
    EXPECT_EQ(smtp->Connect(), 6);
    EXPECT_EQ(smtp->SMTPError(), "Host is down.");
    ASSERT_EQ(log->tasks(), (std::vector<int32_t>{1, 2, 3}));
    EXPECT_EQ(log->events[0].text, "CONNECT: Connecting to destination host (127.0.0.1)");
    EXPECT_EQ(log->events[1].text, "CONNECT: Connected to 127.0.0.1");
    EXPECT_EQ(log->events[2].text, "CONNECT: Invalid Respond ()");
    peer.finish();
}

TEST(SmtpDialogueFaults, MultiLineGreetingIsReadWhole)
{
    ScriptedPeer peer({{Say("220-peer.example ESMTP\r\n220-second line\r\n"), Say("220 ready\r\n"), Hear(),
                        Say("250-peer.example\r\n250 SIZE 0\r\n"), Hear(), Say("221 bye\r\n")}});
    auto smtp = makeSmtp(peer);
    EXPECT_EQ(smtp->Connect(), 0);
    EXPECT_EQ(smtp->SMTPError(), "No Error");
    EXPECT_EQ(smtp->Disconnect(), 0);
    const auto got = peer.finish();
    EXPECT_EQ(got[0].substr(0, 5), "HELO ");
    EXPECT_NE(got[0].find("\r\nQUIT\r\n"), std::string::npos);
}

TEST(SmtpDialogueFaults, RefusedReplyKeepsWholeMultiLineText)
{
    ScriptedPeer peer({{Say(kGreeting), Hear(), Say("250 hello\r\n"), Hear(),
                        Say("550-no such sender\r\n550 go away\r\n"), Listen(2000)}});
    auto smtp = makeSmtp(peer);
    smtp->AddRecipients("To", "to@example.test", 1);
    EXPECT_EQ(smtp->Send(), 64);
    EXPECT_EQ(smtp->SMTPError(), "550-no such sender\r\n550 go away\r\n");
    peer.finish();
}

TEST(SmtpDialogueFaults, SecondOfThreeRecipientsRefused)
{
    ScriptedPeer peer({{Say(kGreeting), Hear(), Say("250 hello\r\n"), Hear(), Say("250 ok\r\n"), Hear(),
                        Say("250 ok\r\n"), Hear(), Say("550 unknown user\r\n"), Listen(2000)}});
    auto smtp = makeSmtp(peer);
    smtp->AddRecipients("One", "one@example.test", 1);
    smtp->AddRecipients("Two", "two@example.test", 2);
    smtp->AddRecipients("Three", "three@example.test", 3);
    EXPECT_EQ(smtp->Send(), 5);
    EXPECT_EQ(smtp->SMTPError(), "550 unknown user\r\n");
    const auto got = peer.finish();
    EXPECT_NE(got[0].find("RCPT TO: <two@example.test>\r\n"), std::string::npos);
    EXPECT_EQ(got[0].find("three@"), std::string::npos);
    EXPECT_EQ(smtp->Disconnect(), 6);  // the socket was closed
}

TEST(SmtpDialogueFaults, RefusedDataKeepsConnectionOpen)
{
    auto script = upToData();
    script.push_back(Say("554 no data today\r\n"));
    script.push_back(Hear());
    script.push_back(Say("221 bye\r\n"));
    ScriptedPeer peer({script});
    auto smtp = makeSmtp(peer);
    smtp->AddRecipients("To", "to@example.test", 1);
    EXPECT_EQ(smtp->Send(), 64);
    EXPECT_EQ(smtp->SMTPError(), "554 no data today\r\n");
    EXPECT_EQ(smtp->Disconnect(), 0);
    const auto got = peer.finish();
    EXPECT_NE(got[0].find("DATA\r\nQUIT\r\n"), std::string::npos);
}

TEST(SmtpDialogueFaults, ServerClosingInTheMiddleOfAnAttachment)
{
    const std::string path = ::testing::TempDir() + "smtp_big_attachment.bin";
    {
        std::ofstream f(path, std::ios::binary);
        f << std::string(8 * 1024 * 1024, 'x');
    }
    auto script = upToData();
    script.push_back(Say("354 go ahead\r\n"));
    script.push_back(Hangup());
    ScriptedPeer peer({script});
    auto smtp = makeSmtp(peer, 2);
    smtp->AddRecipients("To", "to@example.test", 1);
    ASSERT_EQ(smtp->AddAttachment(path, 2), 0);
    EXPECT_EQ(smtp->Send(), 10);  // a chunk could not be sent
    peer.finish();
    std::remove(path.c_str());
}

TEST(SmtpDialogueFaults, HostListSkipsServerGreetingWith554)
{
    ScriptedPeer peer({{Say("554 not for you\r\n"), Listen(2000)},
                       {Say(kGreeting), Hear(), Say("250 hello\r\n"), Hear(), Say("221 bye\r\n")}});
    auto smtp = makeSmtp(peer);
    smtp->Host("127.0.0.1;127.0.0.1");
    auto log = Record(*smtp);
    EXPECT_EQ(smtp->Connect(), 0);
    EXPECT_EQ(log->tasks(), (std::vector<int32_t>{1, 2, 3, 1, 2}));
    EXPECT_EQ(log->events[2].text, "CONNECT: Invalid Respond (554 not for you\r\n)");
    EXPECT_EQ(smtp->Disconnect(), 0);
    peer.finish();
}

TEST(SmtpDialogueFaults, HeloRefusedClosesWith32)
{
    ScriptedPeer peer({{Say(kGreeting), Hear(), Say("501 bad name\r\n"), Listen(2000)}});
    auto smtp = makeSmtp(peer);
    auto log = Record(*smtp);
    EXPECT_EQ(smtp->Connect(), 32);
    EXPECT_EQ(smtp->SMTPError(), "501 bad name\r\n");
    EXPECT_EQ(log->events.back().text, "CONNECT: Invalid Respond (501 bad name\r\n)");
    peer.finish();
}

namespace {

/// A host whose handler pumps its own message loop after each accepted transaction,
/// long enough for a close of the server to be noticed.
class PumpAfterTransaction : public EventLog {
public:
    void OnSMTPEvent(const std::string& text, int32_t task, int32_t p1, int32_t p2) override
    {
        EventLog::OnSMTPEvent(text, task, p1, p2);
        if (task != 12)
            return;
        for (int i = 0; i < 50; ++i) {
            std::this_thread::sleep_for(std::chrono::milliseconds(10));
            tolmail::platform::dispatchPending();
        }
    }
};

} // namespace

TEST(SmtpDialogueFaults, PlainModeFindingConnectionClosedReturnsHostDown)
{
    const std::string path = ::testing::TempDir() + "smtp_plain_attachment.txt";
    {
        std::ofstream f(path, std::ios::binary);
        f << "hello\n";
    }
    // The message text is accepted, then the server hangs up before the attachment's pass.
    auto script = upToData();
    script.push_back(Say("354 go ahead\r\n"));
    script.push_back(HearData());
    script.push_back(Say("250 queued\r\n"));
    script.push_back(Hangup());
    ScriptedPeer peer({script});
    auto smtp = makeSmtp(peer);
    smtp->UseMIME(false);
    smtp->AddRecipients("To", "to@example.test", 1);
    ASSERT_EQ(smtp->AddAttachment(path, 2), 0);
    auto log = std::make_shared<PumpAfterTransaction>();
    smtp->Advise(log);
    EXPECT_EQ(smtp->Send(), 6);
    EXPECT_EQ(smtp->SMTPError(), "Host is down.");
    EXPECT_EQ(log->tasks(), (std::vector<int32_t>{1, 2, 10, 11, 12}));
    const auto got = peer.finish();
    EXPECT_EQ(got[0].find("begin 777"), std::string::npos);
    std::remove(path.c_str());
}
