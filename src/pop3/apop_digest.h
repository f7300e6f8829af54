// APOP (RFC 1939 7): the greeting's timestamp and the digest that proves the password
// without sending it.
#pragma once

#include <string>
#include <string_view>

namespace tolmail::pop3 {

/// The "<...@...>" timestamp of a greeting, brackets included; empty when there is none.
std::string ApopTimestamp(std::string_view greeting);

/// MD5 of `data` as 32 lower-case hex digits.
std::string Md5Hex(std::string_view data);

/// The APOP digest: MD5 of timestamp followed by the secret, in hex.
std::string ApopDigest(std::string_view timestamp, std::string_view secret);

} // namespace tolmail::pop3
