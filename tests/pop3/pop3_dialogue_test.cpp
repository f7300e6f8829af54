// TolvanPOP3's dialogue against scripted loopback peers: the host list, log-in
// failures, silence, session commands, the header loop's faults, Cancel and release order.
#include <gtest/gtest.h>

#include <functional>
#include <tuple>

#include "pop3/scripted_peer.h"
#include "tolmail/TolvanPOP3.h"

namespace tolmail {
namespace {

using testing::ScriptedPeer;
using Event = std::tuple<std::string, int32_t, int32_t, int32_t>;

struct Recorder : TolvanPOP3Events {
    std::vector<Event> events;
    std::function<void(int32_t task, int32_t param2)> onEvent;
    void OnPOP3Event(const std::string& text, int32_t task, int32_t param1, int32_t param2) override
    {
        events.emplace_back(text, task, param1, param2);
        if (onEvent)
            onEvent(task, param2);
    }
    std::vector<int32_t> tasks() const
    {
        std::vector<int32_t> all;
        for (const auto& event : events)
            all.push_back(std::get<1>(event));
        return all;
    }
};

// Greeting, USER, PASS and STAT of a mailbox with `count` messages.
std::vector<std::string> LogIn(const std::string& stat = "+OK 2 320\r\n")
{
    return {"+OK ready\r\n", "+OK\r\n", "+OK logged in\r\n", stat};
}

std::vector<std::string> Then(std::vector<std::string> script, std::initializer_list<std::string> more)
{
    script.insert(script.end(), more);
    return script;
}

class Pop3Dialogue : public ::testing::Test {
protected:
    Ref<TolvanPOP3> pop_ = TolvanPOP3::Create();
    std::shared_ptr<Recorder> recorder_ = std::make_shared<Recorder>();

    void SetUp() override
    {
        pop_ = TolvanPOP3::Create();
        recorder_->events.clear();
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

TEST_F(Pop3Dialogue, DefaultsAndSetterRules)
{
    auto pop = TolvanPOP3::Create();
    EXPECT_EQ(pop->Port(), 110);
    EXPECT_EQ(pop->AlternativeType(), "PLAIN");
    EXPECT_EQ(pop->MaxMemAttachment(), 16384);
    EXPECT_EQ(pop->TimeOut(), 15);
    EXPECT_EQ(pop->Version(), "1.10b");
    EXPECT_FALSE(pop->Cancel()) << "no loop runs to see the request";
    EXPECT_EQ(pop_->TimeOut(), 5);
    pop->Messages(nullptr);
    EXPECT_EQ(pop->Messages()->Count(), 0);
    EXPECT_EQ(pop->Connect(), 4);
    EXPECT_EQ(pop->POP3Error(), "POP3 Host Required");
    pop->Host("127.0.0.1");
    EXPECT_EQ(pop->Connect(), 5);
    EXPECT_EQ(pop->POP3Error(), "Login name Required");
}

TEST_F(Pop3Dialogue, ErrGreetingOnTheFirstHostLeavesTheRestUntried)
{
    ScriptedPeer first("127.0.0.2", 0, {"-ERR go away\r\n"}, ScriptedPeer::End::Hold);
    ScriptedPeer second("127.0.0.3", first.port(), {"+OK\r\n"});
    ScriptedPeer third("127.0.0.4", first.port(), {"+OK\r\n"});
    EXPECT_EQ(ConnectTo(first, "127.0.0.2;127.0.0.3;127.0.0.4"), 32);
    EXPECT_EQ(pop_->POP3Error(), "Not a POP3 Server");
    EXPECT_FALSE(second.accepted());
    EXPECT_FALSE(third.accepted());
    EXPECT_TRUE(recorder_->events.empty());
    EXPECT_EQ(pop_->Connect(), 3) << "the socket stays connected after a wrong greeting";
}

TEST_F(Pop3Dialogue, RefusingHostsAndAnEmptyNameAreTriedInOrder)
{
    // Nothing listens on 127.0.0.2 at this port; ";;" makes an empty name between.
    ScriptedPeer answering("127.0.0.4", 0, LogIn(), ScriptedPeer::End::Hold);
    EXPECT_EQ(ConnectTo(answering, "127.0.0.2;;127.0.0.4;"), 0);
    EXPECT_EQ(pop_->GetMessageCount(), 2);
    EXPECT_EQ(pop_->GetMessageSize(), 320);
    EXPECT_EQ(pop_->POP3Error(), "No Error");
    EXPECT_EQ(recorder_->events, (std::vector<Event>{{"AUTHORIZATION: Verification", 1, 0, 0},
                                                     {"AUTHORIZATION: Granted", 3, 0, 0}}));
    EXPECT_EQ(answering.received(), (std::vector<std::string>{"USER user", "PASS secret", "STAT"}));
}

TEST_F(Pop3Dialogue, RefusedPasswordSilenceAndLineBreaks)
{
    {
        ScriptedPeer peer("127.0.0.1", 0, {"+OK\r\n", "+OK\r\n", "-ERR [AUTH] no\r\n"}, ScriptedPeer::End::Hold);
        EXPECT_EQ(ConnectTo(peer), 5);
        EXPECT_EQ(recorder_->tasks(), (std::vector<int32_t>{1, 2}));
        EXPECT_EQ(std::get<0>(recorder_->events.back()), "AUTHORIZATION: Denied");
        EXPECT_EQ(pop_->POP3Error(), "Login Failure / [AUTH] no\r\n");
    }
    SetUp();
    {
        ScriptedPeer silent("127.0.0.1", 0, {"+OK\r\n"}, ScriptedPeer::End::Hold);
        EXPECT_EQ(ConnectTo(silent), 1);
        EXPECT_EQ(std::get<0>(recorder_->events.back()), "AUTHORIZATION: Timeout");
        EXPECT_EQ(silent.received(), std::vector<std::string>{"USER user"});
    }
    SetUp();
    ScriptedPeer untouched("127.0.0.1", 0, {"+OK\r\n"});
    pop_->Password("x\r\nDELE 1");
    EXPECT_EQ(ConnectTo(untouched), 5);
    pop_->Login("user\n");
    pop_->Password("x");
    EXPECT_EQ(ConnectTo(untouched), 5);
    EXPECT_FALSE(untouched.accepted()) << "nothing may be sent";
}

TEST_F(Pop3Dialogue, StatFiguresNeedTwoBlanks)
{
    ScriptedPeer peer("127.0.0.1", 0, LogIn("+OK 3\r\n"), ScriptedPeer::End::Hold);
    EXPECT_EQ(ConnectTo(peer), 0);
    EXPECT_EQ(pop_->GetMessageCount(), 0);
    EXPECT_EQ(pop_->GetMessageSize(), 0);
}

TEST_F(Pop3Dialogue, SessionCommandsAndLogoff)
{
    EXPECT_EQ(pop_->KeepAlive(), 2);
    EXPECT_EQ(pop_->Disconnect(), 1);
    EXPECT_EQ(recorder_->tasks(), (std::vector<int32_t>{5, 7}));
    recorder_->events.clear();

    ScriptedPeer peer("127.0.0.1", 0,
                      Then(LogIn(), {"+OK\r\n", "-ERR not now\r\n", "+OK reset\r\n", "+OK bye\r\n"}));
    ASSERT_EQ(ConnectTo(peer), 0);
    EXPECT_EQ(pop_->KeepAlive(), 0);
    EXPECT_EQ(pop_->KeepAlive(), 16);
    EXPECT_EQ(pop_->CancelDelete(), 0);
    EXPECT_EQ(pop_->Disconnect(), 0);
    EXPECT_EQ(recorder_->tasks(), (std::vector<int32_t>{1, 3, 5, 6}));
    EXPECT_EQ(peer.received(),
              (std::vector<std::string>{"USER user", "PASS secret", "STAT", "NOOP", "NOOP", "RSET", "QUIT"}));
}

TEST_F(Pop3Dialogue, RefusedTopKeepsTheLoopGoingAndStuffedLinesAreUndone)
{
    ScriptedPeer peer("127.0.0.1", 0,
                      Then(LogIn(), {"+OK 1 120\r\n", "-ERR no TOP\r\n", "+OK 2 180\r\n",
                                     "+OK\r\nSubject: two\r\nX-Note: a\r\n..dotted\r\n\r\n.\r\n"}),
                      ScriptedPeer::End::Hold);
    ASSERT_EQ(ConnectTo(peer), 0);
    EXPECT_EQ(pop_->GetMessageHeader(), 0);
    auto messages = pop_->Messages();
    ASSERT_EQ(messages->Count(), 2);
    auto first = messages->Item(Variant(int32_t{1}));
    EXPECT_EQ(first->MessageStatus(), 1);
    EXPECT_EQ(first->Size(), "120");
    EXPECT_EQ(first->Subject(), "");
    auto second = messages->Item(Variant(int32_t{2}));
    EXPECT_EQ(second->MessageStatus(), 2);
    EXPECT_EQ(second->Subject(), "two");
    EXPECT_EQ(second->CompleteHeader(), "Subject: two\r\nX-Note: a\r\n.dotted\r\n");
    EXPECT_EQ(peer.received().back(), "TOP 2 0");
}

TEST_F(Pop3Dialogue, ConnectionLostInsideAHeader)
{
    ScriptedPeer peer("127.0.0.1", 0, Then(LogIn(), {"+OK 1 120\r\n", "+OK\r\nSubject: cut\r\nTo: a@b.c,\r\n"}));
    ASSERT_EQ(ConnectTo(peer), 0);
    EXPECT_EQ(pop_->GetMessageHeader(), 2);
    EXPECT_EQ(pop_->Messages()->Count(), 0) << "the failing message is removed";
}

TEST_F(Pop3Dialogue, CancelFromAHandlerStopsBeforeTheNextMessage)
{
    ScriptedPeer peer("127.0.0.1", 0,
                      Then(LogIn("+OK 3 300\r\n"), {"+OK 1 100\r\n", "+OK\r\nSubject: one\r\n\r\n.\r\n"}),
                      ScriptedPeer::End::Hold);
    ASSERT_EQ(ConnectTo(peer), 0);
    bool acknowledged = false;
    recorder_->onEvent = [&](int32_t task, int32_t param2) {
        if (task == 15 && param2 == 1)
            acknowledged = pop_->Cancel();
    };
    EXPECT_EQ(pop_->GetMessageHeader(), 0);
    EXPECT_TRUE(acknowledged);
    EXPECT_EQ(pop_->Messages()->Count(), 1);
    EXPECT_EQ(peer.received().back(), "TOP 1 0");
}

TEST_F(Pop3Dialogue, HeaderEndedByTheTerminatorThenDeleted)
{
    // A message with no empty line after its header: the "." line ends it.
    ScriptedPeer peer("127.0.0.1", 0,
                      Then(LogIn("+OK 1 40\r\n"), {"+OK\r\nSubject: bare\r\n.\r\n", "+OK deleted\r\n"}),
                      ScriptedPeer::End::Hold);
    ASSERT_EQ(ConnectTo(peer), 0);
    EXPECT_EQ(pop_->GetMessages(2), 0);
    auto message = pop_->Messages()->Item(Variant(int32_t{1}));
    EXPECT_EQ(message->Subject(), "bare");
    EXPECT_EQ(message->MessageStatus(), 8);
    EXPECT_EQ(peer.received().back(), "DELE 1");
    EXPECT_EQ(recorder_->tasks(), (std::vector<int32_t>{1, 3, 11, 14}));
}

TEST_F(Pop3Dialogue, MessagesOutliveTheirComponent)
{
    ScriptedPeer peer("127.0.0.1", 0,
                      Then(LogIn("+OK 2 200\r\n"), {"+OK 1 100\r\n", "+OK\r\nSubject: one\r\n\r\n.\r\n",
                                                    "+OK 2 100\r\n", "+OK\r\nSubject: two\r\n\r\n.\r\n"}),
                      ScriptedPeer::End::Hold);
    ASSERT_EQ(ConnectTo(peer), 0);
    ASSERT_EQ(pop_->GetMessageHeader(), 0);
    auto messages = pop_->Messages();
    auto kept = messages->Item(Variant(int32_t{2}));
    recorder_->events.clear();
    messages->Remove(Variant(int32_t{1}));
    EXPECT_EQ(recorder_->tasks(), std::vector<int32_t>{10}) << "a message released while its component lives";

    recorder_->events.clear();
    pop_.reset();  // the component goes first
    EXPECT_EQ(kept->GetMessage(2), 2) << "no connection: DELE cannot be sent";
    EXPECT_EQ(kept->Subject(), "two");
    EXPECT_EQ(kept->Attachments()->Count(), 0);
    messages.reset();
    kept.reset();
    EXPECT_TRUE(recorder_->events.empty()) << "nothing reaches a component that has gone";
}

} // namespace
} // namespace tolmail
