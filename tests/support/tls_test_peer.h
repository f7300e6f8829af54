// A TLS server for the tests, played by OpenSSL itself: a test authority and the
// certificates it and others issued, and a server end on memory buffers that the engine's
// tests drive by hand and SocketTlsServer drives over a loopback connection.
#pragma once

#include <gtest/gtest.h>

#include <openssl/err.h>
#include <openssl/evp.h>
#include <openssl/pem.h>
#include <openssl/ssl.h>
#include <openssl/x509v3.h>

#include <cstdio>
#include <filesystem>
#include <memory>
#include <string>
#include <unistd.h>

#include "support/loopback_peer.h"

namespace tls_peer {

template <auto Free> struct Freer {
    template <class T> void operator()(T* p) const { Free(p); }
};
using KeyPtr = std::unique_ptr<EVP_PKEY, Freer<EVP_PKEY_free>>;
using CertPtr = std::unique_ptr<X509, Freer<X509_free>>;
using CtxPtr = std::unique_ptr<SSL_CTX, Freer<SSL_CTX_free>>;
using SslPtr = std::unique_ptr<SSL, Freer<SSL_free>>;

inline constexpr long kDay = 24 * 60 * 60;

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

inline void AddExtension(X509* cert, X509* issuer, int nid, const std::string& value)
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
inline Credential Issue(const CertSpec& spec, const Credential* issuer)
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

inline constexpr const char* kLocalNames = "DNS:localhost,IP:127.0.0.1,IP:::1";

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
        caFile = (std::filesystem::temp_directory_path() / ("tolmail-tls-ca-" + std::to_string(getpid()) + ".pem")).string();
        FILE* f = std::fopen(caFile.c_str(), "w");
        PEM_write_X509(f, authority.cert.get());
        std::fclose(f);
    }
    ~TestPki() { std::filesystem::remove(caFile); }
};

inline const TestPki& Pki()
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

// The server end of one loopback connection, TLS through a MemoryServer: what goes out in
// one send is chosen here, so a greeting can share a segment with the handshake's end.
// Every wait is bounded by loopback::kWaitMs.
class SocketTlsServer {
public:
    SocketTlsServer(int fd, const Credential& credential, int maxVersion = 0) : fd_(fd), tls_(credential, maxVersion) {}

    /// Runs the handshake; `greeting` goes out in the same send as the server's last flight.
    bool handshake(const std::string& greeting = "")
    {
        const auto deadline = loopback::after(loopback::kWaitMs);
        for (;;) {
            std::string in;
            if (!loopback::readSome(fd_, in, deadline))
                return false;
            tls_.feed(in);
            const bool done = tls_.accept();
            if (done && !greeting.empty())
                tls_.write(greeting);
            if (!loopback::sendAll(fd_, tls_.take()))
                return false;
            if (done)
                return true;
        }
    }

    bool write(const std::string& plain)
    {
        tls_.write(plain);
        return loopback::sendAll(fd_, tls_.take());
    }

    /// Plaintext up to and including `marker`, or all that came when the client closed or
    /// the wait ended first.
    std::string readUntil(const std::string& marker)
    {
        const auto deadline = loopback::after(loopback::kWaitMs);
        size_t at;
        while ((at = received_.find(marker)) == std::string::npos && more(deadline)) {
        }
        return take(at == std::string::npos ? received_.size() : at + marker.size());
    }

    /// `count` bytes of plaintext, or fewer when the client closed or the wait ended.
    std::string readCount(size_t count)
    {
        const auto deadline = loopback::after(loopback::kWaitMs);
        while (received_.size() < count && more(deadline)) {
        }
        return take(std::min(count, received_.size()));
    }

    /// Reads until the client closes the connection; true when it did within the wait.
    bool waitForClose()
    {
        const auto deadline = loopback::after(loopback::kWaitMs);
        while (more(deadline)) {
        }
        return loopback::Clock::now() < deadline;
    }

    /// The client sent close_notify.
    bool closeNotified() const { return closeNotified_; }

    void closeNotify()
    {
        tls_.shutdown();
        loopback::sendAll(fd_, tls_.take());
    }

private:
    bool more(loopback::Clock::time_point deadline)
    {
        std::string in;
        if (!loopback::readSome(fd_, in, deadline))
            return false;
        tls_.feed(in);
        received_ += tls_.read();
        closeNotified_ = closeNotified_ || tls_.closed;
        return true;
    }
    std::string take(size_t count)
    {
        std::string front = received_.substr(0, count);
        received_.erase(0, count);
        return front;
    }

    int fd_;
    MemoryServer tls_;
    std::string received_;
    bool closeNotified_ = false;
};

} // namespace tls_peer
