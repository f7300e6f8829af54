// The socket services on Winsock 2: the system posts the notifications to the thread's
// notification window itself and keeps their re-enabling rules; this layer adds the
// library's calling conventions (32-bit handles, the thread's last error, sockets that
// never block) and tells the loop which sockets it is to expect notifications for.
#include "platform/net.h"

#include <mutex>

#include "platform/win32/loop.h"
#include "platform/win32/windows_api.h"

namespace tolmail::platform {
namespace {

using win32::ToInt;
using win32::ToSocket;

// Start-up refuses versions below 1.1, as the system does.
constexpr int32_t kVersionNotSupported = WSAVERNOTSUPPORTED;

thread_local int tStartups = 0;

int32_t failWith(int32_t winsock)
{
    WSASetLastError(winsock);
    return kSocketError;
}

// The routines below may be reached before a component's own start-up (a name look-up,
// the host name): the process keeps one start-up of its own for its whole life.
void ensureStarted()
{
    static std::once_flag once;
    std::call_once(once, [] {
        WSADATA data;
        WSAStartup(MAKEWORD(2, 2), &data);
    });
}

sockaddr_in toSystem(const SockAddrIn& a)
{
    sockaddr_in s{};
    s.sin_family = static_cast<ADDRESS_FAMILY>(a.family);
    s.sin_port = a.port;
    s.sin_addr.s_addr = a.addr;
    return s;
}

SockAddrIn fromSystem(const sockaddr_in& s)
{
    SockAddrIn a;
    a.family = kAfInet;
    a.port = s.sin_port;
    a.addr = s.sin_addr.s_addr;
    return a;
}

int32_t resultOf(int rc)
{
    return rc == SOCKET_ERROR ? kSocketError : 0;
}

} // namespace

int32_t Startup(uint16_t version, StartupData& data)
{
    if ((version & 0xFF) < 1)
        return kVersionNotSupported;
    ensureStarted();
    WSADATA wsa{};
    const int rc = WSAStartup(version, &wsa);
    if (rc != 0)
        return rc;
    data.version = wsa.wVersion;
    data.highVersion = wsa.wHighVersion;
    data.description = wsa.szDescription;
    data.systemStatus = wsa.szSystemStatus;
    data.maxSockets = wsa.iMaxSockets;
    data.maxDatagramSize = wsa.iMaxUdpDg;
    ++tStartups;
    return 0;
}

int32_t Cleanup()
{
    // Only what this thread started: the process's own start-up must outlive it.
    if (tStartups == 0)
        return failWith(WSANOTINITIALISED);
    --tStartups;
    return WSACleanup() == 0 ? 0 : kSocketError;
}

bool IsBlocking()
{
    return false;  // no call here ever blocks
}

int32_t CancelBlockingCall()
{
    return failWith(WSAEINVAL);
}

int32_t LastError()
{
    return WSAGetLastError();
}

int32_t Socket(int32_t family, int32_t type, int32_t protocol)
{
    ensureStarted();
    if (family != kAfInet)
        return failWith(WSAEAFNOSUPPORT);
    if (type != kSockStream && type != kSockDgram)
        return failWith(WSAESOCKTNOSUPPORT);
    SOCKET s = ::socket(AF_INET, type == kSockStream ? SOCK_STREAM : SOCK_DGRAM, protocol);
    if (s == INVALID_SOCKET)
        return kInvalidSocket;
    // A select request makes a socket non-blocking, but one that never asks must not
    // block either.
    u_long nonBlocking = 1;
    ioctlsocket(s, FIONBIO, &nonBlocking);
    // Inheritance would keep the connection open in a program the host starts.
    SetHandleInformation(reinterpret_cast<HANDLE>(s), HANDLE_FLAG_INHERIT, 0);
    return ToInt(s);
}

int32_t CloseSocketHandle(int32_t s)
{
    if (win32::Loop* loop = win32::loopIfAny())
        loop->forget(s);
    return resultOf(::closesocket(ToSocket(s)));
}

int32_t Bind(int32_t s, const SockAddrIn& address)
{
    // Not SO_REUSEADDR: on Windows it would let a second socket take a port in use. The
    // exclusive claim also keeps other programs' sockets off ours; Windows lets a new
    // listener bind beside old connections in TIME_WAIT without any option.
    BOOL exclusive = TRUE;
    ::setsockopt(ToSocket(s), SOL_SOCKET, SO_EXCLUSIVEADDRUSE, reinterpret_cast<const char*>(&exclusive),
                 sizeof exclusive);
    const sockaddr_in a = toSystem(address);
    return resultOf(::bind(ToSocket(s), reinterpret_cast<const sockaddr*>(&a), sizeof a));
}

int32_t GetSockName(int32_t s, SockAddrIn& address)
{
    sockaddr_in a{};
    int len = sizeof a;
    if (::getsockname(ToSocket(s), reinterpret_cast<sockaddr*>(&a), &len) == SOCKET_ERROR)
        return kSocketError;
    address = fromSystem(a);
    return 0;
}

int32_t ListenOn(int32_t s, int32_t backlog)
{
    return resultOf(::listen(ToSocket(s), backlog));
}

int32_t AcceptOn(int32_t s, SockAddrIn* peer)
{
    sockaddr_in a{};
    int len = sizeof a;
    const SOCKET accepted = ::accept(ToSocket(s), reinterpret_cast<sockaddr*>(&a), &len);
    if (accepted == INVALID_SOCKET)
        return kInvalidSocket;
    if (peer)
        *peer = fromSystem(a);
    // The system gives the new socket the listener's select request; the loop must know
    // to expect its notifications.
    if (win32::Loop* loop = win32::loopIfAny()) {
        if (const UINT message = loop->messageOf(s))
            loop->watch(ToInt(accepted), message);
    }
    return ToInt(accepted);
}

int32_t ConnectTo(int32_t s, const SockAddrIn& address)
{
    const sockaddr_in a = toSystem(address);
    return resultOf(::connect(ToSocket(s), reinterpret_cast<const sockaddr*>(&a), sizeof a));
}

int32_t Send(int32_t s, const char* data, int32_t length)
{
    const int n = ::send(ToSocket(s), data, length, 0);
    return n == SOCKET_ERROR ? kSocketError : n;
}

int32_t SendTo(int32_t s, const char* data, int32_t length, const SockAddrIn& to)
{
    const sockaddr_in a = toSystem(to);
    const int n = ::sendto(ToSocket(s), data, length, 0, reinterpret_cast<const sockaddr*>(&a), sizeof a);
    return n == SOCKET_ERROR ? kSocketError : n;
}

long UnsentBytes(int32_t)
{
    // Winsock reports the bytes in flight (SIO_TCP_INFO) but not those still waiting in
    // the send buffer, so that count can stand still while the peer reads; a caller that
    // cannot tell waits its plain time-out instead.
    return -1;
}

int32_t Recv(int32_t s, char* buffer, int32_t length)
{
    const int n = ::recv(ToSocket(s), buffer, length, 0);
    return n == SOCKET_ERROR ? kSocketError : n;
}

int32_t RecvFrom(int32_t s, char* buffer, int32_t length, SockAddrIn* from)
{
    sockaddr_in a{};
    int len = sizeof a;
    const int n = ::recvfrom(ToSocket(s), buffer, length, 0, reinterpret_cast<sockaddr*>(&a), &len);
    if (n == SOCKET_ERROR)
        return kSocketError;
    if (from)
        *from = fromSystem(a);
    return n;
}

int32_t SetLinger(int32_t s, bool on, uint16_t seconds)
{
    linger l{};
    l.l_onoff = on ? 1 : 0;
    l.l_linger = seconds;
    return resultOf(::setsockopt(ToSocket(s), SOL_SOCKET, SO_LINGER, reinterpret_cast<const char*>(&l), sizeof l));
}

int32_t GetLinger(int32_t s, bool& on, uint16_t& seconds)
{
    linger l{};
    int len = sizeof l;
    if (::getsockopt(ToSocket(s), SOL_SOCKET, SO_LINGER, reinterpret_cast<char*>(&l), &len) == SOCKET_ERROR)
        return kSocketError;
    on = l.l_onoff != 0;
    seconds = l.l_linger;
    return 0;
}

int32_t SetBroadcast(int32_t s, bool allowed)
{
    const BOOL value = allowed ? TRUE : FALSE;
    return resultOf(
        ::setsockopt(ToSocket(s), SOL_SOCKET, SO_BROADCAST, reinterpret_cast<const char*>(&value), sizeof value));
}

int32_t AsyncSelect(int32_t s, uint32_t message, int32_t mask)
{
    win32::Loop& loop = win32::loop();
    if (::WSAAsyncSelect(ToSocket(s), loop.window(), message, mask) == SOCKET_ERROR)
        return kSocketError;
    loop.watch(s, message);
    return 0;
}

uint32_t InetAddr(const std::string& text)
{
    return ::inet_addr(text.c_str());
}

std::string InetNtoa(uint32_t address)
{
    in_addr a{};
    a.s_addr = address;
    char text[INET_ADDRSTRLEN] = {};
    if (!::inet_ntop(AF_INET, &a, text, sizeof text))
        return {};
    return text;
}

bool GetHostByName(const std::string& name, uint32_t& address)
{
    ensureStarted();
    addrinfo hints{};
    hints.ai_family = AF_INET;
    hints.ai_socktype = SOCK_STREAM;
    addrinfo* found = nullptr;
    const int rc = ::getaddrinfo(name.c_str(), nullptr, &hints, &found);
    if (rc != 0 || !found) {
        WSASetLastError(rc != 0 ? rc : WSAHOST_NOT_FOUND);
        return false;
    }
    address = reinterpret_cast<const sockaddr_in*>(found->ai_addr)->sin_addr.s_addr;
    ::freeaddrinfo(found);
    return true;
}

int32_t GetHostName(char* buffer, int32_t length)
{
    ensureStarted();
    if (!buffer || length <= 0)
        return failWith(WSAEFAULT);
    return resultOf(::gethostname(buffer, length));
}

uint16_t HostToNetShort(uint16_t value)
{
    return ::htons(value);
}

uint16_t NetToHostShort(uint16_t value)
{
    return ::ntohs(value);
}

} // namespace tolmail::platform
