// Support routines of the socket layer: address resolution and text, the local host
// name, notification parameter splitting, the hard-close option and error texts.
#pragma once

#include <cstdint>
#include <string>

namespace tolmail::socket {

/// The all-ones address: the failure value of resolution (and so never usable).
inline constexpr uint32_t kAddressNone = 0xFFFFFFFFu;

/// Dotted text or a host name → IPv4 address in network order, kAddressNone on failure.
uint32_t ResolveHost(const std::string& host);
/// Dotted text of an address in network order (at most 32 characters);
/// "255.255.255.255" when the platform gives none.
std::string AddressToText(uint32_t address);
/// This machine's name, or "Unknown" when the platform cannot tell.
std::string LocalHostName();
/// The English text of a Winsock error number; "" for numbers not in the table.
std::string WinsockErrorText(int32_t error);
/// The low 16 bits read as a signed 16-bit number.
int16_t LowWordSigned(int32_t value);
/// The high 16 bits read as a signed 16-bit number.
int16_t HighWord(int32_t value);
/// Makes a close reset the connection at once (linger on, 0 seconds); 0, or -1 on failure.
int32_t SetHardClose(int32_t socketHandle);

} // namespace tolmail::socket
