// Stand-in for the platform's socket services: non-blocking IPv4 sockets whose
// network events arrive as window messages on the owning thread's message loop.
#pragma once

#include <cstdint>
#include <string>

namespace tolmail::platform {

/// Network event bits of a notification (low word of its second parameter).
enum NetEvent : int32_t {
    FdRead = 1,
    FdWrite = 2,
    FdAccept = 8,
    FdConnect = 16,
    FdClose = 32,
};

inline constexpr int32_t kInvalidSocket = -1;
inline constexpr int32_t kSocketError = -1;
inline constexpr int16_t kAfInet = 2;
inline constexpr int32_t kSockStream = 1;
inline constexpr int32_t kSockDgram = 2;

/// An IPv4 socket address as the platform lays it out: 16 bytes, port and address
/// in network byte order.
struct SockAddrIn {
    int16_t family = 0;
    uint16_t port = 0;
    uint32_t addr = 0;
    uint8_t zero[8] = {};
};

/// What the start-up reports.
struct StartupData {
    uint16_t version = 0;
    uint16_t highVersion = 0;
    std::string description;
    std::string systemStatus;
    uint16_t maxSockets = 0;
    uint16_t maxDatagramSize = 0;
};

/// Starts the socket services for this thread; 0 on success.
int32_t Startup(uint16_t version, StartupData& data);
/// Undoes one Startup; 0 on success.
int32_t Cleanup();
/// True while a blocking socket call runs on this thread (never, here).
bool IsBlocking();
int32_t CancelBlockingCall();

/// The Winsock error number of this thread's last failed call.
int32_t LastError();

/// Creates a non-blocking socket; kInvalidSocket on failure.
int32_t Socket(int32_t family, int32_t type, int32_t protocol);
int32_t CloseSocketHandle(int32_t s);
/// Binds a socket for listening or receiving datagrams; a stream socket may take a
/// port whose earlier connections still linger in TIME_WAIT.
int32_t Bind(int32_t s, const SockAddrIn& address);
int32_t GetSockName(int32_t s, SockAddrIn& address);
int32_t ListenOn(int32_t s, int32_t backlog);
/// Takes a waiting connection; the new socket inherits the listener's notification request.
int32_t AcceptOn(int32_t s, SockAddrIn* peer);
/// Starts a connect. A started attempt fails with the would-block error (10035) and
/// its outcome arrives as a connect notification, even when it completed at once.
int32_t ConnectTo(int32_t s, const SockAddrIn& address);
/// Returns the count accepted, or kSocketError.
int32_t Send(int32_t s, const char* data, int32_t length);
int32_t SendTo(int32_t s, const char* data, int32_t length, const SockAddrIn& to);
/// Bytes handed to the stream socket `s` that its peer has not yet acknowledged: data
/// a send accepted may wait there long after the call returned when the peer reads
/// slowly. -1 when the system cannot tell.
long UnsentBytes(int32_t s);
/// Returns the count received (0 when the peer closed its side), or kSocketError.
int32_t Recv(int32_t s, char* buffer, int32_t length);
int32_t RecvFrom(int32_t s, char* buffer, int32_t length, SockAddrIn* from);

/// Socket-level linger option.
int32_t SetLinger(int32_t s, bool on, uint16_t seconds);
int32_t GetLinger(int32_t s, bool& on, uint16_t& seconds);
int32_t SetBroadcast(int32_t s, bool allowed);

/// Requests notifications `message` for the events in `mask`, posted to this thread's
/// notification window. Renewing a request that includes FdWrite posts a write
/// notification as soon as the socket can take data. A mask of 0 cancels.
int32_t AsyncSelect(int32_t s, uint32_t message, int32_t mask);

/// Dotted-address parser: 0xFFFFFFFF for text that is not an address.
uint32_t InetAddr(const std::string& text);
/// Dotted text of an address in network order.
std::string InetNtoa(uint32_t address);
/// Blocking name look-up: the first IPv4 address of the host, or false.
bool GetHostByName(const std::string& name, uint32_t& address);
/// The local host name into buffer (zero-terminated when it fits); 0 or kSocketError.
int32_t GetHostName(char* buffer, int32_t length);

uint16_t HostToNetShort(uint16_t value);
uint16_t NetToHostShort(uint16_t value);

/// Maps an errno value to its Winsock error number (0 for 0).
int32_t WinsockErrorFromErrno(int err);

} // namespace tolmail::platform
