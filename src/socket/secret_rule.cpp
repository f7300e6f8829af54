// The clear-text rule for secrets, shared by the SMTP and POP3 log-ins.
#include "socket/secret_rule.h"

#include <cstdint>

#include "platform/net.h"
#include "tolmail/TolvanSocket.h"

namespace tolmail::socket {

namespace {
constexpr uint32_t kNoAddress = 0xFFFFFFFF;
}

bool IsLoopbackAddress(std::string_view address)
{
    if (address == "::1")
        return true;
    const uint32_t parsed = platform::InetAddr(std::string(address));
    // In network order the first byte is the lowest in memory: 127.0.0.0/8.
    return parsed != kNoAddress && reinterpret_cast<const unsigned char*>(&parsed)[0] == 127;
}

bool MaySendSecret(bool encrypted, std::string_view peerAddress, bool allowedInClear)
{
    return encrypted || allowedInClear || IsLoopbackAddress(peerAddress);
}

std::string PeerAddress(const TolvanSocket& socket)
{
    const std::string host = socket.Host();
    uint32_t address = platform::InetAddr(host);
    if (address == kNoAddress && !platform::GetHostByName(host, address))
        return {};
    return platform::InetNtoa(address);
}

} // namespace tolmail::socket
