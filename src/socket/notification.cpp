// TolvanSocket's notification handler: network events become state and events.
#include "socket/socket_impl.h"
#include "socket/socket_layer.h"
#include "socket/winsock_support.h"

namespace tolmail {
namespace {

void onRead(SocketImpl& s)
{
    if (s.Tls) {
        s.receiveTls();
        return;
    }
    Ref<socket::SocketInfo> info = s.ReceiveInfo;
    int32_t handle = info->intSocket();
    bool datagram = s.SocketType == IpProto::IPPROTO_UDP;
    int32_t capacity = datagram ? socket::MaxDatagramSize() : socket::kStreamReceiveSize;
    // This socket's next read and its close wait until the event's handler returns:
    // they must not overtake this read's event, and a handler that reads (and so keeps
    // the loop turning) is never re-entered by its own socket's next read, which bounds
    // the nesting of event-driven reads to one level per socket.
    platform::SocketHold hold(handle);
    int32_t count = info->ReceiveAppend(capacity, [&](char* destination, int32_t room) {
        return datagram ? platform::RecvFrom(handle, destination, room, &s.LastSender)
                        : platform::Recv(handle, destination, room);
    });
    if (count >= 0) {
        platform::dispatchPending();
        int32_t port = s.Port;
        std::string address = s.Host;
        if (datagram) {
            port = platform::NetToHostShort(s.LastSender.port);
            address = socket::AddressToText(s.LastSender.addr);
        }
        s.events.raise([&](TolvanSocketEvents& sink) { sink.OnRecvData(count, port, address); });
    }
    s.WaitStart = platform::SecondsNow();
}

} // namespace

int32_t TolvanSocket::Impl::HandleNotification(TolvanSocket& owner, uint32_t message, int32_t wParam,
                                               int32_t lParam)
{
    Impl& s = *this;
    if (message != socket::kSocketMessage || !s.ReceiveInfo || wParam != s.ReceiveInfo->intSocket())
        return 0;
    int16_t event = socket::LowWordSigned(lParam);
    int16_t error = socket::HighWord(lParam);
    switch (event) {
    case platform::FdRead:
        onRead(s);
        break;
    case platform::FdWrite:
        s.WriteReady = true;
        break;
    case platform::FdAccept:
        if (error == 0) {
            s.events.raise([&](TolvanSocketEvents& sink) {
                int32_t socketID = wParam;  // what a handler writes back is ignored
                sink.OnAcceptConnection(socketID);
            });
        }
        break;
    case platform::FdConnect:
        if (error != 0) {
            s.ConnectError = error;
            s.ConnectState = 2;
            break;
        }
        s.ConnectState = 1;
        s.events.raise([](TolvanSocketEvents& sink) { sink.OnConnect(); });
        break;
    case platform::FdClose:
        owner.CloseSocket();
        s.events.raise([](TolvanSocketEvents& sink) { sink.OnCloseConnection(); });
        break;
    default:
        break;
    }
    return 0;
}

} // namespace tolmail
