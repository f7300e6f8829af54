// The scripted loopback peer for dialogue fault tests.
#include "smtp/scripted_peer.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <chrono>
#include <cstring>
#include <stdexcept>

namespace smtptest {

namespace {

constexpr int kWaitMillis = 10000;  // longest wait for any client action

/// Reads once into `got` when data comes within `millis`; false on close or time-out.
bool readSome(int fd, std::string& got, int millis)
{
    pollfd p{fd, POLLIN, 0};
    if (poll(&p, 1, millis) <= 0)
        return false;
    char buf[65536];
    const ssize_t n = recv(fd, buf, sizeof buf, 0);
    if (n <= 0)
        return false;
    got.append(buf, static_cast<size_t>(n));
    return true;
}

/// Reads until `got` holds `marker` after position `from`.
void readUntil(int fd, std::string& got, size_t from, const char* marker)
{
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(kWaitMillis);
    while (got.find(marker, from) == std::string::npos) {
        const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - std::chrono::steady_clock::now());
        if (left.count() <= 0 || !readSome(fd, got, static_cast<int>(left.count())))
            return;
    }
}

} // namespace

ScriptedPeer::ScriptedPeer(std::vector<std::vector<Action>> scripts)
    : scripts_(std::move(scripts)), received_(scripts_.size())
{
    listenFd_ = ::socket(AF_INET, SOCK_STREAM, 0);
    if (listenFd_ < 0)
        throw std::runtime_error("socket");
    const int one = 1;
    setsockopt(listenFd_, SOL_SOCKET, SO_REUSEADDR, &one, sizeof one);
    sockaddr_in addr{};
    addr.sin_family = AF_INET;
    addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    addr.sin_port = 0;
    if (bind(listenFd_, reinterpret_cast<sockaddr*>(&addr), sizeof addr) != 0 || listen(listenFd_, 4) != 0)
        throw std::runtime_error("bind/listen");
    socklen_t len = sizeof addr;
    getsockname(listenFd_, reinterpret_cast<sockaddr*>(&addr), &len);
    port_ = ntohs(addr.sin_port);
    thread_ = std::thread([this] { run(); });
}

ScriptedPeer::~ScriptedPeer()
{
    if (thread_.joinable())
        thread_.join();
    if (listenFd_ >= 0)
        close(listenFd_);
}

std::vector<std::string> ScriptedPeer::finish()
{
    if (thread_.joinable())
        thread_.join();
    return received_;
}

void ScriptedPeer::run()
{
    for (size_t i = 0; i < scripts_.size(); ++i) {
        pollfd p{listenFd_, POLLIN, 0};
        if (poll(&p, 1, kWaitMillis) <= 0)
            return;
        const int fd = accept(listenFd_, nullptr, nullptr);
        if (fd < 0)
            return;
        serve(fd, scripts_[i], received_[i]);
        close(fd);
    }
}

void ScriptedPeer::serve(int fd, const std::vector<Action>& script, std::string& got)
{
    size_t consumed = 0;
    for (const Action& a : script) {
        switch (a.kind) {
        case Action::Send:
            if (::send(fd, a.text.data(), a.text.size(), MSG_NOSIGNAL) < 0)
                return;
            break;
        case Action::ReadLine:
            readUntil(fd, got, consumed, "\r\n");
            consumed = got.find("\r\n", consumed) == std::string::npos ? got.size() : got.find("\r\n", consumed) + 2;
            break;
        case Action::ReadData: {
            // The end-of-data line may directly follow the DATA reply's CR LF.
            const size_t from = consumed >= 2 ? consumed - 2 : 0;
            readUntil(fd, got, from, "\r\n.\r\n");
            const size_t end = got.find("\r\n.\r\n", from);
            consumed = end == std::string::npos ? got.size() : end + 5;
            break;
        }
        case Action::Close:
            return;
        case Action::Drain: {
            const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(a.millis);
            for (;;) {
                const auto left =
                    std::chrono::duration_cast<std::chrono::milliseconds>(deadline - std::chrono::steady_clock::now());
                if (left.count() <= 0 || !readSome(fd, got, static_cast<int>(left.count())))
                    break;
            }
            consumed = got.size();
            break;
        }
        }
    }
}

} // namespace smtptest
