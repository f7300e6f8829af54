// --tls, --ca-file and --insecure: how the commands protect their connection.
#pragma once

#include <cstdint>
#include <string>

#include "tolmail/security_mode.h"

namespace tolmail::cli {

/// The --tls value as the components' Security property (security_mode.h): "auto"
/// (the default) STARTTLS/STLS when offered, "starttls" required, "implicit" from the
/// first byte, "off" plain TCP. Throws UsageError naming the option.
int32_t SecurityMode(const std::string& value);

/// The port a command uses when none is given: the implicit-TLS port in that mode.
inline long DefaultPort(int32_t security, long plain, long implicit)
{
    return security == security_mode::Implicit ? implicit : plain;
}

/// The warning --insecure prints once on standard error.
void WarnInsecure();

} // namespace tolmail::cli
