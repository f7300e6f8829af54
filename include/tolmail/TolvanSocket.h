/// \file
/// TolvanSocket: an asynchronous TCP/UDP socket whose waits keep the thread's
/// message loop turning and whose events are raised synchronously on its thread.
#pragma once

#include <cstdint>
#include <memory>
#include <string>

#include "tolmail/events.h"
#include "tolmail/export.h"
#include "tolmail/ref.h"
#include "tolmail/socket_codes.h"
#include "tolmail/variant.h"

namespace tolmail {

/// Socket types: the IP protocol numbers. Scoped, so that the names live beside the
/// system's own names of the same spelling. `Tcp` and `Udp` can be spelled everywhere;
/// `IPPROTO_TCP` and `IPPROTO_UDP` are there too, except where the system's socket header
/// (Windows' winsock2.h) was included first and made those names number macros: its
/// macros would turn them into numbers anyway, so portable code says `IpProto::Tcp`.
/// The socket header may come before or after this one.
enum class IpProto : int32_t {
    Tcp = 6,   ///< A stream (TCP) socket, the default.
    Udp = 17,  ///< A datagram (UDP) socket.
// A macro whose value is the number, not one that names the C library's own enumerator.
#if !defined(IPPROTO_TCP) || IPPROTO_TCP + 0 != 6
    IPPROTO_TCP = Tcp,  ///< The same as Tcp.
    IPPROTO_UDP = Udp,  ///< The same as Udp.
#endif
};

/// Events of TolvanSocket (dispatch ids 1 to 4). Derive, override what you need and
/// Advise the sink.
class TOLMAIL_API TolvanSocketEvents {
public:
    virtual ~TolvanSocketEvents() = default;
    /// Data arrived: DataLen characters (0: the peer closed its side), from RcvAddr at
    /// port RcvPort. Read it with GetData or GetlnData.
    virtual void OnRecvData(int32_t DataLen, int32_t RcvPort, const std::string& RcvAddr)
    {
        (void)DataLen, (void)RcvPort, (void)RcvAddr;
    }
    /// A listening socket has a connection waiting; hand socketID to another socket's
    /// Accept (a value written back is ignored).
    virtual void OnAcceptConnection(int32_t& socketID) { (void)socketID; }
    /// The peer closed the connection; the socket is already closed.
    virtual void OnCloseConnection() {}
    /// An outgoing connect completed, or Accept took a connection.
    virtual void OnConnect() {}
};

/// An asynchronous TCP or UDP socket. Results are socket_result codes: 0 done; -1
/// Accept took the connection; 1 nothing (no complete line) arrived within TimeOut;
/// 3 Connect on an open socket; 4 the socket could not be set up; 6 not connected;
/// 8 a datagram socket could not be created; 9 not sent; 10 Accept failed; 12 a line
/// over 1 MiB was dropped; 16 Listen on an open socket; 32 Accept on an open socket;
/// 64 the TLS handshake failed; 96 the thread's socket layer did not start.
class TOLMAIL_API TolvanSocket : public std::enable_shared_from_this<TolvanSocket> {
public:
    /// Creates a socket component (the only way to make one).
    static Ref<TolvanSocket> Create();
    /// Closes an open socket.
    ~TolvanSocket();
    TolvanSocket(const TolvanSocket&) = delete;
    TolvanSocket& operator=(const TolvanSocket&) = delete;

    /// The local port Listen binds, 25 by default.
    int32_t LocalPort() const;
    /// Sets the local port for Listen.
    void LocalPort(int32_t value);
    /// When true, a UDP senddta goes to the broadcast address instead of Host (false
    /// by default).
    bool Broadcast() const;
    /// Sets Broadcast.
    void Broadcast(bool value);
    /// Always "1.10b".
    std::string Version() const;
    /// This machine's host name.
    std::string LocalHostName() const;
    /// Seconds a read or send waits, 5 by default.
    int32_t TimeOut() const;
    /// Sets TimeOut in seconds; values above 120 are stored as 120.
    void TimeOut(const int32_t& value);
    /// The socket type, IpProto::Tcp by default.
    IpProto SocketType() const;
    /// Sets the socket type by number: 17 gives UDP, any other value TCP.
    void SocketType(int32_t value);
    /// Sets the socket type.
    void SocketType(IpProto value);
    /// The platform's handle of the open socket (0 when none was opened).
    int32_t SocketHandle() const;
    /// True while a connection (or a listening or bound socket) is open.
    bool Connected() const;
    /// The peer's port: where Connect goes, or where an accepted connection came from.
    int32_t Port() const;
    /// Sets the port Connect goes to.
    void Port(int32_t value);
    /// The peer's name or address ("127.0.0.0" until set).
    std::string Host() const;
    /// Sets the host Connect goes to.
    void Host(const std::string& value);

    /// When true, Connect starts TLS right after the TCP connection, as StartTLS does: for
    /// ports where the server expects TLS from the first byte (465, 995). False by default.
    bool ImplicitTLS() const;
    /// Sets ImplicitTLS.
    void ImplicitTLS(bool value);
    /// A PEM file of certificate authorities to trust besides the system's own, for
    /// servers whose certificates a private authority issued; empty (the default): none.
    std::string TLSCAFile() const;
    /// Sets TLSCAFile; it is read when TLS starts.
    void TLSCAFile(const std::string& value);
    /// When true, TLS accepts any certificate from anyone: the connection is encrypted but
    /// whoever sits between this computer and the server can read and change it. Only for
    /// test servers. False by default.
    bool TLSSkipVerification() const;
    /// Sets TLSSkipVerification.
    void TLSSkipVerification(bool value);
    /// True while TLS protects this connection.
    bool Encrypted() const;
    /// Why TLS last failed on this component, in plain words (e.g. "certificate
    /// verification failed: the certificate is for another host name (wanted
    /// mail.example.net)"); empty when it did not. Cleared by Connect and StartTLS.
    std::string TLSError() const;

    /// Connects to Host at Port and waits up to TimeOut seconds: 0 connected (OnConnect
    /// is raised), 3 already connected, 4 no connection was made, 64 ImplicitTLS is set
    /// and TLS failed (the connection is closed), 96 no socket layer.
    int32_t Connect();
    /// Starts TLS on the open connection: the server's certificate must be valid for Host
    /// (a name or an address) and issued by a trusted authority, and the handshake must end
    /// within TimeOut seconds. From then on reads return decrypted text and senddta
    /// encrypts. 0 done (also when TLS was already active); 6 not connected, or a datagram
    /// socket; 64 TLS failed: TLSError says why, and the connection is closed. Text that
    /// arrived before it and was not read yet is dropped: nothing that came in the clear
    /// may pass for what the server says under TLS.
    int32_t StartTLS();
    /// Closes the socket; nothing happens when none is open. Under TLS it first tells the
    /// server so (without waiting for it).
    void CloseSocket();
    /// Listens at LocalPort (a UDP socket is bound there): 0, 4 the socket could not be
    /// set up, 16 already open, 96 no socket layer.
    int32_t Listen();
    /// Takes the connection that OnAcceptConnection announced under socketID: -1 taken
    /// (OnConnect is raised, Host and Port give the peer), 10 failed, 32 already open,
    /// 96 no socket layer.
    int32_t Accept(int32_t socketID);
    /// Text that has arrived (DataLen > 0: waits up to 15 seconds for that many
    /// characters). 0 with the text; 1 nothing arrived within TimeOut; 6 not
    /// connected, once nothing is left of what arrived before the peer closed.
    int32_t GetData(std::string& DataBuff, int32_t DataLen = 0);
    /// One whole line with its CR LF, never part of one. 0 with the line; 1 no
    /// complete line within TimeOut (the part that came stays for the next call);
    /// 6 not connected, once no complete line is left of what arrived before the peer
    /// closed; 12 a line longer than 1 MiB (without its CR LF) was read to its end and
    /// dropped, DataBuff empty: the next call returns the line after it.
    /// Reads take buffered text without waiting and end at once when the peer closes.
    /// Called from this socket's own OnRecvData, a read takes only what is buffered
    /// and does not wait: the rest comes with the next OnRecvData.
    int32_t GetlnData(std::string& DataBuff);
    /// Sends a string, a byte array, or the string form of any other value; returns a
    /// Variant holding a 16-bit integer result: 0 every byte went out; 6 not connected,
    /// or the connection closed during the send; 8 a datagram socket could not be
    /// created; 9 not sent: the peer took nothing for TimeOut seconds, or the
    /// connection failed (a slow reader that keeps taking bytes never times a send out).
    Variant senddta(const Variant& DataBuff);

    /// Connects an event sink; returns the cookie that disconnects it.
    uint32_t Advise(std::shared_ptr<TolvanSocketEvents> sink);
    /// Disconnects the sink of this cookie (an unknown cookie is ignored).
    void Unadvise(uint32_t cookie);

private:
    friend class LibraryAccess;
    TolvanSocket();
    class Impl;
    std::unique_ptr<Impl> impl_;
};

} // namespace tolmail
