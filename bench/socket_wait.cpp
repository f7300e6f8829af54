// CPU spent by a GetlnData that waits out its time-out on a silent loopback peer.
#include <benchmark/benchmark.h>

#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <ctime>

#include "tolmail/TolvanSocket.h"

namespace {

double threadCpuSeconds()
{
    timespec t{};
    ::clock_gettime(CLOCK_THREAD_CPUTIME_ID, &t);
    return static_cast<double>(t.tv_sec) + static_cast<double>(t.tv_nsec) / 1e9;
}

} // namespace

static void BM_SilentPeerWait3s(benchmark::State& state)
{
    int listener = ::socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    ::bind(listener, reinterpret_cast<sockaddr*>(&a), sizeof a);
    ::listen(listener, 1);
    socklen_t len = sizeof a;
    ::getsockname(listener, reinterpret_cast<sockaddr*>(&a), &len);

    auto s = tolmail::TolvanSocket::Create();
    s->Host("127.0.0.1");
    s->Port(ntohs(a.sin_port));
    s->TimeOut(3);
    if (s->Connect() != 0) {
        state.SkipWithError("connect failed");
        return;
    }
    int peer = ::accept(listener, nullptr, nullptr);  // accepted, and never says anything
    double cpu = 0;
    for (auto _ : state) {
        std::string line;
        double before = threadCpuSeconds();
        int rc = s->GetlnData(line);
        cpu += threadCpuSeconds() - before;
        benchmark::DoNotOptimize(rc);
    }
    state.counters["cpu_s_per_wait"] = benchmark::Counter(cpu / static_cast<double>(state.iterations()));
    s->CloseSocket();
    ::close(peer);
    ::close(listener);
}
BENCHMARK(BM_SilentPeerWait3s)->Iterations(1)->Unit(benchmark::kSecond)->UseRealTime();

BENCHMARK_MAIN();
