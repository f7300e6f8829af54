// A scripted POP3 peer for dialogue faults a real server will not produce on demand:
// one loopback connection served from a list of replies on a thread of its own,
// with plain POSIX sockets (independent of the library's socket layer) and a
// deadline, so it always stops by itself.
#pragma once

#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <cstdint>
#include <mutex>
#include <stdexcept>
#include <string>
#include <thread>
#include <vector>

namespace tolmail::testing {

class ScriptedPeer {
public:
    /// What happens when the replies run out: close the connection, or hold it open
    /// and stay silent until the peer is destroyed or its deadline passes.
    enum class End { Close, Hold };

    /// Listens on address:port (0: a free port). replies[0] is sent on accepting, each
    /// further entry after one more command line has arrived.
    ScriptedPeer(const char* address, uint16_t port, std::vector<std::string> replies, End end = End::Close)
        : replies_(std::move(replies)), end_(end)
    {
        listener_ = ::socket(AF_INET, SOCK_STREAM, 0);
        int yes = 1;
        ::setsockopt(listener_, SOL_SOCKET, SO_REUSEADDR, &yes, sizeof yes);
        sockaddr_in where{};
        where.sin_family = AF_INET;
        where.sin_port = htons(port);
        ::inet_pton(AF_INET, address, &where.sin_addr);
        if (::bind(listener_, reinterpret_cast<sockaddr*>(&where), sizeof where) != 0 || ::listen(listener_, 4) != 0)
            throw std::runtime_error(std::string("scripted peer cannot listen on ") + address);
        socklen_t length = sizeof where;
        ::getsockname(listener_, reinterpret_cast<sockaddr*>(&where), &length);
        port_ = ntohs(where.sin_port);
        thread_ = std::thread([this] { Run(); });
    }

    ~ScriptedPeer()
    {
        stop_ = true;
        thread_.join();
        ::close(listener_);
    }
    ScriptedPeer(const ScriptedPeer&) = delete;
    ScriptedPeer& operator=(const ScriptedPeer&) = delete;

    uint16_t port() const { return port_; }
    bool accepted() const { return accepted_; }
    /// The command lines received so far, without CR LF.
    std::vector<std::string> received() const
    {
        std::lock_guard<std::mutex> lock(mutex_);
        return lines_;
    }

private:
    static constexpr auto kDeadline = std::chrono::seconds(30);

    bool Wait(int fd, std::chrono::steady_clock::time_point deadline) const
    {
        pollfd entry{fd, POLLIN, 0};
        while (!stop_ && std::chrono::steady_clock::now() < deadline) {
            if (::poll(&entry, 1, 20) > 0)
                return true;
        }
        return false;
    }

    void Send(int fd, const std::string& text)
    {
        for (size_t sent = 0; sent < text.size();) {
            ssize_t n = ::send(fd, text.data() + sent, text.size() - sent, MSG_NOSIGNAL);
            if (n <= 0)
                return;
            sent += static_cast<size_t>(n);
        }
    }

    void Run()
    {
        const auto deadline = std::chrono::steady_clock::now() + kDeadline;
        if (!Wait(listener_, deadline))
            return;
        int fd = ::accept(listener_, nullptr, nullptr);
        if (fd < 0)
            return;
        accepted_ = true;
        size_t next = 0;
        std::string pending;
        while (next < replies_.size() || end_ == End::Hold) {
            if (next < replies_.size() && next <= lines_.size())
                Send(fd, replies_[next++]);
            if (next == replies_.size() && end_ == End::Close)
                break;
            size_t at = pending.find("\r\n");
            if (at != std::string::npos) {
                std::lock_guard<std::mutex> lock(mutex_);
                lines_.push_back(pending.substr(0, at));
                pending.erase(0, at + 2);
                continue;
            }
            if (!Wait(fd, deadline))
                break;
            char buffer[4096];
            ssize_t n = ::recv(fd, buffer, sizeof buffer, 0);
            if (n <= 0)
                break;
            pending.append(buffer, static_cast<size_t>(n));
        }
        ::close(fd);
    }

    std::vector<std::string> replies_;
    End end_;
    int listener_ = -1;
    uint16_t port_ = 0;
    std::thread thread_;
    std::atomic<bool> stop_{false};
    std::atomic<bool> accepted_{false};
    mutable std::mutex mutex_;
    std::vector<std::string> lines_;
};

} // namespace tolmail::testing
