// Receiving 256 MiB from a loopback peer through GetData, against a plain recv()
// loop into a buffer in the same run; reports throughput and peak resident memory.
#include <benchmark/benchmark.h>

#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <fstream>
#include <string>
#include <thread>

#include "tolmail/TolvanSocket.h"

namespace {

constexpr size_t kTotal = 256u << 20;
constexpr size_t kPeerWrite = 64u << 10;

// A peer that accepts one connection and writes kTotal bytes in 64 KiB pieces.
class Sender {
public:
    Sender()
    {
        listener_ = ::socket(AF_INET, SOCK_STREAM, 0);
        sockaddr_in a{};
        a.sin_family = AF_INET;
        a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        ::bind(listener_, reinterpret_cast<sockaddr*>(&a), sizeof a);
        ::listen(listener_, 1);
        socklen_t len = sizeof a;
        ::getsockname(listener_, reinterpret_cast<sockaddr*>(&a), &len);
        port_ = ntohs(a.sin_port);
        thread_ = std::thread([this] {
            int fd = ::accept(listener_, nullptr, nullptr);
            std::string piece(kPeerWrite, 'm');
            for (size_t sent = 0; sent < kTotal;) {
                ssize_t n = ::send(fd, piece.data(), std::min(piece.size(), kTotal - sent), MSG_NOSIGNAL);
                if (n <= 0)
                    break;
                sent += static_cast<size_t>(n);
            }
            // Closes only after the reader does: buffered text is unreadable once a
            // component has handled its peer's close.
            char c;
            while (::recv(fd, &c, 1, 0) > 0) {
            }
            ::close(fd);
        });
    }
    ~Sender()
    {
        thread_.join();
        ::close(listener_);
    }
    uint16_t port() const { return port_; }

private:
    int listener_ = -1;
    uint16_t port_ = 0;
    std::thread thread_;
};

void resetPeakMemory()
{
    std::ofstream("/proc/self/clear_refs") << "5";
}

double peakMemoryMiB()
{
    std::ifstream status("/proc/self/status");
    std::string line;
    while (std::getline(status, line)) {
        if (line.rfind("VmHWM:", 0) == 0)
            return std::stod(line.substr(6)) / 1024.0;
    }
    return 0;
}

} // namespace

static void BM_PlainRecvLoop(benchmark::State& state)
{
    const size_t bufferSize = static_cast<size_t>(state.range(0));
    resetPeakMemory();
    for (auto _ : state) {
        Sender sender;
        int fd = ::socket(AF_INET, SOCK_STREAM, 0);
        sockaddr_in a{};
        a.sin_family = AF_INET;
        a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        a.sin_port = htons(sender.port());
        ::connect(fd, reinterpret_cast<sockaddr*>(&a), sizeof a);
        std::string buffer(bufferSize, '\0');
        size_t total = 0;
        for (;;) {
            ssize_t n = ::recv(fd, buffer.data(), buffer.size(), 0);
            if (n <= 0)
                break;
            total += static_cast<size_t>(n);
            if (total == kTotal)
                break;
        }
        ::close(fd);
        if (total != kTotal)
            state.SkipWithError("short transfer");
    }
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * kTotal));
    state.counters["peak_MiB"] = peakMemoryMiB();
}
// 64 KiB is the plain loop to beat; 16 KiB matches the component's receive size.
BENCHMARK(BM_PlainRecvLoop)->Arg(64 << 10)->Arg(16 << 10)->Iterations(3)->Unit(benchmark::kMillisecond)->UseRealTime();

static void BM_GetDataLoop(benchmark::State& state)
{
    resetPeakMemory();
    for (auto _ : state) {
        Sender sender;
        auto s = tolmail::TolvanSocket::Create();
        s->Host("127.0.0.1");
        s->Port(sender.port());
        if (s->Connect() != 0) {
            state.SkipWithError("connect failed");
            return;
        }
        size_t total = 0;
        std::string piece;
        while (total < kTotal && s->GetData(piece) == 0)
            total += piece.size();
        s->CloseSocket();
        if (total != kTotal)
            state.SkipWithError("short transfer");
    }
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * kTotal));
    state.counters["peak_MiB"] = peakMemoryMiB();
}
BENCHMARK(BM_GetDataLoop)->Iterations(3)->Unit(benchmark::kMillisecond)->UseRealTime();

BENCHMARK_MAIN();
