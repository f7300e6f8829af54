// TolvanSocket.senddta: stream sends that deliver every byte, and datagram sends.
#include <algorithm>
#include <climits>

#include "socket/socket_impl.h"
#include "socket/socket_layer.h"
#include "socket/winsock_support.h"
#include "tolmail/socket_codes.h"

namespace tolmail {
namespace {

// Datagram sends that fail outright, in a row, before senddta gives up: one failure
// may be the report of an earlier datagram's refusal.
constexpr int kMaxDatagramFailures = 3;
// How often a blocked stream send offers the rest again without a write notification:
// the kernel takes bytes as a slow reader frees them, well before it reports the
// socket writable, and those bytes are the progress that keeps the send alive.
constexpr double kSendRetrySeconds = 0.1;
constexpr uint32_t kBroadcastAddress = 0xFFFFFFFFu;
// Send failures that say "not now" rather than "never".
constexpr int32_t kWouldBlock = 10035;
constexpr int32_t kInterrupted = 10004;
constexpr int32_t kNoBufferSpace = 10055;

/// senddta answers with a 16-bit integer in a Variant.
Variant Result(int32_t code)
{
    return Variant(static_cast<int16_t>(code));
}

// The bytes a value sends, read in place where it holds bytes already: no copy of a
// line outlives the send, which matters for lines with a password in them. Other
// values are converted into `converted`.
std::string_view sentBytes(const Variant& value, std::string& converted)
{
    if (value.isString())
        return value.get<std::string>();
    if (value.isBytes()) {
        const Bytes& bytes = value.get<Bytes>();
        return {reinterpret_cast<const char*>(bytes.data()), bytes.size()};
    }
    converted = value.toString();
    return converted;
}

enum class Outcome { Done, Progress, Blocked, Failed };

bool transient(int32_t error)
{
    return error == kWouldBlock || error == kInterrupted || error == kNoBufferSpace;
}

// Hands as much of the rest as the socket takes now. A send that would block arms
// the next write notification.
Outcome sendStream(int32_t handle, std::string_view bytes, size_t& sent)
{
    size_t before = sent;
    while (sent < bytes.size()) {
        size_t piece = std::min<size_t>(bytes.size() - sent, INT32_MAX);
        int32_t n = platform::Send(handle, bytes.data() + sent, static_cast<int32_t>(piece));
        if (n < 0) {
            if (!transient(platform::LastError()))
                return Outcome::Failed;  // reset or shut down: no later attempt can deliver
            break;
        }
        sent += static_cast<size_t>(n);
    }
    if (sent == bytes.size())
        return Outcome::Done;
    return sent > before ? Outcome::Progress : Outcome::Blocked;
}

Outcome sendDatagram(const SocketImpl& s, std::string_view bytes)
{
    if (bytes.empty())
        return Outcome::Done;
    platform::SockAddrIn to;
    to.family = platform::kAfInet;
    to.port = platform::HostToNetShort(static_cast<uint16_t>(s.Port & 0xFFFF));
    to.addr = s.Broadcast ? kBroadcastAddress : socket::ResolveHost(s.Host);
    if (bytes.size() > INT32_MAX)
        return Outcome::Failed;
    int32_t n = platform::SendTo(s.SocketHandle, bytes.data(), static_cast<int32_t>(bytes.size()), to);
    if (n >= 0)
        return Outcome::Done;
    return transient(platform::LastError()) ? Outcome::Blocked : Outcome::Failed;
}

} // namespace

Variant TolvanSocket::senddta(const Variant& DataBuff)
{
    Impl& s = *impl_;
    if (s.SocketType == IpProto::IPPROTO_UDP) {
        if (!s.isOpen()) {
            if (!socket::EnsureWinsock())
                return Result(socket_result::LayerFailed);
            s.SocketHandle = platform::Socket(platform::kAfInet, platform::kSockDgram, 0);
            if (s.SocketHandle == -1) {
                socket::ReleaseWinsockIfIdle();
                return Result(socket_result::DatagramSocketFailed);
            }
            s.registerSocket(s.SocketHandle, weak_from_this());
            s.Connected = true;
        }
        platform::SetBroadcast(s.SocketHandle, s.Broadcast);  // a refusal shows in the send
    }
    std::string converted;
    return Result(s.sendBytes(sentBytes(DataBuff, converted)));
}

int32_t TolvanSocket::Impl::sendBytes(std::string_view bytes)
{
    Impl& s = *this;
    bool datagram = s.SocketType == IpProto::IPPROTO_UDP;
    if (!s.Connected)
        return socket_result::NotConnected;
    size_t plainSize = bytes.size();
    // Under TLS what goes out is the ciphertext; the send's rules stay those of its bytes.
    std::string ciphertext;
    if (!datagram && s.Tls) {
        if (!s.encryptForSend(bytes, ciphertext))
            return socket_result::NotSent;
        bytes = ciphertext;
    }
    int32_t result = s.transmit(bytes, datagram);
    if (result == socket_result::Ok)
        s.BytesSent += plainSize;
    return result;
}

int32_t TolvanSocket::Impl::transmit(std::string_view bytes, bool datagram)
{
    Impl& s = *this;
    Ref<socket::SocketInfo> info = s.ReceiveInfo;
    int32_t handle = s.SocketHandle;
    // Renewing the request posts a write notification once the socket can take data.
    platform::AsyncSelect(handle, socket::kSocketMessage, socket::kSendMask);
    size_t sent = 0;
    int failures = 0;
    // The time-out counts from the last progress: WaitStart moves with every byte the
    // kernel takes (and, as in every wait, with every read notification).
    s.WaitStart = platform::SecondsNow();
    double retryAt = s.WaitStart + kSendRetrySeconds;
    for (;;) {
        platform::dispatchPending();
        // A close notification handled just now zeroed the handle, or a handler replaced
        // the connection: the rest of the bytes have nowhere to go.
        if (!s.stillOn(info))
            return socket_result::NotConnected;
        double now = platform::SecondsNow();
        if (s.WriteReady || now >= retryAt) {
            s.WriteReady = false;
            Outcome outcome = datagram ? sendDatagram(s, bytes) : sendStream(handle, bytes, sent);
            if (outcome == Outcome::Done)
                return socket_result::Ok;
            if (outcome == Outcome::Progress)
                s.WaitStart = now;
            if (outcome == Outcome::Failed && (!datagram || ++failures == kMaxDatagramFailures))
                return socket_result::NotSent;
            if (outcome == Outcome::Failed)  // a datagram is offered again when writable
                platform::AsyncSelect(handle, socket::kSocketMessage, socket::kSendMask);
            retryAt = now + kSendRetrySeconds;
        }
        double left = s.WaitStart + static_cast<double>(s.TimeOut) - now;
        if (left < 0)
            return socket_result::NotSent;
        platform::waitForActivity(std::min(left, retryAt - now));
    }
}

} // namespace tolmail
