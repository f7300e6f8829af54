// --tls, --ca-file and --insecure.
#include "tls_mode.h"

#include <cstdio>

#include "options.h"
#include "tolmail/security_mode.h"

namespace tolmail::cli {

int32_t SecurityMode(const std::string& value)
{
    if (value.empty() || value == "auto")
        return security_mode::WhenOffered;
    if (value == "starttls")
        return security_mode::Required;
    if (value == "implicit")
        return security_mode::Implicit;
    if (value == "off")
        return security_mode::None;
    throw UsageError("--tls: '" + value + "' is none of auto, starttls, implicit, off");
}

void WarnInsecure()
{
    std::fputs("tolmail: warning: --insecure: the server's certificate is not checked; anyone on the way can "
               "read and change this session\n",
               stderr);
}

} // namespace tolmail::cli
