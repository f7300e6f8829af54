// TolvanSocket: properties, the client connect, close, line and block reads.
#include <cmath>

#include "socket/socket_impl.h"
#include "socket/socket_layer.h"
#include "socket/winsock_support.h"
#include "tolmail/socket_codes.h"

namespace tolmail {
namespace {

constexpr const char* kVersion = "1.10b";
constexpr int32_t kMaxTimeOut = 120;

// ConnectState values.
constexpr uint8_t kConnectPending = 0;
constexpr uint8_t kConnectDone = 1;

} // namespace

Ref<TolvanSocket> TolvanSocket::Create()
{
    return Ref<TolvanSocket>(new TolvanSocket());
}

TolvanSocket::TolvanSocket() : impl_(std::make_unique<Impl>()) {}

TolvanSocket::~TolvanSocket()
{
    if (impl_->Connected)
        CloseSocket();
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
    impl_->SocketType = value == static_cast<int32_t>(IpProto::IPPROTO_UDP) ? IpProto::IPPROTO_UDP : IpProto::IPPROTO_TCP;
}

void TolvanSocket::SocketType(IpProto value)
{
    SocketType(static_cast<int32_t>(value));
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
    if (ReceiveInfo)
        ReceiveInfo->markClosed();
    ReceiveInfo = std::move(info);
    SocketHandle = handle;
    LineBuffer.takeAll();
    DiscardingLine = false;
    WriteReady = false;
    Tls.reset();
    TlsActive = false;
    TlsBacklog.clear();
}

void TolvanSocket::Impl::closeSocket()
{
    if (!isOpen())
        return;
    int32_t handle = SocketHandle;
    endTls();
    platform::CloseSocketHandle(handle);
    Connected = false;
    ReceiveInfo->markClosed();
    socket::UnregisterSocket(handle);
    SocketHandle = 0;
    socket::ReleaseWinsockIfIdle();
}

int32_t TolvanSocket::Connect()
{
    Impl& s = *impl_;
    if (s.isOpen())
        return socket_result::AlreadyConnected;
    s.ConnectError = 0;
    s.TLSError.clear();
    if (!socket::EnsureWinsock())
        return socket_result::LayerFailed;
    s.SocketHandle = socket::OpenConnection(s.Host, s.Port, static_cast<int32_t>(s.SocketType), s.ConnectError);
    if (s.SocketHandle == -1) {
        socket::ReleaseWinsockIfIdle();
        return socket_result::OpenFailed;
    }
    if (!socket::EnsureWinsock())
        return socket_result::LayerFailed;
    s.registerSocket(s.SocketHandle, weak_from_this());
    s.Connected = true;
    s.ConnectState = kConnectPending;
    Ref<socket::SocketInfo> info = s.ReceiveInfo;
    s.wait([&] { return s.ConnectState != kConnectPending || !s.stillOn(info); });
    // A handler may have closed this connection meanwhile and opened another: that one
    // is not this Connect's to judge or close.
    if (s.ReceiveInfo != info)
        return socket_result::OpenFailed;
    if (s.ConnectState == kConnectDone)
        return s.ImplicitTLS && s.SocketType == IpProto::IPPROTO_TCP ? s.startTls() : socket_result::Ok;
    if (s.ConnectState == kConnectPending)
        s.ConnectError = socket::kTimedOut;  // else the notification said why
    CloseSocket();
    return socket_result::OpenFailed;
}

void TolvanSocket::CloseSocket()
{
    impl_->closeSocket();
}

TolvanSocket::Impl::Line TolvanSocket::Impl::gatherLine(socket::SocketInfo& info, size_t& length)
{
    // Text taken ahead of need keeps the receive buffer short and out of the spill
    // file while the caller works through the lines; as much again bounds it.
    if (LineBuffer.size() < socket::kSpillThreshold)
        LineBuffer.append(info.BufStr());
    for (;;) {
        length = LineBuffer.lineLength();
        if (length != 0) {
            if (!DiscardingLine && length - 2 <= socket_limit::LongestLine)
                return Line::Complete;
            LineBuffer.takeFront(length);
            DiscardingLine = false;
            return Line::TooLong;
        }
        // Without its CR LF yet: a trailing CR may be the start of it.
        size_t text = LineBuffer.size() - (LineBuffer.endsWithCR() ? 1 : 0);
        if (DiscardingLine || text > socket_limit::LongestLine) {
            DiscardingLine = true;
            LineBuffer.dropAllButTrailingCR();
        }
        std::string more = info.BufStr();
        if (more.empty())
            return Line::Partial;
        LineBuffer.append(std::move(more));
    }
}

int32_t TolvanSocket::GetlnData(std::string& DataBuff)
{
    Impl& s = *impl_;
    DataBuff.clear();
    if (!s.ReceiveInfo)
        return socket_result::NotConnected;
    // After a close, what the peer sent before it is still handed out, line by line.
    Ref<socket::SocketInfo> info = s.ReceiveInfo;
    Impl::Line line = Impl::Line::Partial;
    size_t length = 0;
    s.readPasses(info, [&] {
        line = s.gatherLine(*info, length);
        return line != Impl::Line::Partial;
    });
    if (s.ReceiveInfo != info)
        return socket_result::NotConnected;
    if (line == Impl::Line::TooLong)
        return socket_result::LineTooLong;
    if (line == Impl::Line::Partial)  // a partial line stays for the next call
        return s.Connected ? socket_result::NothingArrived : socket_result::NotConnected;
    DataBuff = s.LineBuffer.takeFront(length);
    s.BytesTaken += DataBuff.size();
    return socket_result::Ok;
}

int32_t TolvanSocket::GetData(std::string& DataBuff, int32_t DataLen)
{
    Impl& s = *impl_;
    DataBuff.clear();
    if (!s.ReceiveInfo)
        return socket_result::NotConnected;
    // After a close, what the peer sent before it is still handed out.
    Ref<socket::SocketInfo> info = s.ReceiveInfo;
    bool mayWait = !platform::SocketHeld(s.SocketHandle);
    s.readPasses(info, [&] {
        std::string more = DataLen > 0 ? info->GetBufStr(DataLen, mayWait) : info->BufStr();
        // The counted take dispatches: a handler may have replaced the connection.
        if (s.ReceiveInfo != info)
            return true;
        s.LineBuffer.append(std::move(more));
        return !s.LineBuffer.empty();
    });
    if (s.ReceiveInfo != info)
        return socket_result::NotConnected;
    if (s.LineBuffer.empty())
        return s.Connected ? socket_result::NothingArrived : socket_result::NotConnected;
    DataBuff = s.LineBuffer.takeAll();
    s.BytesTaken += DataBuff.size();
    // This socket's own next read waits for the next call: taken now, it would only
    // sit in the buffer and, with the next read on top, push it into the spill file.
    if (s.stillOn(info))
        platform::dispatchPendingExcept(s.SocketHandle);
    return socket_result::Ok;
}

} // namespace tolmail
