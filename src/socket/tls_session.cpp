// TolvanSocket under TLS: its settings, the handshake, and the engine between the
// system's receives and sends and the receive buffer.
#include <algorithm>

#include "socket/socket_impl.h"
#include "socket/socket_layer.h"
#include "tolmail/socket_codes.h"

namespace tolmail {
namespace {

constexpr const char* kClosedInHandshake = "TLS failed: the server closed the connection during the handshake";
constexpr const char* kHandshakeTimedOut = "TLS failed: the server did not finish the handshake within the time-out";
constexpr const char* kHandshakeNotSent = "TLS failed: the handshake could not be sent to the server";
// While this socket's notifications are held (TLS started from its own read event) the
// loop cannot wake for its input, so the handshake looks by itself this often.
constexpr double kHeldLookSeconds = 0.05;

} // namespace

bool TolvanSocket::ImplicitTLS() const { return impl_->ImplicitTLS; }
void TolvanSocket::ImplicitTLS(bool value) { impl_->ImplicitTLS = value; }
std::string TolvanSocket::TLSCAFile() const { return impl_->TLSCAFile; }
void TolvanSocket::TLSCAFile(const std::string& value) { impl_->TLSCAFile = value; }
bool TolvanSocket::TLSSkipVerification() const { return impl_->TLSSkipVerification; }
void TolvanSocket::TLSSkipVerification(bool value) { impl_->TLSSkipVerification = value; }
bool TolvanSocket::Encrypted() const { return impl_->tlsOn() && impl_->isOpen(); }
std::string TolvanSocket::TLSError() const { return impl_->TLSError; }

int32_t TolvanSocket::StartTLS()
{
    impl_->TLSError.clear();
    return impl_->startTls();
}

namespace {

// Receives once what the system holds and feeds it to the engine: the count, 0 when
// the server closed its side, below 0 when nothing was there.
int32_t ReceiveCiphertext(SocketImpl& s)
{
    if (s.TlsInputEnded)
        return -1;
    std::string bytes(static_cast<size_t>(socket::kStreamReceiveSize), '\0');
    int32_t count = platform::Recv(s.SocketHandle, bytes.data(), socket::kStreamReceiveSize);
    if (count > 0) {
        bytes.resize(static_cast<size_t>(count));
        s.Tls->feedCiphertext(bytes);
    }
    if (count == 0)
        s.TlsInputEnded = true;
    return count;
}

// Offers what the engine made outside a send to the system once, without waiting: what
// it does not take goes ahead of the next send.
void SendBacklog(SocketImpl& s)
{
    s.TlsBacklog += s.Tls->takeCiphertext();
    if (s.TlsBacklog.empty())
        return;
    int32_t sent = platform::Send(s.SocketHandle, s.TlsBacklog.data(), static_cast<int32_t>(s.TlsBacklog.size()));
    if (sent > 0)
        s.TlsBacklog.erase(0, static_cast<size_t>(sent));
}

// Plaintext the engine holds already must not wait for the system, which will not
// report those bytes again.
void ReportHeldPlaintext(SocketImpl& s)
{
    if (s.Tls->hasPendingPlain())
        platform::PostSocketNotification(socket::kSocketMessage, s.SocketHandle, platform::FdRead);
}

// The handshake over `info`; empty when it ended well, else why not.
std::string Handshake(SocketImpl& s, const Ref<socket::SocketInfo>& info)
{
    double deadline = platform::SecondsNow() + static_cast<double>(s.TimeOut);
    for (;;) {
        s.TlsFed = false;
        platform::TlsStep step = s.Tls->handshake();
        std::string flight = s.Tls->takeCiphertext();
        // A failure's alert tells the server why; it is worth no wait of its own.
        if (step == platform::TlsStep::Failed) {
            if (!flight.empty())
                platform::Send(s.SocketHandle, flight.data(), static_cast<int32_t>(flight.size()));
            return s.Tls->failureText();
        }
        if (!flight.empty() && s.transmit(flight, false) != socket_result::Ok)
            return s.stillOn(info) ? kHandshakeNotSent : kClosedInHandshake;
        if (step == platform::TlsStep::Done)
            return {};
        // Read notifications feed the engine too; a handler may close the connection
        // meanwhile, and with it the engine.
        for (;;) {
            platform::dispatchPending();
            if (!s.stillOn(info))
                return kClosedInHandshake;
            if (ReceiveCiphertext(s) > 0 || s.TlsFed)
                break;
            if (s.TlsInputEnded)
                return kClosedInHandshake;
            double left = deadline - platform::SecondsNow();
            if (left <= 0)
                return kHandshakeTimedOut;
            if (platform::SocketHeld(s.SocketHandle))
                left = std::min(left, kHeldLookSeconds);
            platform::waitForActivity(left);
        }
    }
}

} // namespace

int32_t TolvanSocket::Impl::startTls()
{
    if (!isOpen() || SocketType != IpProto::IPPROTO_TCP)
        return socket_result::NotConnected;
    if (tlsOn())
        return socket_result::Ok;
    if (Tls) {  // called again from a handler while the handshake runs
        TLSError = "TLS failed: a handshake is already running on this connection";
        return socket_result::TlsFailed;
    }
    // Whatever came in the clear and was not read could have been put there by anyone on
    // the way; none of it may pass for what the server says under TLS.
    Ref<socket::SocketInfo> info = ReceiveInfo;
    LineBuffer.takeAll();
    DiscardingLine = false;
    for (std::string dropped = info->BufStr(); !dropped.empty(); dropped = info->BufStr()) {
    }
    Tls = std::make_unique<platform::TlsClient>(platform::TlsSettings{Host, TLSCAFile, TLSSkipVerification});
    TlsActive = false;
    TlsInputEnded = false;
    TlsBacklog.clear();
    std::string failure = Handshake(*this, info);
    if (failure.empty()) {
        TlsActive = true;
        socket::TraceTlsStarted(Trace, BytesSent, BytesTaken, Tls->sessionSummary());
        ReportHeldPlaintext(*this);
        return socket_result::Ok;
    }
    TLSError = failure;
    if (stillOn(info))
        closeSocket();
    return socket_result::TlsFailed;
}

void TolvanSocket::Impl::receiveTls()
{
    Ref<socket::SocketInfo> info = ReceiveInfo;
    int32_t handle = SocketHandle;
    // As in the clear: this socket's next read and its close wait for this one's event.
    platform::SocketHold hold(handle);
    int32_t received = ReceiveCiphertext(*this);
    WaitStart = platform::SecondsNow();
    if (!TlsActive) {
        TlsFed = TlsFed || received > 0;  // the handshake's own wait takes it from here
        return;
    }
    std::string plain;
    platform::TlsRead read = Tls->readPlain(plain);
    if (read == platform::TlsRead::Failed)
        TLSError = Tls->failureText();
    SendBacklog(*this);  // after a failure, the alert that tells the server why
    if (read == platform::TlsRead::Ok)
        ReportHeldPlaintext(*this);
    // A record without text (a session ticket) is nothing to report; the server's end,
    // by its TCP close or its close_notify, is reported as in the clear: a read of 0.
    bool ended = received == 0 || read != platform::TlsRead::Ok;
    if (plain.empty() && !ended)
        return;
    if (!plain.empty())
        info->BufStr(plain);
    platform::dispatchPending();
    auto raise = [&](int32_t length) {
        int32_t port = Port;
        std::string address = Host;
        events.raise([&](TolvanSocketEvents& sink) { sink.OnRecvData(length, port, address); });
    };
    if (!plain.empty())
        raise(static_cast<int32_t>(plain.size()));
    if (ended && stillOn(info))
        raise(0);
    // The system reports a TCP close by itself; a close_notify or a broken record leaves
    // the connection open, of no further use, and so it is closed here.
    if (read != platform::TlsRead::Ok && stillOn(info)) {
        closeSocket();
        events.raise([](TolvanSocketEvents& sink) { sink.OnCloseConnection(); });
    }
    WaitStart = platform::SecondsNow();
}

bool TolvanSocket::Impl::encryptForSend(std::string_view plain, std::string& wire)
{
    if (!tlsOn() || !Tls->writePlain(plain))
        return false;
    wire = std::move(TlsBacklog) + Tls->takeCiphertext();
    TlsBacklog.clear();
    return true;
}

void TolvanSocket::Impl::endTls()
{
    if (tlsOn() && !Tls->peerClosed() && Tls->failure() == platform::TlsFailure::None) {
        Tls->closeNotify();
        std::string goodbye = std::move(TlsBacklog) + Tls->takeCiphertext();
        if (!goodbye.empty())
            platform::Send(SocketHandle, goodbye.data(), static_cast<int32_t>(goodbye.size()));
    }
    Tls.reset();
    TlsActive = false;
    TlsBacklog.clear();
}

} // namespace tolmail
