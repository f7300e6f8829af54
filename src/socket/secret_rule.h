// When a password may cross a connection: the one rule every mail protocol's log-in obeys.
#pragma once

#include <string>
#include <string_view>

namespace tolmail {
class TolvanSocket;
}

namespace tolmail::socket {

/// True when `address` (dotted IPv4 or "::1") is one of this machine's loopback addresses.
bool IsLoopbackAddress(std::string_view address);

/// A password or token may go to the server only encrypted, to a server on this machine
/// (nothing crosses a network), or when the caller allowed it in clear.
bool MaySendSecret(bool encrypted, std::string_view peerAddress, bool allowedInClear);

/// The dotted address the socket's Host names (resolved when it is a name); empty when
/// it does not resolve.
std::string PeerAddress(const TolvanSocket& socket);

} // namespace tolmail::socket
