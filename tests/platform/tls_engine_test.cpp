// The TLS client engine against an OpenSSL server, both in memory: certificates made by a
// test authority, ciphertext carried by hand in whatever pieces a socket might deliver.
#include "platform/tls_engine.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <functional>
#include <random>
#include <string>
#include <vector>

#include "support/tls_test_peer.h"

using namespace tolmail::platform;
using namespace tls_peer;

namespace {

// How ciphertext reaches the client: the pieces a socket read might return.
using Splitter = std::function<std::vector<size_t>(size_t)>;

std::vector<size_t> Whole(size_t size) { return {size}; }
std::vector<size_t> OneByte(size_t size) { return std::vector<size_t>(size, 1); }
std::vector<size_t> RandomPieces(size_t size)
{
    static std::mt19937 random(20261206);
    std::vector<size_t> pieces;
    while (size > 0) {
        size_t piece = std::min(size, std::uniform_int_distribution<size_t>(1, 6000)(random));
        pieces.push_back(piece);
        size -= piece;
    }
    return pieces;
}

// Feeds `bytes` piece by piece, doing after each piece what the socket would do.
void FeedInPieces(TlsClient& client, const std::string& bytes, const Splitter& split,
                  const std::function<void()>& afterEach)
{
    size_t at = 0;
    for (size_t piece : split(bytes.size())) {
        client.feedCiphertext(std::string_view(bytes).substr(at, piece));
        at += piece;
        afterEach();
    }
}

// Runs the handshake to its end on both sides; the client's last step. A greeting goes out
// with the server's last flight when the server finishes first.
TlsStep Connect(TlsClient& client, MemoryServer& server, const Splitter& split = Whole,
                const std::string& greeting = "")
{
    TlsStep step = client.handshake();
    bool greeted = greeting.empty();
    for (int round = 0; round < 20 && step == TlsStep::InProgress; ++round) {
        server.feed(client.takeCiphertext());
        if (server.accept() && !greeted) {
            server.write(greeting);
            greeted = true;
        }
        FeedInPieces(client, server.take(), split, [&] {
            if (step == TlsStep::InProgress)
                step = client.handshake();
        });
    }
    // The client's last flight (its Finished, or the alert that says why it gave up).
    server.feed(client.takeCiphertext());
    server.accept();
    return step;
}

TlsSettings Trusting(std::string host)
{
    return {std::move(host), Pki().caFile, false};
}

std::string Pattern(size_t size)
{
    std::string bytes(size, '\0');
    std::mt19937 random(static_cast<unsigned>(size));
    for (char& c : bytes)
        c = static_cast<char>(random());
    return bytes;
}

// Plaintext both ways over an established connection.
void ExpectConversation(TlsClient& client, MemoryServer& server)
{
    ASSERT_TRUE(client.writePlain("EHLO client.test\r\n"));
    server.feed(client.takeCiphertext());
    EXPECT_EQ(server.read(), "EHLO client.test\r\n");
    server.write("250 ready\r\n");
    client.feedCiphertext(server.take());
    std::string got;
    EXPECT_EQ(client.readPlain(got), TlsRead::Ok);
    EXPECT_EQ(got, "250 ready\r\n");
}

TEST(TlsEngine, HandshakeAndPlaintextBothWays)
{
    struct Case {
        int serverMaxVersion;
        std::string host;
        std::string sentName; // what the server saw as the name indication
    } cases[] = {
        {TLS1_3_VERSION, "localhost", "localhost"},
        {TLS1_2_VERSION, "localhost", "localhost"},
        {TLS1_3_VERSION, "LOCALHOST", "LOCALHOST"},
        {TLS1_3_VERSION, "127.0.0.1", ""},
        {TLS1_2_VERSION, "[::1]", ""},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.host + " " + std::to_string(c.serverMaxVersion));
        MemoryServer server(Pki().good, c.serverMaxVersion);
        TlsClient client(Trusting(c.host));
        EXPECT_EQ(client.sessionSummary(), "");
        ASSERT_EQ(Connect(client, server), TlsStep::Done) << client.failureText();
        EXPECT_EQ(client.failure(), TlsFailure::None);
        EXPECT_EQ(server.serverName(), c.sentName);
        // The version agreed on, then the cipher's name.
        EXPECT_EQ(client.sessionSummary().rfind(c.serverMaxVersion == TLS1_3_VERSION ? "TLSv1.3 TLS_" : "TLSv1.2 ECDHE-", 0),
                  0u)
            << client.sessionSummary();
        ExpectConversation(client, server);
    }
}

struct RefusedCase {
    const char* what;
    const Credential& credential;
    std::string host;
    bool trustAuthority;
    TlsFailure kind;
    std::string text;
};

std::vector<RefusedCase> RefusedCases()
{
    const TestPki& pki = Pki();
    return {
        {"expired", pki.expired, "localhost", true, TlsFailure::CertificateExpired,
         "certificate verification failed: the certificate has expired"},
        {"not yet valid", pki.notYetValid, "localhost", true, TlsFailure::CertificateNotYetValid,
         "certificate verification failed: the certificate is not valid yet"},
        {"other host", pki.otherHost, "localhost", true, TlsFailure::WrongHostName,
         "certificate verification failed: the certificate is for another host name (wanted localhost)"},
        {"other address", pki.good, "127.0.0.2", true, TlsFailure::WrongHostName, "(wanted 127.0.0.2)"},
        {"unknown authority", pki.unknownIssuer, "localhost", true, TlsFailure::UntrustedIssuer,
         "certificate verification failed: the certificate was not issued by a trusted authority"},
        {"self-signed", pki.selfSigned, "localhost", true, TlsFailure::UntrustedIssuer, "(it is self-signed)"},
        // The system's own authorities do not know the test one: the extra file is what
        // makes every other case here trust it.
        {"authority file not given", pki.good, "localhost", false, TlsFailure::UntrustedIssuer,
         "not issued by a trusted authority"},
    };
}

TEST(TlsEngine, EachRefusedCertificateNamesItsReason)
{
    for (const RefusedCase& c : RefusedCases()) {
        SCOPED_TRACE(c.what);
        MemoryServer server(c.credential);
        TlsClient client({c.host, c.trustAuthority ? Pki().caFile : "", false});
        ASSERT_EQ(Connect(client, server), TlsStep::Failed);
        EXPECT_EQ(client.failure(), c.kind);
        EXPECT_NE(client.failureText().find(c.text), std::string::npos) << client.failureText();
        // A failed connection stays failed and carries nothing.
        EXPECT_EQ(client.handshake(), TlsStep::Failed);
        EXPECT_FALSE(client.writePlain("x"));
        std::string got;
        EXPECT_EQ(client.readPlain(got), TlsRead::Failed);
    }
}

TEST(TlsEngine, InsecureSwitchAcceptsEveryRefusedCertificate)
{
    for (const RefusedCase& c : RefusedCases()) {
        SCOPED_TRACE(c.what);
        MemoryServer server(c.credential);
        TlsClient client({c.host, "", true});
        ASSERT_EQ(Connect(client, server), TlsStep::Done) << client.failureText();
        ExpectConversation(client, server);
    }
}

TEST(TlsEngine, UnusableSettingsFailTheFirstStep)
{
    struct Case {
        TlsSettings settings;
        std::string text;
    } cases[] = {
        {{"localhost", "/nonexistent/tolmail-ca.pem", false}, "/nonexistent/tolmail-ca.pem cannot be read"},
        {{"", "", false}, "no host name"},
        // Cut at the NUL, the name checked would not be the name asked for.
        {{std::string("mail.example.net\0.evil.test", 27), "", false}, "cannot be checked"},
    };
    for (const Case& c : cases) {
        TlsClient client(c.settings);
        EXPECT_EQ(client.handshake(), TlsStep::Failed);
        EXPECT_EQ(client.failure(), TlsFailure::Setup);
        EXPECT_NE(client.failureText().find(c.text), std::string::npos) << client.failureText();
        EXPECT_EQ(client.takeCiphertext(), "");
    }
}

TEST(TlsEngine, AnAuthorityFileIsReadAgainOnceItChanges)
{
    // Connections share a context per authority file: each of them must still see the
    // file as it is now, rewritten in place, missing, or back again.
    const std::string path =
        (std::filesystem::temp_directory_path() / ("tolmail-changing-ca-" + std::to_string(getpid()) + ".pem"))
            .string();
    const struct {
        const char* what;
        const Credential* authority;  // written to the file; null: the file is removed
        TlsStep expected;
    } steps[] = {
        {"the server's authority", &Pki().authority, TlsStep::Done},
        {"another authority", &Pki().stranger, TlsStep::Failed},
        {"no file", nullptr, TlsStep::Failed},
        {"the server's authority again", &Pki().authority, TlsStep::Done},
    };
    for (const auto& step : steps) {
        SCOPED_TRACE(step.what);
        std::filesystem::remove(path);
        if (step.authority) {
            FILE* file = std::fopen(path.c_str(), "w");
            ASSERT_NE(file, nullptr);
            PEM_write_X509(file, step.authority->cert.get());
            std::fclose(file);
        }
        MemoryServer server(Pki().good, TLS1_3_VERSION);
        TlsClient client({"localhost", path, false});
        EXPECT_EQ(Connect(client, server), step.expected) << client.failureText();
    }
    std::filesystem::remove(path);
}

TEST(TlsEngine, ServerBelowTls12IsRefused)
{
    MemoryServer server(Pki().good, TLS1_1_VERSION, true);
    TlsClient client(Trusting("localhost"));
    ASSERT_EQ(Connect(client, server), TlsStep::Failed);
    EXPECT_EQ(client.failure(), TlsFailure::Protocol);
    EXPECT_EQ(client.failureText(), "TLS failed: the server offers no TLS version from 1.2 up");
}

TEST(TlsEngine, CiphertextInAnyPiecesArrivesWholeAndInOrder)
{
    struct Case {
        const char* what;
        Splitter split;
        size_t size;
    } cases[] = {
        {"one byte at a time", OneByte, 64 * 1024},
        {"random pieces", RandomPieces, 1024 * 1024},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        MemoryServer server(Pki().good);
        TlsClient client(Trusting("localhost"));
        ASSERT_EQ(Connect(client, server, c.split), TlsStep::Done) << client.failureText();

        const std::string payload = Pattern(c.size);
        server.write(payload);
        std::string got;
        FeedInPieces(client, server.take(), c.split, [&] { ASSERT_EQ(client.readPlain(got), TlsRead::Ok); });
        EXPECT_EQ(got.size(), payload.size());
        EXPECT_TRUE(got == payload);

        ASSERT_TRUE(client.writePlain(payload));
        server.feed(client.takeCiphertext());
        EXPECT_TRUE(server.read() == payload);
    }
}

TEST(TlsEngine, PlaintextHeldInsideIsReportedPending)
{
    for (int version : {TLS1_3_VERSION, TLS1_2_VERSION}) {
        SCOPED_TRACE(version);
        MemoryServer server(Pki().good, version);
        TlsClient client(Trusting("localhost"));
        ASSERT_EQ(Connect(client, server), TlsStep::Done);
        std::string got;
        // Whatever the server sent after its handshake (session tickets) leaves nothing
        // pending once read: a socket that asks again would otherwise spin.
        client.feedCiphertext(server.take());
        EXPECT_EQ(client.readPlain(got), TlsRead::Ok);
        EXPECT_FALSE(client.hasPendingPlain());

        server.write("first ");
        server.write("second ");
        server.write("third");
        std::string records = server.take();
        client.feedCiphertext(records.substr(0, records.size() - 1));
        EXPECT_TRUE(client.hasPendingPlain()) << "two whole records wait unread";
        EXPECT_EQ(client.readPlain(got), TlsRead::Ok);
        EXPECT_EQ(got, "first second ");
        EXPECT_FALSE(client.hasPendingPlain()) << "the third record is not whole yet";

        client.feedCiphertext(records.substr(records.size() - 1));
        EXPECT_TRUE(client.hasPendingPlain());
        got.clear();
        EXPECT_EQ(client.readPlain(got, 2), TlsRead::Ok);
        EXPECT_EQ(got, "th");
        EXPECT_TRUE(client.hasPendingPlain()) << "decrypted, not yet handed out";
        EXPECT_EQ(client.readPlain(got), TlsRead::Ok);
        EXPECT_EQ(got, "third");
        EXPECT_FALSE(client.hasPendingPlain());
    }
}

TEST(TlsEngine, GreetingInTheServersLastFlightIsPending)
{
    // A TLS 1.2 server finishes last and may greet in the same segment, as on the
    // implicit-TLS ports where the server speaks first.
    MemoryServer server(Pki().good, TLS1_2_VERSION);
    TlsClient client(Trusting("localhost"));
    ASSERT_EQ(Connect(client, server, Whole, "220 mail.example.net ESMTP\r\n"), TlsStep::Done);
    EXPECT_TRUE(client.hasPendingPlain());
    std::string got;
    EXPECT_EQ(client.readPlain(got), TlsRead::Ok);
    EXPECT_EQ(got, "220 mail.example.net ESMTP\r\n");
    EXPECT_FALSE(client.hasPendingPlain());
}

TEST(TlsEngine, NonTlsAnswerFailsAsProtocol)
{
    std::string noise = Pattern(4096);
    noise[0] = '\x00'; // no record type
    struct Case {
        const char* what;
        std::string answer;
        std::string text;
    } cases[] = {
        {"a POP3 greeting", "+OK POP3 server ready\r\n", "did not answer in TLS"},
        {"an SMTP greeting", "220 mail.example.net ESMTP\r\n", "did not answer in TLS"},
        {"noise", noise, "TLS failed: "},
        {"an oversized record", std::string("\x16\x03\x03\xff\xff", 5) + std::string(100, 'x'), "TLS failed: "},
        {"a handshake failure alert", std::string("\x15\x03\x03\x00\x02\x02\x28", 7),
         "TLS failed: the server sent the alert \"handshake failure\""},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        TlsClient client(Trusting("localhost"));
        ASSERT_EQ(client.handshake(), TlsStep::InProgress);
        EXPECT_FALSE(client.takeCiphertext().empty()) << "no ClientHello";
        client.feedCiphertext(c.answer);
        EXPECT_EQ(client.handshake(), TlsStep::Failed);
        EXPECT_EQ(client.failure(), TlsFailure::Protocol);
        EXPECT_NE(client.failureText().find(c.text), std::string::npos) << client.failureText();
        EXPECT_FALSE(client.hasPendingPlain());
    }
}

TEST(TlsEngine, CloseNotifyBothWays)
{
    MemoryServer server(Pki().good);
    TlsClient client(Trusting("localhost"));
    ASSERT_EQ(Connect(client, server), TlsStep::Done);

    // The client says goodbye; the server still answers before its own close.
    ASSERT_TRUE(client.writePlain("QUIT\r\n"));
    client.closeNotify();
    EXPECT_FALSE(client.writePlain("NOOP\r\n"));
    server.feed(client.takeCiphertext());
    EXPECT_EQ(server.read(), "QUIT\r\n");
    EXPECT_TRUE(server.closed);

    server.write("+OK bye\r\n");
    server.shutdown();
    client.feedCiphertext(server.take());
    EXPECT_FALSE(client.peerClosed());
    EXPECT_TRUE(client.hasPendingPlain()) << "the close must reach the reader";
    std::string got;
    EXPECT_EQ(client.readPlain(got), TlsRead::PeerClosed);
    EXPECT_EQ(got, "+OK bye\r\n");
    EXPECT_TRUE(client.peerClosed());
    EXPECT_FALSE(client.hasPendingPlain());
    EXPECT_EQ(client.readPlain(got), TlsRead::PeerClosed);
    EXPECT_EQ(client.failure(), TlsFailure::None);
}

} // namespace
