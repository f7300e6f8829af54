// Loopback peers for the tests, written on plain BSD sockets (Winsock on Windows) so that
// they share nothing with the library's socket layer. Every wait is bounded, so a peer's thread
// always ends by itself, and sooner once its owner is destroyed.
#pragma once

#ifndef _WIN32
#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>
#endif

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdint>
#include <functional>
#include <mutex>
#include <stdexcept>
#include <string>
#include <string_view>
#include <thread>
#include <vector>

#include "support/portable.h"

namespace loopback {

// The few places where Winsock differs from the BSD calls; a socket travels as an int
// either way (Windows keeps socket handles within 32 bits).
#ifdef _WIN32
inline constexpr int kNoSignal = 0;
inline void startNetwork()
{
    static const bool started = [] {
        WSADATA data;
        return WSAStartup(MAKEWORD(2, 2), &data) == 0;
    }();
    (void)started;
}
inline int closeSocket(int fd) { return ::closesocket(static_cast<SOCKET>(fd)); }
inline int pollSockets(pollfd* fds, unsigned count, int timeoutMs) { return ::WSAPoll(fds, count, timeoutMs); }
#else
inline constexpr int kNoSignal = MSG_NOSIGNAL;
inline void startNetwork() {}
inline int closeSocket(int fd) { return ::close(fd); }
inline int pollSockets(pollfd* fds, unsigned count, int timeoutMs) { return ::poll(fds, count, timeoutMs); }
#endif

/// A socket of the given type; every peer and client starts here.
inline int openSocket(int type = SOCK_STREAM)
{
    startNetwork();
    return static_cast<int>(::socket(AF_INET, type, 0));
}

inline pollfd pollFor(int fd, short events)
{
    pollfd p{};
    p.fd = fd;
    p.events = events;
    return p;
}

using Clock = std::chrono::steady_clock;
/// The longest a peer waits for any one thing the client should do.
inline constexpr int kWaitMs = 20000;

inline Clock::time_point after(int ms)
{
    return Clock::now() + std::chrono::milliseconds(ms);
}

inline sockaddr_in address(uint16_t port, const char* ip = "127.0.0.1")
{
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_port = htons(port);
    ::inet_pton(AF_INET, ip, &a.sin_addr);
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
    int fd = openSocket(type);
    sockaddr_in a = address(0);
    ::bind(fd, reinterpret_cast<sockaddr*>(&a), sizeof a);
    uint16_t port = boundPort(fd);
    closeSocket(fd);
    return port;
}

/// A listening TCP socket on ip:port (0: the kernel picks the port).
inline int listenOn(const char* ip, uint16_t port)
{
    int fd = openSocket();
#ifndef _WIN32
    // On Windows the option would let another socket take the port from under the peer.
    int one = 1;
    ::setsockopt(fd, SOL_SOCKET, SO_REUSEADDR, &one, sizeof one);
#endif
    sockaddr_in a = address(port, ip);
    if (::bind(fd, reinterpret_cast<sockaddr*>(&a), sizeof a) != 0 || ::listen(fd, 4) != 0) {
        closeSocket(fd);
        throw std::runtime_error(std::string("loopback peer cannot listen on ") + ip);
    }
    return fd;
}

/// Waits until fd is readable (or closed) before `deadline`; gives up early once `stop` is set.
inline bool readable(int fd, Clock::time_point deadline, const std::atomic<bool>* stop = nullptr)
{
    pollfd p = pollFor(fd, POLLIN);
    for (;;) {
        const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now()).count();
        if (left <= 0)
            return false;
        // With a stop flag, wake now and then to look at it.
        if (pollSockets(&p, 1, static_cast<int>(stop ? std::min<long long>(left, 20) : left)) > 0)
            return true;
        if (stop && *stop)
            return false;
    }
}

inline bool readable(int fd, int timeoutMs = kWaitMs)
{
    return readable(fd, after(timeoutMs));
}

inline bool sendAll(int fd, std::string_view text)
{
    for (size_t sent = 0; sent < text.size();) {
        const auto n = ::send(fd, text.data() + sent, static_cast<int>(std::min<size_t>(text.size() - sent, 1 << 30)), kNoSignal);
        if (n <= 0)
            return false;
        sent += static_cast<size_t>(n);
    }
    return true;
}

/// Reads once into `got` when data comes before `deadline`; false on close, time-out or stop.
inline bool readSome(int fd, std::string& got, Clock::time_point deadline, const std::atomic<bool>* stop = nullptr)
{
    char buffer[65536];
    const auto n = readable(fd, deadline, stop) ? ::recv(fd, buffer, sizeof buffer, 0) : 0;
    if (n > 0)
        got.append(buffer, static_cast<size_t>(n));
    return n > 0;
}

/// Reads into `got` until `marker` appears at or after `from`; the marker's end, or npos
/// when the client closed, the deadline passed or `stop` was set first.
inline size_t readUntil(int fd, std::string& got, std::string_view marker, size_t from, Clock::time_point deadline,
                        const std::atomic<bool>* stop = nullptr)
{
    size_t at;
    while ((at = got.find(marker, from)) == std::string::npos)
        if (!readSome(fd, got, deadline, stop))
            return std::string::npos;
    return at + marker.size();
}

/// Reads until `count` bytes came, the peer closed, or nothing came for the timeout.
inline std::string receive(int fd, size_t count, int timeoutMs = kWaitMs)
{
    std::string got;
    char buffer[65536];
    while (got.size() < count && readable(fd, timeoutMs)) {
        const auto n = ::recv(fd, buffer, static_cast<int>(std::min(sizeof buffer, count - got.size())), 0);
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

/// A TCP server on ip:port that accepts up to `connections` clients one after the other
/// and runs the handler on each in a thread of its own, closing the connection after it.
/// It listens from construction, so a client may connect at once. Destruction stops
/// the wait for a client that has not come.
class Peer {
public:
    using Handler = std::function<void(int fd)>;

    explicit Peer(Handler handler, const char* ip = "127.0.0.1", uint16_t port = 0, size_t connections = 1)
        : handler_(std::move(handler)), listener_(listenOn(ip, port)), port_(boundPort(listener_))
    {
        thread_ = portable::Thread([this, connections] {
            for (size_t i = 0; i < connections && readable(listener_, after(kWaitMs), &stop_); ++i) {
                int fd = static_cast<int>(::accept(listener_, nullptr, nullptr));
                if (fd < 0)
                    return;
                ++accepted_;
                handler_(fd);
                closeSocket(fd);
            }
        });
    }
    ~Peer()
    {
        stop_ = true;
        join();
        closeSocket(listener_);
    }
    Peer(const Peer&) = delete;
    Peer& operator=(const Peer&) = delete;

    /// Waits for the handler to finish with every connection.
    void join()
    {
        if (thread_.joinable())
            thread_.join();
    }
    uint16_t port() const { return port_; }
    size_t accepted() const { return accepted_; }
    /// Set once the owner is going away; bounded waits in handlers may stop early on it.
    const std::atomic<bool>* stop() const { return &stop_; }

private:
    Handler handler_;
    int listener_;
    uint16_t port_;
    std::atomic<bool> stop_{false};
    std::atomic<size_t> accepted_{0};
    portable::Thread thread_;
};

/// One step of a scripted connection.
struct Step {
    enum Kind { Send, ReadUntil, Drain, Close } kind;
    std::string text;  // Send: the bytes; ReadUntil: the marker read up to
    int millis = 0;    // Drain: how long to keep reading
};
using Script = std::vector<Step>;

inline Step Say(std::string text) { return {Step::Send, std::move(text)}; }
/// Reads one command line.
inline Step Hear() { return {Step::ReadUntil, "\r\n"}; }
/// Reads up to and including the end-of-data line.
inline Step HearData() { return {Step::ReadUntil, "\r\n.\r\n"}; }
inline Step Hangup() { return {Step::Close, {}}; }
/// Reads whatever comes until the client closes or `millis` pass.
inline Step Listen(int millis) { return {Step::Drain, {}, millis}; }
/// Stays silent and reads until the client closes or the peer is destroyed.
inline Step Hold() { return Listen(kWaitMs); }

/// replies[0] on accepting, each further reply after one more command line; then the
/// connection closes, or is held open when `hold`.
inline Script Replies(const std::vector<std::string>& replies, bool hold = false)
{
    Script script;
    for (const std::string& reply : replies) {
        if (!script.empty())
            script.push_back(Hear());
        script.push_back(Say(reply));
    }
    if (hold)
        script.push_back(Hold());
    return script;
}

/// Serves one script per accepted connection, in order, on ip:port, and keeps what
/// each connection received; that text can be read while the scripts still run.
class ScriptedPeer {
public:
    explicit ScriptedPeer(std::vector<Script> scripts, const char* ip = "127.0.0.1", uint16_t port = 0)
        : scripts_(std::move(scripts)), received_(scripts_.size()),
          peer_([this](int fd) { serve(fd); }, ip, port, scripts_.size())
    {
    }

    uint16_t port() const { return peer_.port(); }
    size_t accepted() const { return peer_.accepted(); }
    /// Waits for the scripts to end; returns what each connection received.
    std::vector<std::string> finish()
    {
        peer_.join();
        return received_;
    }
    /// The complete lines a connection has received so far, without CR LF.
    std::vector<std::string> lines(size_t connection = 0) const
    {
        std::lock_guard<portable::Mutex> lock(mutex_);
        std::vector<std::string> lines;
        const std::string& text = received_[connection];
        for (size_t at = 0, end; (end = text.find("\r\n", at)) != std::string::npos; at = end + 2)
            lines.push_back(text.substr(at, end - at));
        return lines;
    }

private:
    void serve(int fd)
    {
        const size_t index = peer_.accepted() - 1;
        std::string got;
        size_t consumed = 0;
        const auto publish = [&] {
            std::lock_guard<portable::Mutex> lock(mutex_);
            received_[index].append(got, received_[index].size());
        };
        for (const Step& step : scripts_[index]) {
            if (step.kind == Step::Close || (step.kind == Step::Send && !sendAll(fd, step.text)))
                return;
            if (step.kind == Step::Drain) {
                for (const auto deadline = after(step.millis); readSome(fd, got, deadline, peer_.stop());)
                    publish();
                consumed = got.size();
            }
            if (step.kind == Step::ReadUntil) {
                // The end-of-data marker may start with the CR LF that ended the line before.
                const size_t from = step.text.size() > 2 && consumed >= 2 ? consumed - 2 : consumed;
                const size_t end = readUntil(fd, got, step.text, from, after(kWaitMs), peer_.stop());
                publish();
                consumed = end == std::string::npos ? got.size() : end;
            }
        }
    }

    std::vector<Script> scripts_;
    std::vector<std::string> received_;
    mutable portable::Mutex mutex_;
    Peer peer_;  // last: its thread stops before the members above go
};

/// A plain client connection to 127.0.0.1:port, closed on destruction.
class Client {
public:
    explicit Client(uint16_t port)
    {
        fd_ = openSocket();
        sockaddr_in a = address(port);
        connected_ = ::connect(fd_, reinterpret_cast<sockaddr*>(&a), sizeof a) == 0;
    }
    ~Client() { closeSocket(fd_); }
    int fd() const { return fd_; }
    bool connected() const { return connected_; }
    uint16_t localPort() const { return boundPort(fd_); }

private:
    int fd_ = -1;
    bool connected_ = false;
};

} // namespace loopback
