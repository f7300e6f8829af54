// Address resolution and text, host name, word splitting and error texts.
#include <gtest/gtest.h>

#include <arpa/inet.h>
#include <unistd.h>

#include "socket/winsock_support.h"

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
    EXPECT_EQ(AddressToText(inet_addr("192.0.2.200")), "192.0.2.200");
}

TEST(WinsockSupport, LocalHostNameHasNoTrailingZeros)
{
    char expected[256] = {};
    ASSERT_EQ(::gethostname(expected, sizeof expected), 0);
    std::string name = LocalHostName();
    EXPECT_EQ(name, expected);
    EXPECT_EQ(name.find('\0'), std::string::npos);
}

TEST(WinsockSupport, WordsOfANotificationParameter)
{
    EXPECT_EQ(LowWordSigned(0x2774'0010), 16);
    EXPECT_EQ(HighWord(0x2774'0010), 10100);
    EXPECT_EQ(LowWordSigned(0x0000'8000), -32768);
    EXPECT_EQ(HighWord(static_cast<int32_t>(0xFFFF'0001)), -1);
    EXPECT_EQ(HighWord(10061 << 16), 10061);
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

TEST(WinsockSupport, HardCloseSetsLingerZero)
{
    int fd = ::socket(AF_INET, SOCK_STREAM, 0);
    EXPECT_EQ(SetHardClose(fd), 0);
    linger l{};
    socklen_t len = sizeof l;
    ::getsockopt(fd, SOL_SOCKET, SO_LINGER, &l, &len);
    EXPECT_EQ(l.l_onoff, 1);
    EXPECT_EQ(l.l_linger, 0);
    ::close(fd);
    EXPECT_EQ(SetHardClose(fd), -1);
}
