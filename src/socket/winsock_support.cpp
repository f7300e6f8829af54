// Address resolution, address text, the local host name and word splitting.
#include "socket/winsock_support.h"

#include <algorithm>

#include "platform/net.h"

namespace tolmail::socket {
namespace {

constexpr size_t kAddressTextMax = 32;
constexpr int32_t kHostNameBuffer = 256;

} // namespace

uint32_t ResolveHost(const std::string& host)
{
    uint32_t address = platform::InetAddr(host);
    if (address != kAddressNone)
        return address;
    if (platform::GetHostByName(host, address))
        return address;
    return kAddressNone;
}

std::string AddressToText(uint32_t address)
{
    std::string text = platform::InetNtoa(address);
    if (text.empty())
        return "255.255.255.255";
    return text.substr(0, kAddressTextMax);
}

std::string LocalHostName()
{
    char buffer[kHostNameBuffer] = {};
    if (platform::GetHostName(buffer, kHostNameBuffer) != 0)
        return "Unknown";
    return std::string(buffer, std::find(buffer, buffer + kHostNameBuffer, '\0'));
}

int16_t LowWordSigned(int32_t value)
{
    return static_cast<int16_t>(static_cast<uint32_t>(value) & 0xFFFFu);
}

int16_t HighWord(int32_t value)
{
    return static_cast<int16_t>((static_cast<uint32_t>(value) >> 16) & 0xFFFFu);
}

int32_t SetHardClose(int32_t socketHandle)
{
    if (platform::SetLinger(socketHandle, true, 0) != 0)
        return -1;
    bool on = false;
    uint16_t seconds = 0;
    if (platform::GetLinger(socketHandle, on, seconds) != 0)
        return -1;
    return 0;
}

} // namespace tolmail::socket
