// Throughput of the attachment send path without the network: one chunk read size of
// each transfer encoding, encoded into a reused buffer and dot-stuffed (RFC 2045, RFC 5321).
#include <benchmark/benchmark.h>

#include <random>
#include <string>

#include "smtp/chunk_encoders.h"
#include "smtp/dot_stuffing.h"

namespace {

std::string randomBytes(size_t n)
{
    std::mt19937 rng(42);
    std::string s(n, '\0');
    for (char& c : s)
        c = static_cast<char>(rng() & 0xFF);
    return s;
}

void BM_EncodeAndStuff(benchmark::State& state)
{
    const auto& rule = tolmail::smtp::EncodingRuleOf(static_cast<int32_t>(state.range(0)));
    const std::string data = randomBytes(rule.chunkSize * 64);
    std::string encoded, scratch;
    tolmail::smtp::DotStuffer stuffer;
    size_t at = 0;
    for (auto _ : state) {
        const std::string_view chunk = std::string_view(data).substr(at, rule.chunkSize);
        at = (at + rule.chunkSize) % data.size();
        std::string_view piece = chunk;
        if (rule.encode != nullptr) {
            rule.encode(chunk, encoded);
            piece = encoded;
        }
        benchmark::DoNotOptimize(stuffer.filter(piece, scratch).size());
    }
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * rule.chunkSize));
    state.SetLabel(rule.token);
}

} // namespace

BENCHMARK(BM_EncodeAndStuff)->Arg(2)->Arg(1)->Arg(3)->Arg(0);

BENCHMARK_MAIN();
