// TolvanSocket's server side: Listen and Accept.
#include "socket/socket_impl.h"
#include "socket/socket_layer.h"
#include "socket/winsock_support.h"
#include "tolmail/socket_codes.h"

namespace tolmail {

int32_t TolvanSocket::Listen()
{
    Impl& s = *impl_;
    if (s.isOpen())
        return socket_result::AlreadyListening;
    if (!socket::EnsureWinsock())
        return socket_result::LayerFailed;
    int32_t handle = socket::OpenListener(s.LocalPort, s.SocketType);
    if (handle == -1) {
        socket::ReleaseWinsockIfIdle();
        return socket_result::OpenFailed;
    }
    if (!socket::EnsureWinsock())
        return socket_result::LayerFailed;
    s.registerSocket(handle, weak_from_this());
    s.Connected = true;
    return socket_result::Ok;
}

int32_t TolvanSocket::Accept(int32_t socketID)
{
    Impl& s = *impl_;
    if (s.isOpen())
        return socket_result::AlreadyOpenForAccept;
    platform::SockAddrIn peer;
    int32_t handle = socketID == -1 ? -1 : platform::AcceptOn(socketID, &peer);
    if (handle == -1)
        return socket_result::AcceptFailed;
    if (!socket::EnsureWinsock()) {
        platform::CloseSocketHandle(handle);
        return socket_result::LayerFailed;
    }
    s.registerSocket(handle, weak_from_this());
    s.Port = platform::NetToHostShort(peer.port);
    s.Host = socket::AddressToText(peer.addr);
    s.events.raise([](TolvanSocketEvents& sink) { sink.OnConnect(); });
    s.Connected = true;
    return socket_result::Accepted;
}

} // namespace tolmail
