// SMTP authentication (RFC 4954): what an EHLO reply offers, the mechanism chosen from
// it, and whether a secret may cross the connection at all.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "socket/secret_rule.h"

namespace tolmail::smtp {

/// The service extensions an EHLO reply announces (RFC 5321 4.1.1.1), as far as this
/// component uses them.
struct Extensions {
    std::vector<std::string> authMechanisms;  // upper case, as offered
    bool startTls = false;
    uint64_t sizeLimit = 0;  // SIZE's figure; 0 when none was given
};

/// The keywords of a "250" EHLO reply; the first line (the server's name) names none.
/// "AUTH=..." of servers that predate the standard counts as AUTH.
Extensions ParseEhloReply(std::string_view reply);

enum class Mechanism { None, XOAuth2, Plain, Login };

/// The mechanism to use: XOAUTH2 when a token is given and offered; otherwise, when no
/// token or a password stands beside it, PLAIN, else LOGIN; None when the server offers
/// none of these.
Mechanism ChooseMechanism(const Extensions& offered, bool haveToken, bool havePassword);

// The clear-text rule is the socket layer's, shared with POP3.
using socket::IsLoopbackAddress;
using socket::MaySendSecret;

/// Base64 of `data` on one line, as SASL exchanges carry it.
std::string SaslBase64(std::string_view data);

} // namespace tolmail::smtp
