// Dialogue faults against scripted loopback peers: silent and multi-line greetings,
// refusals, a server that hangs up, and the host list.
#include <gtest/gtest.h>

#ifndef _WIN32
#include <netinet/in.h>
#include <sys/socket.h>
#endif
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <fstream>
#include <random>
#include <thread>

#include "smtp/event_log.h"
#include "platform/message_loop.h"
#include "support/loopback_peer.h"
#include "tolmail/TolvanSMTP.h"
#include "tolmail/TolvanSocket.h"

using namespace loopback;
using namespace smtptest;
using tolmail::TolvanSMTP;

namespace {

const std::string kGreeting = "220 peer ready\r\n";

tolmail::Ref<TolvanSMTP> makeSmtp(uint16_t port, int timeOut = 3)
{
    auto smtp = TolvanSMTP::Create();
    smtp->Host("127.0.0.1");
    smtp->Port(static_cast<int16_t>(port));
    smtp->TimeOut(timeOut);
    smtp->FromEmail("sender@example.test");
    smtp->DateTime("Mon, 07 Dec 2026 10:00:00 +0000");
    return smtp;
}

tolmail::Ref<TolvanSMTP> makeSmtp(const ScriptedPeer& peer, int timeOut = 3)
{
    return makeSmtp(peer.port(), timeOut);
}

Script Then(Script script, std::initializer_list<Step> more)
{
    script.insert(script.end(), more);
    return script;
}

const Script kHello = {Say(kGreeting), Hear(), Say("250 hello\r\n"), Hear()};

Script upToData()
{
    return Then(kHello, {Say("250 sender ok\r\n"), Hear(), Say("250 rcpt ok\r\n"), Hear()});
}

std::string attachmentFile(const std::string& name, size_t size)
{
    // Per process: test runs of other builds on this machine use the same folder.
    const std::string path = ::testing::TempDir() + std::to_string(::getpid()) + "-" + name;
    std::mt19937 rng(static_cast<unsigned>(size));
    std::string data(size, '\0');
    for (char& c : data)
        c = static_cast<char>(rng());
    std::ofstream(path, std::ios::binary) << data;
    return path;
}

} // namespace

TEST(SmtpDialogueFaults, RefusalsAndSilenceEndTheCallWithTheirCodeAndText)
{
    struct Case {
        const char* name;
        Script script;
        int recipients;  // 0: Connect, else Send to this many
        int32_t result;
        std::string error;
        std::string lastEvent = {};   // checked when given
        int32_t disconnect = -1;      // checked when not -1
        std::string heard = {};       // the peer heard this, when given
        std::string notHeard = {};    // and never this, when given
    };
    const Case cases[] = {
        {.name = "silent greeting", .script = {Listen(4000)}, .recipients = 0, .result = 6,
         .error = "No greeting from 127.0.0.1 port {port} within 1 s", .lastEvent = "CONNECT: Invalid Respond ()"},
        {.name = "HELO refused", .script = {Say(kGreeting), Hear(), Say("501 bad name\r\n"), Listen(2000)},
         .recipients = 0, .result = 32, .error = "501 bad name\r\n",
         .lastEvent = "CONNECT: Invalid Respond (501 bad name\r\n)"},
        {.name = "MAIL refused in two lines", .script = Then(kHello, {Say("550-no such sender\r\n550 go away\r\n"), Listen(2000)}),
         .recipients = 1, .result = 64, .error = "550-no such sender\r\n550 go away\r\n"},
        {.name = "MAIL unanswered, closed", .script = Then(kHello, {Hangup()}), .recipients = 1, .result = 64,
         .error = "The server closed the connection without a reply"},
        {.name = "MAIL unanswered, silent", .script = Then(kHello, {Listen(2500)}), .recipients = 1, .result = 64,
         .error = "No reply from the server within 1 s"},
        {.name = "second of three recipients refused",
         .script = Then(kHello, {Say("250 ok\r\n"), Hear(), Say("250 ok\r\n"), Hear(), Say("550 unknown user\r\n"), Listen(2000)}),
         .recipients = 3, .result = 5, .error = "550 unknown user\r\n", .disconnect = 6,
         .heard = "RCPT TO: <two@example.test>\r\n", .notHeard = "three@"},
        // A refused DATA keeps the connection; an unanswered one closes it, for a "354"
        // that came late would make the commands data.
        {.name = "DATA refused", .script = Then(upToData(), {Say("554 no data today\r\n"), Hear(), Say("221 bye\r\n")}),
         .recipients = 1, .result = 64, .error = "554 no data today\r\n", .disconnect = 0, .heard = "DATA\r\nQUIT\r\n"},
        {.name = "DATA unanswered", .script = Then(upToData(), {Listen(3000)}), .recipients = 1, .result = 64,
         .error = "No reply from the server within 1 s",
         .disconnect = 6, .notHeard = "DATA\r\nQUIT\r\n"},
    };
    const char* names[] = {"One", "Two", "Three"};
    const char* addresses[] = {"one@example.test", "two@example.test", "three@example.test"};
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        ScriptedPeer peer({c.script});
        auto smtp = makeSmtp(peer, 1);
        auto log = Record(*smtp);
        for (int i = 0; i < c.recipients; ++i)
            smtp->AddRecipients(names[i], addresses[i], i + 1);
        EXPECT_EQ(c.recipients == 0 ? smtp->Connect() : smtp->Send(), c.result);
        std::string error = c.error;
        if (const size_t at = error.find("{port}"); at != std::string::npos)
            error.replace(at, 6, std::to_string(peer.port()));
        EXPECT_EQ(smtp->SMTPError(), error);
        if (c.recipients == 0) {
            ASSERT_EQ(log->tasks(), (std::vector<int32_t>{1, 2, 3}));
            EXPECT_EQ(log->events[0].text, "CONNECT: Connecting to destination host (127.0.0.1)");
            EXPECT_EQ(log->events[1].text, "CONNECT: Connected to 127.0.0.1");
        }
        EXPECT_TRUE(c.lastEvent.empty() || log->events.back().text == c.lastEvent);
        EXPECT_TRUE(c.disconnect == -1 || smtp->Disconnect() == c.disconnect);
        const std::string got = peer.finish()[0];
        EXPECT_TRUE(c.heard.empty() || got.find(c.heard) != std::string::npos) << got;
        EXPECT_TRUE(c.notHeard.empty() || got.find(c.notHeard) == std::string::npos) << got;
    }
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

TEST(SmtpDialogueFaults, ServerClosingInTheMiddleOfAnAttachment)
{
    const std::string path = attachmentFile("smtp_big_attachment.bin", 8 * 1024 * 1024);
    ScriptedPeer peer({Then(upToData(), {Say("354 go ahead\r\n"), Hangup()})});
    auto smtp = makeSmtp(peer, 2);
    smtp->AddRecipients("To", "to@example.test", 1);
    ASSERT_EQ(smtp->AddAttachment(path, 2), 0);
    EXPECT_EQ(smtp->Send(), 128);  // the transfer broke off
    EXPECT_EQ(smtp->Disconnect(), 6);  // the unfinished message was dropped with the connection
    peer.finish();
    std::remove(path.c_str());
}

TEST(SmtpDialogueFaults, HostListSkipsServerGreetingWith554)
{
    ScriptedPeer peer({{Say("554 not for you\r\n"), Listen(2000)}, Then(kHello, {Say("221 bye\r\n")})});
    auto smtp = makeSmtp(peer);
    smtp->Host("127.0.0.1;127.0.0.1");
    auto log = Record(*smtp);
    EXPECT_EQ(smtp->Connect(), 0);
    EXPECT_EQ(log->tasks(), (std::vector<int32_t>{1, 2, 3, 1, 2}));
    EXPECT_EQ(log->events[2].text, "CONNECT: Invalid Respond (554 not for you\r\n)");
    EXPECT_EQ(smtp->Disconnect(), 0);
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
    const std::string path = attachmentFile("smtp_plain_attachment.txt", 6);
    // The message text is accepted, then the server hangs up before the attachment's pass.
    ScriptedPeer peer({Then(upToData(), {Say("354 go ahead\r\n"), HearData(), Say("250 queued\r\n"), Hangup()})});
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

namespace {

/// How the server takes the DATA section.
enum class AtData {
    Slow,    // reads it in small pieces, never pausing for long, then accepts it
    Stop,    // reads the first 64 KiB, then reads no more
    Close,   // reads the first 64 KiB, then hangs up
    Silent,  // reads it all and never answers
    Refuse,  // reads it all and refuses it
};

/// A server on a plain socket: accepts HELO, MAIL, RCPT and DATA, then takes the data
/// as `mode` says. `done` ends its waits once the client's call has returned.
void serveData(int fd, AtData mode, const std::atomic<bool>& done)
{
    std::string got;
    size_t consumed = 0;
    const auto line = [&](const std::string& marker) {
        // The end-of-data marker starts with the CR LF that ended the line before.
        const size_t from = marker.size() > 2 && consumed >= 2 ? consumed - 2 : consumed;
        const size_t end = readUntil(fd, got, marker, from, after(kWaitMs), &done);
        consumed = end == std::string::npos ? got.size() : end;
        return end != std::string::npos;
    };
    sendAll(fd, kGreeting);
    for (const char* reply : {"250 hello\r\n", "250 sender ok\r\n", "250 rcpt ok\r\n", "354 go ahead\r\n"}) {
        if (!line("\r\n") || !sendAll(fd, reply))
            return;
    }
    if (mode == AtData::Slow) {
        const int small = 16 * 1024;
        ::setsockopt(fd, SOL_SOCKET, SO_RCVBUF, reinterpret_cast<const char*>(&small), sizeof small);
        char buffer[8 * 1024];
        for (const auto deadline = after(kWaitMs); got.find("\r\n.\r\n", consumed - 2) == std::string::npos;) {
            pause(25);
            const auto n = readable(fd, deadline, &done) ? ::recv(fd, buffer, sizeof buffer, 0) : 0;
            if (n <= 0)
                return;
            got.append(buffer, static_cast<size_t>(n));
        }
        consumed = got.size();
    } else if (mode == AtData::Stop || mode == AtData::Close) {
        while (got.size() < consumed + 64 * 1024 && readSome(fd, got, after(kWaitMs), &done)) {
        }
        for (int i = 0; mode == AtData::Stop && i < 2000 && !done; ++i)
            pause(10);
        return;
    } else if (!line("\r\n.\r\n")) {
        return;
    }
    if (mode == AtData::Silent) {
        while (readSome(fd, got, after(kWaitMs), &done)) {
        }
        return;
    }
    sendAll(fd, mode == AtData::Slow ? "250 queued\r\n" : "554 5.6.0 no thanks\r\n");
    if (line("\r\n"))
        sendAll(fd, "221 bye\r\n");
}

} // namespace

TEST(SmtpDialogueFaults, DataTransferEndsInSuccessOnlyWhenTheServerAcceptedIt)
{
#ifdef _WIN32
    // Telling a slow server from a stalled one needs the count of unsent bytes, which
    // Winsock does not give: there the wait for the reply ends after one time-out.
    GTEST_SKIP() << "no count of unsent bytes on Windows";
#endif
    struct Case {
        AtData mode;
        int32_t result;
        std::string error;  // SMTPError starts with it
        int32_t disconnect;
    };
    const Case cases[] = {
        {AtData::Slow, 0, "No Error", 0},
        {AtData::Stop, 128, "Time-out while sending the data", 6},
        {AtData::Close, 128, "", 6},
        {AtData::Silent, 64, "No reply from the server after the data", 6},
        {AtData::Refuse, 64, "554 5.6.0 no thanks\r\n", 0},
    };
    // About 800 KiB on the wire: the kernel takes it all at once, and the slow server
    // needs some 2.5 seconds to read it, well over the time-out.
    const std::string path = attachmentFile("smtp_data_faults.bin", 600 * 1024);
    for (const Case& c : cases) {
        SCOPED_TRACE(static_cast<int>(c.mode));
        std::atomic<bool> done{false};
        Peer peer([&](int fd) { serveData(fd, c.mode, done); });
        auto smtp = makeSmtp(peer.port(), 1);
        smtp->AddRecipients("To", "to@example.test", 1);
        ASSERT_EQ(smtp->AddAttachment(path, 2), 0);
        const auto started = Clock::now();
        EXPECT_EQ(smtp->Send(), c.result);
        EXPECT_EQ(smtp->SMTPError().rfind(c.error, 0), 0u) << smtp->SMTPError();
        if (c.result == 128) {
            EXPECT_NE(smtp->SMTPError().find("the message was not sent"), std::string::npos) << smtp->SMTPError();
        }
        EXPECT_LT(Clock::now() - started, std::chrono::seconds(15));
        EXPECT_EQ(smtp->Disconnect(), c.disconnect);
        done = true;
    }
    std::remove(path.c_str());
}

TEST(SmtpDialogueFaults, HostListMovesPastHostsThatRefuseTheConnection)
{
    // Nothing listens on 127.0.0.2 and .3 at the peer's port; the peer is on 127.0.0.1.
    auto probe = tolmail::TolvanSocket::Create();
    struct Case {
        std::string hosts;
        bool reached;
        size_t attempts;
    };
    const Case cases[] = {
        {"127.0.0.2;127.0.0.1", true, 2},
        {"127.0.0.2;127.0.0.3;127.0.0.1", true, 3},
        {"127.0.0.2", false, 1},
        {"127.0.0.2;127.0.0.3", false, 2},
    };
    for (const Case& c : cases) {
        ScriptedPeer peer({Replies({kGreeting, "250 hello\r\n", "221 bye\r\n"})});
        probe->Host("127.0.0.2");
        probe->Port(peer.port());
        const int32_t refused = probe->Connect();  // what the socket says for a refusal
        ASSERT_NE(refused, 0);
        auto smtp = makeSmtp(peer);
        smtp->Host(c.hosts);
        auto log = Record(*smtp);
        EXPECT_EQ(smtp->Connect(), c.reached ? 0 : refused) << c.hosts;
        std::vector<int32_t> tasks(c.attempts, 1);
        if (c.reached)
            tasks.push_back(2);
        EXPECT_EQ(log->tasks(), tasks) << c.hosts;
        EXPECT_EQ(smtp->Disconnect(), c.reached ? 0 : 6);
    }
}

namespace {

/// A host that lets go of its component from inside one of its events.
struct ReleaseOnTask : EventLog {
    ReleaseOnTask(tolmail::Ref<TolvanSMTP>& owner, int32_t task) : owner(owner), task(task) {}
    void OnSMTPEvent(const std::string& text, int32_t t, int32_t p1, int32_t p2) override
    {
        EventLog::OnSMTPEvent(text, t, p1, p2);
        if (t == task)
            owner.reset();
    }
    tolmail::Ref<TolvanSMTP>& owner;
    int32_t task;
};

} // namespace

TEST(SmtpDialogueFaults, ReleasingTheComponentInsideItsOwnEventIsSafe)
{
    const std::string path = attachmentFile("smtp_release.bin", 3000);
    for (const int32_t task : {1, 2, 10, 11, 20, 21, 12, 4, 6}) {
        SCOPED_TRACE(task);
        ScriptedPeer peer(
            {Then(upToData(), {Say("354 go ahead\r\n"), HearData(), Say("250 queued\r\n"), Hear(), Say("221 bye\r\n")})});
        auto smtp = makeSmtp(peer);
        smtp->AddRecipients("To", "to@example.test", 1);
        ASSERT_EQ(smtp->AddAttachment(path, 2), 0);
        TolvanSMTP* raw = smtp.get();
        auto host = std::make_shared<ReleaseOnTask>(smtp, task);
        raw->Advise(host);
        EXPECT_EQ(raw->Send(), 0);
        if (task >= 4 && task <= 7) {
            EXPECT_EQ(raw->Disconnect(), 0);  // the component lives until the call returns
        }
        EXPECT_EQ(smtp, nullptr);
        EXPECT_EQ(host->tasks().back(), task < 4 || task > 7 ? 12 : 6);
    }
    std::remove(path.c_str());
}
