// A TLS client that works on memory buffers only. The socket layer keeps every system call:
// it feeds what it receives, sends what the engine hands back, and moves plaintext in and
// out. Nothing of the TLS library behind it shows here, so that a platform whose own TLS is
// also buffer-driven can stand behind the same class.
#pragma once

#include <cstddef>
#include <limits>
#include <memory>
#include <string>
#include <string_view>

namespace tolmail::platform {

/// How the client checks the server it talks to.
struct TlsSettings {
    /// The name (or IP address literal) the certificate must be for; a name is also sent
    /// as the server name indication, so that a host serving several names picks the right
    /// certificate.
    std::string hostName;
    /// A PEM file of further certificate authorities to trust besides the system's own,
    /// for servers whose certificates a private authority issued. Empty: none.
    std::string extraCaFile;
    /// Accepts any certificate from anyone: the connection is then encrypted but not
    /// authenticated, and open to whoever sits in the middle. Only for test servers.
    bool insecureSkipVerify = false;
};

/// Where the handshake stands after a step.
enum class TlsStep {
    InProgress, ///< waits for more ciphertext from the server (send takeCiphertext() first)
    Done,       ///< the server is verified; plaintext may flow
    Failed,     ///< see failure() and failureText(); the connection is of no further use
};

/// Why a connection failed, for callers that react differently to each (the texts say it
/// to people).
enum class TlsFailure {
    None,
    CertificateExpired,
    CertificateNotYetValid,
    WrongHostName,
    UntrustedIssuer,   ///< unknown authority, or a self-signed certificate
    OtherVerification, ///< any other reason the certificate was refused
    Protocol,          ///< not TLS, a version below 1.2, a broken or refused record
    Setup,             ///< the settings cannot be used (an unreadable CA file)
};

/// What a readPlain() found.
enum class TlsRead {
    Ok,         ///< zero or more bytes appended; more may come with more ciphertext
    PeerClosed, ///< the server sent close_notify (what came before it is appended)
    Failed,     ///< see failure() and failureText()
};

/// One client connection's TLS state. Not copyable; one thread at a time.
class TlsClient {
public:
    explicit TlsClient(TlsSettings settings);
    ~TlsClient();
    TlsClient(TlsClient&&) noexcept;
    TlsClient& operator=(TlsClient&&) noexcept;
    TlsClient(const TlsClient&) = delete;
    TlsClient& operator=(const TlsClient&) = delete;

    /// Hands over ciphertext the socket received, in pieces of any size.
    void feedCiphertext(std::string_view bytes);
    /// What must be sent to the server now; empty when nothing is due. Also after a
    /// failure: it may hold the alert that tells the server why.
    std::string takeCiphertext();

    /// Advances the handshake with what was fed so far. Call again after each feed while it
    /// returns InProgress.
    TlsStep handshake();

    /// Encrypts `bytes` into the outgoing ciphertext. False when the handshake is not done,
    /// the connection failed, or close_notify was queued.
    bool writePlain(std::string_view bytes);
    /// Appends to `out` up to `limit` bytes of plaintext decrypted from what was fed.
    TlsRead readPlain(std::string& out, size_t limit = std::numeric_limits<size_t>::max());
    /// True when plaintext is held or a whole record waits inside the engine: the socket
    /// must then raise a read notification itself, as the system will not (the bytes
    /// have already left the socket). A record may carry no plaintext (a session ticket, a
    /// close), so the read it prompts may find nothing; after a read that stopped for want
    /// of ciphertext (not at its limit) this is false until more is fed.
    bool hasPendingPlain() const;

    /// Queues close_notify (take it with takeCiphertext); no plaintext is written after it.
    void closeNotify();
    /// The server sent close_notify.
    bool peerClosed() const;

    /// The protocol version and cipher the handshake agreed on, for people to read, e.g.
    /// "TLSv1.3 TLS_AES_256_GCM_SHA384"; empty until the handshake is done.
    std::string sessionSummary() const;

    /// Why the connection failed; None while it has not.
    TlsFailure failure() const;
    /// The reason in plain words, e.g. "certificate verification failed: the certificate is
    /// for another host name (wanted mail.example.net)"; empty while nothing failed.
    const std::string& failureText() const;

    struct Impl;

private:
    std::unique_ptr<Impl> impl_;
};

/// The text for a failure, shared by every implementation. `hostName` is the name that was
/// wanted; `detail` what the TLS library said, for the kinds it helps with.
std::string DescribeTlsFailure(TlsFailure kind, std::string_view hostName, std::string_view detail);

} // namespace tolmail::platform
