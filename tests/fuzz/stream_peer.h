// The loopback server of the protocol fuzzers: it serves a byte stream that the fuzzer
// chose, cut into the writes the input names, to the one client of an execution, and
// records what that client sent and how much of the stream it could have read by then.
// Written on plain POSIX sockets so that it shares nothing with the library's socket.
#pragma once

#include <linux/sockios.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <sys/ioctl.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <chrono>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <string_view>
#include <thread>
#include <vector>

namespace fuzzpeer {

/// An execution's input: byte 0 holds the target's options, byte 1 the number of cuts
/// (modulo 32), then one byte per cut, then the server's stream. A cut byte of 0 waits
/// (2 ms at most) for the client's next command line, as a server answering it would;
/// 199 stalls until the next command line for up to 6 s, longer than the components'
/// time-out of 5 s; 1 to 198 is a write of that many bytes; 200 to 255 a write of
/// (value - 199) * 256 bytes. What the cuts leave goes in one write.
/// The header is small and fixed in meaning, so mutations of the stream stay mutations
/// of the stream, and mutations of a cut move one boundary.
struct Input {
    static constexpr size_t kWait = 0;
    static constexpr size_t kStall = static_cast<size_t>(-1);
    uint8_t options = 0;
    std::vector<size_t> cuts;
    std::string_view stream;

    bool parse(const uint8_t* data, size_t size)
    {
        if (size < 2)
            return false;
        options = data[0];
        const size_t count = data[1] % 32u;
        if (size < 2 + count)
            return false;
        cuts.clear();
        for (size_t i = 0; i < count; ++i) {
            const size_t v = data[2 + i];
            cuts.push_back(v < 199 ? v : v == 199 ? kStall : (v - 199) * 256);
        }
        stream = {reinterpret_cast<const char*>(data) + 2 + count, size - 2 - count};
        return true;
    }
};

/// A line the client sent, and how many bytes of the stream had been served when the
/// peer read it: the client cannot have seen more than that before sending it.
struct Heard {
    std::string line;
    size_t served;
};

/// Aborts the execution, so that the fuzzer keeps the input that broke a promise.
[[noreturn]] inline void Violation(const char* what)
{
    std::fprintf(stderr, "invariant violated: %s\n", what);
    std::abort();
}

/// A private directory under the system's temporary one for the whole process,
/// removed with everything in it at exit.
class ScratchDirectory {
public:
    explicit ScratchDirectory(const char* prefix)
    {
        path_ = std::filesystem::temp_directory_path().string() + "/" + prefix + "-XXXXXX";
        if (!::mkdtemp(path_.data()))
            Violation("no temporary directory");
    }
    ~ScratchDirectory() { std::filesystem::remove_all(path_); }
    ScratchDirectory(const ScratchDirectory&) = delete;
    ScratchDirectory& operator=(const ScratchDirectory&) = delete;

    /// The directory's path followed by `name`.
    std::string operator/(const char* name) const { return path_ + "/" + name; }

private:
    std::string path_;
};

using Clock = std::chrono::steady_clock;

/// The listening socket, opened once per process: a new one per execution would soon
/// use up the loopback ports in TIME_WAIT.
class Listener {
public:
    Listener()
    {
        fd_ = ::socket(AF_INET, SOCK_STREAM, 0);
        int one = 1;
        ::setsockopt(fd_, SOL_SOCKET, SO_REUSEADDR, &one, sizeof one);
        sockaddr_in a{};
        a.sin_family = AF_INET;
        a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        socklen_t length = sizeof a;
        if (::bind(fd_, reinterpret_cast<sockaddr*>(&a), sizeof a) != 0 || ::listen(fd_, 4) != 0 ||
            ::getsockname(fd_, reinterpret_cast<sockaddr*>(&a), &length) != 0)
            Violation("the fuzzer's peer cannot listen on 127.0.0.1");
        port_ = ntohs(a.sin_port);
    }
    ~Listener() { ::close(fd_); }
    Listener(const Listener&) = delete;
    Listener& operator=(const Listener&) = delete;

    int fd() const { return fd_; }
    uint16_t port() const { return port_; }

private:
    int fd_ = -1;
    uint16_t port_ = 0;
};

/// One execution's server: from construction it serves `input` to the next client that
/// connects, in a thread of its own. Everything it holds goes with it, so that the
/// fuzzer's leak check sees an execution that frees what it allocates.
class Session {
public:
    Session(const Listener& listener, const Input& input) : listener_(listener.fd()), input_(input)
    {
        thread_ = std::thread([this] { serve(); });
    }
    ~Session() { finish(); }
    Session(const Session&) = delete;
    Session& operator=(const Session&) = delete;

    /// Waits until the client closed (the component must be released first).
    void finish()
    {
        stop_ = true;
        if (thread_.joinable())
            thread_.join();
    }

    /// Bytes of the stream written so far: all that the client can have read.
    size_t served() const { return served_.load(); }
    std::string_view stream() const { return input_.stream; }
    const std::string& received() const { return received_; }
    const std::vector<Heard>& heard() const { return heard_; }

private:
    static bool readable(int fd, long micros)
    {
        pollfd p{fd, POLLIN, 0};
        const timespec wait{micros / 1000000, (micros % 1000000) * 1000};
        return ::ppoll(&p, 1, &wait, nullptr) > 0;
    }

    /// Takes what the client sent, without waiting unless `waitUs`; false once it closed.
    /// `quiet` tells whether nothing came.
    bool take(int fd, long waitUs, bool* quiet = nullptr)
    {
        char buffer[4096];
        if (quiet)
            *quiet = true;
        if (waitUs > 0 && !readable(fd, waitUs))
            return true;
        const ssize_t n = ::recv(fd, buffer, sizeof buffer, MSG_DONTWAIT);
        if (n == 0 || (n < 0 && errno != EAGAIN && errno != EWOULDBLOCK))
            return false;
        if (n < 0)
            return true;
        if (quiet)
            *quiet = false;
        // Acknowledge at once: a delayed acknowledgement holds the client's next small
        // write back (Nagle) for tens of milliseconds.
        int one = 1;
        ::setsockopt(fd, IPPROTO_TCP, TCP_QUICKACK, &one, sizeof one);
        const size_t from = received_.size();
        received_.append(buffer, static_cast<size_t>(n));
        for (size_t at = from; (at = received_.find('\n', at)) != std::string::npos; ++at) {
            const size_t start = lineStart_;
            lineStart_ = at + 1;
            heard_.push_back({received_.substr(start, at + 1 - start), served_.load()});
        }
        return true;
    }

    /// Writes one piece and waits (briefly) until the kernel has handed it over, so
    /// that the client's next read most likely sees this piece alone.
    bool write(int fd, std::string_view piece)
    {
        // Counted before the send: the client may read the bytes before send() returns.
        served_ += piece.size();
        for (size_t sent = 0; sent < piece.size();) {
            const ssize_t n = ::send(fd, piece.data() + sent, piece.size() - sent, MSG_NOSIGNAL);
            if (n <= 0)
                return false;
            sent += static_cast<size_t>(n);
        }
        const auto deadline = Clock::now() + std::chrono::milliseconds(2);
        for (int queued = 1; Clock::now() < deadline;) {
            if (::ioctl(fd, SIOCOUTQ, &queued) != 0 || queued == 0)
                break;
            std::this_thread::yield();
        }
        return true;
    }

    /// Accepts the execution's client and serves it; a component that connects again
    /// (after the server closed) finds its connection closed at once, not left waiting.
    void serve()
    {
        for (bool first = true; !stop_;) {
            if (!readable(listener_, 1000))
                continue;
            const int fd = ::accept(listener_, nullptr, nullptr);
            if (fd < 0)
                continue;
            if (first)
                serve(fd);
            first = false;
            ::close(fd);
        }
    }

    void serve(int fd)
    {
        int one = 1;
        ::setsockopt(fd, IPPROTO_TCP, TCP_NODELAY, &one, sizeof one);
        std::string_view rest = input_.stream;
        size_t linesBeforeWrite = 0;
        bool open = true;
        for (size_t i = 0; open && (!rest.empty() || i < input_.cuts.size()); ++i) {
            if (i < input_.cuts.size() && (input_.cuts[i] == Input::kWait || input_.cuts[i] == Input::kStall)) {
                // Like a server that answers a command (or stalls before it does): wait for
                // a line sent after the last write, then for the rest of what comes with it
                // (the lines of a message's data).
                const auto longest = std::chrono::milliseconds(input_.cuts[i] == Input::kWait ? 2 : 6000);
                for (auto until = Clock::now() + longest;
                     open && heard_.size() == linesBeforeWrite && Clock::now() < until;)
                    open = take(fd, 200);
                for (bool quiet = false; open && !quiet;)
                    open = take(fd, 300, &quiet);
                continue;
            }
            const size_t size = i < input_.cuts.size() ? input_.cuts[i] : rest.size();
            linesBeforeWrite = heard_.size();
            open = write(fd, rest.substr(0, size)) && take(fd, 0);
            rest.remove_prefix(std::min(size, rest.size()));
        }
        // The stream is over. The client may still be sending commands to be answered
        // from what it already has (after the close it could not); once it has been
        // quiet for a moment it sees the close and should stop waiting for more.
        for (bool quiet = false; open && !quiet;)
            open = take(fd, kQuietUs, &quiet);
        ::shutdown(fd, SHUT_WR);
        for (auto until = Clock::now() + std::chrono::seconds(60); open && Clock::now() < until;)
            open = take(fd, 100000);
    }

    static constexpr long kQuietUs = 2000;

    int listener_;
    Input input_;
    std::atomic<size_t> served_{0};
    std::atomic<bool> stop_{false};
    std::string received_;
    size_t lineStart_ = 0;
    std::vector<Heard> heard_;
    std::thread thread_;  // last: it starts once the members above exist
};

/// True when `text` starts with `prefix`, ignoring the case of ASCII letters.
inline bool StartsNoCase(std::string_view text, std::string_view prefix)
{
    if (text.size() < prefix.size())
        return false;
    for (size_t i = 0; i < prefix.size(); ++i) {
        char c = text[i];
        if (c >= 'a' && c <= 'z')
            c = static_cast<char>(c - 'a' + 'A');
        if (c != prefix[i])
            return false;
    }
    return true;
}

/// Where the lines of `text` start, counting a lone CR as a line end too: a client
/// cannot see more lines than this, so checks built on it never accuse it wrongly.
inline std::vector<size_t> LineStarts(std::string_view text)
{
    std::vector<size_t> starts{0};
    for (size_t i = 0; i < text.size(); ++i) {
        const bool end = text[i] == '\n' || (text[i] == '\r' && (i + 1 == text.size() || text[i + 1] != '\n'));
        if (end && i + 1 < text.size())
            starts.push_back(i + 1);
    }
    return starts;
}

} // namespace fuzzpeer
