// TolvanPOP3's protected sessions against the real Dovecot (scripts/servers/dovecot.sh):
// STLS and implicit TLS downloads, APOP, and ids that stay the same across sessions.
#include <gtest/gtest.h>

#include "support/servers.h"
#include "tolmail/TolvanPOP3.h"
#include "tolmail/security_mode.h"

namespace tolmail {
namespace {

constexpr const char* kUser = "pop3test";
const std::string kRaw = "From: ann@example.org\nTo: bob@example.org\nSubject: over TLS\n\n"
                         "Line one.\n.leading dot\n\n-- \nAnn\n";

class DovecotTls : public ::testing::Test {
protected:
    void SetUp() override
    {
        TOLMAIL_NEED_POP3_SERVER();
        TOLMAIL_NEED_ENV("TOLMAIL_POP3S_PORT");
        TOLMAIL_NEED_ENV("TOLMAIL_CA_FILE");
        testing::ClearMaildir(kUser);
        ASSERT_TRUE(testing::DeliverToMaildir(kUser, kRaw));
    }
    void TearDown() override { testing::ClearMaildir(kUser); }

    Ref<TolvanPOP3> Pop(int32_t security)
    {
        auto server = testing::Pop3FromEnv();
        auto pop = TolvanPOP3::Create();
        pop->Host(server.host);
        pop->Port(security == security_mode::Implicit
                      ? static_cast<int16_t>(std::stoi(testing::Env("TOLMAIL_POP3S_PORT")))
                      : server.port);
        pop->Security(security);
        pop->CAFile(testing::Env("TOLMAIL_CA_FILE"));
        pop->Login(kUser);
        pop->Password(server.password);
        return pop;
    }
};

TEST_F(DovecotTls, StlsAndImplicitDownloadTheMessageIntact)
{
    for (int32_t security : {security_mode::Required, security_mode::Implicit}) {
        SCOPED_TRACE(security);
        auto pop = Pop(security);
        ASSERT_EQ(pop->Connect(), pop3_result::Ok) << pop->POP3Error();
        ASSERT_EQ(pop->GetMessages(0), pop3_result::Ok) << pop->POP3Error();
        ASSERT_EQ(pop->Messages()->Count(), 1);
        auto message = pop->Messages()->Item(Variant(1));
        EXPECT_EQ(message->Subject(), "over TLS");
        EXPECT_EQ(message->MessageText(), "Line one.\r\n.leading dot\r\n\r\n-- \r\nAnn\r\n");
        EXPECT_EQ(pop->Disconnect(), pop3_result::Ok);
    }
}

TEST_F(DovecotTls, ApopLogsInAndIdsStayTheSameAcrossSessions)
{
    if (testing::Env("TOLMAIL_POP3_APOP") != "1")
        GTEST_SKIP() << "the test server offers no APOP";
    std::string ids[2];
    for (std::string& id : ids) {
        auto pop = Pop(security_mode::None);
        pop->UseAPOP(true);
        pop->FetchUniqueIds(true);
        ASSERT_EQ(pop->Connect(), pop3_result::Ok) << pop->POP3Error();
        ASSERT_EQ(pop->GetMessageHeader(), pop3_result::Ok);
        ASSERT_EQ(pop->Messages()->Count(), 1);
        id = pop->Messages()->Item(Variant(1))->UniqueId();
        EXPECT_EQ(pop->UniqueIds(), "1 " + id + "\r\n");
        EXPECT_EQ(pop->Disconnect(), pop3_result::Ok);
    }
    EXPECT_FALSE(ids[0].empty());
    EXPECT_EQ(ids[0], ids[1]);
}

} // namespace
} // namespace tolmail
