// TolvanSocket.senddta: stream sends that deliver every byte, and datagram sends.
#include <algorithm>
#include <climits>

#include "socket/socket_impl.h"
#include "socket/socket_layer.h"
#include "socket/result_codes.h"
#include "socket/winsock_support.h"

namespace tolmail {
namespace {

// Attempts in a row that may pass without any byte going out.
constexpr int kMaxAttempts = 3;
constexpr uint32_t kBroadcastAddress = 0xFFFFFFFFu;

/// senddta answers with a 16-bit integer in a Variant.
Variant Result(int32_t code)
{
    return Variant(static_cast<int16_t>(code));
}

std::string toBytes(const Variant& value)
{
    if (value.isString())
        return value.get<std::string>();
    if (value.isBytes()) {
        const Bytes& bytes = value.get<Bytes>();
        return std::string(bytes.begin(), bytes.end());
    }
    return value.toString();
}

enum class Outcome { Done, Progress, NoProgress };

// Hands as much of the rest as the socket takes now. A send that would block arms
// the next write notification.
Outcome sendStream(int32_t handle, const std::string& bytes, size_t& sent)
{
    size_t before = sent;
    while (sent < bytes.size()) {
        size_t piece = std::min<size_t>(bytes.size() - sent, INT32_MAX);
        int32_t n = platform::Send(handle, bytes.data() + sent, static_cast<int32_t>(piece));
        if (n < 0)
            break;
        sent += static_cast<size_t>(n);
    }
    if (sent == bytes.size())
        return Outcome::Done;
    return sent > before ? Outcome::Progress : Outcome::NoProgress;
}

Outcome sendDatagram(const TolvanSocket::Impl& s, const std::string& bytes)
{
    if (bytes.empty())
        return Outcome::Done;
    platform::SockAddrIn to;
    to.family = platform::kAfInet;
    to.port = platform::HostToNetShort(static_cast<uint16_t>(s.Port & 0xFFFF));
    to.addr = s.Broadcast ? kBroadcastAddress : socket::ResolveHost(s.Host);
    if (bytes.size() > INT32_MAX)
        return Outcome::NoProgress;
    int32_t n = platform::SendTo(s.SocketHandle, bytes.data(), static_cast<int32_t>(bytes.size()), to);
    return n < 0 ? Outcome::NoProgress : Outcome::Done;
}

} // namespace

Variant TolvanSocket::senddta(const Variant& DataBuff)
{
    Impl& s = *impl_;
    bool datagram = s.SocketType == IPPROTO_UDP;
    if (!s.Connected && !datagram)
        return Result(socket::kNotConnected);
    std::string bytes = toBytes(DataBuff);
    if (datagram) {
        if (!s.isOpen()) {
            if (!socket::EnsureWinsock())
                return Result(socket::kLayerFailed);
            s.SocketHandle = platform::Socket(platform::kAfInet, platform::kSockDgram, 0);
            if (s.SocketHandle == -1) {
                socket::ReleaseWinsockIfIdle();
                return Result(socket::kDatagramSocketFailed);
            }
            s.registerSocket(s.SocketHandle, weak_from_this());
            s.Connected = true;
        }
        platform::SetBroadcast(s.SocketHandle, s.Broadcast);  // a refusal shows in the send
    }
    size_t sent = 0;
    for (int attempts = 0; attempts < kMaxAttempts;) {
        // Renewing the request posts a write notification once the socket can take data.
        platform::AsyncSelect(s.SocketHandle, socket::kSocketMessage, socket::kSendMask);
        bool ready = s.wait([&] { return s.WriteReady; });
        Outcome outcome = Outcome::NoProgress;
        if (ready)
            outcome = datagram ? sendDatagram(s, bytes) : sendStream(s.SocketHandle, bytes, sent);
        s.WriteReady = false;
        if (outcome == Outcome::Done)
            return Result(socket::kOk);
        // A piece that went out in part starts a fresh count: only attempts in a row
        // that move nothing give up.
        attempts = outcome == Outcome::Progress ? 0 : attempts + 1;
    }
    return Result(socket::kNotSent);
}

} // namespace tolmail
