// GetMessage with bit 8: the message kept in the cache exactly as it arrived, whatever
// its shape and however the stream is split, and never a copy of a message cut short.
#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>

#include "body_fixture.h"
#include "support/loopback_peer.h"

namespace tolmail::testing {
namespace {

using loopback::Hangup;
using loopback::Hear;
using loopback::Hold;
using loopback::Listen;
using loopback::Say;
using loopback::Script;

constexpr int32_t kRaw = 8;
constexpr int32_t kTextOnDisk = 4;

const std::string kSingle = "From: Ann <ann@example.net>\r\nSubject: dots\r\nMessage-ID: <1@example.net>\r\n\r\n"
                            "first\r\n.\r\n..two dots\r\n.leading\r\nbegin 644 f.zip\r\n#86)C\r\n`\r\nend\r\n"
                            "last line\r\n";
const std::string kMultipart = "Subject: parts\r\nMIME-Version: 1.0\r\n"
                               "Content-Type: multipart/mixed;\r\n boundary=\"b\"\r\n\r\npreamble\r\n"
                               "--b\r\nContent-Type: text/plain\r\n\r\nhello\r\n.. stuffed\r\n"
                               "--b\r\nContent-Type: application/octet-stream; name=\"a.bin\"\r\n"
                               "Content-Transfer-Encoding: base64\r\n\r\naGVsbG8=\r\n--b--\r\nepilogue\r\n.\r\n";

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

std::string FileText(const std::string& path)
{
    std::string content;
    EXPECT_EQ(codec::ReadWholeFile(path, content), 0) << path;
    return content;
}

class RawCopy : public BodyFixture {
protected:
    void Start(loopback::ScriptedPeer& peer, const std::string& cache)
    {
        pop3_ = TolvanPOP3::Create();
        pop3_->CachedDirectory(cache);
        pop3_->Host("127.0.0.1");
        pop3_->Port(static_cast<int16_t>(peer.port()));
        pop3_->Login("user");
        pop3_->TimeOut(5);
        ASSERT_EQ(pop3_->Connect(), 0);
    }
    Ref<Message> First() { return pop3_->Messages()->Item(Variant(1)); }
    size_t RawFilesIn(const std::string& dir) const
    {
        size_t n = 0;
        for (const auto& entry : std::filesystem::directory_iterator(dir))
            n += entry.path().extension() == ".EML";
        return n;
    }
};

TEST_F(RawCopy, TheFileHoldsTheMessageAsServedWithTheStuffingUndone)
{
    const std::string header = kSingle.substr(0, kSingle.find("\r\n\r\n") + 4);
    const std::string wire = Stuffed(kSingle);
    const size_t inLine = wire.find("two dots") + 3;
    const struct {
        const char* name;
        std::string message;
        std::initializer_list<loopback::Step> serve;
        int32_t param;
    } cases[] = {
        {"single part, text in memory", kSingle, {Say("+OK\r\n" + wire)}, kRaw},
        {"single part, text on disk", kSingle, {Say("+OK\r\n" + wire)}, kRaw | kTextOnDisk},
        {"line and stuffed dot split across reads", kSingle,
         {Say("+OK\r\n" + wire.substr(0, inLine)), Listen(50), Say(wire.substr(inLine, 4)), Listen(50),
          Say(wire.substr(inLine + 4))},
         kRaw | kTextOnDisk},
        {"terminator split across reads", kSingle,
         {Say("+OK\r\n" + wire.substr(0, wire.size() - 2)), Listen(50), Say("\r\n")}, kRaw},
        {"multipart with preamble and epilogue", kMultipart, {Say("+OK\r\n" + Stuffed(kMultipart))},
         kRaw | kTextOnDisk},
        {"header only", "Subject: none\r\n.dotted: x\r\n", {Say("+OK\r\nSubject: none\r\n..dotted: x\r\n.\r\n")},
         kRaw},
        {"empty body", header, {Say("+OK\r\n" + Stuffed(header))}, kRaw},
        {"no copy asked for", "", {Say("+OK\r\n" + wire)}, kTextOnDisk},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        loopback::ScriptedPeer peer({Then(Then(LogInAndRetr(1), c.serve), {Hear(), Say("+OK bye\r\n")})});
        Start(peer, dir_);
        ASSERT_EQ(pop3_->GetMessages(static_cast<uint8_t>(c.param)), 0) << pop3_->POP3Error();
        Ref<Message> message = First();
        EXPECT_EQ(RawFilesIn(dir_), (c.param & kRaw) ? 1u : 0u);
        EXPECT_EQ(message->RawMsgFilename().empty(), (c.param & kRaw) == 0);
        if ((c.param & kRaw) != 0) {
            EXPECT_EQ(FileText(message->RawMsgFilename()), c.message);
        }
        EXPECT_EQ(message->FullMsgFilename().empty(), (c.param & kTextOnDisk) == 0);
        EXPECT_NE(message->FullMsgFilename(), message->RawMsgFilename());
        EXPECT_EQ(pop3_->Disconnect(), 0);
        pop3_->Messages()->DeleteAllMessage();
        message.reset();
        EXPECT_EQ(FilesInCache(), 0u) << "the copy goes with its message";
    }
}

TEST_F(RawCopy, NoCopyOfAMessageThatFailedAndTheSessionStaysInStep)
{
    const std::string wire = "+OK\r\n" + Stuffed(kMultipart);
    const std::string second = "+OK\r\nSubject: second\r\n\r\nbody\r\n.\r\n";
    const std::string noCache = dir_ + "missing/";
    const struct {
        const char* name;
        std::initializer_list<loopback::Step> serve;
        std::string cache;
        int32_t result;
        bool inStep;  // the next RETR is answered and read in order
        const char* says;
    } cases[] = {
        {"cache cannot take the file", {Say(wire)}, noCache, 8, true, "No such file or directory"},
        {"closed inside the body", {Say(wire.substr(0, wire.find("aGVs"))), Hangup()}, dir_, 2, false, "lost"},
        {"closed inside the header", {Say(wire.substr(0, 20)), Hangup()}, dir_, 2, false, "lost"},
        {"stalled before the terminator", {Say(wire.substr(0, wire.size() - 3)), Hold()}, dir_, 1, false, "Timeout"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        Script script = Then(LogInAndRetr(2), c.serve);
        if (c.inStep)
            script = Then(script, {Hear(), Say(second), Hear(), Say("+OK bye\r\n")});
        loopback::ScriptedPeer peer({script});
        Start(peer, c.cache);
        Ref<Message> first = pop3::AddMessage(*pop3_->Messages(), 1, pop3_);
        EXPECT_EQ(first->GetMessage(kRaw | 2), c.result);
        EXPECT_NE(pop3_->POP3Error().find(c.says), std::string::npos) << pop3_->POP3Error();
        if (c.result == 8) {
            EXPECT_NE(pop3_->POP3Error().find(noCache), std::string::npos) << "names the place";
        }
        EXPECT_EQ(first->RawMsgFilename(), "");
        EXPECT_EQ(RawFilesIn(dir_), 0u) << "a copy cut short is removed";
        if (c.inStep) {
            Ref<Message> next = pop3::AddMessage(*pop3_->Messages(), 2, pop3_);
            EXPECT_EQ(next->GetMessage(0), 0);
            EXPECT_EQ(next->Subject(), "second");
            EXPECT_EQ(pop3_->Disconnect(), 0);
        }
        peer.finish();
        const std::vector<std::string> heard = peer.lines();
        EXPECT_EQ(std::count(heard.begin(), heard.end(), "DELE 1"), 0) << "nothing failed is deleted";
    }
}

} // namespace
} // namespace tolmail::testing
