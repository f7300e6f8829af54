// The state behind TolvanSocket's members, and its wait.
#pragma once

#include <cstdint>
#include <memory>
#include <string>

#include "platform/clock.h"
#include "platform/hidden.h"
#include "platform/library_access.h"
#include "platform/message_loop.h"
#include "platform/net.h"
#include "platform/tls_engine.h"
#include "socket/dialogue_trace.h"
#include "socket/pending_text.h"
#include "socket/socket_info.h"
#include "tolmail/TolvanSocket.h"

namespace tolmail {

class TOLMAIL_HIDDEN TolvanSocket::Impl {
public:
    // Public state.
    int32_t LocalPort = 25;
    bool Broadcast = false;
    std::string Host = "127.0.0.0";
    int32_t Port = 25;
    IpProto SocketType = IpProto::IPPROTO_TCP;
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

    /// Why the last Connect failed, as a Winsock error number; 0 after one that did not
    /// fail or whose reason the platform did not give.
    int32_t ConnectError = 0;
    /// Bytes handed to the kernel and handed out to readers over the socket's life: the
    /// trace summarises message contents by them.
    uint64_t BytesSent = 0;
    uint64_t BytesTaken = 0;
    /// The dialogue trace of the component that owns this connection.
    socket::TraceState Trace;

    EventSource<TolvanSocketEvents> events;

    // TLS: settings, and the session of the open connection. The engine sits under the
    // receive buffer: what the system receives is fed to it and only its plaintext goes
    // into ReceiveInfo, so every read and its rules work alike in the clear and under TLS.
    bool ImplicitTLS = false;
    std::string TLSCAFile;
    bool TLSSkipVerification = false;
    std::string TLSError;
    /// Null while the connection runs in the clear.
    std::unique_ptr<platform::TlsClient> Tls;
    /// The handshake ended well: reads decrypt, sends encrypt.
    bool TlsActive = false;
    /// The server's TCP close was received: no receive is tried again.
    bool TlsInputEnded = false;
    /// The handshake's wait looks at this: a read notification fed the engine.
    bool TlsFed = false;
    /// Ciphertext the engine made outside a send (its answer to the server's key update)
    /// that the system did not take at once; it goes ahead of the next send's.
    std::string TlsBacklog;

    bool tlsOn() const noexcept { return Tls && TlsActive; }
    /// Runs the handshake on the open connection (StartTLS, and Connect with ImplicitTLS).
    int32_t startTls();
    /// A read notification under TLS.
    void receiveTls();
    /// Turns a send's plaintext into the ciphertext to send; false when TLS cannot take
    /// it (the handshake has not ended, or the session failed).
    bool encryptForSend(std::string_view plain, std::string& wire);
    /// Best effort close_notify, then forgets the session; the socket stays as it is.
    void endTls();
    /// senddta's work: every byte of a stream send (encrypted under TLS), or one datagram.
    /// It copies no plaintext, so a caller whose bytes hold a secret wipes its own.
    int32_t sendBytes(std::string_view bytes);
    /// The send loop of senddta: every byte of `bytes`, under its time-out rules.
    int32_t transmit(std::string_view bytes, bool datagram);

    /// True while the component holds an open socket.
    bool isOpen() const noexcept { return SocketHandle != 0 && SocketHandle != -1 && Connected; }

    /// True while the line arriving is one over the limit, dropped as it comes.
    bool DiscardingLine = false;

    /// Registers a freshly opened socket under this component, with empty buffers:
    /// nothing of an earlier connection is handed out as this one's.
    void registerSocket(int32_t handle, WeakRef<TolvanSocket> owner);
    void closeSocket();

    /// The notification window's procedure hands `owner`'s network events here
    /// (wParam the socket handle; lParam the event in its low word and the error in
    /// its high word): they become state and events. Always returns 0.
    int32_t HandleNotification(TolvanSocket& owner, uint32_t message, int32_t wParam, int32_t lParam);

    /// True while `info` is still this component's open connection. Every wait asks
    /// after each dispatch: a notification or a handler may have closed it, or closed
    /// it and opened another, and its handle must not be used then.
    bool stillOn(const Ref<socket::SocketInfo>& info) const noexcept
    {
        return Connected && ReceiveInfo == info;
    }

    enum class Line { Partial, Complete, TooLong };
    /// One pass of a line read: takes buffered text (memory and spill file) until
    /// LineBuffer holds a whole line, whose length with CR LF goes to `length`. A line
    /// over the limit is dropped as it comes, across passes and calls, and reported
    /// once its end was dropped too.
    Line gatherLine(socket::SocketInfo& info, size_t& length);

    /// Runs a read's passes over `info` until `pass` reports its goal. It waits only
    /// on an open connection and ends at once when that closes (the pass has taken
    /// what was buffered by then). Inside this socket's own read event nothing more can
    /// arrive for it until the handler returns, so there a single pass is made: the
    /// handler takes what is buffered and the next event brings the rest.
    template <class Pass>
    void readPasses(const Ref<socket::SocketInfo>& info, Pass&& pass)
    {
        auto step = [&] { return ReceiveInfo != info || pass() || !Connected; };
        if (!stillOn(info) || platform::SocketHeld(SocketHandle)) {
            step();
            return;
        }
        wait(step);
    }

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

using SocketImpl = LibraryAccess::Of<TolvanSocket>::Impl;

} // namespace tolmail
