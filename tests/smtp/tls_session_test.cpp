// TolvanSMTP over TLS against a loopback server played by OpenSSL: STARTTLS and implicit
// TLS carry the mail encrypted, each Security mode decides what happens when the server
// does not play along, and every refused certificate or broken handshake ends the session
// before anything is sent in clear.
#include <gtest/gtest.h>

#include <chrono>
#include <functional>
#include <string>

#include "support/loopback_peer.h"
#include "support/tls_smtp_peer.h"
#include "support/tls_test_peer.h"
#include "tolmail/TolvanSMTP.h"
#include "tolmail/error.h"
#include "tolmail/security_mode.h"

using tls_peer::Credential;
using tls_peer::Pki;
using tls_peer::AfterGoAhead;
using tls_peer::ServerPlan;
using tls_peer::TlsSmtpServer;
using tolmail::TolvanSMTP;
namespace mode = tolmail::security_mode;
namespace smtp_result = tolmail::smtp_result;

namespace {

tolmail::Ref<TolvanSMTP> Sender(uint16_t port, int32_t security)
{
    auto smtp = TolvanSMTP::Create();
    smtp->Host("127.0.0.1");
    smtp->Port(static_cast<int16_t>(port));
    smtp->TimeOut(3);
    smtp->Security(security);
    smtp->CAFile(Pki().caFile);
    smtp->FromEmail("ann@example.test");
    smtp->AddRecipients("Bob", "bob@example.test", 1);
    smtp->Subject("over TLS");
    smtp->MailBody("the secret plans");
    return smtp;
}

ServerPlan Offering(std::string ehloClear)
{
    ServerPlan plan;
    plan.ehloClear = std::move(ehloClear);
    return plan;
}

ServerPlan Answering(std::string startTlsReply)
{
    ServerPlan plan;
    plan.startTlsReply = std::move(startTlsReply);
    return plan;
}

ServerPlan Presenting(const Credential& certificate, bool implicit = false)
{
    ServerPlan plan;
    plan.certificate = &certificate;
    plan.implicit = implicit;
    return plan;
}

ServerPlan Then(AfterGoAhead after)
{
    ServerPlan plan;
    plan.after = after;
    return plan;
}

} // namespace

TEST(SmtpTls, EachModeAgainstEachServer)
{
    enum class Sent { Encrypted, Clear, Nothing };
    const struct {
        const char* name;
        ServerPlan server;
        int32_t security;
        bool skipCheck;
        int32_t result;
        Sent mail;
        const char* clearDialogue;  // null: not checked
        const char* error;          // in SMTPError; null: "No Error"
    } cases[] = {
        {"STARTTLS, then the second EHLO", ServerPlan{}, mode::WhenOffered, false, smtp_result::Ok, Sent::Encrypted,
         "EHLO *\r\nSTARTTLS\r\n", nullptr},
        {"Required takes STARTTLS as well", ServerPlan{}, mode::Required, false, smtp_result::Ok, Sent::Encrypted,
         "EHLO *\r\nSTARTTLS\r\n", nullptr},
        {"None never asks for it", ServerPlan{}, mode::None, false, smtp_result::Ok, Sent::Clear, "HELO *", nullptr},
        {"WhenOffered, nothing offered: clear", Offering("250-mx.test\r\n250 SIZE 100000\r\n"), mode::WhenOffered,
         false, smtp_result::Ok, Sent::Clear, "EHLO *\r\nMAIL FROM", nullptr},
        {"WhenOffered, EHLO unknown: HELO in clear", Offering("502 what?\r\n"), mode::WhenOffered, false,
         smtp_result::Ok, Sent::Clear, "EHLO *\r\nHELO *\r\nMAIL FROM", nullptr},
        {"WhenOffered, STARTTLS refused: clear", Answering("454 4.7.0 TLS not available\r\n"), mode::WhenOffered,
         false, smtp_result::Ok, Sent::Clear, "EHLO *\r\nSTARTTLS\r\nMAIL FROM", nullptr},
        {"Required, nothing offered", Offering("250-mx.test\r\n250 SIZE 100000\r\n"), mode::Required, false,
         smtp_result::TlsFailed, Sent::Nothing, "EHLO *\r\n", "TLS failed: the server does not offer STARTTLS"},
        {"Required, EHLO unknown: no HELO", Offering("500 what?\r\n"), mode::Required, false,
         smtp_result::TlsFailed, Sent::Nothing, "EHLO *\r\n", "TLS failed: the server does not know EHLO"},
        {"Required, STARTTLS refused", Answering("454 4.7.0 TLS not available\r\n"), mode::Required, false,
         smtp_result::TlsFailed, Sent::Nothing, "EHLO *\r\nSTARTTLS\r\n", "TLS failed: 454 4.7.0 TLS not available"},
        {"implicit", Presenting(Pki().good, true), mode::Implicit, false, smtp_result::Ok, Sent::Encrypted, "",
         nullptr},
        {"wrong host", Presenting(Pki().otherHost), mode::WhenOffered, false, smtp_result::TlsFailed, Sent::Nothing,
         nullptr, "TLS failed: certificate verification failed: the certificate is for another host name"},
        {"unknown authority", Presenting(Pki().unknownIssuer), mode::Required, false, smtp_result::TlsFailed,
         Sent::Nothing, nullptr, "not issued by a trusted authority"},
        {"expired, implicit", Presenting(Pki().expired, true), mode::Implicit, false, smtp_result::TlsFailed,
         Sent::Nothing, "", "TLS failed: certificate verification failed: the certificate has expired"},
        {"unknown authority, check skipped", Presenting(Pki().unknownIssuer), mode::Required, true, smtp_result::Ok,
         Sent::Encrypted, nullptr, nullptr},
        {"garbage after the go-ahead", Then(AfterGoAhead::Garbage), mode::WhenOffered, false, smtp_result::TlsFailed,
         Sent::Nothing, nullptr, "TLS failed: "},
        {"closed during the handshake", Then(AfterGoAhead::CloseInHandshake), mode::WhenOffered, false,
         smtp_result::TlsFailed, Sent::Nothing, nullptr, "closed the connection during the handshake"},
        {"no reply to STARTTLS", Answering(""), mode::WhenOffered, false, smtp_result::TlsFailed, Sent::Nothing,
         nullptr, "TLS failed: "},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        TlsSmtpServer server(c.server);
        auto smtp = Sender(server.peer.port(), c.security);
        smtp->SkipCertificateCheck(c.skipCheck);
        const int32_t result = smtp->Send();
        const std::string error = smtp->SMTPError();
        smtp->Disconnect();
        server.peer.join();
        EXPECT_EQ(result, c.result) << error;
        if (c.error) {
            EXPECT_NE(error.find(c.error), std::string::npos) << error;
        } else {
            EXPECT_EQ(error, "No Error");
        }
        const bool clearMail = server.clearHeard.find("MAIL FROM") != std::string::npos;
        const bool secureMail = server.secureHeard.find("the secret plans") != std::string::npos;
        EXPECT_EQ(clearMail, c.mail == Sent::Clear) << server.clearHeard;
        EXPECT_EQ(secureMail, c.mail == Sent::Encrypted) << server.secureHeard;
        if (c.clearDialogue) {
            // "*" stands for the local host name.
            std::string expected = c.clearDialogue;
            std::string heard = server.clearHeard;
            for (size_t star; (star = expected.find('*')) != std::string::npos;) {
                const size_t end = heard.find("\r\n", star);
                ASSERT_NE(end, std::string::npos) << heard;
                heard.erase(star, end - star);
                expected.erase(star, 1);
            }
            EXPECT_EQ(heard.substr(0, expected.size()), expected);
            if (c.mail == Sent::Nothing) {
                EXPECT_EQ(heard, expected) << "nothing more in clear";
            }
        }
        if (c.mail == Sent::Encrypted && !c.server.implicit) {
            EXPECT_TRUE(server.secureHeard.starts_with("EHLO ")) << "the session starts again under TLS";
        }
    }
}

TEST(SmtpTls, OnlyTheKeywordsAnnouncedUnderTlsCountAndThePasswordGoesThen)
{
    const struct {
        const char* name;
        const char* ehloClear;
        const char* ehloSecure;
        int32_t result;
    } cases[] = {
        {"AUTH announced only under TLS", "250-mx.test\r\n250 STARTTLS\r\n", "250-mx.test\r\n250 AUTH PLAIN\r\n",
         smtp_result::Ok},
        {"AUTH announced only in clear", "250-mx.test\r\n250-AUTH PLAIN\r\n250 STARTTLS\r\n", "250 mx.test\r\n",
         smtp_result::AuthUnavailable},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        ServerPlan plan;
        plan.ehloClear = c.ehloClear;
        plan.ehloSecure = c.ehloSecure;
        TlsSmtpServer server(plan);
        auto smtp = Sender(server.peer.port(), mode::Required);
        smtp->UserName("ann");
        smtp->Password("s3cret-word");
        EXPECT_EQ(smtp->Connect(), c.result) << smtp->SMTPError();
        smtp->Disconnect();
        server.peer.join();
        EXPECT_EQ(server.clearHeard.find("AUTH"), std::string::npos);
        EXPECT_EQ(server.secureHeard.find("AUTH PLAIN ") != std::string::npos, c.result == smtp_result::Ok);
    }
}

TEST(SmtpTls, AStalledHandshakeEndsWithinTheTimeOut)
{
    TlsSmtpServer server(Then(AfterGoAhead::Stall));
    auto smtp = Sender(server.peer.port(), mode::Required);
    smtp->TimeOut(2);
    const auto start = std::chrono::steady_clock::now();
    EXPECT_EQ(smtp->Connect(), smtp_result::TlsFailed);
    const double seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    EXPECT_LT(seconds, 8.0);
    EXPECT_NE(smtp->SMTPError().find("within the time-out"), std::string::npos) << smtp->SMTPError();
}

TEST(SmtpTls, AnUnknownSecurityModeIsRefusedNotWeakened)
{
    auto smtp = TolvanSMTP::Create();
    smtp->Security(mode::Required);
    for (const int32_t value : {-1, 4})
        EXPECT_THROW(smtp->Security(value), tolmail::Error) << value;
    EXPECT_EQ(smtp->Security(), mode::Required);
}
