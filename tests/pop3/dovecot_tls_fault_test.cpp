// A large message downloaded over implicit TLS from the real Dovecot through a fault
// proxy that cuts, resets or stalls the server's stream, or changes one byte of a record:
// every case ends with a failure code, the part in transit is not handed out whole, and
// the message, whose deletion was asked for, is still at the server.
#include <gtest/gtest.h>

#include <filesystem>

#include "support/fault_proxy.h"
#include "support/servers.h"
#include "tolmail/TolvanPOP3.h"
#include "tolmail/security_mode.h"

namespace tolmail {
namespace {

using faultproxy::Action;
using faultproxy::Plan;

// No other test reads this mailbox at the real server.
constexpr const char* kUser = "demo";
// Deletes each message once it was received whole.
constexpr uint8_t kDelete = 2;
constexpr int kBase64Lines = 21000;  // about 1.6 MiB on the wire

std::string LargeMessage()
{
    std::string raw = "From: ann@example.org\nTo: bob@example.org\nSubject: large over TLS\nMIME-Version: 1.0\n"
                      "Content-Type: multipart/mixed; boundary=\"b\"\n\n--b\nContent-Type: text/plain\n\nsee the file\n"
                      "--b\nContent-Type: application/octet-stream; name=\"large.bin\"\n"
                      "Content-Transfer-Encoding: base64\n\n";
    const std::string line = std::string(76, 'Q') + "\n";
    raw.reserve(raw.size() + line.size() * kBase64Lines + 16);
    for (int n = 0; n < kBase64Lines; ++n)
        raw += line;
    return raw + "--b--\n";
}

/// The encoded size of the message's file part, "" when there is none.
std::string FilePartSize(TolvanPOP3& pop)
{
    if (pop.Messages()->Count() < 1)
        return {};
    auto parts = pop.Messages()->Item(Variant(1))->Attachments();
    for (int32_t i = 1; i <= parts->Count(); ++i)
        if (parts->Item(Variant(i))->ContentSubType() == "OCTET-STREAM")
            return parts->Item(Variant(i))->Size();
    return {};
}

class DovecotTlsFaults : public ::testing::Test {
protected:
    void SetUp() override
    {
        TOLMAIL_NEED_POP3_SERVER();
        TOLMAIL_NEED_ENV("TOLMAIL_POP3S_PORT");
        TOLMAIL_NEED_ENV("TOLMAIL_CA_FILE");
        port_ = static_cast<uint16_t>(std::stoi(testing::Env("TOLMAIL_POP3S_PORT")));
        std::string base = (std::filesystem::temp_directory_path() / "tolmail-tlsfault-XXXXXX").string();
        ASSERT_NE(::mkdtemp(base.data()), nullptr);
        cache_ = base + "/";
        testing::ClearMaildir(kUser);
        ASSERT_TRUE(testing::DeliverToMaildir(kUser, LargeMessage()));
    }
    void TearDown() override
    {
        testing::ClearMaildir(kUser);
        if (!cache_.empty())
            std::filesystem::remove_all(cache_);
    }

    Ref<TolvanPOP3> Pop(uint16_t port) const
    {
        auto pop = TolvanPOP3::Create();
        pop->Host("127.0.0.1");
        pop->Port(static_cast<int16_t>(port));
        pop->Security(security_mode::Implicit);
        pop->CAFile(testing::Env("TOLMAIL_CA_FILE"));
        pop->Login(kUser);
        pop->Password(testing::Pop3FromEnv().password);
        pop->CachedDirectory(cache_);
        pop->TimeOut(5);
        return pop;
    }

    int32_t MessagesAtServer() const
    {
        auto pop = Pop(port_);
        if (pop->Connect() != pop3_result::Ok)
            return -1;
        const int32_t count = pop->GetMessageCount();
        pop->Disconnect();
        return count;
    }

    uint16_t port_ = 0;
    std::string cache_;
};

TEST_F(DovecotTlsFaults, EveryFaultInTheEncryptedStreamFailsAndKeepsTheMessage)
{
    // A clean pass through the proxy finds where the message's records lie in the
    // server's stream: after what the log-in took, up to the end of the reply to RETR.
    size_t start = 0, end = 0;
    std::string wholeSize;
    {
        faultproxy::Proxy proxy("127.0.0.1", port_, Plan{.record = true}, Plan{});
        auto pop = Pop(proxy.Port());
        ASSERT_EQ(pop->Connect(), pop3_result::Ok) << pop->POP3Error();
        start = proxy.Recorded(false).size();
        ASSERT_EQ(pop->GetMessages(0), pop3_result::Ok) << pop->POP3Error();
        end = proxy.Recorded(false).size();
        wholeSize = FilePartSize(*pop);
        ASSERT_EQ(pop->Disconnect(), pop3_result::Ok);
    }
    ASSERT_GT(end - start, size_t{1} << 20);
    ASSERT_FALSE(wholeSize.empty());

    const auto at = [&](double share) { return start + static_cast<size_t>(static_cast<double>(end - start) * share); };
    const struct {
        const char* what;
        Action action;
        size_t offset;
        bool partCut;  // the fault comes before the file part's last byte
    } cases[] = {
        {"closed as the reply begins", Action::kCut, start, true},
        {"closed in a record", Action::kCut, at(0.37) + 3, true},
        {"closed in the last record", Action::kCut, end - 20, false},
        {"reset", Action::kReset, at(0.5), true},
        {"one byte of a record changed", Action::kCorrupt, at(0.61), true},
        {"stalled", Action::kStall, at(0.8), true},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        {
            faultproxy::Proxy proxy("127.0.0.1", port_, Plan{.action = c.action, .offset = c.offset}, Plan{});
            auto pop = Pop(proxy.Port());
            ASSERT_EQ(pop->Connect(), pop3_result::Ok) << pop->POP3Error();
            EXPECT_NE(pop->GetMessages(kDelete), pop3_result::Ok);
            EXPECT_NE(pop->POP3Error(), "No Error");
            EXPECT_EQ(proxy.Fired(), 1);
            if (c.partCut) {
                EXPECT_NE(FilePartSize(*pop), wholeSize);
            }
            pop = nullptr;
            EXPECT_TRUE(proxy.WaitIdle());
        }
        EXPECT_EQ(MessagesAtServer(), 1);
    }
}

} // namespace
} // namespace tolmail
