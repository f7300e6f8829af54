// Cost of a yield point inside codec and file loops when nothing is due.
#include <benchmark/benchmark.h>

#include "platform/message_loop.h"
#include "tolmail/message_loop.h"

static void BM_YieldPointWithLoop(benchmark::State& state)
{
    tolmail::PumpMessages();  // the thread's loop exists, as it does once a socket was used
    for (auto _ : state)
        tolmail::platform::yieldPoint();
}
BENCHMARK(BM_YieldPointWithLoop);

BENCHMARK_MAIN();
