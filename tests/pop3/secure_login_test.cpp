// TolvanPOP3's protected sessions and log-ins against scripted peers: STLS and implicit
// TLS with the certificate checks, servers that break the handshake, APOP, AUTH PLAIN,
// the clear-text rule, and the UIDL ids.
#include <gtest/gtest.h>

#include "pop3/apop_digest.h"
#include "support/loopback_peer.h"
#include "support/tls_test_peer.h"
#include "tolmail/TolvanPOP3.h"
#include "tolmail/security_mode.h"

namespace tolmail {
namespace {

using loopback::Replies;
using loopback::ScriptedPeer;
using tls_peer::Pki;
using tls_peer::SocketTlsServer;

constexpr const char* kRfcGreeting = "+OK POP3 server ready <1896.697170952@dbc.mtview.ca.us>\r\n";
constexpr const char* kOffersStls = "+OK capabilities\r\nTOP\r\nSTLS\r\nUSER\r\n.\r\n";

Ref<TolvanPOP3> Component(uint16_t port, int32_t security)
{
    auto pop = TolvanPOP3::Create();
    pop->Host("127.0.0.1");
    pop->Port(static_cast<int16_t>(port));
    pop->Login("user");
    pop->Password("secret");
    pop->TimeOut(5);
    pop->Security(security);
    pop->CAFile(Pki().caFile);
    return pop;
}

std::string HearLine(int fd)
{
    std::string line;
    loopback::readUntil(fd, line, "\r\n", 0, loopback::after(loopback::kWaitMs));
    return line;
}

TEST(ApopDigest, Md5AndTheGreetingsTimestamp)
{
    const struct {
        std::string data, md5;
    } digests[] = {
        {"", "d41d8cd98f00b204e9800998ecf8427e"},
        {"abc", "900150983cd24fb0d6963f7d28e17f72"},
        // 80 bytes: the length no longer fits the first block's padding.
        {"12345678901234567890123456789012345678901234567890123456789012345678901234567890",
         "57edf4a22be3c955ac49da2e2107b67a"},
    };
    for (const auto& d : digests)
        EXPECT_EQ(pop3::Md5Hex(d.data), d.md5) << d.data;
    EXPECT_EQ(pop3::ApopDigest("<1896.697170952@dbc.mtview.ca.us>", "tanstaaf"), "c4c9334bac560ecc979e58001b3e22fb");

    const struct {
        const char* greeting;
        const char* timestamp;
    } greetings[] = {
        {kRfcGreeting, "<1896.697170952@dbc.mtview.ca.us>"},
        {"+OK ready\r\n", ""},
        {"+OK <no at sign>\r\n", ""},
        {"+OK <1.2@host\r\n", ""},
    };
    for (const auto& g : greetings)
        EXPECT_EQ(pop3::ApopTimestamp(g.greeting), g.timestamp) << g.greeting;
}

TEST(Pop3Tls, StlsThenThePasswordOnlyUnderTls)
{
    std::string clear, encrypted;
    loopback::Peer server([&](int fd) {
        loopback::sendAll(fd, "+OK ready\r\n");
        clear = HearLine(fd);
        loopback::sendAll(fd, kOffersStls);
        clear += HearLine(fd);
        loopback::sendAll(fd, "+OK begin TLS\r\n");
        SocketTlsServer tls(fd, Pki().good);
        if (!tls.handshake())
            return;
        for (const char* reply : {"+OK\r\n", "+OK logged in\r\n", "+OK 1 42\r\n", "+OK bye\r\n"}) {
            encrypted += tls.readUntil("\r\n");
            tls.write(reply);
        }
    });
    auto pop = Component(server.port(), security_mode::Required);
    ASSERT_EQ(pop->Connect(), pop3_result::Ok) << pop->POP3Error();
    EXPECT_EQ(pop->GetMessageCount(), 1);
    EXPECT_EQ(pop->Disconnect(), pop3_result::Ok);
    server.join();
    EXPECT_EQ(clear, "CAPA\r\nSTLS\r\n");
    EXPECT_EQ(encrypted, "USER user\r\nPASS secret\r\nSTAT\r\nQUIT\r\n");
}

TEST(Pop3Tls, ImplicitTlsWithTheGreetingInTheLastHandshakeFlight)
{
    std::string heard;
    loopback::Peer server([&](int fd) {
        SocketTlsServer tls(fd, Pki().good);
        if (!tls.handshake("+OK ready\r\n"))
            return;
        for (const char* reply : {"+OK\r\n", "+OK\r\n", "+OK 0 0\r\n"}) {
            heard += tls.readUntil("\r\n");
            tls.write(reply);
        }
        tls.waitForClose();
    });
    auto pop = Component(server.port(), security_mode::Implicit);
    ASSERT_EQ(pop->Connect(), pop3_result::Ok) << pop->POP3Error();
    pop = nullptr;
    server.join();
    EXPECT_EQ(heard, "USER user\r\nPASS secret\r\nSTAT\r\n");
}

TEST(Pop3Tls, CertificatesAreCheckedUnlessTheCheckIsSkipped)
{
    struct Case {
        const char* what;
        const tls_peer::Credential& credential;
        bool skip;
        int32_t expected;
        std::string error;
    } cases[] = {
        {"other host", Pki().otherHost, false, pop3_result::TlsFailed,
         "TLS failed: certificate verification failed: the certificate is for another host name"},
        {"unknown authority", Pki().unknownIssuer, false, pop3_result::TlsFailed,
         "TLS failed: certificate verification failed: the certificate was not issued by a trusted authority"},
        {"expired", Pki().expired, false, pop3_result::TlsFailed, "TLS failed: certificate verification failed"},
        {"unknown authority, skipped", Pki().unknownIssuer, true, pop3_result::Ok, "No Error"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        std::string heard;
        loopback::Peer server([&](int fd) {
            SocketTlsServer tls(fd, c.credential);
            if (!tls.handshake("+OK ready\r\n"))
                return;
            for (const char* reply : {"+OK\r\n", "+OK\r\n", "+OK 0 0\r\n"}) {
                heard += tls.readUntil("\r\n");
                tls.write(reply);
            }
        });
        auto pop = Component(server.port(), security_mode::Implicit);
        pop->SkipCertificateCheck(c.skip);
        EXPECT_EQ(pop->Connect(), c.expected);
        EXPECT_EQ(pop->POP3Error().substr(0, c.error.size()), c.error);
        pop = nullptr;
        server.join();
        EXPECT_EQ(heard.empty(), c.expected != pop3_result::Ok) << heard;
    }
}

TEST(Pop3Tls, StlsRefusedBrokenOrStalledNeverFallsBackToClearText)
{
    enum class After { Nothing, Garbage, Close, Stall };
    struct Case {
        const char* what;
        int32_t security;
        std::string stlsReply;
        After then;
        int32_t expected;
        std::string error;
    } cases[] = {
        {"refused, required", security_mode::Required, "-ERR not here\r\n", After::Nothing, pop3_result::TlsFailed,
         "TLS failed: the server did not start TLS (-ERR not here)"},
        {"+OK then garbage", security_mode::WhenOffered, "+OK\r\n", After::Garbage, pop3_result::TlsFailed,
         "TLS failed: the server did not answer in TLS"},
        {"closed in the handshake", security_mode::Required, "+OK\r\n", After::Close, pop3_result::TlsFailed,
         "TLS failed: the server closed the connection during the handshake"},
        {"stalled handshake", security_mode::WhenOffered, "+OK\r\n", After::Stall, pop3_result::TlsFailed,
         "TLS failed: the server did not finish the handshake within the time-out"},
        {"silence", security_mode::WhenOffered, "", After::Stall, pop3_result::TlsFailed,
         "TLS failed: no reply to STLS"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        std::string heard;
        loopback::Peer server([&](int fd) {
            loopback::sendAll(fd, "+OK ready\r\n");
            heard = HearLine(fd);
            loopback::sendAll(fd, kOffersStls);
            heard += HearLine(fd);
            loopback::sendAll(fd, c.stlsReply);
            if (c.then == After::Close)
                return;
            if (c.then == After::Garbage)
                loopback::sendAll(fd, "+OK this is no handshake\r\n");
            for (const auto deadline = loopback::after(8000); loopback::readSome(fd, heard, deadline);) {
            }
        });
        auto pop = Component(server.port(), c.security);
        EXPECT_EQ(pop->Connect(), c.expected);
        EXPECT_EQ(pop->POP3Error().substr(0, c.error.size()), c.error) << pop->POP3Error();
        pop = nullptr;
        server.join();
        EXPECT_EQ(heard.substr(0, 12), "CAPA\r\nSTLS\r\n");
        EXPECT_EQ(heard.find("PASS"), std::string::npos);
    }
}

TEST(Pop3Tls, StlsIsSentOnlyWhenCapaListsIt)
{
    const std::vector<std::string> plainLogIn = {"+OK\r\n", "+OK\r\n", "+OK 0 0\r\n"};
    struct Case {
        const char* what;
        int32_t security;
        std::string capa;
        int32_t expected;
        std::vector<std::string> sent;
        std::string error;
    } cases[] = {
        {"not listed, when offered", security_mode::WhenOffered, "+OK\r\nUSER\r\nUIDL\r\n.\r\n", pop3_result::Ok,
         {"CAPA", "USER user", "PASS secret", "STAT"}, "No Error"},
        {"CAPA refused, when offered", security_mode::WhenOffered, "-ERR unknown command\r\n", pop3_result::Ok,
         {"CAPA", "USER user", "PASS secret", "STAT"}, "No Error"},
        {"not listed, required", security_mode::Required, "+OK\r\nUSER\r\n.\r\n", pop3_result::TlsFailed, {"CAPA"},
         "TLS failed: the server does not offer STLS"},
        {"CAPA refused, required", security_mode::Required, "-ERR unknown command\r\n", pop3_result::TlsFailed,
         {"CAPA"}, "TLS failed: the server lists no capabilities, so no STLS (-ERR unknown command)"},
        {"list cut short", security_mode::WhenOffered, "+OK\r\nUSER\r\nSTLS\r\n", pop3_result::TlsFailed, {"CAPA"},
         "TLS failed: the server's answer to CAPA is no whole capability list (+OK)"},
        // Listed in lower case, then refused: a plain refusal still keeps Required from going on.
        {"listed as stls, refused", security_mode::Required, "+OK\r\nstls\r\n.\r\n", pop3_result::TlsFailed,
         {"CAPA", "STLS"}, "TLS failed: the server did not start TLS (-ERR)"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        std::vector<std::string> replies = {"+OK ready\r\n", c.capa};
        if (c.sent.size() > 1 && c.sent[1] == "STLS")
            replies.push_back("-ERR\r\n");
        else
            replies.insert(replies.end(), plainLogIn.begin(), plainLogIn.end());
        ScriptedPeer peer({Replies(replies)});
        auto pop = Component(peer.port(), c.security);
        EXPECT_EQ(pop->Connect(), c.expected) << pop->POP3Error();
        EXPECT_EQ(pop->POP3Error(), c.error);
        pop = nullptr;
        peer.finish();
        EXPECT_EQ(peer.lines(), c.sent);
    }
}

TEST(Pop3Login, MechanismsAndWhatTheyPutOnTheWire)
{
    struct Case {
        const char* what;
        int32_t security;
        bool apop, authPlain;
        std::vector<std::string> replies;
        int32_t expected;
        std::vector<std::string> sent;
    } cases[] = {
        {"APOP", security_mode::None, true, false, {kRfcGreeting, "+OK\r\n", "+OK 0 0\r\n"}, pop3_result::Ok,
         {"APOP user " + pop3::ApopDigest("<1896.697170952@dbc.mtview.ca.us>", "secret"), "STAT"}},
        {"APOP not offered", security_mode::None, true, false, {"+OK ready\r\n"}, pop3_result::LoginUnavailable, {}},
        {"AUTH PLAIN", security_mode::None, false, true, {"+OK ready\r\n", "+OK\r\n", "+OK 0 0\r\n"},
         pop3_result::Ok, {"AUTH PLAIN AHVzZXIAc2VjcmV0", "STAT"}},
        {"AUTH PLAIN refused", security_mode::None, false, true, {"+OK ready\r\n", "-ERR [AUTH] no\r\n"},
         pop3_result::LoginRefused, {"AUTH PLAIN AHVzZXIAc2VjcmV0"}},
        // STLS declined: this machine is no network, so the password may still go.
        {"STLS declined, loopback", security_mode::WhenOffered, false, false,
         {"+OK ready\r\n", kOffersStls, "-ERR no TLS\r\n", "+OK\r\n", "+OK\r\n", "+OK 0 0\r\n"}, pop3_result::Ok,
         {"CAPA", "STLS", "USER user", "PASS secret", "STAT"}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        ScriptedPeer peer({Replies(c.replies)});
        auto pop = Component(peer.port(), c.security);
        pop->UseAPOP(c.apop);
        pop->UseAuthPlain(c.authPlain);
        EXPECT_EQ(pop->Connect(), c.expected) << pop->POP3Error();
        pop = nullptr;
        peer.finish();
        EXPECT_EQ(peer.lines(), c.sent);
    }
}

TEST(Pop3UniqueIds, ListingAndIdsOnTheMessages)
{
    const std::vector<std::string> logIn = {"+OK ready\r\n", "+OK\r\n", "+OK\r\n", "+OK 2 200\r\n"};
    auto script = [&](std::vector<std::string> more) {
        std::vector<std::string> all = logIn;
        all.insert(all.end(), more.begin(), more.end());
        return Replies(all, true);
    };
    const std::string header1 = "+OK\r\nSubject: one\r\n\r\n.\r\n", header2 = "+OK\r\nSubject: two\r\n\r\n.\r\n";
    ScriptedPeer peer({script({"+OK\r\n1 whq.1\r\n2 00000002.4a1b\r\n3 gone\r\n.\r\n", "+OK 1 100\r\n", header1, "+OK 2 100\r\n",
                               header2, "+OK\r\n1 whq.1\r\n2 00000002.4a1b\r\n3 gone\r\n.\r\n"}),
                       script({"-ERR no UIDL\r\n", "+OK 1 100\r\n", header1, "+OK 2 100\r\n", header2})});
    for (bool supported : {true, false}) {
        SCOPED_TRACE(supported);
        auto pop = Component(peer.port(), security_mode::None);
        pop->FetchUniqueIds(true);
        ASSERT_EQ(pop->Connect(), pop3_result::Ok);
        ASSERT_EQ(pop->GetMessageHeader(), pop3_result::Ok);
        ASSERT_EQ(pop->Messages()->Count(), 2);
        EXPECT_EQ(pop->Messages()->Item(Variant(1))->UniqueId(), supported ? "whq.1" : "");
        EXPECT_EQ(pop->Messages()->Item(Variant(2))->UniqueId(), supported ? "00000002.4a1b" : "");
        EXPECT_EQ(pop->Messages()->Item(Variant(2))->Subject(), "two");
        if (supported) {
            EXPECT_EQ(pop->UniqueIds(), "1 whq.1\r\n2 00000002.4a1b\r\n3 gone\r\n");
        }
    }
}

} // namespace
} // namespace tolmail
