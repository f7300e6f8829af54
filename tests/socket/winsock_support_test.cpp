// Address resolution and text, host name, word splitting and error texts.
#include <gtest/gtest.h>

#ifndef _WIN32
#include <arpa/inet.h>
#include <unistd.h>
#endif

#include "socket/winsock_support.h"
#include "support/loopback_peer.h"

using namespace tolmail::socket;

TEST(WinsockSupport, ResolvesDottedTextWithoutALookUp)
{
    EXPECT_EQ(ResolveHost("127.0.0.1"), htonl(INADDR_LOOPBACK));
    EXPECT_EQ(ResolveHost("10.1.2.3"), inet_addr("10.1.2.3"));
    EXPECT_EQ(ResolveHost("localhost"), htonl(INADDR_LOOPBACK));  // from the hosts file
    EXPECT_EQ(ResolveHost("bad..name"), kAddressNone);
    EXPECT_EQ(ResolveHost("255.255.255.255"), kAddressNone);  // never usable
}

TEST(WinsockSupport, AddressText)
{
    EXPECT_EQ(AddressToText(htonl(INADDR_LOOPBACK)), "127.0.0.1");
}

TEST(WinsockSupport, LocalHostNameHasNoTrailingZeros)
{
    char expected[256] = {};
    loopback::startNetwork();
    ASSERT_EQ(::gethostname(expected, sizeof expected), 0);
    std::string name = LocalHostName();
    EXPECT_EQ(name, expected);
    EXPECT_EQ(name.find('\0'), std::string::npos);
}

TEST(WinsockSupport, ErrorTexts)
{
    EXPECT_EQ(WinsockErrorText(10061), "Connection refused.");
    EXPECT_EQ(WinsockErrorText(10004), "Interrupted system call.");
    EXPECT_EQ(WinsockErrorText(10047), "Address family not supported by protocol family.");
    EXPECT_EQ(WinsockErrorText(10101), "Disconnect.");
    EXPECT_EQ(WinsockErrorText(11004), "Valid name, no data record of requested type.");
    EXPECT_EQ(WinsockErrorText(10080), "");
    EXPECT_EQ(WinsockErrorText(10072), "");
    EXPECT_EQ(WinsockErrorText(0), "");
    EXPECT_EQ(WinsockErrorText(-1), "");
    int withText = 0;
    for (int n = 10000; n < 11100; ++n)
        withText += !WinsockErrorText(n).empty();
    EXPECT_EQ(withText, 51);
}
