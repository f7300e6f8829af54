// TolvanSocket's server side: Listen and Accept.
#include "socket/socket_impl.h"
#include "socket/socket_layer.h"
#include "socket/winsock_support.h"

namespace tolmail {
namespace {

constexpr int32_t kListening = 0;
constexpr int32_t kAccepted = -1;
constexpr int32_t kListenFailed = 4;
constexpr int32_t kAcceptFailed = 10;
constexpr int32_t kAlreadyOpenListen = 16;
constexpr int32_t kAlreadyOpenAccept = 32;
constexpr int32_t kLayerFailed = 96;

} // namespace

int32_t TolvanSocket::Listen()
{
    Impl& s = *impl_;
    if (s.isOpen())
        return kAlreadyOpenListen;
    if (!socket::EnsureWinsock())
        return kLayerFailed;
    int32_t handle = socket::OpenListener(s.LocalPort, s.SocketType);
    if (handle == -1) {
        socket::ReleaseWinsockIfIdle();
        return kListenFailed;
    }
    if (!socket::EnsureWinsock())
        return kLayerFailed;
    s.registerSocket(handle, weak_from_this());
    s.Connected = true;
    return kListening;
}

int32_t TolvanSocket::Accept(int32_t socketID)
{
    Impl& s = *impl_;
    if (s.isOpen())
        return kAlreadyOpenAccept;
    platform::SockAddrIn peer;
    int32_t handle = socketID == -1 ? -1 : platform::AcceptOn(socketID, &peer);
    if (handle == -1)
        return kAcceptFailed;
    if (!socket::EnsureWinsock()) {
        platform::CloseSocketHandle(handle);
        return kLayerFailed;
    }
    s.registerSocket(handle, weak_from_this());
    s.Port = platform::NetToHostShort(peer.port);
    s.Host = socket::AddressToText(peer.addr);
    s.events.raise([](TolvanSocketEvents& sink) { sink.OnConnect(); });
    s.Connected = true;
    return kAccepted;
}

} // namespace tolmail
