// TolvanSocket: properties, the client connect, close, line and block reads.
#include <cmath>

#include "socket/socket_impl.h"
#include "socket/socket_layer.h"
#include "socket/result_codes.h"
#include "socket/winsock_support.h"

namespace tolmail {
namespace {

constexpr const char* kVersion = "1.10b";
constexpr int32_t kMaxTimeOut = 120;
// The longest line GetlnData gathers: a peer that never ends its line gets it handed
// out in pieces of this length, so memory stays bounded.
constexpr size_t kLongestLine = 1 << 20;

// ConnectState values.
constexpr uint8_t kConnectPending = 0;
constexpr uint8_t kConnectDone = 1;

} // namespace

Ref<TolvanSocket> TolvanSocket::Create()
{
    return std::make_shared<TolvanSocket>(Private{});
}

TolvanSocket::TolvanSocket(Private) : impl_(std::make_unique<Impl>()) {}

TolvanSocket::~TolvanSocket()
{
    if (impl_->Connected)
        CloseSocket();
}

TolvanSocket::Impl& TolvanSocket::Internals(const detail::Caller& caller)
{
    caller.require("Internals");
    return *impl_;
}

int32_t TolvanSocket::LocalPort() const { return impl_->LocalPort; }
void TolvanSocket::LocalPort(int32_t value) { impl_->LocalPort = value; }
bool TolvanSocket::Broadcast() const { return impl_->Broadcast; }
void TolvanSocket::Broadcast(bool value) { impl_->Broadcast = value; }
std::string TolvanSocket::Version() const { return kVersion; }
std::string TolvanSocket::LocalHostName() const { return socket::LocalHostName(); }

int32_t TolvanSocket::TimeOut() const
{
    return static_cast<int32_t>(std::lround(impl_->TimeOut));
}

void TolvanSocket::TimeOut(const int32_t& value)
{
    impl_->TimeOut = static_cast<float>(value > kMaxTimeOut ? kMaxTimeOut : value);
}

IpProto TolvanSocket::SocketType() const { return impl_->SocketType; }

void TolvanSocket::SocketType(int32_t value)
{
    impl_->SocketType = value == IPPROTO_UDP ? IPPROTO_UDP : IPPROTO_TCP;
}

int32_t TolvanSocket::SocketHandle() const { return impl_->SocketHandle; }
bool TolvanSocket::Connected() const { return impl_->Connected; }
int32_t TolvanSocket::Port() const { return impl_->Port; }
void TolvanSocket::Port(int32_t value) { impl_->Port = value; }
std::string TolvanSocket::Host() const { return impl_->Host; }
void TolvanSocket::Host(const std::string& value) { impl_->Host = value; }

uint32_t TolvanSocket::Advise(std::shared_ptr<TolvanSocketEvents> sink)
{
    return impl_->events.Advise(std::move(sink));
}

void TolvanSocket::Unadvise(uint32_t cookie)
{
    impl_->events.Unadvise(cookie);
}

void TolvanSocket::Impl::registerSocket(int32_t handle, WeakRef<TolvanSocket> owner)
{
    auto info = std::make_shared<socket::SocketInfo>();
    info->intSocket(handle);
    info->AddrProc(std::move(owner));
    socket::RegisterSocket(info);
    ReceiveInfo = std::move(info);
    SocketHandle = handle;
}

bool TolvanSocket::Impl::takeLeftovers()
{
    if (ReceiveInfo) {
        for (std::string more = ReceiveInfo->BufStr(); !more.empty(); more = ReceiveInfo->BufStr())
            LineBuffer.append(std::move(more));
    }
    return !LineBuffer.empty();
}

void TolvanSocket::Impl::closeSocket()
{
    if (!isOpen())
        return;
    int32_t handle = SocketHandle;
    platform::CloseSocketHandle(handle);
    Connected = false;
    socket::UnregisterSocket(handle);
    SocketHandle = 0;
    socket::ReleaseWinsockIfIdle();
}

int32_t TolvanSocket::Connect()
{
    Impl& s = *impl_;
    if (s.isOpen())
        return socket::kAlreadyConnected;
    if (!socket::EnsureWinsock())
        return socket::kLayerFailed;
    s.SocketHandle = socket::OpenConnection(s.Host, s.Port, s.SocketType);
    if (s.SocketHandle == -1) {
        socket::ReleaseWinsockIfIdle();
        return socket::kOpenFailed;
    }
    if (!socket::EnsureWinsock())
        return socket::kLayerFailed;
    s.registerSocket(s.SocketHandle, weak_from_this());
    s.Connected = true;
    s.ConnectState = kConnectPending;
    s.wait([&] { return s.ConnectState != kConnectPending; });
    if (s.ConnectState == kConnectDone)
        return socket::kOk;
    CloseSocket();
    return socket::kOpenFailed;
}

void TolvanSocket::CloseSocket()
{
    impl_->closeSocket();
}

int32_t TolvanSocket::GetlnData(std::string& DataBuff)
{
    Impl& s = *impl_;
    DataBuff.clear();
    if (!s.Connected || !s.ReceiveInfo) {
        // What the peer sent before it closed is still handed out, line by line.
        size_t leftover = s.takeLeftovers() ? s.LineBuffer.lineLength() : 0;
        if ((leftover == 0 && s.LineBuffer.size() >= kLongestLine) || leftover > kLongestLine)
            leftover = kLongestLine;
        if (leftover == 0)
            return socket::kNotConnected;
        DataBuff = s.LineBuffer.takeFront(leftover);
        return socket::kOk;
    }
    size_t length = 0;
    s.wait([&] {
        s.LineBuffer.append(s.ReceiveInfo->BufStr());
        length = s.LineBuffer.lineLength();
        if ((length == 0 && s.LineBuffer.size() >= kLongestLine) || length > kLongestLine)
            length = kLongestLine;
        return length != 0;
    });
    if (length == 0)
        return socket::kNothingArrived;  // a partial line stays for the next call
    DataBuff = s.LineBuffer.takeFront(length);
    return socket::kOk;
}

int32_t TolvanSocket::GetData(std::string& DataBuff, int32_t DataLen)
{
    Impl& s = *impl_;
    DataBuff.clear();
    if (!s.Connected || !s.ReceiveInfo) {
        // What the peer sent before it closed is still handed out.
        if (!s.takeLeftovers())
            return socket::kNotConnected;
        DataBuff = s.LineBuffer.takeAll();
        return socket::kOk;
    }
    s.wait([&] {
        if (DataLen > 0)
            s.LineBuffer.append(s.ReceiveInfo->GetBufStr(DataLen));
        else
            s.LineBuffer.append(s.ReceiveInfo->BufStr());
        return !s.LineBuffer.empty();
    });
    if (s.LineBuffer.empty())
        return socket::kNothingArrived;
    // This socket's own next read waits for the next call: taken now, it would only
    // sit in the buffer and, with the next read on top, push it into the spill file.
    platform::dispatchPendingExcept(s.SocketHandle);
    DataBuff = s.LineBuffer.takeAll();
    return socket::kOk;
}

} // namespace tolmail
