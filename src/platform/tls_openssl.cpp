// The TLS client engine on OpenSSL, driven through two memory BIOs: what the socket
// received goes into one, what must be sent comes out of the other.
#include "platform/tls_engine.h"

#include <openssl/bio.h>
#include <openssl/crypto.h>
#include <openssl/err.h>
#include <openssl/ssl.h>
#include <openssl/x509v3.h>

#include <algorithm>
#include <array>
#include <climits>
#include <cstdint>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <map>
#include <mutex>
#include <optional>
#include <sstream>
#include <utility>

namespace tolmail::platform {

namespace {

// Counts the TLS records that arrived whole, from the five-byte record headers of the
// stream fed in. OpenSSL does not tell how much of what it was given it could decrypt now,
// and what it has half read sits in its own buffer, so the engine keeps the framing itself.
class RecordCounter {
public:
    void feed(const unsigned char* data, size_t size)
    {
        while (size > 0) {
            if (headerFill_ < header_.size()) {
                size_t take = std::min(size, header_.size() - headerFill_);
                std::copy_n(data, take, header_.begin() + static_cast<ptrdiff_t>(headerFill_));
                headerFill_ += take;
                data += take;
                size -= take;
                if (headerFill_ == header_.size())
                    bodyLeft_ = static_cast<size_t>(header_[3]) << 8 | header_[4];
            } else {
                size_t take = std::min(size, bodyLeft_);
                bodyLeft_ -= take;
                data += take;
                size -= take;
            }
            if (headerFill_ == header_.size() && bodyLeft_ == 0) {
                ++whole_;
                headerFill_ = 0;
            }
        }
    }
    /// OpenSSL asked for more input: every whole record before this point was consumed.
    void drained() { whole_ = 0; }
    bool anyWhole() const { return whole_ > 0; }

private:
    std::array<unsigned char, 5> header_{};
    size_t headerFill_ = 0;
    size_t bodyLeft_ = 0;
    uint64_t whole_ = 0;
};

struct SslCtxFree {
    void operator()(SSL_CTX* ctx) const { SSL_CTX_free(ctx); }
};
using ContextPtr = std::unique_ptr<SSL_CTX, SslCtxFree>;
struct SslFree {
    void operator()(SSL* ssl) const { SSL_free(ssl); }
};

// The first error OpenSSL queued, in its own words; empty if it queued none.
std::string QueuedErrorText(unsigned long error)
{
    if (error == 0)
        return {};
    if (const char* reason = ERR_reason_error_string(error))
        return reason;
    std::array<char, 256> text{};
    ERR_error_string_n(error, text.data(), text.size());
    return text.data();
}

bool IsVersionRefusal(unsigned long error)
{
    if (ERR_GET_LIB(error) != ERR_LIB_SSL)
        return false;
    switch (ERR_GET_REASON(error)) {
    case SSL_R_UNSUPPORTED_PROTOCOL:
    case SSL_R_TLSV1_ALERT_PROTOCOL_VERSION:
    case SSL_R_NO_PROTOCOLS_AVAILABLE:
        return true;
    default:
        return false;
    }
}

bool IsNotTls(unsigned long error)
{
    if (ERR_GET_LIB(error) != ERR_LIB_SSL)
        return false;
    switch (ERR_GET_REASON(error)) {
    case SSL_R_WRONG_VERSION_NUMBER:
    case SSL_R_PACKET_LENGTH_TOO_LONG:
    case SSL_R_HTTP_REQUEST:
    case SSL_R_HTTPS_PROXY_REQUEST:
        return true;
    default:
        return false;
    }
}

TlsFailure VerificationKind(long result)
{
    switch (result) {
    case X509_V_ERR_CERT_HAS_EXPIRED:
        return TlsFailure::CertificateExpired;
    case X509_V_ERR_CERT_NOT_YET_VALID:
        return TlsFailure::CertificateNotYetValid;
    case X509_V_ERR_HOSTNAME_MISMATCH:
    case X509_V_ERR_IP_ADDRESS_MISMATCH:
        return TlsFailure::WrongHostName;
    case X509_V_ERR_DEPTH_ZERO_SELF_SIGNED_CERT:
    case X509_V_ERR_SELF_SIGNED_CERT_IN_CHAIN:
    case X509_V_ERR_UNABLE_TO_GET_ISSUER_CERT:
    case X509_V_ERR_UNABLE_TO_GET_ISSUER_CERT_LOCALLY:
    case X509_V_ERR_UNABLE_TO_VERIFY_LEAF_SIGNATURE:
        return TlsFailure::UntrustedIssuer;
    default:
        return TlsFailure::OtherVerification;
    }
}

// The library's own words where they are plain enough; the issuer's are not.
std::string VerificationDetail(long result)
{
    switch (result) {
    case X509_V_ERR_DEPTH_ZERO_SELF_SIGNED_CERT:
    case X509_V_ERR_SELF_SIGNED_CERT_IN_CHAIN:
        return "it is self-signed";
    case X509_V_ERR_UNABLE_TO_GET_ISSUER_CERT:
    case X509_V_ERR_UNABLE_TO_GET_ISSUER_CERT_LOCALLY:
    case X509_V_ERR_UNABLE_TO_VERIFY_LEAF_SIGNATURE:
        return "its issuer is unknown here";
    default:
        return X509_verify_cert_error_string(result);
    }
}

// The alert the server ended the connection with, or -1 when the error is not one.
int ReceivedAlert(unsigned long error)
{
    int reason = ERR_GET_REASON(error);
    if (ERR_GET_LIB(error) != ERR_LIB_SSL || reason < SSL_AD_REASON_OFFSET || reason >= SSL_AD_REASON_OFFSET + 256)
        return -1;
    return reason - SSL_AD_REASON_OFFSET;
}

// "[::1]" as written in a URL or a host list names the address ::1.
std::string BareHost(const std::string& host)
{
    if (host.size() > 2 && host.front() == '[' && host.back() == ']')
        return host.substr(1, host.size() - 2);
    return host;
}

bool IsAddressLiteral(const std::string& host)
{
    ASN1_OCTET_STRING* address = a2i_IPADDRESS(host.c_str());
    bool parsed = address != nullptr;
    ASN1_OCTET_STRING_free(address);
    return parsed;
}

// True when `dir` holds certificates under their subject hashes ("1a2b3c4d.0"), the
// layout in which OpenSSL can look up one issuer without reading the others.
bool HasHashedCertificates(const std::string& dir)
{
    std::error_code error;
    for (const auto& entry : std::filesystem::directory_iterator(dir, error)) {
        const std::string name = entry.path().filename().string();
        if (name.size() == 10 && name.ends_with(".0") &&
            name.find_first_not_of("0123456789abcdef") == 8)
            return true;
    }
    return false;
}

// The system's trusted authorities. OpenSSL's usual call reads the whole bundle file, a
// few hundred certificates and a fifth of a second on a busy machine, before the first
// handshake; the hashed directory beside it holds the same certificates one to a file,
// read only for the issuers a chain names. The bundle is read where there is no such
// directory, or where the environment names its own locations.
bool LoadSystemAuthorities(SSL_CTX* ctx)
{
    const std::string dir = X509_get_default_cert_dir();
    if (std::getenv(X509_get_default_cert_dir_env()) || std::getenv(X509_get_default_cert_file_env()) ||
        !HasHashedCertificates(dir))
        return SSL_CTX_set_default_verify_paths(ctx) == 1;
    X509_LOOKUP* lookup = X509_STORE_add_lookup(SSL_CTX_get_cert_store(ctx), X509_LOOKUP_hash_dir());
    return lookup && X509_LOOKUP_add_dir(lookup, dir.c_str(), X509_FILETYPE_PEM) == 1;
}

// A context for `settings`, or null with the reason in `failure`.
ContextPtr MakeContext(const TlsSettings& settings, std::string& failure)
{
    ContextPtr ctx(SSL_CTX_new(TLS_client_method()));
    if (!ctx) {
        failure = "the TLS library cannot create a context";
        return nullptr;
    }
    SSL_CTX_set_min_proto_version(ctx.get(), TLS1_2_VERSION);
    // Renegotiation would let a write wait on a read, which a buffer-driven engine
    // cannot express; nothing in mail needs it.
    uint64_t options = SSL_OP_NO_RENEGOTIATION;
#ifdef SSL_OP_CLEANSE_PLAINTEXT
    options |= SSL_OP_CLEANSE_PLAINTEXT;
#endif
    SSL_CTX_set_options(ctx.get(), options);
    if (settings.insecureSkipVerify) {
        SSL_CTX_set_verify(ctx.get(), SSL_VERIFY_NONE, nullptr);
        return ctx;
    }
    SSL_CTX_set_verify(ctx.get(), SSL_VERIFY_PEER, nullptr);
    if (!LoadSystemAuthorities(ctx.get())) {
        failure = "the system's trusted authorities cannot be read";
        return nullptr;
    }
    if (!settings.extraCaFile.empty() &&
        SSL_CTX_load_verify_locations(ctx.get(), settings.extraCaFile.c_str(), nullptr) != 1) {
        failure = "the authority file " + settings.extraCaFile + " cannot be read as PEM certificates";
        return nullptr;
    }
    return ctx;
}

// What the authority file holds now; nullopt when it cannot be read.
std::optional<std::string> FileContents(const std::string& path)
{
    std::ifstream in(path, std::ios::binary);
    std::ostringstream contents;
    if (!(in && contents << in.rdbuf()))
        return std::nullopt;
    return std::move(contents).str();
}

// Reading the authorities (the whole system bundle where there is no hashed directory)
// can cost more than a handshake on loopback, and a host that fetches often or from many
// accounts would pay it per connection; so a context, which nothing changes once it is
// set up, serves every later connection with the same settings, from any thread
// (OpenSSL counts its users, so one replaced here lives on in the connections that use
// it). The authority file is compared by its contents, a cheap read beside parsing it:
// a file rewritten in place within the same tick of the clock is still read again.
SSL_CTX* SharedContext(const TlsSettings& settings, std::string& failure)
{
    struct Entry {
        std::optional<std::string> caContents;
        ContextPtr ctx;
    };
    static std::mutex guard;
    // Never destroyed: connections may still close while the process exits, after the
    // TLS library's own clean-up ran, and must not find their context freed under them.
    static auto* contexts = new std::map<std::pair<std::string, bool>, Entry>;
    std::optional<std::string> caContents;
    if (!settings.extraCaFile.empty())
        caContents = FileContents(settings.extraCaFile);
    std::lock_guard lock(guard);
    Entry& entry = (*contexts)[{settings.extraCaFile, settings.insecureSkipVerify}];
    if (entry.ctx && entry.caContents == caContents)
        return entry.ctx.get();
    // A failure is not kept: the file may be readable at the next attempt.
    entry.ctx = MakeContext(settings, failure);
    entry.caContents = std::move(caContents);
    return entry.ctx.get();
}

} // namespace

struct TlsClient::Impl {
    TlsSettings settings;
    std::unique_ptr<SSL, SslFree> ssl;
    BIO* received = nullptr; // owned by ssl
    BIO* outgoing = nullptr; // owned by ssl
    RecordCounter records;
    bool established = false;
    bool closing = false;
    bool peerClosed = false;
    TlsFailure failure = TlsFailure::None;
    std::string failureText;
    // Decrypted bytes pass through here on their way to the caller.
    std::array<unsigned char, 16 * 1024> plain{};

    explicit Impl(TlsSettings s) : settings(std::move(s))
    {
        setUp();
        // What a failed set-up queued must not be taken for a later call's reason.
        ERR_clear_error();
    }
    ~Impl() { OPENSSL_cleanse(plain.data(), plain.size()); }
    Impl(const Impl&) = delete;
    Impl& operator=(const Impl&) = delete;

    void fail(TlsFailure kind, std::string_view detail)
    {
        if (failure != TlsFailure::None)
            return;
        failure = kind;
        failureText = DescribeTlsFailure(kind, settings.hostName, detail);
    }

    void setUp()
    {
        std::string why;
        SSL_CTX* ctx = SharedContext(settings, why);
        if (!ctx)
            return fail(TlsFailure::Setup, why);
        std::string host = BareHost(settings.hostName);
        // A chain check alone would accept any server holding any trusted certificate.
        if (!settings.insecureSkipVerify && host.empty())
            return fail(TlsFailure::Setup, "no host name to check the certificate against");

        ssl.reset(SSL_new(ctx));
        received = BIO_new(BIO_s_mem());
        outgoing = BIO_new(BIO_s_mem());
        if (!ssl || !received || !outgoing) {
            BIO_free(received);
            BIO_free(outgoing);
            received = outgoing = nullptr;
            return fail(TlsFailure::Setup, "the TLS library cannot create a connection");
        }
        // An empty input buffer means "wait for more", not the end of the stream.
        BIO_set_mem_eof_return(received, -1);
        SSL_set_bio(ssl.get(), received, outgoing);
        SSL_set_connect_state(ssl.get());

        bool isAddress = IsAddressLiteral(host);
        if (!isAddress && !host.empty())
            // Server name indication carries names only, never address literals.
            SSL_set_tlsext_host_name(ssl.get(), host.c_str());
        if (settings.insecureSkipVerify)
            return;
        SSL_set_hostflags(ssl.get(), X509_CHECK_FLAG_NO_PARTIAL_WILDCARDS);
        bool checked = host.find('\0') == std::string::npos &&
                       (isAddress ? X509_VERIFY_PARAM_set1_ip_asc(SSL_get0_param(ssl.get()), host.c_str()) == 1
                                 : SSL_set1_host(ssl.get(), host.c_str()) == 1);
        // Going on without the check would accept any trusted certificate for any host.
        if (!checked)
            fail(TlsFailure::Setup, "the host name cannot be checked against a certificate");
    }

    // After OpenSSL gave up: the verification result names the certificate's fault; without
    // one the first queued error names the protocol's.
    void failFromLibrary()
    {
        unsigned long error = ERR_peek_error();
        long verification = SSL_get_verify_result(ssl.get());
        if (!settings.insecureSkipVerify && verification != X509_V_OK)
            fail(VerificationKind(verification), VerificationDetail(verification));
        else if (IsVersionRefusal(error))
            fail(TlsFailure::Protocol, "the server offers no TLS version from 1.2 up");
        else if (int alert = ReceivedAlert(error); alert >= 0)
            fail(TlsFailure::Protocol, std::string("the server sent the alert \"") +
                                           SSL_alert_desc_string_long(alert) + "\"");
        else if (IsNotTls(error))
            fail(TlsFailure::Protocol, "the server did not answer in TLS (" + QueuedErrorText(error) + ")");
        else if (error != 0)
            fail(TlsFailure::Protocol, QueuedErrorText(error));
        else
            fail(TlsFailure::Protocol, "the connection broke off");
        ERR_clear_error();
    }
};

TlsClient::TlsClient(TlsSettings settings) : impl_(std::make_unique<Impl>(std::move(settings))) {}
TlsClient::~TlsClient() = default;
TlsClient::TlsClient(TlsClient&&) noexcept = default;
TlsClient& TlsClient::operator=(TlsClient&&) noexcept = default;

void TlsClient::feedCiphertext(std::string_view bytes)
{
    Impl& d = *impl_;
    if (!d.received || d.failure != TlsFailure::None)
        return;
    const auto* data = reinterpret_cast<const unsigned char*>(bytes.data());
    d.records.feed(data, bytes.size());
    while (!bytes.empty()) {
        int piece = static_cast<int>(std::min<size_t>(bytes.size(), INT_MAX));
        int written = BIO_write(d.received, bytes.data(), piece);
        if (written <= 0)
            return d.fail(TlsFailure::Setup, "out of memory for received data");
        bytes.remove_prefix(static_cast<size_t>(written));
    }
}

std::string TlsClient::takeCiphertext()
{
    Impl& d = *impl_;
    std::string bytes;
    if (!d.outgoing)
        return bytes;
    bytes.resize(BIO_ctrl_pending(d.outgoing));
    size_t got = 0;
    if (!bytes.empty() && BIO_read_ex(d.outgoing, bytes.data(), bytes.size(), &got) != 1)
        got = 0;
    bytes.resize(got);
    return bytes;
}

TlsStep TlsClient::handshake()
{
    Impl& d = *impl_;
    if (d.failure != TlsFailure::None)
        return TlsStep::Failed;
    if (d.established)
        return TlsStep::Done;
    ERR_clear_error();
    int result = SSL_do_handshake(d.ssl.get());
    if (result == 1) {
        d.established = true;
        return TlsStep::Done;
    }
    switch (SSL_get_error(d.ssl.get(), result)) {
    case SSL_ERROR_WANT_READ:
        d.records.drained();
        return TlsStep::InProgress;
    case SSL_ERROR_WANT_WRITE:
        return TlsStep::InProgress;
    default:
        d.failFromLibrary();
        return TlsStep::Failed;
    }
}

bool TlsClient::writePlain(std::string_view bytes)
{
    Impl& d = *impl_;
    if (!d.established || d.closing || d.failure != TlsFailure::None)
        return false;
    while (!bytes.empty()) {
        size_t written = 0;
        ERR_clear_error();
        if (SSL_write_ex(d.ssl.get(), bytes.data(), bytes.size(), &written) != 1) {
            d.failFromLibrary();
            return false;
        }
        bytes.remove_prefix(written);
    }
    return true;
}

TlsRead TlsClient::readPlain(std::string& out, size_t limit)
{
    Impl& d = *impl_;
    if (d.failure != TlsFailure::None)
        return TlsRead::Failed;
    if (d.peerClosed)
        return TlsRead::PeerClosed;
    if (!d.established)
        return TlsRead::Ok;
    while (limit > 0) {
        size_t got = 0;
        ERR_clear_error();
        if (SSL_read_ex(d.ssl.get(), d.plain.data(), std::min(limit, d.plain.size()), &got) == 1) {
            out.append(reinterpret_cast<const char*>(d.plain.data()), got);
            OPENSSL_cleanse(d.plain.data(), got);
            limit -= got;
            continue;
        }
        switch (SSL_get_error(d.ssl.get(), 0)) {
        case SSL_ERROR_WANT_READ:
            d.records.drained();
            return TlsRead::Ok;
        case SSL_ERROR_ZERO_RETURN:
            d.peerClosed = true;
            return TlsRead::PeerClosed;
        default:
            d.failFromLibrary();
            return TlsRead::Failed;
        }
    }
    return TlsRead::Ok;
}

bool TlsClient::hasPendingPlain() const
{
    const Impl& d = *impl_;
    if (!d.established || d.peerClosed || d.failure != TlsFailure::None)
        return false;
    return SSL_pending(d.ssl.get()) > 0 || d.records.anyWhole();
}

void TlsClient::closeNotify()
{
    Impl& d = *impl_;
    if (d.closing || d.failure != TlsFailure::None)
        return;
    d.closing = true;
    // Before the handshake is through there is no session to close: the socket just closes.
    if (d.established) {
        ERR_clear_error();
        SSL_shutdown(d.ssl.get());
        ERR_clear_error();
    }
}

bool TlsClient::peerClosed() const
{
    return impl_->peerClosed;
}

std::string TlsClient::sessionSummary() const
{
    const Impl& d = *impl_;
    if (!d.established)
        return {};
    const SSL_CIPHER* cipher = SSL_get_current_cipher(d.ssl.get());
    return std::string(SSL_get_version(d.ssl.get())) + " " + (cipher ? SSL_CIPHER_get_name(cipher) : "(no cipher)");
}

TlsFailure TlsClient::failure() const
{
    return impl_->failure;
}

const std::string& TlsClient::failureText() const
{
    return impl_->failureText;
}

} // namespace tolmail::platform
