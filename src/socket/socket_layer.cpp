// The per-thread socket layer: start-up, registry and notification routing.
#include "socket/socket_layer.h"

#include <algorithm>
#include <vector>

#include "codec/base64.h"
#include "platform/library_access.h"
#include "platform/message_loop.h"
#include "platform/net.h"
#include "socket/socket_impl.h"
#include "socket/winsock_support.h"
#include "tolmail/TolvanSocket.h"

namespace tolmail::socket {
namespace {

constexpr uint16_t kRequestedVersion = 0x0101;
constexpr uint32_t kAnyAddress = 0;
constexpr int32_t kWouldBlock = 10035;

struct Layer {
    std::vector<Ref<SocketInfo>> registry;  // insertion order; few entries
    platform::WindowProc previousProc = nullptr;
    bool procInstalled = false;
    bool winsockStarted = false;
    platform::StartupData startup;
    int32_t maxDatagramSize = 0;
};

thread_local Layer tLayer;

bool addressForPort(int32_t port, platform::SockAddrIn& address)
{
    address.family = platform::kAfInet;
    address.port = platform::HostToNetShort(static_cast<uint16_t>(port & 0xFFFF));
    // Port 65535 reads as all ones in network order, which the layer refuses.
    return address.port != 0xFFFF;
}

int32_t closeAndFail(int32_t handle)
{
    if (handle >= 1)
        platform::CloseSocketHandle(handle);
    return -1;
}

} // namespace

bool EnsureWinsock()
{
    Layer& layer = tLayer;
    if (!layer.registry.empty() || layer.procInstalled)
        return true;
    if (!layer.winsockStarted) {
        if (platform::Startup(kRequestedVersion, layer.startup) != 0) {
            layer.winsockStarted = false;
            return false;
        }
        layer.winsockStarted = true;
        layer.maxDatagramSize = layer.startup.maxDatagramSize;
    }
    layer.previousProc = platform::SetWindowProc(&SocketWindowProc);
    layer.procInstalled = true;
    codec::InitBase64Table();
    return true;
}

void ReleaseWinsockIfIdle()
{
    Layer& layer = tLayer;
    if (!layer.registry.empty())
        return;
    if (layer.winsockStarted) {
        if (platform::IsBlocking())
            platform::CancelBlockingCall();
        platform::Cleanup();
        layer.winsockStarted = false;
    }
    if (layer.procInstalled) {
        platform::SetWindowProc(layer.previousProc);
        layer.previousProc = nullptr;
        layer.procInstalled = false;
    }
}

void RegisterSocket(const Ref<SocketInfo>& info)
{
    tLayer.registry.push_back(info);
}

void UnregisterSocket(int32_t handle)
{
    auto& registry = tLayer.registry;
    auto it = std::find_if(registry.begin(), registry.end(),
                           [handle](const Ref<SocketInfo>& info) { return info->intSocket() == handle; });
    if (it != registry.end())
        registry.erase(it);
}

int32_t SocketWindowProc(uint32_t message, int32_t wParam, int32_t lParam)
{
    Layer& layer = tLayer;
    if (message != kSocketMessage)
        return platform::CallWindowProc(layer.previousProc, message, wParam, lParam);
    for (const auto& info : layer.registry) {
        if (info->intSocket() != wParam)
            continue;
        // Held for the handler's duration, so a host that drops its last reference
        // inside an event does not pull the component out from under it.
        Ref<TolvanSocket> owner = info->AddrProc().lock();
        if (!owner)
            return 0;
        return LibraryAccess::impl(*owner).HandleNotification(*owner, message, wParam, lParam);
    }
    return 0;  // not a registered socket: dropped
}

int32_t MaxDatagramSize()
{
    return tLayer.maxDatagramSize;
}

LayerState CurrentLayerState()
{
    return {tLayer.registry.size(), tLayer.winsockStarted, tLayer.procInstalled};
}

int32_t OpenConnection(const std::string& host, int32_t port, int32_t protocol, int32_t& error)
{
    error = 0;
    platform::SockAddrIn address;
    if (!addressForPort(port, address))
        return -1;
    address.addr = ResolveHost(host);
    if (address.addr == kAddressNone) {
        error = kHostNotFound;
        return -1;
    }
    int32_t handle = platform::Socket(platform::kAfInet, platform::kSockStream, protocol);
    if (handle == platform::kInvalidSocket)
        return -1;
    if (SetHardClose(handle) != 0)
        return closeAndFail(handle);
    if (platform::AsyncSelect(handle, kSocketMessage, kConnectMask) != 0)
        return closeAndFail(handle);
    // A started connect reports would-block; its outcome comes as a notification.
    if (platform::ConnectTo(handle, address) == 0)
        return closeAndFail(handle);
    if (const int32_t refused = platform::LastError(); refused != kWouldBlock) {
        error = refused;
        return closeAndFail(handle);
    }
    return handle;
}

int32_t OpenListener(int32_t localPort, int32_t socketType)
{
    platform::SockAddrIn address;
    if (!addressForPort(localPort, address))
        return -1;
    address.addr = kAnyAddress;
    int32_t type = socketType == 6 ? platform::kSockStream : platform::kSockDgram;
    int32_t handle = platform::Socket(platform::kAfInet, type, 0);
    if (handle == platform::kInvalidSocket)
        return -1;
    if (platform::Bind(handle, address) != 0)
        return closeAndFail(handle);
    platform::SockAddrIn bound;
    platform::GetSockName(handle, bound);
    if (platform::AsyncSelect(handle, kSocketMessage, kListenMask) != 0)
        return closeAndFail(handle);
    if (type == platform::kSockStream && platform::ListenOn(handle, 1) != 0)
        return closeAndFail(handle);
    return handle;
}

} // namespace tolmail::socket
