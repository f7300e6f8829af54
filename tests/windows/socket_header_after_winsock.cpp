// The public socket header after winsock2.h, whose IPPROTO_TCP is a number macro.
#include <winsock2.h>

#include "tolmail/TolvanSocket.h"

int TcpAfterWinsock()
{
    static_assert(static_cast<int>(tolmail::IpProto::Tcp) == IPPROTO_TCP);
    return static_cast<int>(tolmail::IpProto::Tcp);
}
