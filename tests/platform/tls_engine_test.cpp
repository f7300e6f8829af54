// The TLS client engine against an OpenSSL server, both in memory: certificates made here
// by a test authority, ciphertext carried by hand in whatever pieces a socket might deliver.
#include "platform/tls_engine.h"

#include <gtest/gtest.h>

#include <openssl/err.h>
#include <openssl/evp.h>
#include <openssl/pem.h>
#include <openssl/ssl.h>
#include <openssl/x509v3.h>

#include <cstdio>
#include <filesystem>
#include <functional>
#include <memory>
#include <random>
#include <string>
#include <unistd.h>
#include <vector>

using namespace tolmail::platform;
namespace fs = std::filesystem;

namespace {

template <auto Free> struct Freer {
    template <class T> void operator()(T* p) const { Free(p); }
};
using KeyPtr = std::unique_ptr<EVP_PKEY, Freer<EVP_PKEY_free>>;
using CertPtr = std::unique_ptr<X509, Freer<X509_free>>;
using CtxPtr = std::unique_ptr<SSL_CTX, Freer<SSL_CTX_free>>;
using SslPtr = std::unique_ptr<SSL, Freer<SSL_free>>;

constexpr long kDay = 24 * 60 * 60;

struct Credential {
    KeyPtr key;
    CertPtr cert;
};

struct CertSpec {
    std::string commonName;
    std::string altNames; // subjectAltName value; empty for an authority
    long validFromDays = -1;
    long validUntilDays = 30;
};

void AddExtension(X509* cert, X509* issuer, int nid, const std::string& value)
{
    X509V3_CTX ctx;
    X509V3_set_ctx_nodb(&ctx);
    X509V3_set_ctx(&ctx, issuer, cert, nullptr, nullptr, 0);
    X509_EXTENSION* ext = X509V3_EXT_conf_nid(nullptr, &ctx, nid, value.c_str());
    ASSERT_NE(ext, nullptr) << value;
    X509_add_ext(cert, ext, -1);
    X509_EXTENSION_free(ext);
}

// Issues a certificate; without an issuer it signs itself.
Credential Issue(const CertSpec& spec, const Credential* issuer)
{
    static long serial = 1;
    Credential made{KeyPtr(EVP_EC_gen("P-256")), CertPtr(X509_new())};
    X509* cert = made.cert.get();
    X509_set_version(cert, 2);
    ASN1_INTEGER_set(X509_get_serialNumber(cert), serial++);
    X509_gmtime_adj(X509_getm_notBefore(cert), spec.validFromDays * kDay);
    X509_gmtime_adj(X509_getm_notAfter(cert), spec.validUntilDays * kDay);
    X509_NAME* name = X509_get_subject_name(cert);
    X509_NAME_add_entry_by_txt(name, "CN", MBSTRING_ASC,
                               reinterpret_cast<const unsigned char*>(spec.commonName.c_str()), -1, -1, 0);
    X509* signer = issuer ? issuer->cert.get() : cert;
    X509_set_issuer_name(cert, X509_get_subject_name(signer));
    X509_set_pubkey(cert, made.key.get());
    AddExtension(cert, signer, NID_subject_key_identifier, "hash");
    if (spec.altNames.empty()) {
        AddExtension(cert, signer, NID_basic_constraints, "critical,CA:TRUE");
        AddExtension(cert, signer, NID_key_usage, "critical,keyCertSign,cRLSign");
    } else {
        AddExtension(cert, signer, NID_basic_constraints, "CA:FALSE");
        AddExtension(cert, signer, NID_subject_alt_name, spec.altNames);
        AddExtension(cert, signer, NID_authority_key_identifier, "keyid");
    }
    X509_sign(cert, issuer ? issuer->key.get() : made.key.get(), EVP_sha256());
    return made;
}

constexpr const char* kLocalNames = "DNS:localhost,IP:127.0.0.1,IP:::1";

// The test authority, the certificates it and others issued, and the authority as a PEM
// file for the engine's extra trust.
struct TestPki {
    Credential authority = Issue({"Tolmail Test Authority", "", -1, 365}, nullptr);
    Credential stranger = Issue({"Some Other Authority", "", -1, 365}, nullptr);
    Credential good = Issue({"localhost", kLocalNames}, &authority);
    Credential otherHost = Issue({"mail.other.test", "DNS:mail.other.test"}, &authority);
    Credential expired = Issue({"localhost", kLocalNames, -30, -1}, &authority);
    Credential notYetValid = Issue({"localhost", kLocalNames, 2, 30}, &authority);
    Credential unknownIssuer = Issue({"localhost", kLocalNames}, &stranger);
    Credential selfSigned = Issue({"localhost", kLocalNames}, nullptr);
    std::string caFile;

    TestPki()
    {
        caFile = (fs::temp_directory_path() / ("tolmail-tls-ca-" + std::to_string(getpid()) + ".pem")).string();
        FILE* f = std::fopen(caFile.c_str(), "w");
        PEM_write_X509(f, authority.cert.get());
        std::fclose(f);
    }
    ~TestPki() { fs::remove(caFile); }
};

const TestPki& Pki()
{
    static const TestPki pki;
    return pki;
}

// The server end, OpenSSL on memory buffers.
class MemoryServer {
public:
    explicit MemoryServer(const Credential& credential, int maxVersion = 0, bool oldProtocols = false)
        : ctx_(SSL_CTX_new(TLS_server_method()))
    {
        if (oldProtocols) {
            // Today's defaults refuse what this server is meant to offer.
            SSL_CTX_set_security_level(ctx_.get(), 0);
            SSL_CTX_set_min_proto_version(ctx_.get(), TLS1_VERSION);
        }
        SSL_CTX_set_max_proto_version(ctx_.get(), maxVersion);
        SSL_CTX_use_certificate(ctx_.get(), credential.cert.get());
        SSL_CTX_use_PrivateKey(ctx_.get(), credential.key.get());
        ssl_.reset(SSL_new(ctx_.get()));
        in_ = BIO_new(BIO_s_mem());
        out_ = BIO_new(BIO_s_mem());
        BIO_set_mem_eof_return(in_, -1);
        SSL_set_bio(ssl_.get(), in_, out_);
        SSL_set_accept_state(ssl_.get());
    }

    void feed(const std::string& bytes) { BIO_write(in_, bytes.data(), static_cast<int>(bytes.size())); }
    std::string take()
    {
        std::string bytes(BIO_ctrl_pending(out_), '\0');
        BIO_read(out_, bytes.data(), static_cast<int>(bytes.size()));
        return bytes;
    }
    bool accept()
    {
        ERR_clear_error();
        return SSL_do_handshake(ssl_.get()) == 1;
    }
    void write(const std::string& plain) { ASSERT_EQ(SSL_write(ssl_.get(), plain.data(), static_cast<int>(plain.size())), static_cast<int>(plain.size())); }
    // Everything decryptable now; sets closed on close_notify.
    std::string read()
    {
        std::string plain;
        char buf[16384];
        for (;;) {
            int n = SSL_read(ssl_.get(), buf, sizeof buf);
            if (n <= 0) {
                closed = SSL_get_error(ssl_.get(), n) == SSL_ERROR_ZERO_RETURN;
                return plain;
            }
            plain.append(buf, static_cast<size_t>(n));
        }
    }
    void shutdown() { SSL_shutdown(ssl_.get()); }
    std::string serverName() const
    {
        const char* name = SSL_get_servername(ssl_.get(), TLSEXT_NAMETYPE_host_name);
        return name ? name : "";
    }

    bool closed = false;

private:
    CtxPtr ctx_;
    SslPtr ssl_;
    BIO* in_ = nullptr;
    BIO* out_ = nullptr;
};

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
        ASSERT_EQ(Connect(client, server), TlsStep::Done) << client.failureText();
        EXPECT_EQ(client.failure(), TlsFailure::None);
        EXPECT_EQ(server.serverName(), c.sentName);
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
