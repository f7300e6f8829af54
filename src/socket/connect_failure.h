// Why a connection did not come about, in words a person can act on: the mail
// components put these in their error text, where a bare result code loses the reason.
#pragma once

#include <string>

namespace tolmail {
class TolvanSocket;
}

namespace tolmail::socket {

/// "HOST port N": where `socket` connects to.
std::string PeerName(const TolvanSocket& socket);

/// Why `socket`'s last Connect failed: "Cannot resolve HOST: Host not found", "No answer
/// from HOST port N within T s", or "Cannot connect to HOST port N: " and the platform's
/// reason ("Connection refused").
std::string ConnectFailureText(const TolvanSocket& socket);

/// Why a server reached by `socket` said nothing first: it closed the connection, or
/// nothing came within the socket's time-out.
std::string NoGreetingText(const TolvanSocket& socket);

} // namespace tolmail::socket
