// The public socket header before winsock2.h, which then defines its own IPPROTO_UDP.
#include "tolmail/TolvanSocket.h"

#include <winsock2.h>

int UdpBeforeWinsock()
{
    static_assert(static_cast<int>(tolmail::IpProto::Udp) == IPPROTO_UDP);
    return static_cast<int>(tolmail::IpProto::Udp);
}
