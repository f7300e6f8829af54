// TolvanSocket's server side: Listen and Accept.
#include "socket/socket_impl.h"
#include "socket/socket_layer.h"
#include "socket/result_codes.h"
#include "socket/winsock_support.h"

namespace tolmail {

int32_t TolvanSocket::Listen()
{
    Impl& s = *impl_;
    if (s.isOpen())
        return socket::kAlreadyListening;
    if (!socket::EnsureWinsock())
        return socket::kLayerFailed;
    int32_t handle = socket::OpenListener(s.LocalPort, static_cast<int32_t>(s.SocketType));
    if (handle == -1) {
        socket::ReleaseWinsockIfIdle();
        return socket::kOpenFailed;
    }
    if (!socket::EnsureWinsock())
        return socket::kLayerFailed;
    s.registerSocket(handle, weak_from_this());
    s.Connected = true;
    return socket::kOk;
}

int32_t TolvanSocket::Accept(int32_t socketID)
{
    Impl& s = *impl_;
    if (s.isOpen())
        return socket::kAlreadyOpenForAccept;
    platform::SockAddrIn peer;
    int32_t handle = socketID == -1 ? -1 : platform::AcceptOn(socketID, &peer);
    if (handle == -1)
        return socket::kAcceptFailed;
    if (!socket::EnsureWinsock()) {
        platform::CloseSocketHandle(handle);
        return socket::kLayerFailed;
    }
    s.registerSocket(handle, weak_from_this());
    s.Port = platform::NetToHostShort(peer.port);
    s.Host = socket::AddressToText(peer.addr);
    s.events.raise([](TolvanSocketEvents& sink) { sink.OnConnect(); });
    s.Connected = true;
    return socket::kAccepted;
}

} // namespace tolmail
