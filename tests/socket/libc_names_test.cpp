// A host that brings the whole namespace in beside the C library's socket headers
// must still compile: the socket types may not collide with libc's protocol names.
#include <gtest/gtest.h>

#include <netinet/in.h>

#include "tolmail/TolvanSocket.h"

using namespace tolmail;

TEST(LibcNames, SocketTypesLiveBesideTheCLibrarysProtocolNames)
{
    static_assert(static_cast<int32_t>(IpProto::IPPROTO_TCP) == IPPROTO_TCP);
    static_assert(static_cast<int32_t>(IpProto::IPPROTO_UDP) == IPPROTO_UDP);
    auto socket = TolvanSocket::Create();
    socket->SocketType(IPPROTO_UDP);  // the C library's number picks the same type
    EXPECT_EQ(socket->SocketType(), IpProto::IPPROTO_UDP);
    socket->SocketType(IpProto::IPPROTO_TCP);
    EXPECT_EQ(socket->SocketType(), IpProto::IPPROTO_TCP);
}
