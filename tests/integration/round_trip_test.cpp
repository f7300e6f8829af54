// The mail round trip: TolvanSMTP → Postfix → Maildir → Dovecot → TolvanPOP3 → Save,
// every attachment byte-identical, for each encoding and for sizes from 0 to 50 MiB.
#include <gtest/gtest.h>

#include <algorithm>
#include <cctype>
#include <chrono>
#include <filesystem>
#include <fstream>
#include <map>
#include <random>
#include <thread>

#include "codec/temp_files.h"
#include "support/servers.h"
#include "tolmail/TolvanPOP3.h"
#include "tolmail/TolvanSMTP.h"

namespace tolmail::testing {
namespace {

constexpr const char* kUser = "roundtrip";
constexpr int32_t kQuotedPrintable = 1, kBase64 = 2, kUuencode = 3, kBinary = 7;

std::string RandomBytes(size_t n, unsigned seed)
{
    std::independent_bits_engine<std::mt19937, 8, uint16_t> random(seed);
    std::string data(n, '\0');
    std::ranges::generate(data, [&] { return static_cast<char>(random()); });
    return data;
}

/// 8-bit text in CR LF lines shorter than 1000 bytes (no NUL, no bare CR or LF): what
/// an unencoded part may carry through SMTP. Some lines begin with ".".
std::string EightBitLines(size_t n, unsigned seed)
{
    std::mt19937 random(seed);
    std::string data;
    while (data.size() < n) {
        const size_t length = random() % 900;
        for (size_t i = 0; i < length; ++i) {
            char c = static_cast<char>(1 + random() % 255);
            data += (c == '\r' || c == '\n') ? '.' : c;
        }
        data += "\r\n";
    }
    return data;
}

size_t MessagesIn(const std::string& maildir)
{
    size_t n = 0;
    std::error_code ignored;
    for (const char* sub : {"/new", "/cur"})
        for ([[maybe_unused]] const auto& entry : std::filesystem::directory_iterator(maildir + sub, ignored))
            ++n;
    return n;
}

class RoundTrip : public ::testing::Test {
protected:
    void SetUp() override
    {
        std::string base = std::filesystem::temp_directory_path().string() + "/tolmail-roundtrip-XXXXXX";
        ASSERT_NE(::mkdtemp(base.data()), nullptr);
        dir_ = base + "/";
        std::filesystem::create_directory(dir_ + "cache");
    }
    void TearDown() override { std::filesystem::remove_all(dir_); }

    /// Writes an original file and remembers its bytes under its upper-case name,
    /// which is how the retrieved part reports it.
    std::string Original(const std::string& name, std::string bytes)
    {
        const std::string path = dir_ + name;
        std::ofstream(path, std::ios::binary) << bytes;
        std::string upper = name;
        std::ranges::transform(upper, upper.begin(), [](unsigned char c) { return std::toupper(c); });
        originals_[upper] = std::move(bytes);
        return path;
    }

    void Send(const std::string& subject, const std::vector<std::pair<std::string, int32_t>>& files)
    {
        Ref<TolvanSMTP> smtp = TolvanSMTP::Create();
        smtp->Host(Env("TOLMAIL_SMTP_HOST", "127.0.0.1"));
        smtp->Port(static_cast<int16_t>(std::stoi(Env("TOLMAIL_SMTP_PORT"))));
        smtp->TimeOut(120);
        smtp->FromEmail("sender@" + Env("TOLMAIL_MAIL_DOMAIN", "tolmail.test"));
        smtp->Subject(subject);
        smtp->MailBody("The files of " + subject + ".\r\n");
        ASSERT_EQ(smtp->AddRecipients("Round Trip", std::string(kUser) + "@" + Env("TOLMAIL_MAIL_DOMAIN", "tolmail.test"), 1), 0);
        for (const auto& [path, encoding] : files)
            ASSERT_EQ(smtp->AddAttachment(path, encoding), 0) << path;
        ASSERT_EQ(smtp->Connect(), 0) << smtp->SMTPError();
        ASSERT_EQ(smtp->Send(), 0) << smtp->SMTPError();
        smtp->Disconnect();
    }

    std::string dir_;
    std::map<std::string, std::string> originals_;
};

TEST_F(RoundTrip, EveryAttachmentComesBackByteIdentical)
{
    TOLMAIL_NEED_POP3_SERVER();
    TOLMAIL_NEED_ENV("TOLMAIL_SMTP_PORT");
    ClearMaildir(kUser);

    const std::vector<std::pair<const char*, int32_t>> encodings = {
        {"b64", kBase64}, {"qp", kQuotedPrintable}, {"uu", kUuencode}};
    const std::vector<std::pair<const char*, size_t>> sizes = {
        {"0", 0}, {"1", 1}, {"1m", size_t{1} << 20}, {"50m", size_t{50} << 20}};
    unsigned seed = 1;
    for (const auto& [tag, encoding] : encodings) {
        std::vector<std::pair<std::string, int32_t>> files;
        for (const auto& [sizeTag, size] : sizes)
            files.emplace_back(Original(std::string(tag) + "-" + sizeTag + ".bin", RandomBytes(size, seed++)), encoding);
        Send(std::string("round trip ") + tag, files);
    }
    Send("round trip binary", {{Original("eight-bit.txt", EightBitLines(size_t{1} << 20, 99)), kBinary}});

    // Postfix delivers in the background: wait (boundedly) for all four messages.
    const std::string maildir = Pop3FromEnv().mailRoot + "/" + kUser + "/Maildir";
    for (int i = 0; i < 600 && MessagesIn(maildir) < 4; ++i)
        std::this_thread::sleep_for(std::chrono::milliseconds(200));
    ASSERT_EQ(MessagesIn(maildir), 4u);

    Ref<TolvanPOP3> pop3 = TolvanPOP3::Create();
    const Pop3Server server = Pop3FromEnv();
    pop3->Host(server.host);
    pop3->Port(server.port);
    pop3->Login(kUser);
    pop3->Password(server.password);
    pop3->TimeOut(60);
    pop3->CachedDirectory(dir_ + "cache/");
    ASSERT_EQ(pop3->Connect(), 0);
    ASSERT_EQ(pop3->GetMessages(2), 0);
    EXPECT_EQ(pop3->Disconnect(), 0);

    size_t checked = 0;
    for (const auto& message : pop3->Messages()->NewEnum()) {
        EXPECT_EQ(message->MessageText().substr(0, 13), "The files of ") << message->Subject();
        for (const auto& part : message->Attachments()->NewEnum()) {
            if (part->Filename().empty())
                continue;  // the text part
            ASSERT_TRUE(originals_.count(part->Filename())) << part->Filename();
            const std::string target = dir_ + "saved-" + part->Filename();
            ASSERT_EQ(part->Save(target), 0) << part->Filename();
            std::string saved;
            ASSERT_EQ(codec::ReadWholeFile(target, saved), 0);
            EXPECT_TRUE(saved == originals_[part->Filename()])
                << part->Filename() << ": " << saved.size() << " bytes saved, " << originals_[part->Filename()].size()
                << " sent";
            std::filesystem::remove(target);
            ++checked;
        }
    }
    EXPECT_EQ(checked, originals_.size());
    EXPECT_EQ(MessagesIn(maildir), 0u) << "GetMessages with param 2 deleted them";
}

} // namespace
} // namespace tolmail::testing
