// The thread's socket layer: start-up and clean-up, the registry of open sockets,
// the notification window's procedure, and opening connections and listeners.
#pragma once

#include <cstdint>
#include <string>

#include "socket/socket_info.h"
#include "tolmail/ref.h"

namespace tolmail::socket {

/// The notification message (the first user-defined window message plus one).
inline constexpr uint32_t kSocketMessage = 1025;
/// Requested events: read, write, connect, close when a connection is opened.
inline constexpr int32_t kConnectMask = 51;
/// All five before each send.
inline constexpr int32_t kSendMask = 59;
/// Read, write, accept, close for a listening or bound datagram socket.
inline constexpr int32_t kListenMask = 43;
/// The Winsock numbers of a name that did not resolve and of a connect that timed out.
inline constexpr int32_t kHostNotFound = 11001;
inline constexpr int32_t kTimedOut = 10060;
/// The receive of one read notification on a stream socket.
inline constexpr int32_t kStreamReceiveSize = 16384;

/// Prepares this thread's layer before a socket is opened; false when the platform
/// start-up failed.
bool EnsureWinsock();
/// Undoes the start-up when no socket is left registered.
void ReleaseWinsockIfIdle();

/// Adds a socket's record to this thread's registry (keyed by its handle).
void RegisterSocket(const Ref<SocketInfo>& info);
/// Removes the record of a handle, if there is one.
void UnregisterSocket(int32_t handle);

/// The notification window's procedure while the layer is up.
int32_t SocketWindowProc(uint32_t message, int32_t wParam, int32_t lParam);

/// The datagram receive size that start-up reported.
int32_t MaxDatagramSize();

/// What tests and diagnostics may look at.
struct LayerState {
    size_t registered = 0;
    bool winsockStarted = false;
    bool procInstalled = false;
};
LayerState CurrentLayerState();

/// Opens a connection to host:port with notifications requested; the connect's
/// outcome arrives later. Returns the handle, or -1 with the Winsock number of why in
/// `error` when the platform gave one (kHostNotFound when the name did not resolve).
int32_t OpenConnection(const std::string& host, int32_t port, int32_t protocol, int32_t& error);
/// Opens a listening (TCP) or bound (UDP) socket on localPort; the handle, or -1.
int32_t OpenListener(int32_t localPort, int32_t socketType);

} // namespace tolmail::socket
