// A scripted SMTP peer on a loopback port, written on plain POSIX sockets so that it
// shares no code with the socket layer under test.
#pragma once

#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <chrono>
#include <string>
#include <thread>
#include <vector>

namespace smtptest {

/// One step of a connection's script.
struct Action {
    enum Kind { Send, ReadUntil, Close, Drain } kind;
    std::string text;  // Send: the bytes; ReadUntil: the marker read up to
    int millis = 0;    // Drain: how long to keep reading
};

inline Action Say(std::string text) { return {Action::Send, std::move(text)}; }
inline Action Hear() { return {Action::ReadUntil, "\r\n"}; }
/// Reads up to and including the end-of-data line.
inline Action HearData() { return {Action::ReadUntil, "\r\n.\r\n"}; }
inline Action Hangup() { return {Action::Close, {}}; }
/// Reads whatever comes until the client closes or `millis` pass.
inline Action Listen(int millis) { return {Action::Drain, {}, millis}; }

/// Serves one script per accepted connection, in order, on 127.0.0.1. Every wait is
/// bounded, so the thread ends by itself even when the client never comes.
class ScriptedPeer {
public:
    explicit ScriptedPeer(std::vector<std::vector<Action>> scripts)
        : scripts_(std::move(scripts)), received_(scripts_.size())
    {
        listenFd_ = ::socket(AF_INET, SOCK_STREAM, 0);
        sockaddr_in addr{};
        addr.sin_family = AF_INET;
        addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        socklen_t len = sizeof addr;
        bind(listenFd_, reinterpret_cast<sockaddr*>(&addr), sizeof addr);
        listen(listenFd_, 4);
        getsockname(listenFd_, reinterpret_cast<sockaddr*>(&addr), &len);
        port_ = ntohs(addr.sin_port);
        thread_ = std::thread([this] { run(); });
    }
    ~ScriptedPeer()
    {
        finish();
        close(listenFd_);
    }
    ScriptedPeer(const ScriptedPeer&) = delete;
    ScriptedPeer& operator=(const ScriptedPeer&) = delete;

    uint16_t port() const { return port_; }
    /// Waits for the scripts to end; returns what each connection received.
    std::vector<std::string> finish()
    {
        if (thread_.joinable())
            thread_.join();
        return received_;
    }

private:
    static constexpr int kWaitMillis = 10000;  // longest wait for any client action

    /// Reads once into `got` when data comes within `millis`; false on close or time-out.
    static bool readSome(int fd, std::string& got, int millis)
    {
        pollfd p{fd, POLLIN, 0};
        char buf[65536];
        const ssize_t n = poll(&p, 1, millis) > 0 ? recv(fd, buf, sizeof buf, 0) : 0;
        if (n > 0)
            got.append(buf, static_cast<size_t>(n));
        return n > 0;
    }

    /// Reads for at most `millis`, until `done()` holds or the client closes.
    template <class Done>
    static void readFor(int fd, std::string& got, int millis, Done done)
    {
        const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(millis);
        while (!done()) {
            const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - std::chrono::steady_clock::now());
            if (left.count() <= 0 || !readSome(fd, got, static_cast<int>(left.count())))
                return;
        }
    }

    void run()
    {
        for (size_t i = 0; i < scripts_.size(); ++i) {
            pollfd p{listenFd_, POLLIN, 0};
            const int fd = poll(&p, 1, kWaitMillis) > 0 ? accept(listenFd_, nullptr, nullptr) : -1;
            if (fd < 0)
                return;
            serve(fd, scripts_[i], received_[i]);
            close(fd);
        }
    }

    static void serve(int fd, const std::vector<Action>& script, std::string& got)
    {
        size_t consumed = 0;
        for (const Action& a : script) {
            if (a.kind == Action::Close)
                return;
            if (a.kind == Action::Send && ::send(fd, a.text.data(), a.text.size(), MSG_NOSIGNAL) < 0)
                return;
            if (a.kind == Action::Drain) {
                readFor(fd, got, a.millis, [] { return false; });
                consumed = got.size();
            }
            if (a.kind == Action::ReadUntil) {
                // The end-of-data marker may start with the CR LF that ended the DATA reply's line.
                const size_t from = a.text.size() > 2 && consumed >= 2 ? consumed - 2 : consumed;
                readFor(fd, got, kWaitMillis, [&] { return got.find(a.text, from) != std::string::npos; });
                const size_t end = got.find(a.text, from);
                consumed = end == std::string::npos ? got.size() : end + a.text.size();
            }
        }
    }

    std::vector<std::vector<Action>> scripts_;
    std::vector<std::string> received_;
    int listenFd_ = -1;
    uint16_t port_ = 0;
    std::thread thread_;
};

} // namespace smtptest
