// Retrieval against hostile server streams: a message cut short by a stall or a close,
// a header line over the limit, a close right after a complete message. Whatever
// happens, nothing is deleted that was not stored whole, and a session whose place in
// the stream is unknown ends without the QUIT that would commit deletions.
#include <gtest/gtest.h>

#include <filesystem>

#include "body_fixture.h"
#include "support/loopback_peer.h"

namespace tolmail::testing {
namespace {

using loopback::Hangup;
using loopback::Hear;
using loopback::Hold;
using loopback::Say;
using loopback::Script;
using Lines = std::vector<std::string>;

const std::string kMultipart =
    "Subject: parts\r\nContent-Type: multipart/mixed; boundary=\"b\"\r\n\r\n"
    "--b\r\nContent-Type: text/plain\r\n\r\nhello\r\n.. stuffed\r\n"
    "--b\r\nContent-Type: application/octet-stream; name=\"a.bin\"\r\nContent-Transfer-Encoding: base64\r\n\r\n" +
    std::string(200, 'Q') + "\r\n--b--\r\n.\r\n";
const std::string kSingle = "Subject: single\r\n\r\nfirst line\r\nbegin 644 f.zip\r\n#86)C\r\n`\r\nend\r\nafter\r\n.\r\n";

/// The log-in dialogue for a mailbox of `count` messages, then "RETR 1" heard.
Script LogInAndRetr(int count)
{
    return {Say("+OK ready\r\n"), Hear(), Say("+OK\r\n"),  Hear(), Say("+OK\r\n"),
            Hear(), Say("+OK " + std::to_string(count) + " 999\r\n"), Hear()};
}

Script Then(Script script, std::initializer_list<loopback::Step> more)
{
    script.insert(script.end(), more);
    return script;
}

/// After a failure in step: "RETR 2" is answered with a message of its own, then QUIT.
const std::initializer_list<loopback::Step> kSecondMessage = {
    Hear(), Say("+OK\r\nSubject: second\r\n\r\nbody\r\n.\r\n"), Hear(), Say("+OK bye\r\n")};

/// A header line of `length` characters (CR LF not counted) that ends in ".".
std::string LongLine(size_t length)
{
    return "X-Long: " + std::string(length - 9, 'x') + ".\r\n";
}

class RetrievalFaults : public BodyFixture {
protected:
    /// A fresh component logs in to the peer.
    void Start(loopback::ScriptedPeer& peer, const std::string& cache = {}, int32_t maxMem = 16384)
    {
        pop3_ = TolvanPOP3::Create();
        pop3_->CachedDirectory(cache.empty() ? dir_ : cache);
        pop3_->MaxMemAttachment(maxMem);
        pop3_->Host("127.0.0.1");
        pop3_->Port(static_cast<int16_t>(peer.port()));
        pop3_->Login("user");
        pop3_->TimeOut(5);
        EXPECT_EQ(pop3_->Connect(), 0);
    }
    /// ... and retrieves every message.
    int32_t Run(loopback::ScriptedPeer& peer, int32_t param, const std::string& cache = {}, int32_t maxMem = 16384)
    {
        Start(peer, cache, maxMem);
        return pop3_->GetMessages(static_cast<uint8_t>(param));
    }
};

TEST_F(RetrievalFaults, NothingIsDeletedAfterAFailureAndALostPlaceEndsWithoutQuit)
{
    const std::string oneMiB(1 << 20, 'x');
    struct Case {
        const char* name;
        Script script;
        int32_t result;
        bool inStep;  // the session can go on: the next message is read in order
        int32_t param = 2;
        std::string cache = {};  // a directory that cannot take files, or empty for the test's own
    };
    const std::string noCache = dir_ + "missing/";
    const std::string single = "+OK\r\nSubject: s\r\n\r\ntext\r\n.\r\n";
    const size_t mid = kMultipart.find("QQQ") + 50;
    const Case cases[] = {
        {"close inside a part", Then(LogInAndRetr(2), {Say("+OK\r\n" + kMultipart.substr(0, mid)), Hangup()}), 2,
         false},
        {"close before the terminator", Then(LogInAndRetr(2), {Say("+OK\r\n" + kMultipart.substr(0, kMultipart.size() - 3)), Hangup()}),
         2, false},
        {"stall inside a part", Then(LogInAndRetr(2), {Say("+OK\r\n" + kMultipart.substr(0, mid)), Hold()}), 1, false},
        {"header line over 1 MiB ending in a dot",
         Then(LogInAndRetr(2), {Say("+OK\r\nSubject: a\r\n" + LongLine(oneMiB.size() + 1) + "Subject: b\r\n\r\n.\r\n")}),
         64, true},
        {"header line of 1 MiB",
         Then(LogInAndRetr(2), {Say("+OK\r\nSubject: a\r\n" + LongLine(oneMiB.size()) + "\r\nbody\r\n.\r\n")}),
         64, true},
        {"reply that is neither +OK nor -ERR", Then(LogInAndRetr(2), {Say("hello\r\n"), Hold()}), 64, false},
        {"refused", Then(LogInAndRetr(2), {Say("-ERR no such message\r\n")}), 16, true},
        {"part file cannot be created", Then(LogInAndRetr(2), {Say("+OK\r\n" + kMultipart)}), 4, true, 2, noCache},
        {"text file cannot be created", Then(LogInAndRetr(2), {Say(single)}), 8, true, 6, noCache},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        Script script = c.script;
        if (c.inStep)
            script.insert(script.end(), kSecondMessage);
        loopback::ScriptedPeer peer({script});
        EXPECT_EQ(Run(peer, c.param, c.cache, 100), c.result);
        EXPECT_NE(pop3_->POP3Error(), "No Error");
        if (c.inStep) {
            Ref<Message> second = pop3::AddMessage(*pop3_->Messages(), 2, pop3_);
            EXPECT_EQ(second->GetMessage(0), 0);
            EXPECT_EQ(second->Subject(), "second") << "the session is in step";
            EXPECT_EQ(pop3_->Disconnect(), 0);
        } else {
            EXPECT_EQ(pop3_->KeepAlive(), 2) << "the session was ended";
            EXPECT_EQ(pop3_->Disconnect(), 1);
        }
        peer.finish();
        const Lines heard = peer.lines();
        const Lines want = c.inStep ? Lines{"USER user", "PASS ", "STAT", "RETR 1", "RETR 2", "QUIT"}
                                    : Lines{"USER user", "PASS ", "STAT", "RETR 1"};
        EXPECT_EQ(heard, want);
        // A part cut short is not left looking complete.
        auto parts = pop3_->Messages()->Item(Variant(1))->Attachments();
        for (int32_t i = 1; i <= parts->Count(); ++i) {
            if (parts->Item(Variant(i))->ContentSubType() == "OCTET-STREAM") {
                EXPECT_EQ(parts->Item(Variant(i))->Size(), "200");
            }
        }
    }
}

TEST_F(RetrievalFaults, AHeaderLineOverTheLimitAfterTopKeepsTheSessionInStep)
{
    // STAT, then LIST 1 and TOP 1 twice.
    loopback::ScriptedPeer peer({Then(
        LogInAndRetr(1), {Say("+OK 1 999\r\n"), Hear(), Say("+OK\r\nSubject: a\r\n" + LongLine((1 << 20) + 1) + "Subject: b\r\n.\r\n"),
                          Hear(), Say("+OK 1 999\r\n"), Hear(), Say("+OK\r\nSubject: again\r\n.\r\n"), Hear(), Say("+OK bye\r\n")})});
    Start(peer);
    EXPECT_EQ(pop3_->GetMessageHeader(), 64);
    EXPECT_EQ(pop3_->POP3Error(), "Protocol error: line longer than 1 MiB");
    EXPECT_EQ(pop3_->GetMessageHeader(), 0);
    EXPECT_EQ(pop3_->Messages()->Item(Variant(1))->Subject(), "again");
    EXPECT_EQ(pop3_->Disconnect(), 0);
}

TEST_F(RetrievalFaults, AMessageFollowedAtOnceByACloseIsKept)
{
    for (const std::string& body : {kMultipart, kSingle}) {
        loopback::ScriptedPeer peer({Then(LogInAndRetr(1), {Say("+OK\r\n" + body), Hangup()})});
        EXPECT_EQ(Run(peer, 0), 0) << body.substr(0, 15);
        auto message = pop3_->Messages()->Item(Variant(1));
        EXPECT_FALSE(message->MessageText().empty());
        EXPECT_EQ(message->Attachments()->Count(), body == kSingle ? 1 : 2);
        EXPECT_EQ(pop3_->POP3Error(), "No Error");
        // The deletion cannot be made any more, and says so.
        EXPECT_EQ(message->GetMessage(2), 2);
        EXPECT_EQ(pop3_->POP3Error(), "Not connected");
    }
}

TEST_F(RetrievalFaults, AnUnansweredDeleSaysWhetherTheServerWentAwayOrFellSilent)
{
    // A reset that crosses the DELE is a lost connection, never taken for a time-out.
    const std::string message = "+OK\r\nSubject: s\r\n\r\ntext\r\n.\r\n";
    struct Case {
        loopback::Step after;
        int32_t result;
        const char* text;
    } cases[] = {{Hangup(), 2, "Connection lost before the reply to DELE"}, {Hold(), 1, "No reply to DELE"}};
    for (const Case& c : cases) {
        loopback::ScriptedPeer peer({Then(LogInAndRetr(1), {Say(message), Hear(), c.after})});
        EXPECT_EQ(Run(peer, 2), c.result);
        EXPECT_EQ(pop3_->POP3Error(), c.text);
        EXPECT_EQ(pop3_->KeepAlive(), 2) << "the session was ended without QUIT";
        peer.finish();
    }
}

TEST_F(RetrievalFaults, EveryCutOfTheStreamFailsAndDeletesNothing)
{
    const std::string wire = "+OK\r\n" + kMultipart;
    for (size_t cut = 0; cut < wire.size(); cut += 1 + cut / 16) {
        SCOPED_TRACE("cut at " + std::to_string(cut));
        loopback::ScriptedPeer peer({Then(LogInAndRetr(2), {Say(wire.substr(0, cut)), Hangup()})});
        const int32_t result = Run(peer, 2);
        EXPECT_EQ(result, 2);
        peer.finish();
        EXPECT_EQ(peer.lines().back(), "RETR 1");
        if (HasFailure())
            return;
    }
}

/// Bodies fed from a buffer that ends early or is split at every offset.
class CutBody : public BodyFixture {};

TEST_F(CutBody, AWalkCutShortAnywhereFailsAndKeepsOnlyWholeParts)
{
    pop3_->MaxMemAttachment(64);  // the second part goes to a file
    // A line of the first part that begins like its delimiter.
    std::string wire = kMultipart.substr(kMultipart.find("\r\n\r\n") + 4);
    wire.insert(wire.find("hello\r\n") + 7, "--bogus\r\n");
    for (size_t cut = 0; cut <= wire.size(); ++cut) {
        SCOPED_TRACE("cut at " + std::to_string(cut));
        Ref<Message> message = NewMessage();
        pop3::DotReader reader = ReaderOver({wire.substr(0, cut)});
        std::string buffer;
        const int32_t result = Impl(message).WalkMultipart("b", buffer, reader);
        std::vector<Ref<Attachment>> parts;
        for (const auto& part : message->Attachments()->NewEnum())
            parts.push_back(part);
        if (cut == wire.size()) {
            EXPECT_EQ(result, 0);
            ASSERT_EQ(parts.size(), 2u);
            continue;
        }
        EXPECT_EQ(result, 1);
        // The second part counts only once its closing delimiter is in.
        ASSERT_LE(parts.size(), cut >= wire.find("\r\n--b--") + 7 ? 2u : 1u);
        if (!parts.empty()) {
            EXPECT_EQ(BodyOf(parts[0]), "hello\r\n--bogus\r\n. stuffed");
        }
        if (parts.size() == 2) {
            EXPECT_EQ(BodyOf(parts[1]), std::string(200, 'Q'));
        }
        if (HasFailure())
            return;
    }
    pop3_->Messages()->DeleteAllMessage();
    EXPECT_EQ(FilesInCache(), 0u) << "a removed part leaves no file behind";
}

TEST_F(CutBody, TextOnDiskAtEveryCutOfASinglePart)
{
    pop3_->MaxMemAttachment(3);  // the uuencoded block goes to a file
    const std::string text = kSingle.substr(kSingle.find("\r\n\r\n") + 4);
    for (size_t cut = 0; cut <= text.size(); ++cut) {
        SCOPED_TRACE("cut at " + std::to_string(cut));
        Ref<Message> message = NewMessage("text", "plain");
        pop3::DotReader reader = ReaderOver(SplitAt(text, {cut}));
        ASSERT_EQ(Impl(message).ReadSinglePart(reader, true), 0);
        EXPECT_EQ(message->MessageText(), "");
        std::string onDisk;
        ASSERT_EQ(codec::ReadWholeFile(message->FullMsgFilename(), onDisk), 0);
        EXPECT_EQ(onDisk, "first line\r\nafter\r\n");
        ASSERT_EQ(message->Attachments()->Count(), 1);
        EXPECT_EQ(BodyOf(message->Attachments()->Item(Variant(1))), "#86)C\r\n`\r\n");
        // Cut short, neither the text file nor the block's file stays.
        Ref<Message> cutShort = NewMessage("text", "plain");
        pop3::DotReader silent = ReaderOver({text.substr(0, cut)});
        if (cut < text.size()) {
            EXPECT_EQ(Impl(cutShort).ReadSinglePart(silent, true), 1);
            EXPECT_EQ(cutShort->FullMsgFilename(), "");
        }
        if (HasFailure())
            return;
    }
    pop3_->Messages()->DeleteAllMessage();
    EXPECT_EQ(FilesInCache(), 0u);
}

TEST_F(CutBody, BlocksWithoutTheirEndStayText)
{
    const std::string cases[] = {
        "a\r\nbegin 644 f.zip\r\nM86)C\r\nno end here\r\n",  // never ended: given back in place
        "a\r\nbegin 644 f.zip\r\nend\r\nb\r\n",                // empty: not lifted
        "a\r\nbegin 64 f.zip\r\nM86)C\r\nend\r\n",            // mode of two characters
    };
    for (bool onDisk : {false, true}) {
        for (const std::string& text : cases) {
            pop3_->MaxMemAttachment(onDisk ? 2 : 16384);
            Ref<Message> message = NewMessage("text", "plain");
            pop3::DotReader reader = ReaderOver({Stuffed(text)});
            ASSERT_EQ(Impl(message).ReadSinglePart(reader, onDisk), 0);
            std::string got = message->MessageText();
            if (onDisk) {
                ASSERT_EQ(codec::ReadWholeFile(message->FullMsgFilename(), got), 0);
            }
            EXPECT_EQ(got, text);
            EXPECT_EQ(message->Attachments()->Count(), 0);
        }
    }
    pop3_->Messages()->DeleteAllMessage();
    EXPECT_EQ(FilesInCache(), 0u);
}

} // namespace
} // namespace tolmail::testing
