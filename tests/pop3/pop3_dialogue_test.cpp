// TolvanPOP3's dialogue against scripted loopback peers: the host list, log-in
// failures, silence, session commands, the header loop's faults, Cancel and release order.
#include <gtest/gtest.h>

#include <functional>

#include "support/event_tables.h"
#include "support/loopback_peer.h"
#include "tolmail/TolvanPOP3.h"

namespace tolmail {
namespace {

using loopback::Replies;
using loopback::ScriptedPeer;
using Lines = std::vector<std::string>;
constexpr bool kHold = true;

struct Recorder : TolvanPOP3Events {
    std::vector<int32_t> tasks;
    std::string lastText;
    std::function<void(int32_t task, int32_t param2)> onEvent;
    void OnPOP3Event(const std::string& text, int32_t task, int32_t, int32_t param2) override
    {
        EXPECT_TRUE(eventtable::InTable(pop3_event::All, task, text)) << task << " " << text;
        tasks.push_back(task);
        lastText = text;
        if (onEvent)
            onEvent(task, param2);
    }
};

/// Greeting, USER, PASS and STAT replies, then `more`.
Lines LogIn(const std::string& stat, std::initializer_list<std::string> more = {})
{
    Lines script{"+OK ready\r\n", "+OK\r\n", "+OK logged in\r\n", stat};
    script.insert(script.end(), more);
    return script;
}

Ref<Message> Item(const Ref<TolvanPOP3>& pop, int32_t n)
{
    return pop->Messages()->Item(Variant(n));
}

class Pop3Dialogue : public ::testing::Test {
protected:
    Ref<TolvanPOP3> pop_;
    std::shared_ptr<Recorder> recorder_ = std::make_shared<Recorder>();

    void SetUp() override
    {
        pop_ = TolvanPOP3::Create();
        recorder_->tasks.clear();
        pop_->Advise(recorder_);
        pop_->Login("user");
        pop_->Password("secret");
        pop_->TimeOut(2);  // stored as 5
    }
    int32_t ConnectTo(const ScriptedPeer& peer, const std::string& host = "127.0.0.1")
    {
        pop_->Host(host);
        pop_->Port(static_cast<int16_t>(peer.port()));
        return pop_->Connect();
    }
};

TEST_F(Pop3Dialogue, DefaultsAndChecksBeforeConnecting)
{
    auto pop = TolvanPOP3::Create();
    EXPECT_EQ(pop->Port(), 110);
    EXPECT_EQ(pop->AlternativeType(), "PLAIN");
    EXPECT_EQ(pop->MaxMemAttachment(), 16384);
    EXPECT_EQ(pop->TimeOut(), 15);
    EXPECT_EQ(pop_->TimeOut(), 5);
    EXPECT_FALSE(pop->Cancel()) << "no loop runs to see the request";
    EXPECT_EQ(pop->Connect(), 4);
    EXPECT_EQ(pop->POP3Error(), "POP3 Host Required");
    pop->Host("127.0.0.1");
    EXPECT_EQ(pop->Connect(), 5);
    EXPECT_EQ(pop->POP3Error(), "Login name Required");

    ScriptedPeer untouched({Replies({"+OK\r\n"})});
    pop_->Password("x\r\nDELE 1");
    EXPECT_EQ(ConnectTo(untouched), 5);
    pop_->Login("user\n");
    pop_->Password("x");
    EXPECT_EQ(ConnectTo(untouched), 5);
    EXPECT_FALSE(untouched.accepted()) << "a line break in the credentials: nothing may be sent";
    EXPECT_TRUE(recorder_->tasks.empty());
}

TEST_F(Pop3Dialogue, ErrGreetingOnTheFirstHostLeavesTheRestUntried)
{
    ScriptedPeer first({Replies({"-ERR go away\r\n"}, kHold)}, "127.0.0.2");
    ScriptedPeer second({Replies({"+OK\r\n"})}, "127.0.0.3", first.port());
    ScriptedPeer third({Replies({"+OK\r\n"})}, "127.0.0.4", first.port());
    EXPECT_EQ(ConnectTo(first, "127.0.0.2;127.0.0.3;127.0.0.4"), 32);
    EXPECT_EQ(pop_->POP3Error(), "Not a POP3 Server");
    EXPECT_FALSE(second.accepted() || third.accepted());
    EXPECT_EQ(pop_->Connect(), 3) << "the socket stays connected after a wrong greeting";
}

TEST_F(Pop3Dialogue, RefusingHostsAndAnEmptyNameAreTriedInOrder)
{
    // Nothing listens on 127.0.0.2 at this port; ";;" makes an empty name between.
    ScriptedPeer answering({Replies(LogIn("+OK 2 320\r\n"), kHold)}, "127.0.0.4");
    EXPECT_EQ(ConnectTo(answering, "127.0.0.2;;127.0.0.4;"), 0);
    EXPECT_EQ(pop_->GetMessageCount(), 2);
    EXPECT_EQ(pop_->GetMessageSize(), 320);
    EXPECT_EQ(pop_->POP3Error(), "No Error");
    EXPECT_EQ(recorder_->tasks, (std::vector<int32_t>{1, 3}));
    EXPECT_EQ(answering.lines(), (Lines{"USER user", "PASS secret", "STAT"}));
}

TEST_F(Pop3Dialogue, RefusedPasswordAndSilence)
{
    {
        ScriptedPeer peer({Replies({"+OK\r\n", "+OK\r\n", "-ERR [AUTH] no\r\n"}, kHold)});
        EXPECT_EQ(ConnectTo(peer), 5);
        EXPECT_EQ(recorder_->tasks, (std::vector<int32_t>{1, 2}));
        EXPECT_EQ(recorder_->lastText, "AUTHORIZATION: Denied");
        EXPECT_EQ(pop_->POP3Error(), "Login Failure / [AUTH] no\r\n");
    }
    SetUp();
    ScriptedPeer silent({Replies({"+OK\r\n"}, kHold)});
    EXPECT_EQ(ConnectTo(silent), 1);
    EXPECT_EQ(recorder_->lastText, "AUTHORIZATION: Timeout");
    EXPECT_EQ(silent.lines(), Lines{"USER user"});
}

TEST_F(Pop3Dialogue, SessionCommandsAndStatWithoutTwoBlanks)
{
    EXPECT_EQ(pop_->KeepAlive(), 2);
    EXPECT_EQ(pop_->Disconnect(), 1);
    EXPECT_EQ(recorder_->tasks, (std::vector<int32_t>{5, 7}));

    ScriptedPeer peer({Replies(LogIn("+OK 3\r\n", {"+OK\r\n", "-ERR not now\r\n", "+OK\r\n", "+OK bye\r\n"}))});
    ASSERT_EQ(ConnectTo(peer), 0);
    EXPECT_EQ(pop_->GetMessageCount() + pop_->GetMessageSize(), 0);
    EXPECT_EQ(pop_->KeepAlive(), 0);
    EXPECT_EQ(pop_->KeepAlive(), 16);
    EXPECT_EQ(pop_->CancelDelete(), 0);
    EXPECT_EQ(pop_->Disconnect(), 0);
    EXPECT_EQ(recorder_->tasks, (std::vector<int32_t>{5, 7, 1, 3, 5, 6}));
    EXPECT_EQ(peer.lines(), (Lines{"USER user", "PASS secret", "STAT", "NOOP", "NOOP", "RSET", "QUIT"}));
}

TEST_F(Pop3Dialogue, RefusedTopKeepsTheLoopGoingAndStuffedLinesAreUndone)
{
    ScriptedPeer peer({Replies(LogIn("+OK 2 300\r\n", {"+OK 1 120\r\n", "-ERR no TOP\r\n", "+OK 2 180\r\n",
                                                   "+OK\r\nSubject: two\r\nX-Note: a\r\n..dotted\r\n\r\n.\r\n"}),
                               kHold)});
    ASSERT_EQ(ConnectTo(peer), 0);
    EXPECT_EQ(pop_->GetMessageHeader(), 0);
    ASSERT_EQ(pop_->Messages()->Count(), 2);
    EXPECT_EQ(Item(pop_, 1)->MessageStatus(), 1);
    EXPECT_EQ(Item(pop_, 1)->Size(), "120");
    EXPECT_EQ(Item(pop_, 1)->CompleteHeader(), "");
    EXPECT_EQ(Item(pop_, 2)->MessageStatus(), 2);
    EXPECT_EQ(Item(pop_, 2)->Subject(), "two");
    EXPECT_EQ(Item(pop_, 2)->CompleteHeader(), "Subject: two\r\nX-Note: a\r\n.dotted\r\n");
    EXPECT_EQ(peer.lines().back(), "TOP 2 0");
}

TEST_F(Pop3Dialogue, ConnectionLostInsideAHeader)
{
    ScriptedPeer peer(
        {Replies(LogIn("+OK 2 300\r\n", {"+OK 1 120\r\n", "+OK\r\nSubject: cut\r\nTo: a@b.c,\r\n"}))});
    ASSERT_EQ(ConnectTo(peer), 0);
    EXPECT_EQ(pop_->GetMessageHeader(), 2);
    EXPECT_EQ(pop_->Messages()->Count(), 0) << "the failing message is removed";
}

TEST_F(Pop3Dialogue, CancelFromAHandlerStopsBeforeTheNextMessage)
{
    ScriptedPeer peer(
        {Replies(LogIn("+OK 3 300\r\n", {"+OK 1 100\r\n", "+OK\r\nSubject: one\r\n\r\n.\r\n"}), kHold)});
    ASSERT_EQ(ConnectTo(peer), 0);
    bool acknowledged = false;
    recorder_->onEvent = [&](int32_t task, int32_t param2) {
        if (task == 15 && param2 == 1)
            acknowledged = pop_->Cancel();
    };
    EXPECT_EQ(pop_->GetMessageHeader(), 0);
    EXPECT_TRUE(acknowledged);
    EXPECT_EQ(pop_->Messages()->Count(), 1);
    EXPECT_EQ(peer.lines().back(), "TOP 1 0");
}

TEST_F(Pop3Dialogue, HeaderEndedByTheTerminatorThenDeleted)
{
    // No empty line after the header: the "." line ends the message, nothing waits.
    ScriptedPeer peer(
        {Replies(LogIn("+OK 1 40\r\n", {"+OK\r\nSubject: bare\r\n.\r\n", "+OK deleted\r\n"}), kHold)});
    ASSERT_EQ(ConnectTo(peer), 0);
    EXPECT_EQ(pop_->GetMessages(2), 0);
    EXPECT_EQ(Item(pop_, 1)->Subject(), "bare");
    EXPECT_EQ(Item(pop_, 1)->MessageStatus(), 8);
    EXPECT_EQ(peer.lines().back(), "DELE 1");
    EXPECT_EQ(recorder_->tasks, (std::vector<int32_t>{1, 3, 11, 14}));
}

TEST_F(Pop3Dialogue, MessagesOutliveTheirComponent)
{
    ScriptedPeer peer({Replies(LogIn("+OK 2 200\r\n", {"+OK 1 100\r\n", "+OK\r\nSubject: one\r\n\r\n.\r\n",
                                                   "+OK 2 100\r\n", "+OK\r\nSubject: two\r\n\r\n.\r\n"}),
                               kHold)});
    ASSERT_EQ(ConnectTo(peer), 0);
    ASSERT_EQ(pop_->GetMessageHeader(), 0);
    auto messages = pop_->Messages();
    auto kept = Item(pop_, 2);
    recorder_->tasks.clear();
    messages->Remove(Variant(int32_t{1}));
    EXPECT_EQ(recorder_->tasks, std::vector<int32_t>{10}) << "a message released while its component lives";

    recorder_->tasks.clear();
    pop_.reset();  // the component goes first
    EXPECT_EQ(kept->GetMessage(2), 2) << "no connection: DELE cannot be sent";
    EXPECT_EQ(kept->Subject(), "two");
    messages.reset();
    kept.reset();
    EXPECT_TRUE(recorder_->tasks.empty()) << "nothing reaches a component that has gone";
}

} // namespace
} // namespace tolmail
