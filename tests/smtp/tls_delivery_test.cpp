// TolvanSMTP against the real Postfix over TLS: the submission port (STARTTLS, then a
// log-in) and the implicit-TLS port deliver an attachment intact; a wrong password and an
// authority not trusted here are refused with their own codes.
#include <gtest/gtest.h>

#include <chrono>
#include <filesystem>
#include <fstream>
#include <random>
#include <sstream>
#include <thread>

#include "smtp/postfix_files.h"
#include "support/servers.h"
#include "tolmail/TolvanSMTP.h"
#include "tolmail/security_mode.h"

namespace fs = std::filesystem;
using tolmail::TolvanSMTP;
using tolmail::testing::Env;
namespace mode = tolmail::security_mode;
namespace smtp_result = tolmail::smtp_result;

namespace {

/// The delivered file whose Subject is `subject`, waited for within bounds; empty when none came.
fs::path AwaitDelivery(const fs::path& newDir, const std::string& subject)
{
    for (int i = 0; i < 200; ++i) {
        std::error_code ignored;
        for (const auto& entry : fs::directory_iterator(newDir, ignored))
            if (postfix_files::Slurp(entry.path()).find("Subject: " + subject + "\n") != std::string::npos)
                return entry.path();
        std::this_thread::sleep_for(std::chrono::milliseconds(100));
    }
    return {};
}

tolmail::Ref<TolvanSMTP> Submitter(const char* portVariable, int32_t security, const std::string& password)
{
    auto smtp = TolvanSMTP::Create();
    smtp->Host("127.0.0.1");  // "localhost" may mean ::1, where nothing listens
    smtp->Port(static_cast<int16_t>(std::stoi(Env(portVariable))));
    smtp->TimeOut(20);
    smtp->Security(security);
    smtp->CAFile(Env("TOLMAIL_CA_FILE"));
    smtp->UserName(Env("TOLMAIL_SASL_USER"));
    smtp->Password(password);
    smtp->FromEmail(Env("TOLMAIL_SASL_USER") + "@" + Env("TOLMAIL_MAIL_DOMAIN", "tolmail.test"));
    smtp->AddRecipients("TLS Test", Env("TOLMAIL_SASL_USER") + "@" + Env("TOLMAIL_MAIL_DOMAIN", "tolmail.test"), 1);
    return smtp;
}

#define NEED_TLS_SERVERS()                         \
    do {                                           \
        TOLMAIL_NEED_ENV("TOLMAIL_SUBMISSION_PORT"); \
        TOLMAIL_NEED_ENV("TOLMAIL_SMTPS_PORT");      \
        TOLMAIL_NEED_ENV("TOLMAIL_SASL_USER");       \
        TOLMAIL_NEED_ENV("TOLMAIL_CA_FILE");         \
        TOLMAIL_NEED_ENV("TOLMAIL_MAIL_ROOT");       \
    } while (0)

} // namespace

TEST(SmtpTlsDelivery, SubmissionAndImplicitPortsDeliverTheAttachmentIntact)
{
    NEED_TLS_SERVERS();
    const fs::path dir = fs::path(::testing::TempDir()) / ("smtp-tls-delivery-" + std::to_string(getpid()));
    fs::create_directories(dir);
    std::mt19937 random(4242);
    std::string bytes(50001, '\0');
    for (char& c : bytes)
        c = static_cast<char>(random());
    std::ofstream(dir / "random.bin", std::ios::binary) << bytes;
    const fs::path newDir = fs::path(Env("TOLMAIL_MAIL_ROOT")) / Env("TOLMAIL_SASL_USER") / "Maildir" / "new";

    const struct {
        const char* port;
        int32_t security;
    } cases[] = {{"TOLMAIL_SUBMISSION_PORT", mode::Required}, {"TOLMAIL_SMTPS_PORT", mode::Implicit}};
    for (const auto& c : cases) {
        SCOPED_TRACE(c.port);
        auto smtp = Submitter(c.port, c.security, Env("TOLMAIL_SASL_PASSWORD"));
        const std::string subject = std::string("over TLS ") + c.port + " " + std::to_string(getpid());
        smtp->Subject(subject);
        smtp->MailBody("sent encrypted\r\n");
        ASSERT_EQ(smtp->AddAttachment((dir / "random.bin").string(), 2), 0);
        ASSERT_EQ(smtp->Send(), smtp_result::Ok) << smtp->SMTPError();
        EXPECT_EQ(smtp->Disconnect(), smtp_result::Ok);

        const fs::path delivered = AwaitDelivery(newDir, subject);
        ASSERT_FALSE(delivered.empty()) << "no message in " << newDir;
        EXPECT_EQ(postfix_files::RunProgram({"/usr/bin/python3", TOLMAIL_TESTS_DIR "/smtp/check_delivery.py",
                                             delivered.string(), "random.bin=" + (dir / "random.bin").string()}),
                  0);
        fs::remove(delivered);
    }
    fs::remove_all(dir);
}

TEST(SmtpTlsDelivery, RefusalsKeepTheirCodes)
{
    NEED_TLS_SERVERS();
    const struct {
        const char* name;
        const char* port;
        int32_t security;
        bool trustTestAuthority;
        int32_t result;
        const char* error;
    } cases[] = {
        {"wrong password after STARTTLS", "TOLMAIL_SUBMISSION_PORT", mode::Required, true, smtp_result::AuthRefused,
         "535"},
        {"wrong password, implicit", "TOLMAIL_SMTPS_PORT", mode::Implicit, true, smtp_result::AuthRefused, "535"},
        {"test authority not trusted", "TOLMAIL_SUBMISSION_PORT", mode::Required, false, smtp_result::TlsFailed,
         "TLS failed: certificate verification failed"},
        {"test authority not trusted, implicit", "TOLMAIL_SMTPS_PORT", mode::Implicit, false,
         smtp_result::TlsFailed, "TLS failed: certificate verification failed"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        auto smtp = Submitter(c.port, c.security, "not-the-password");
        if (!c.trustTestAuthority)
            smtp->CAFile("");
        EXPECT_EQ(smtp->Connect(), c.result) << smtp->SMTPError();
        EXPECT_NE(smtp->SMTPError().find(c.error), std::string::npos) << smtp->SMTPError();
        EXPECT_NE(smtp->Disconnect(), smtp_result::Ok) << "a refused session is closed";
    }
}
