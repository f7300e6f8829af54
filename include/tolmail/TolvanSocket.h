// TolvanSocket: an asynchronous TCP/UDP socket whose waits keep the thread's
// message loop turning and whose events are raised synchronously on its thread.
#pragma once

#include <cstdint>
#include <memory>
#include <string>

#include "tolmail/caller.h"
#include "tolmail/events.h"
#include "tolmail/ref.h"
#include "tolmail/socket_codes.h"
#include "tolmail/variant.h"

namespace tolmail {

/// Socket types.
enum IpProto : int32_t {
    IPPROTO_TCP = 6,
    IPPROTO_UDP = 17,
};

/// Events of TolvanSocket (dispatch ids 1 to 4). Override what you need.
class TolvanSocketEvents {
public:
    virtual ~TolvanSocketEvents() = default;
    /// Data arrived (DataLen 0: the peer closed its side). Read it with GetData/GetlnData.
    virtual void OnRecvData(int32_t DataLen, int32_t RcvPort, const std::string& RcvAddr)
    {
        (void)DataLen, (void)RcvPort, (void)RcvAddr;
    }
    /// A listening socket has a connection waiting; hand socketID to another socket's Accept.
    virtual void OnAcceptConnection(int32_t& socketID) { (void)socketID; }
    /// The peer closed the connection; the socket is already closed.
    virtual void OnCloseConnection() {}
    /// An outgoing connect completed, or Accept took a connection.
    virtual void OnConnect() {}
};

class TolvanSocket : public std::enable_shared_from_this<TolvanSocket> {
    struct Private {
        explicit Private() = default;
    };

public:
    /// Creates a socket component (the only way to make one).
    static Ref<TolvanSocket> Create();
    explicit TolvanSocket(Private);
    ~TolvanSocket();
    TolvanSocket(const TolvanSocket&) = delete;
    TolvanSocket& operator=(const TolvanSocket&) = delete;

    // Properties: the getter and the setter share the member's name.
    int32_t LocalPort() const;
    void LocalPort(int32_t value);
    bool Broadcast() const;
    void Broadcast(bool value);
    std::string Version() const;
    std::string LocalHostName() const;
    int32_t TimeOut() const;
    void TimeOut(const int32_t& value);
    IpProto SocketType() const;
    void SocketType(int32_t value);
    int32_t SocketHandle() const;
    bool Connected() const;
    int32_t Port() const;
    void Port(int32_t value);
    std::string Host() const;
    void Host(const std::string& value);

    // Methods.
    int32_t Connect();
    void CloseSocket();
    int32_t Listen();
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
    /// or the connection closed during the send; 9 not sent: the peer took nothing for
    /// TimeOut seconds, or the connection failed (a slow reader that keeps taking
    /// bytes never times a send out).
    Variant senddta(const Variant& DataBuff);

    // Event sinks.
    uint32_t Advise(std::shared_ptr<TolvanSocketEvents> sink);
    void Unadvise(uint32_t cookie);

    /// Component-only: the notification window's procedure hands this socket's network
    /// events here (message 1025; wParam the socket handle; lParam the event in its low
    /// word and the Winsock error in its high word). Always returns 0.
    int32_t HandleNotification(uint32_t message, int32_t wParam, int32_t lParam, const detail::Caller& caller);

    class Impl;  // the component's state and its notification handler (src/socket)
    /// Component-only: the state behind the members, for the library's own layers.
    Impl& Internals(const detail::Caller& caller);

private:
    std::unique_ptr<Impl> impl_;
};

} // namespace tolmail
