// TolvanPOP3 against a real Dovecot (scripts/servers/dovecot.sh): log-in, refusal,
// STAT, header fetch with folded fields, download with deletion, RSET and NOOP.
#include <gtest/gtest.h>

#include <algorithm>

#include "support/servers.h"
#include "tolmail/TolvanPOP3.h"

namespace tolmail {
namespace {

constexpr const char* kUser = "pop3test";

const std::string kFolded =
    "From: Ann Example <ann@example.org>\n"
    "To: Bob <bob@example.org>,\n"
    " carl@example.org\n"
    "Cc: \"Dee D\" <dee@example.org>,\n"
    "\teve@example.org\n"
    "Subject: folded\n"
    " subject second line\n"
    "X-Priority: 2\n"
    "X-MSMail-Priority: High\n"
    "Message-ID: <m1@example.org>\n"
    "MIME-Version: 1.0\n"
    "Content-Type: text/plain; charset=us-ascii\n"
    "\n"
    "Body one.\n";
const std::string kReversedPriorities =
    "From: bob@example.org\nTo: ann@example.org\nSubject: two\nX-MSMail-Priority: Low\nX-Priority: 4\n\nBody two.\n";
const std::string kDerivedPriority =
    "From: bob@example.org\nTo: ann@example.org\nSubject: three\nX-MSMail-Priority: Normal\n\nBody three.\n";

struct Events : TolvanPOP3Events {
    std::vector<std::pair<int32_t, std::string>> seen;
    void OnPOP3Event(const std::string& text, int32_t task, int32_t, int32_t) override { seen.emplace_back(task, text); }
};

class Dovecot : public ::testing::Test {
protected:
    void SetUp() override
    {
        TOLMAIL_NEED_POP3_SERVER();
        testing::ClearMaildir(kUser);
        for (const std::string* raw : {&kFolded, &kReversedPriorities, &kDerivedPriority}) {
            ASSERT_TRUE(testing::DeliverToMaildir(kUser, *raw));
            // The server counts CR LF line ends.
            mailboxSize_ += static_cast<int32_t>(raw->size() + std::count(raw->begin(), raw->end(), '\n'));
        }
    }
    void TearDown() override { testing::ClearMaildir(kUser); }

    Ref<TolvanPOP3> Pop(const std::string& password)
    {
        auto server = testing::Pop3FromEnv();
        auto pop = TolvanPOP3::Create();
        pop->Host(server.host);
        pop->Port(server.port);
        pop->Login(kUser);
        pop->Password(password);
        pop->Advise(events_);
        return pop;
    }
    Ref<TolvanPOP3> LoggedIn()
    {
        auto pop = Pop(testing::Pop3FromEnv().password);
        EXPECT_EQ(pop->Connect(), 0);
        return pop;
    }
    Ref<Message> Item(const Ref<TolvanPOP3>& pop, int32_t n) { return pop->Messages()->Item(Variant(n)); }

    std::shared_ptr<Events> events_ = std::make_shared<Events>();
    int32_t mailboxSize_ = 0;
};

TEST_F(Dovecot, LogInFiguresAndRefusal)
{
    auto refused = Pop("wrong-password");
    EXPECT_EQ(refused->Connect(), 5);
    ASSERT_FALSE(events_->seen.empty());
    EXPECT_EQ(events_->seen.back(), std::make_pair(2, std::string("AUTHORIZATION: Denied")));

    auto pop = LoggedIn();
    EXPECT_EQ(events_->seen.back(), std::make_pair(3, std::string("AUTHORIZATION: Granted")));
    EXPECT_EQ(pop->GetMessageCount(), 3);
    EXPECT_EQ(pop->GetMessageSize(), mailboxSize_);
    EXPECT_EQ(pop->KeepAlive(), 0);
    EXPECT_EQ(pop->Disconnect(), 0);
}

TEST_F(Dovecot, HeadersWithFoldedFieldsAndPriorities)
{
    auto pop = LoggedIn();
    ASSERT_EQ(pop->GetMessageHeader(), 0);
    ASSERT_EQ(pop->Messages()->Count(), 3);
    auto first = Item(pop, 1);
    EXPECT_EQ(first->MessageStatus(), 2);
    EXPECT_EQ(first->Size(), std::to_string(kFolded.size() + 14));
    EXPECT_EQ(first->FromName(), "Ann Example");
    EXPECT_EQ(first->Subject(), "folded subject second line");
    EXPECT_EQ(first->Priority(), "2");
    EXPECT_EQ(first->CharSet(), "charset=us-ascii");
    auto recipients = first->Recipients();
    ASSERT_EQ(recipients->Count(), 4);
    EXPECT_EQ(recipients->Item(Variant(int32_t{2}))->Address(), "carl@example.org");
    EXPECT_EQ(recipients->Item(Variant(int32_t{3}))->Name(), "\"Dee D\"");
    EXPECT_EQ(recipients->Item(Variant(int32_t{4}))->Types(), 2);
    EXPECT_EQ(Item(pop, 2)->Priority(), "4");
    EXPECT_EQ(Item(pop, 3)->Priority(), "3");

    EXPECT_EQ(first->GetMessage(0), 0);
    EXPECT_EQ(first->Recipients()->Count(), 4) << "a fetched header's recipients are not added again";
    EXPECT_EQ(pop->Disconnect(), 0);
}

TEST_F(Dovecot, DownloadWithDeletionAndRset)
{
    {
        auto pop = LoggedIn();
        ASSERT_EQ(pop->GetMessages(2), 0);
        ASSERT_EQ(pop->Messages()->Count(), 3);
        EXPECT_EQ(Item(pop, 2)->Subject(), "two");
        for (const auto& message : pop->Messages()->NewEnum())
            EXPECT_EQ(message->MessageStatus(), 8);
        EXPECT_EQ(pop->CancelDelete(), 0);  // RSET: nothing is deleted after all
        EXPECT_EQ(pop->Disconnect(), 0);
    }
    {
        auto pop = LoggedIn();
        EXPECT_EQ(pop->GetMessageCount(), 3);
        ASSERT_EQ(pop->GetMessages(2), 0);
        EXPECT_EQ(pop->Disconnect(), 0);
    }
    auto pop = LoggedIn();
    EXPECT_EQ(pop->GetMessageCount(), 0) << "QUIT removed the deleted messages";
    EXPECT_EQ(pop->GetMessages(0), 0);
    EXPECT_EQ(pop->Messages()->Count(), 0);
}

} // namespace
} // namespace tolmail
