// TolvanSMTP's log-in: EHLO and its fallback, the mechanism each server's offer leads
// to, refusals with their codes and texts, and the secret kept out of everything shown.
#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <vector>

#include "codec/base64.h"
#include "smtp/authentication.h"
#include "support/loopback_peer.h"
#include "tolmail/TolvanSMTP.h"
#include "tolmail/TolvanSocket.h"
#include "tolmail/dialogue_trace.h"

using namespace loopback;
using tolmail::TolvanSMTP;
namespace smtp = tolmail::smtp;
namespace smtp_result = tolmail::smtp_result;

namespace {

constexpr const char* kPassword = "s3cret-word";
constexpr const char* kToken = "ya29.tok3n";

std::string B64(std::string_view text)
{
    std::string encoded = tolmail::codec::Base64Encode(text);
    std::erase(encoded, '\r');
    std::erase(encoded, '\n');
    return encoded;
}

const std::string kPlainLine = "AUTH PLAIN " + B64(std::string("\0ann\0", 5) + kPassword);
const std::string kOAuthLine = "AUTH XOAUTH2 " + B64(std::string("user=ann\x01" "auth=Bearer ") + kToken + "\x01\x01");

struct TraceLog : tolmail::DialogueTrace {
    std::vector<std::string> lines;
    void OnDialogueLine(bool, const std::string& line) override { lines.push_back(line); }
};

} // namespace

TEST(SmtpAuthentication, MechanismChosenFromTheOfferAndEachExchangeAsTheServerExpects)
{
    const std::string ehlo = "EHLO " + tolmail::TolvanSocket::Create()->LocalHostName();
    const std::string helo = "HELO " + tolmail::TolvanSocket::Create()->LocalHostName();
    const struct {
        const char* name;
        bool password, token;
        std::vector<std::string> replies;  // after the greeting, one per command
        int32_t result;
        std::vector<std::string> commands;  // what the server receives, in order
        const char* error;                  // in SMTPError; null: "No Error"
    } cases[] = {
        {"PLAIN preferred to LOGIN", true, false,
         {"250-mx.test\r\n250-AUTH LOGIN PLAIN\r\n250 SIZE 1000\r\n", "235 2.7.0 ok\r\n"}, smtp_result::Ok,
         {ehlo, kPlainLine}, nullptr},
        {"LOGIN when alone, old AUTH= form", true, false,
         {"250-mx.test\r\n250 AUTH=LOGIN\r\n", "334 VXNlcm5hbWU6\r\n", "334 UGFzc3dvcmQ6\r\n", "235 ok\r\n"},
         smtp_result::Ok, {ehlo, "AUTH LOGIN", B64("ann"), B64(kPassword)}, nullptr},
        {"XOAUTH2 with a token", true, true, {"250-mx.test\r\n250 AUTH PLAIN XOAUTH2\r\n", "235 ok\r\n"},
         smtp_result::Ok, {ehlo, kOAuthLine}, nullptr},
        {"a token alone never goes out as a password", false, true, {"250-mx.test\r\n250 AUTH PLAIN LOGIN\r\n"},
         smtp_result::AuthUnavailable, {ehlo}, "(it offers PLAIN LOGIN)"},
        {"EHLO unknown: HELO, then nothing to log in with", true, false, {"502 what?\r\n", "250 hello\r\n"},
         smtp_result::AuthUnavailable, {ehlo, helo}, "offers no authentication"},
        {"EHLO refused otherwise: no HELO", true, false, {"554 go away\r\n"}, smtp_result::HeloRefused, {ehlo},
         "554 go away"},
        {"PLAIN refused", true, false, {"250-mx.test\r\n250 AUTH PLAIN\r\n", "535 5.7.8 bad credentials\r\n"},
         smtp_result::AuthRefused, {ehlo, kPlainLine}, "535 5.7.8 bad credentials"},
        {"LOGIN refused at the password", true, false,
         {"250-mx.test\r\n250 AUTH LOGIN\r\n", "334 VXNlcm5hbWU6\r\n", "334 UGFzc3dvcmQ6\r\n", "535 no\r\n"},
         smtp_result::AuthRefused, {ehlo, "AUTH LOGIN", B64("ann"), B64(kPassword)}, "535 no"},
        {"XOAUTH2 refused: its challenge answered empty", false, true,
         {"250-mx.test\r\n250 AUTH XOAUTH2\r\n", "334 eyJzdGF0dXMiOiI0MDEifQ==\r\n", "535 5.7.8 token expired\r\n"},
         smtp_result::AuthRefused, {ehlo, kOAuthLine, ""}, "535 5.7.8 token expired"},
        {"a server that closes instead of answering", true, false, {"250-mx.test\r\n250 AUTH PLAIN\r\n"}, smtp_result::AuthRefused,
         {ehlo, kPlainLine}, "closed the connection without a reply"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        std::vector<std::string> replies = {"220 mx.test ready\r\n"};
        replies.insert(replies.end(), c.replies.begin(), c.replies.end());
        Script script = Replies(replies);
        script.push_back(Hear());  // the last command is read before the peer hangs up
        ScriptedPeer peer({script});
        auto smtp = TolvanSMTP::Create();
        smtp->Host("127.0.0.1");
        smtp->Port(static_cast<int16_t>(peer.port()));
        smtp->TimeOut(5);
        smtp->UserName("ann");
        if (c.password)
            smtp->Password(kPassword);
        if (c.token)
            smtp->OAuth2Token(kToken);
        auto log = std::make_shared<TraceLog>();
        smtp->Trace(log);
        EXPECT_EQ(smtp->Connect(), c.result);
        const std::string error = smtp->SMTPError();
        if (c.result != smtp_result::Ok)
            EXPECT_FALSE(smtp->Disconnect() == smtp_result::Ok) << "a refused session is closed";
        else
            smtp->Disconnect();
        peer.finish();
        std::vector<std::string> heard = peer.lines();
        if (c.result == smtp_result::Ok && !heard.empty() && heard.back() == "QUIT")
            heard.pop_back();
        EXPECT_EQ(heard, c.commands);
        if (c.error)
            EXPECT_NE(error.find(c.error), std::string::npos) << error;
        else
            EXPECT_EQ(error, "No Error");
        for (const std::string& secret : {std::string(kPassword), std::string(kToken), kPlainLine, kOAuthLine,
                                          B64(kPassword)}) {
            EXPECT_EQ(error.find(secret), std::string::npos) << error;
            for (const std::string& line : log->lines)
                EXPECT_EQ(line.find(secret), std::string::npos) << line;
        }
    }
}

TEST(SmtpAuthentication, TheTraceShowsWhereTheSecretWent)
{
    ScriptedPeer peer({Replies({"220 ready\r\n", "250-mx.test\r\n250 AUTH LOGIN\r\n", "334 VXNlcm5hbWU6\r\n",
                                "334 UGFzc3dvcmQ6\r\n", "235 ok\r\n"})});
    auto smtp = TolvanSMTP::Create();
    smtp->Host("127.0.0.1");
    smtp->Port(static_cast<int16_t>(peer.port()));
    smtp->TimeOut(5);
    smtp->UserName("ann");
    smtp->Password(kPassword);
    auto log = std::make_shared<TraceLog>();
    smtp->Trace(log);
    ASSERT_EQ(smtp->Connect(), smtp_result::Ok);
    peer.finish();
    const std::vector<std::string> tail(log->lines.end() - 6, log->lines.end());
    EXPECT_EQ(tail, (std::vector<std::string>{"AUTH LOGIN", "334 VXNlcm5hbWU6", B64("ann"), "334 UGFzc3dvcmQ6",
                                               "********", "235 ok"}));
}

TEST(SmtpAuthentication, EhloReplyKeywords)
{
    const struct {
        const char* reply;
        std::vector<std::string> mechanisms;
        bool startTls;
        uint64_t size;
    } cases[] = {
        {"250-mx.test greets you\r\n250-AUTH PLAIN LOGIN\r\n250-STARTTLS\r\n250 SIZE 35882577\r\n",
         {"PLAIN", "LOGIN"}, true, 35882577},
        {"250-mx.test\r\n250-auth login xoauth2\r\n250 8BITMIME\r\n", {"LOGIN", "XOAUTH2"}, false, 0},
        {"250-mx.test\r\n250-AUTH=LOGIN PLAIN\r\n250 AUTH LOGIN CRAM-MD5\r\n", {"LOGIN", "PLAIN", "CRAM-MD5"}, false,
         0},
        {"250 AUTH PLAIN\r\n", {}, false, 0},  // a one-line reply names only the server
        {"250-mx.test\r\n250 SIZE\r\n", {}, false, 0},
        {"250-mx.test\r\n250 SIZE 99999999999999999999999\r\n", {}, false, 0},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.reply);
        const smtp::Extensions found = smtp::ParseEhloReply(c.reply);
        EXPECT_EQ(found.authMechanisms, c.mechanisms);
        EXPECT_EQ(found.startTls, c.startTls);
        EXPECT_EQ(found.sizeLimit, c.size);
    }
}

TEST(SmtpAuthentication, MechanismForTheCredentialsGiven)
{
    using M = smtp::Mechanism;
    const struct {
        std::vector<std::string> offered;
        bool token, password;
        M chosen;
    } cases[] = {
        {{"LOGIN", "PLAIN", "XOAUTH2"}, true, true, M::XOAuth2},
        {{"LOGIN", "PLAIN"}, true, true, M::Plain},
        {{"LOGIN", "PLAIN"}, true, false, M::None},
        {{"LOGIN", "PLAIN", "XOAUTH2"}, false, true, M::Plain},
        {{"LOGIN", "CRAM-MD5"}, false, true, M::Login},
        {{"XOAUTH2"}, false, true, M::None},
        {{}, false, true, M::None},
    };
    for (const auto& c : cases) {
        smtp::Extensions offered;
        offered.authMechanisms = c.offered;
        EXPECT_EQ(smtp::ChooseMechanism(offered, c.token, c.password), c.chosen)
            << testing::PrintToString(c.offered) << " token " << c.token << " password " << c.password;
    }
}

TEST(SmtpAuthentication, SecretLeavesInClearOnlyForThisMachineOrWhenAllowed)
{
    const struct {
        const char* address;
        bool encrypted, allowed, mayGo;
    } cases[] = {
        {"127.0.0.1", false, false, true},
        {"127.45.6.7", false, false, true},
        {"::1", false, false, true},
        {"10.0.0.1", false, false, false},
        {"128.0.0.1", false, false, false},
        {"1270.0.0.1", false, false, false},
        {"", false, false, false},  // a name that did not resolve
        {"203.0.113.5", false, true, true},
        {"203.0.113.5", true, false, true},
    };
    for (const auto& c : cases)
        EXPECT_EQ(smtp::MaySendSecret(c.encrypted, c.address, c.allowed), c.mayGo)
            << c.address << " encrypted " << c.encrypted << " allowed " << c.allowed;
}
