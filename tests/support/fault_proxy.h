// A fault-injection TCP proxy for tests: it sits on loopback between a component and a
// real server and, per direction, cuts, resets, stalls, delays or splits the stream at
// chosen offsets. Written on plain POSIX sockets so that it shares nothing with the
// library's socket layer; one thread, every wait bounded, stopped by its destructor.
#pragma once

#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <sys/prctl.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <chrono>
#include <cstdint>
#include <ctime>
#include <deque>
#include <list>
#include <mutex>
#include <stdexcept>
#include <string>
#include <string_view>
#include <thread>
#include <vector>

namespace faultproxy {

using Clock = std::chrono::steady_clock;
using std::chrono::microseconds;
using std::chrono::milliseconds;

enum class Action {
    kPass,   // forward everything
    kCut,    // after `offset` bytes close both connections
    kReset,  // after `offset` bytes abort both connections (RST)
    kStall,  // after `offset` bytes stop forwarding this direction, connections kept open
    kCorrupt,  // flip one bit of the byte at `offset`, forward everything
};

/// What happens to one direction of every session the proxy carries (built with
/// designated initializers; the default passes everything through).
struct Plan {
    Action action = Action::kPass;
    /// Bytes forwarded before the action, counted from the start of the stream or, with a
    /// marker, from the first byte after the marker's first occurrence.
    size_t offset = 0;
    std::string marker{};
    /// The marker is looked for in the opposite direction (a command whose reply is to be
    /// counted): counting starts with the next byte this direction reads after it.
    bool markerFromPeer = false;
    /// kStall: how long the stream is held; zero holds it until the session ends.
    milliseconds stallFor{0};
    /// Splitting: at most `piece` bytes per write (0: as read), `pause` between writes.
    size_t piece = 0;
    microseconds pause{0};
    /// Latency: every read is held this long before it goes out.
    milliseconds delay{0};
    /// Keeps a copy of what is forwarded (from the marker on, when there is one).
    bool record = false;
};

class Proxy {
public:
    /// Listens on 127.0.0.1 (an ephemeral port) and carries every accepted connection to
    /// targetHost:targetPort with the plans `toClient` (server to client) and `toServer`.
    /// `receiveBuffer` > 0 shrinks the client side's receive window, so that a slow
    /// `toServer` plan pushes back on the sender instead of being absorbed by buffers.
    Proxy(const std::string& targetHost, uint16_t targetPort, Plan toClient, Plan toServer, int receiveBuffer = 0)
        : toClient_(std::move(toClient)), toServer_(std::move(toServer))
    {
        target_ = Address(targetHost, targetPort);
        listener_ = ::socket(AF_INET, SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0);
        const int on = 1;
        ::setsockopt(listener_, SOL_SOCKET, SO_REUSEADDR, &on, sizeof on);
        if (receiveBuffer > 0)
            ::setsockopt(listener_, SOL_SOCKET, SO_RCVBUF, &receiveBuffer, sizeof receiveBuffer);
        sockaddr_in self = Address("127.0.0.1", 0);
        socklen_t length = sizeof self;
        if (listener_ < 0 || ::bind(listener_, reinterpret_cast<sockaddr*>(&self), sizeof self) != 0 ||
            ::listen(listener_, 8) != 0 || ::getsockname(listener_, reinterpret_cast<sockaddr*>(&self), &length) != 0 ||
            ::pipe2(wake_, O_NONBLOCK | O_CLOEXEC) != 0)
            throw std::runtime_error("fault proxy: cannot listen on loopback");
        port_ = ntohs(self.sin_port);
        thread_ = std::thread([this] { Run(); });
    }
    ~Proxy()
    {
        stop_ = true;
        (void)!::write(wake_[1], "x", 1);
        thread_.join();
        ::close(listener_);
        ::close(wake_[0]);
        ::close(wake_[1]);
    }
    Proxy(const Proxy&) = delete;
    Proxy& operator=(const Proxy&) = delete;

    uint16_t Port() const { return port_; }
    /// How often a plan's action fired.
    int Fired() const { return fired_; }
    /// What a plan with `record` forwarded, over all sessions.
    std::string Recorded(bool toServer) const
    {
        std::lock_guard<std::mutex> lock(recordLock_);
        return recorded_[toServer ? 1 : 0];
    }

    /// Waits (at most `limit`) until no session is open: both servers and clients have
    /// closed, so whatever a server commits at the end of a session is committed.
    bool WaitIdle(milliseconds limit = milliseconds(5000)) const
    {
        const auto deadline = Clock::now() + limit;
        while (open_ > 0 && Clock::now() < deadline)
            std::this_thread::sleep_for(milliseconds(2));
        return open_ == 0;
    }

private:
    static constexpr size_t kMostQueued = 64 * 1024;  // read no further ahead of the slow side
    static constexpr size_t kReadSize = 16 * 1024;
    static constexpr size_t kMarkerContext = 256;     // markers are shorter than this
    static constexpr int kConnectMs = 5000;
    static constexpr int kIdlePollMs = 50;

    struct Chunk {
        std::string bytes;
        Clock::time_point due;
    };
    struct Flow {
        Plan plan;
        int from = -1, to = -1;
        std::string* record = nullptr;
        std::deque<Chunk> queue;
        size_t queued = 0;
        uint64_t read = 0, sent = 0;
        int64_t armAt = -1;  // stream position where counting starts
        std::string recent;  // the last bytes read, to find a marker split across reads
        bool eof = false, shut = false, fired = false, stalled = false, draining = false, blocked = false;
        bool sourceEnded = false;  // the source reported a hang-up or an error
        Clock::time_point nextWrite{}, resumeAt = Clock::time_point::max();

        bool Armed() const { return plan.action != Action::kPass && armAt >= 0 && !fired; }
        bool WantsRead() const { return !eof && (draining || (!stalled && queued < kMostQueued)); }
    };
    struct Session {
        int client = -1, server = -1;
        Flow up, down;  // client to server, server to client
        bool dead = false, reset = false;
    };

    static sockaddr_in Address(const std::string& host, uint16_t port)
    {
        sockaddr_in a{};
        a.sin_family = AF_INET;
        a.sin_port = htons(port);
        if (::inet_pton(AF_INET, host.c_str(), &a.sin_addr) != 1 || (ntohl(a.sin_addr.s_addr) >> 24) != 127)
            throw std::runtime_error("fault proxy: only loopback targets");
        return a;
    }

    int ConnectTarget() const
    {
        int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0);
        if (fd < 0)
            return -1;
        if (::connect(fd, reinterpret_cast<const sockaddr*>(&target_), sizeof target_) == 0)
            return fd;
        pollfd p{fd, POLLOUT, 0};
        int error = 0;
        socklen_t length = sizeof error;
        if (errno == EINPROGRESS && ::poll(&p, 1, kConnectMs) == 1 &&
            ::getsockopt(fd, SOL_SOCKET, SO_ERROR, &error, &length) == 0 && error == 0)
            return fd;
        ::close(fd);
        return -1;
    }

    void Accept()
    {
        const int client = ::accept4(listener_, nullptr, nullptr, SOCK_NONBLOCK | SOCK_CLOEXEC);
        if (client < 0)
            return;
        const int server = ConnectTarget();
        if (server < 0) {
            ::close(client);
            return;
        }
        const int on = 1;
        for (int fd : {client, server})
            ::setsockopt(fd, IPPROTO_TCP, TCP_NODELAY, &on, sizeof on);
        Session& s = sessions_.emplace_back();
        s.client = client;
        s.server = server;
        s.up.plan = toServer_, s.up.from = client, s.up.to = server;
        s.down.plan = toClient_, s.down.from = server, s.down.to = client;
        for (Flow* f : {&s.up, &s.down}) {
            f->record = f->plan.record ? &recorded_[f == &s.up ? 1 : 0] : nullptr;
            f->armAt = f->plan.marker.empty() ? 0 : -1;
        }
        ++open_;
    }

    /// Looks for markers in what `reader` just read: its own, and its peer's when that
    /// one counts from a marker in this direction.
    static void FindMarkers(Flow& reader, Flow& peer, std::string_view data)
    {
        const std::string window = reader.recent + std::string(data);
        const size_t base = reader.read - reader.recent.size();
        if (reader.armAt < 0 && !reader.plan.marker.empty() && !reader.plan.markerFromPeer) {
            const size_t at = window.find(reader.plan.marker);
            if (at != std::string::npos)
                reader.armAt = static_cast<int64_t>(base + at + reader.plan.marker.size());
        }
        if (peer.armAt < 0 && !peer.plan.marker.empty() && peer.plan.markerFromPeer &&
            window.find(peer.plan.marker) != std::string::npos)
            peer.armAt = static_cast<int64_t>(peer.read);
        reader.recent = window.substr(window.size() - std::min(window.size(), kMarkerContext));
    }

    void ReadInto(Session& s, Flow& f, Flow& peer)
    {
        char buffer[kReadSize];
        const ssize_t n = ::recv(f.from, buffer, sizeof buffer, 0);
        if (n == 0) {
            f.eof = true;
            return;
        }
        if (n < 0) {
            if (errno != EAGAIN && errno != EWOULDBLOCK && errno != EINTR)
                s.dead = true;
            return;
        }
        if (f.draining)
            return;
        FindMarkers(f, peer, std::string_view(buffer, static_cast<size_t>(n)));
        f.queue.push_back({std::string(buffer, static_cast<size_t>(n)), Clock::now() + f.plan.delay});
        f.queued += static_cast<size_t>(n);
        f.read += static_cast<uint64_t>(n);
    }

    void Fire(Session& s, Flow& f)
    {
        f.fired = true;
        ++fired_;
        if (f.plan.action == Action::kCorrupt)
            return;
        if (f.plan.action == Action::kStall) {
            f.stalled = true;
            if (f.plan.stallFor.count() > 0)
                f.resumeAt = Clock::now() + f.plan.stallFor;
            return;
        }
        s.dead = true;
        s.reset = f.plan.action == Action::kReset;
    }

    void Record(const Flow& f, const char* bytes, size_t n)
    {
        if (!f.record || (!f.plan.marker.empty() && f.armAt < 0))
            return;
        const uint64_t from = f.plan.marker.empty() ? 0 : static_cast<uint64_t>(f.armAt);
        const size_t skip = f.sent >= from ? 0 : static_cast<size_t>(std::min<uint64_t>(n, from - f.sent));
        std::lock_guard<std::mutex> lock(recordLock_);
        f.record->append(bytes + skip, n - skip);
    }

    void WriteFrom(Session& s, Flow& f)
    {
        const auto now = Clock::now();
        if (f.stalled && now >= f.resumeAt)
            f.stalled = false, f.resumeAt = Clock::time_point::max();
        f.blocked = false;
        while (!s.dead && !f.stalled) {
            if (f.Armed() && f.sent == static_cast<uint64_t>(f.armAt) + f.plan.offset) {
                if (f.plan.action == Action::kCorrupt) {
                    if (f.queue.empty())
                        break;  // the byte has not arrived yet
                    f.queue.front().bytes[0] ^= 0x01;
                }
                Fire(s, f);
                continue;
            }
            if (f.queue.empty() || f.queue.front().due > now || f.nextWrite > now)
                break;
            std::string& bytes = f.queue.front().bytes;
            size_t length = bytes.size();
            if (f.plan.piece > 0)
                length = std::min(length, f.plan.piece);
            if (f.Armed())
                length = std::min<uint64_t>(length, static_cast<uint64_t>(f.armAt) + f.plan.offset - f.sent);
            const ssize_t n = ::send(f.to, bytes.data(), length, MSG_NOSIGNAL);
            if (n < 0) {
                if (errno == EAGAIN || errno == EWOULDBLOCK)
                    f.blocked = true;
                else if (errno != EINTR)
                    s.dead = true;
                break;
            }
            Record(f, bytes.data(), static_cast<size_t>(n));
            bytes.erase(0, static_cast<size_t>(n));
            if (bytes.empty())
                f.queue.pop_front();
            f.queued -= static_cast<size_t>(n);
            f.sent += static_cast<uint64_t>(n);
            if (f.plan.piece > 0 && f.plan.pause.count() > 0) {
                f.nextWrite = now + f.plan.pause;
                break;
            }
        }
        if (!s.dead && f.eof && f.queue.empty() && !f.shut) {
            ::shutdown(f.to, SHUT_WR);
            f.shut = true;
        }
    }

    /// A stalled direction would never notice its source ending: once either side has
    /// ended, what it still receives is read and dropped, so the session can finish.
    static void DrainIfEnding(Flow& f, const Flow& peer)
    {
        if (f.stalled && (peer.eof || f.sourceEnded || peer.sourceEnded))
            f.draining = true, f.stalled = false, f.queue.clear(), f.queued = 0;
    }

    void Step(Session& s, short clientEvents, short serverEvents)
    {
        const short ends = POLLHUP | POLLERR;
        s.up.sourceEnded = s.up.sourceEnded || (clientEvents & ends);
        s.down.sourceEnded = s.down.sourceEnded || (serverEvents & ends);
        DrainIfEnding(s.up, s.down);
        DrainIfEnding(s.down, s.up);
        if (s.up.WantsRead() && (clientEvents & (POLLIN | ends)))
            ReadInto(s, s.up, s.down);
        if (!s.dead && s.down.WantsRead() && (serverEvents & (POLLIN | ends)))
            ReadInto(s, s.down, s.up);
        WriteFrom(s, s.up);
        WriteFrom(s, s.down);
        if (s.up.shut && s.down.shut)
            s.dead = true;
    }

    void Close(Session& s)
    {
        for (int fd : {s.client, s.server}) {
            if (s.reset) {
                const linger abort{1, 0};
                ::setsockopt(fd, SOL_SOCKET, SO_LINGER, &abort, sizeof abort);
            }
            ::close(fd);
        }
        --open_;
    }

    static short EventsFor(const Flow& reading, const Flow& writing)
    {
        return static_cast<short>((reading.WantsRead() ? POLLIN : 0) | (writing.blocked ? POLLOUT : 0));
    }

    /// How long the loop may sleep before some queued piece, pause or stall falls due.
    timespec Sleep() const
    {
        auto next = Clock::now() + milliseconds(kIdlePollMs);
        for (const Session& s : sessions_)
            for (const Flow* f : {&s.up, &s.down}) {
                if (!f->queue.empty() && !f->stalled && !f->blocked)  // a blocked one waits for POLLOUT
                    next = std::min(next, std::max(f->queue.front().due, f->nextWrite));
                next = std::min(next, f->resumeAt);
            }
        const long long ns = std::max<long long>(0, std::chrono::nanoseconds(next - Clock::now()).count());
        return timespec{static_cast<time_t>(ns / 1000000000), static_cast<long>(ns % 1000000000)};
    }

    void Run()
    {
        // Pauses between pieces are tens of microseconds: keep the kernel's timer slack below them.
        ::prctl(PR_SET_TIMERSLACK, 1000UL);
        std::vector<pollfd> fds;
        while (!stop_) {
            fds.assign({{wake_[0], POLLIN, 0}, {listener_, POLLIN, 0}});
            for (const Session& s : sessions_) {
                fds.push_back({s.client, EventsFor(s.up, s.down), 0});
                fds.push_back({s.server, EventsFor(s.down, s.up), 0});
            }
            const timespec sleep = Sleep();
            ::ppoll(fds.data(), fds.size(), &sleep, nullptr);
            if (fds[0].revents)
                break;
            size_t i = 2;
            for (auto it = sessions_.begin(); it != sessions_.end(); i += 2) {
                Step(*it, fds[i].revents, fds[i + 1].revents);
                if (it->dead) {
                    Close(*it);
                    it = sessions_.erase(it);
                } else {
                    ++it;
                }
            }
            if (fds[1].revents & POLLIN)
                Accept();
        }
        for (Session& s : sessions_)
            Close(s);
        sessions_.clear();
    }

    Plan toClient_, toServer_;
    sockaddr_in target_{};
    int listener_ = -1;
    int wake_[2] = {-1, -1};
    uint16_t port_ = 0;
    std::list<Session> sessions_;
    std::atomic<bool> stop_{false};
    std::atomic<int> open_{0}, fired_{0};
    mutable std::mutex recordLock_;
    std::string recorded_[2];
    std::thread thread_;
};

} // namespace faultproxy
