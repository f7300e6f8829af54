// The state behind TolvanSocket's members, and its wait.
#pragma once

#include <cstdint>
#include <string>

#include "platform/clock.h"
#include "platform/message_loop.h"
#include "platform/net.h"
#include "socket/pending_text.h"
#include "socket/socket_info.h"
#include "tolmail/TolvanSocket.h"

namespace tolmail {

class TolvanSocket::Impl {
public:
    // Public state.
    int32_t LocalPort = 25;
    bool Broadcast = false;
    std::string Host = "127.0.0.0";
    int32_t Port = 25;
    IpProto SocketType = IPPROTO_TCP;
    float TimeOut = 5;
    int32_t SocketHandle = 0;
    bool Connected = false;

    // Hidden state.
    Ref<socket::SocketInfo> ReceiveInfo;
    socket::PendingText LineBuffer;
    double WaitStart = 0;
    bool WriteReady = false;
    uint8_t ConnectState = 0;
    platform::SockAddrIn LastSender;

    EventSource<TolvanSocketEvents> events;

    /// True while the component holds an open socket.
    bool isOpen() const noexcept { return SocketHandle != 0 && SocketHandle != -1 && Connected; }

    /// Registers a freshly opened socket under this component.
    void registerSocket(int32_t handle, WeakRef<TolvanSocket> owner);
    /// Moves everything still in the receive buffer into LineBuffer; true when
    /// LineBuffer then holds text (read after the peer closed).
    bool takeLeftovers();
    void closeSocket();

    /// Passes of dispatch, work and test until `pass` reports its goal met or TimeOut
    /// seconds go by without incoming data. Between passes it blocks on the loop
    /// rather than spinning; at least one pass is made.
    template <class Pass>
    bool wait(Pass&& pass)
    {
        WaitStart = platform::SecondsNow();
        for (;;) {
            platform::dispatchPending();
            if (pass())
                return true;
            // Read notifications move WaitStart: the deadline is one of inactivity.
            double left = WaitStart + static_cast<double>(TimeOut) - platform::SecondsNow();
            if (left < 0)
                return false;
            platform::waitForActivity(left);
        }
    }
};

} // namespace tolmail
