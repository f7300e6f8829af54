// The socket services over POSIX sockets: calls report Winsock error numbers and
// keep the loop's notification state in step (receiving re-enables reads, a send
// that would block arms the write notification, closing drops queued notifications).
#include "platform/net.h"

#include <arpa/inet.h>
#include <fcntl.h>
#include <linux/sockios.h>
#include <netdb.h>
#include <netinet/in.h>
#include <sys/ioctl.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

#include "platform/loop_internal.h"

namespace tolmail::platform {
namespace {

// A datagram payload that fits one IPv4 packet, as start-up reports it.
constexpr uint16_t kMaxDatagramSize = 65507;
constexpr uint16_t kMaxSockets = 32767;
constexpr int32_t kNotInitialised = 10093;
constexpr int32_t kWouldBlock = 10035;
// Socket numbers below this are kept clear: 0 means "no socket" to the components,
// and a host that closed its standard streams must not get a socket there.
constexpr int kLowestSocket = 3;

thread_local int32_t tLastError = 0;
thread_local int tStartups = 0;

int32_t fail(int err)
{
    tLastError = WinsockErrorFromErrno(err);
    return kSocketError;
}

int32_t failWith(int32_t winsock)
{
    tLastError = winsock;
    return kSocketError;
}

sockaddr_in toPosix(const SockAddrIn& a)
{
    sockaddr_in s{};
    s.sin_family = static_cast<sa_family_t>(a.family == kAfInet ? AF_INET : a.family);
    s.sin_port = a.port;
    s.sin_addr.s_addr = a.addr;
    return s;
}

SockAddrIn fromPosix(const sockaddr_in& s)
{
    SockAddrIn a;
    a.family = kAfInet;
    a.port = s.sin_port;
    a.addr = s.sin_addr.s_addr;
    return a;
}

int raiseAboveStdio(int fd)
{
    if (fd < 0 || fd >= kLowestSocket)
        return fd;
    int moved = ::fcntl(fd, F_DUPFD_CLOEXEC, kLowestSocket);
    ::close(fd);
    return moved;
}

detail::Watch* watchOf(int32_t s)
{
    detail::Loop* loop = detail::loopIfAny();
    return loop ? loop->findWatch(s) : nullptr;
}

void refresh(detail::Watch& w)
{
    detail::loop().growInterest(w);
}

// A send that would block arms the write notification for when space frees up.
void armWriteIfBlocked(int32_t s, int err)
{
    if (err != EAGAIN && err != EWOULDBLOCK)
        return;
    if (detail::Watch* w = watchOf(s)) {
        w->writeArmed = true;
        refresh(*w);
    }
}

bool isDatagram(int fd)
{
    int type = 0;
    socklen_t len = sizeof type;
    return ::getsockopt(fd, SOL_SOCKET, SO_TYPE, &type, &len) == 0 && type == SOCK_DGRAM;
}

} // namespace

int32_t Startup(uint16_t version, StartupData& data)
{
    if ((version & 0xFF) < 1)
        return 10092;  // no version below 1.1 is offered
    ++tStartups;
    data.version = 0x0101;
    data.highVersion = 0x0101;
    data.description = "tolmail sockets";
    data.systemStatus = "Running";
    data.maxSockets = kMaxSockets;
    data.maxDatagramSize = kMaxDatagramSize;
    return 0;
}

int32_t Cleanup()
{
    if (tStartups == 0)
        return failWith(kNotInitialised);
    --tStartups;
    return 0;
}

bool IsBlocking()
{
    return false;
}

int32_t CancelBlockingCall()
{
    return failWith(10022);
}

int32_t LastError()
{
    return tLastError;
}

int32_t Socket(int32_t family, int32_t type, int32_t protocol)
{
    if (family != kAfInet)
        return failWith(10047);
    int posixType = type == kSockStream ? SOCK_STREAM : type == kSockDgram ? SOCK_DGRAM : -1;
    if (posixType < 0)
        return failWith(10044);
    // Only the protocols that fit the type are accepted, as the platform does.
    if (protocol != 0 && !(posixType == SOCK_STREAM && protocol == IPPROTO_TCP) &&
        !(posixType == SOCK_DGRAM && protocol == IPPROTO_UDP))
        return failWith(10043);
    int fd = ::socket(AF_INET, posixType | SOCK_NONBLOCK | SOCK_CLOEXEC, protocol);
    fd = raiseAboveStdio(fd);
    if (fd < 0)
        return fail(errno);
    return fd;
}

int32_t CloseSocketHandle(int32_t s)
{
    if (detail::Loop* loop = detail::loopIfAny()) {
        loop->removeWatch(s);
        loop->purgeSocket(s);
    }
    if (::close(s) != 0)
        return fail(errno);
    return 0;
}

int32_t Bind(int32_t s, const SockAddrIn& address)
{
    // A server that closed a connection it served leaves it in TIME_WAIT on its port
    // for a minute; listening there again must still work. A port with a live
    // listener stays refused. Datagram sockets keep the plain rule: a second socket
    // bound to the port would share its datagrams.
    if (!isDatagram(s)) {
        int one = 1;
        ::setsockopt(s, SOL_SOCKET, SO_REUSEADDR, &one, sizeof one);
    }
    sockaddr_in a = toPosix(address);
    if (::bind(s, reinterpret_cast<const sockaddr*>(&a), sizeof a) != 0)
        return fail(errno);
    return 0;
}

int32_t GetSockName(int32_t s, SockAddrIn& address)
{
    sockaddr_in a{};
    socklen_t len = sizeof a;
    if (::getsockname(s, reinterpret_cast<sockaddr*>(&a), &len) != 0)
        return fail(errno);
    address = fromPosix(a);
    return 0;
}

int32_t ListenOn(int32_t s, int32_t backlog)
{
    if (::listen(s, backlog) != 0)
        return fail(errno);
    if (detail::Watch* w = watchOf(s)) {
        w->listener = true;
        w->acceptEnabled = true;
        refresh(*w);
    }
    return 0;
}

int32_t AcceptOn(int32_t s, SockAddrIn* peer)
{
    if (s < 0)
        return failWith(10038);
    sockaddr_in a{};
    socklen_t len = sizeof a;
    int fd = ::accept4(s, reinterpret_cast<sockaddr*>(&a), &len, SOCK_NONBLOCK | SOCK_CLOEXEC);
    int savedErrno = errno;
    detail::Watch* listener = watchOf(s);
    if (listener) {
        listener->acceptEnabled = true;
        refresh(*listener);
    }
    fd = raiseAboveStdio(fd);
    if (fd < 0)
        return fail(fd == -1 ? savedErrno : errno);
    if (peer)
        *peer = fromPosix(a);
    if (listener) {
        detail::Watch& w = detail::loop().addWatch(fd);
        w.message = listener->message;
        w.mask = listener->mask;
        w.writeArmed = true;
        refresh(w);
    }
    return fd;
}

int32_t ConnectTo(int32_t s, const SockAddrIn& address)
{
    sockaddr_in a = toPosix(address);
    int rc = ::connect(s, reinterpret_cast<const sockaddr*>(&a), sizeof a);
    int err = rc == 0 ? 0 : errno;
    detail::Watch* w = watchOf(s);
    if (!w)
        return rc == 0 ? 0 : fail(err);
    if (err == EINPROGRESS) {
        w->connecting = true;
        refresh(*w);
        return failWith(kWouldBlock);
    }
    // Completed (or refused) at once: the outcome still arrives as a notification,
    // which is what a waiting Connect listens for.
    if (err == 0 || err == ECONNREFUSED) {
        int32_t outcome = WinsockErrorFromErrno(err);
        detail::loop().postSocket(*w, FdConnect, outcome);
        if (outcome != 0)
            w->dead = true;
        else
            w->writeArmed = true;
        refresh(*w);
        return failWith(kWouldBlock);
    }
    return fail(err);
}

int32_t Send(int32_t s, const char* data, int32_t length)
{
    ssize_t n = ::send(s, data, static_cast<size_t>(length), MSG_NOSIGNAL);
    if (n >= 0)
        return static_cast<int32_t>(n);
    int err = errno;
    armWriteIfBlocked(s, err);
    return fail(err);
}

int32_t SendTo(int32_t s, const char* data, int32_t length, const SockAddrIn& to)
{
    sockaddr_in a = toPosix(to);
    ssize_t n = ::sendto(s, data, static_cast<size_t>(length), MSG_NOSIGNAL, reinterpret_cast<const sockaddr*>(&a),
                         sizeof a);
    if (n >= 0)
        return static_cast<int32_t>(n);
    int err = errno;
    armWriteIfBlocked(s, err);
    return fail(err);
}

long UnsentBytes(int32_t s)
{
    int queued = 0;
    if (s > 0 && ::ioctl(s, SIOCOUTQ, &queued) == 0)
        return queued;
    return -1;
}

int32_t Recv(int32_t s, char* buffer, int32_t length)
{
    ssize_t n = ::recv(s, buffer, static_cast<size_t>(length), 0);
    int err = errno;
    if (detail::Watch* w = watchOf(s)) {
        w->readEnabled = true;
        refresh(*w);
    }
    if (n < 0)
        return fail(err);
    return static_cast<int32_t>(n);
}

int32_t RecvFrom(int32_t s, char* buffer, int32_t length, SockAddrIn* from)
{
    sockaddr_in a{};
    socklen_t len = sizeof a;
    ssize_t n = ::recvfrom(s, buffer, static_cast<size_t>(length), 0, reinterpret_cast<sockaddr*>(&a), &len);
    int err = errno;
    if (detail::Watch* w = watchOf(s)) {
        w->readEnabled = true;
        refresh(*w);
    }
    if (n < 0)
        return fail(err);
    if (from)
        *from = fromPosix(a);
    return static_cast<int32_t>(n);
}

int32_t SetLinger(int32_t s, bool on, uint16_t seconds)
{
    linger l{on ? 1 : 0, seconds};
    if (::setsockopt(s, SOL_SOCKET, SO_LINGER, &l, sizeof l) != 0)
        return fail(errno);
    return 0;
}

int32_t GetLinger(int32_t s, bool& on, uint16_t& seconds)
{
    linger l{};
    socklen_t len = sizeof l;
    if (::getsockopt(s, SOL_SOCKET, SO_LINGER, &l, &len) != 0)
        return fail(errno);
    on = l.l_onoff != 0;
    seconds = static_cast<uint16_t>(l.l_linger);
    return 0;
}

int32_t SetBroadcast(int32_t s, bool allowed)
{
    int value = allowed ? 1 : 0;
    if (::setsockopt(s, SOL_SOCKET, SO_BROADCAST, &value, sizeof value) != 0)
        return fail(errno);
    return 0;
}

int32_t AsyncSelect(int32_t s, uint32_t message, int32_t mask)
{
    int type = 0;
    socklen_t len = sizeof type;
    if (::getsockopt(s, SOL_SOCKET, SO_TYPE, &type, &len) != 0)
        return fail(errno);
    detail::Loop& loop = detail::loop();
    detail::Watch* w = loop.findWatch(s);
    if (!w) {
        w = &loop.addWatch(s);
        w->datagram = isDatagram(s);
        int listening = 0;
        len = sizeof listening;
        w->listener = ::getsockopt(s, SOL_SOCKET, SO_ACCEPTCONN, &listening, &len) == 0 && listening != 0;
    }
    w->message = message;
    w->mask = mask;
    // A renewed request re-arms the write notification: posted once the socket can
    // take data (at once when it can now).
    if (mask & FdWrite)
        w->writeArmed = true;
    loop.updateInterest(*w);
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
    addrinfo hints{};
    hints.ai_family = AF_INET;
    hints.ai_socktype = SOCK_STREAM;
    addrinfo* found = nullptr;
    if (::getaddrinfo(name.c_str(), nullptr, &hints, &found) != 0 || !found) {
        tLastError = 11001;
        return false;
    }
    address = reinterpret_cast<const sockaddr_in*>(found->ai_addr)->sin_addr.s_addr;
    ::freeaddrinfo(found);
    return true;
}

int32_t GetHostName(char* buffer, int32_t length)
{
    if (!buffer || length <= 0)
        return failWith(10014);
    if (::gethostname(buffer, static_cast<size_t>(length)) != 0)
        return fail(errno);
    return 0;
}

uint16_t HostToNetShort(uint16_t value)
{
    return htons(value);
}

uint16_t NetToHostShort(uint16_t value)
{
    return ntohs(value);
}

} // namespace tolmail::platform
