/// \file
/// How a mail component protects its connection: the values of TolvanSMTP::Security and
/// TolvanPOP3::Security.
#pragma once

#include <cstdint>

namespace tolmail::security_mode {

/// Plain TCP, as always: the session's bytes are exactly those of a component that
/// never heard of TLS.
inline constexpr int32_t None = 0;
/// STARTTLS (SMTP) or STLS (POP3) when the server offers it, verified like the others;
/// plain TCP when it does not.
inline constexpr int32_t WhenOffered = 1;
/// STARTTLS or STLS, or the session fails before anything else is sent.
inline constexpr int32_t Required = 2;
/// TLS from the first byte (SMTP on 465, POP3 on 995).
inline constexpr int32_t Implicit = 3;

} // namespace tolmail::security_mode
