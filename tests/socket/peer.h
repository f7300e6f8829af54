// Loopback peers for the socket tests, written on plain POSIX sockets so that they
// share nothing with the layer under test. Every wait in them is bounded.
#pragma once

#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <chrono>
#include <functional>
#include <string>
#include <thread>

namespace peer {

inline constexpr int kPeerTimeoutMs = 20000;

inline sockaddr_in loopback(uint16_t port)
{
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_port = htons(port);
    a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    return a;
}

inline uint16_t boundPort(int fd)
{
    sockaddr_in a{};
    socklen_t len = sizeof a;
    ::getsockname(fd, reinterpret_cast<sockaddr*>(&a), &len);
    return ntohs(a.sin_port);
}

/// A port that nothing listens on right now (bound once by the kernel's choice, then freed).
inline uint16_t freePort(int type = SOCK_STREAM)
{
    int fd = ::socket(AF_INET, type, 0);
    sockaddr_in a = loopback(0);
    ::bind(fd, reinterpret_cast<sockaddr*>(&a), sizeof a);
    uint16_t port = boundPort(fd);
    ::close(fd);
    return port;
}

inline bool readable(int fd, int timeoutMs = kPeerTimeoutMs)
{
    pollfd p{fd, POLLIN, 0};
    return ::poll(&p, 1, timeoutMs) == 1;
}

inline void sendAll(int fd, const std::string& text)
{
    size_t sent = 0;
    while (sent < text.size()) {
        ssize_t n = ::send(fd, text.data() + sent, text.size() - sent, MSG_NOSIGNAL);
        if (n <= 0)
            return;
        sent += static_cast<size_t>(n);
    }
}

/// Reads until `count` bytes came, the peer closed, or nothing came for the timeout.
inline std::string receive(int fd, size_t count, int timeoutMs = kPeerTimeoutMs)
{
    std::string got;
    char buffer[65536];
    while (got.size() < count && readable(fd, timeoutMs)) {
        ssize_t n = ::recv(fd, buffer, std::min(sizeof buffer, count - got.size()), 0);
        if (n <= 0)
            break;
        got.append(buffer, static_cast<size_t>(n));
    }
    return got;
}

inline void pause(int ms)
{
    std::this_thread::sleep_for(std::chrono::milliseconds(ms));
}

/// A TCP server on 127.0.0.1 that accepts one client and runs a script on it in its
/// own thread. The listening socket exists from construction, so a client may connect
/// at once; the script's end closes the connection.
class Server {
public:
    explicit Server(std::function<void(int fd)> script) : script_(std::move(script))
    {
        listener_ = ::socket(AF_INET, SOCK_STREAM, 0);
        int one = 1;
        ::setsockopt(listener_, SOL_SOCKET, SO_REUSEADDR, &one, sizeof one);
        sockaddr_in a = loopback(0);
        ::bind(listener_, reinterpret_cast<sockaddr*>(&a), sizeof a);
        ::listen(listener_, 4);
        port_ = boundPort(listener_);
        thread_ = std::thread([this] {
            if (!readable(listener_))
                return;
            int fd = ::accept(listener_, nullptr, nullptr);
            if (fd < 0)
                return;
            script_(fd);
            ::close(fd);
        });
    }
    ~Server()
    {
        join();
        ::close(listener_);
    }
    /// Waits for the script to finish.
    void join()
    {
        if (thread_.joinable())
            thread_.join();
    }
    int port() const { return port_; }

private:
    std::function<void(int)> script_;
    int listener_ = -1;
    int port_ = 0;
    std::thread thread_;
};

/// A plain client connection to 127.0.0.1:port, closed on destruction.
class Client {
public:
    explicit Client(uint16_t port)
    {
        fd_ = ::socket(AF_INET, SOCK_STREAM, 0);
        sockaddr_in a = loopback(port);
        connected_ = ::connect(fd_, reinterpret_cast<sockaddr*>(&a), sizeof a) == 0;
    }
    ~Client() { ::close(fd_); }
    int fd() const { return fd_; }
    bool connected() const { return connected_; }
    uint16_t localPort() const { return boundPort(fd_); }

private:
    int fd_ = -1;
    bool connected_ = false;
};

} // namespace peer
