// Throughput of the three codecs on 64 MiB buffers, in MB/s of input.
// --write-data=DIR writes the generated binary.bin and text.bin there and exits, so
// that the comparison script can run other tools on the very same bytes.
#include <benchmark/benchmark.h>

#include <cstring>
#include <fstream>
#include <random>
#include <string>

#include "codec/base64.h"
#include "codec/quoted_printable.h"
#include "codec/uuencode.h"

using namespace tolmail::codec;

namespace {

constexpr size_t kSize = size_t{64} << 20;

void writeFile(const std::string& path, const std::string& data)
{
    std::ofstream(path, std::ios::binary).write(data.data(), static_cast<std::streamsize>(data.size()));
}

// Random bytes: what attachments look like to base64 and uuencode.
const std::string& binaryData()
{
    static const std::string data = [] {
        std::string s(kSize, '\0');
        std::mt19937_64 rng(42);
        for (size_t i = 0; i < s.size(); i += 8) {
            const uint64_t v = rng();
            std::memcpy(&s[i], &v, 8);
        }
        return s;
    }();
    return data;
}

// Mail text: words in CR LF lines, some accented letters, blanks at line ends and "=".
const std::string& textData()
{
    static const std::string data = [] {
        static const char* const kWords[] = {"the", "message", "attachment", "r\xe9sum\xe9", "a=b",
                                             "server", "Gr\xfc\xdf\x65", "of", "and", "x-mailer"};
        std::string s;
        s.reserve(kSize + 128);
        std::mt19937 rng(7);
        size_t column = 0;
        while (s.size() < kSize) {
            const char* w = kWords[rng() % 10];
            s += w;
            column += std::strlen(w);
            if (column > 60 + rng() % 30) {
                if (rng() % 8 == 0)
                    s += ' ';
                s += "\r\n";
                column = 0;
            } else {
                s += ' ';
                ++column;
            }
        }
        s.resize(kSize);
        return s;
    }();
    return data;
}

void report(benchmark::State& state, size_t inputBytes)
{
    state.counters["MB/s"] = benchmark::Counter(static_cast<double>(inputBytes) / 1e6,
                                                benchmark::Counter::kIsIterationInvariantRate);
}

template <typename F>
void run(benchmark::State& state, const std::string& input, F codec)
{
    for (auto _ : state) {
        std::string out = codec(input);
        benchmark::DoNotOptimize(out.data());
    }
    report(state, input.size());
}

void Base64EncodeBinary(benchmark::State& s) { run(s, binaryData(), [](std::string_view d) { return Base64Encode(d); }); }
void Base64DecodeBinary(benchmark::State& s)
{
    const std::string encoded = Base64Encode(binaryData());
    run(s, encoded, [](std::string_view d) { return Base64Decode(d); });
}
void UuEncodeBinary(benchmark::State& s) { run(s, binaryData(), [](std::string_view d) { return UuEncode(d); }); }
void UuDecodeBinary(benchmark::State& s)
{
    const std::string encoded = UuEncode(binaryData());
    run(s, encoded, [](std::string_view d) { return UuDecode(d); });
}
void QpEncodeText(benchmark::State& s) { run(s, textData(), [](std::string_view d) { return QpEncode(d); }); }
void QpDecodeText(benchmark::State& s)
{
    const std::string encoded = QpEncode(textData());
    run(s, encoded, [](std::string_view d) { return QpDecode(d); });
}
void QpEncodeBinary(benchmark::State& s) { run(s, binaryData(), [](std::string_view d) { return QpEncode(d); }); }
void QpDecodeBinary(benchmark::State& s)
{
    const std::string encoded = QpEncode(binaryData());
    run(s, encoded, [](std::string_view d) { return QpDecode(d); });
}

// The sender's way: 2850-byte chunks appended to one reused buffer.
void Base64EncodeChunks(benchmark::State& state)
{
    const std::string& data = binaryData();
    std::string out;
    for (auto _ : state) {
        out.clear();
        for (size_t i = 0; i < data.size(); i += 2850)
            Base64EncodeAppend(out, std::string_view(data).substr(i, 2850));
        benchmark::DoNotOptimize(out.data());
    }
    report(state, data.size());
}

} // namespace

BENCHMARK(Base64EncodeBinary)->Unit(benchmark::kMillisecond);
BENCHMARK(Base64DecodeBinary)->Unit(benchmark::kMillisecond);
BENCHMARK(Base64EncodeChunks)->Unit(benchmark::kMillisecond);
BENCHMARK(UuEncodeBinary)->Unit(benchmark::kMillisecond);
BENCHMARK(UuDecodeBinary)->Unit(benchmark::kMillisecond);
BENCHMARK(QpEncodeText)->Unit(benchmark::kMillisecond);
BENCHMARK(QpDecodeText)->Unit(benchmark::kMillisecond);
BENCHMARK(QpEncodeBinary)->Unit(benchmark::kMillisecond);
BENCHMARK(QpDecodeBinary)->Unit(benchmark::kMillisecond);

int main(int argc, char** argv)
{
    if (argc == 2 && std::strncmp(argv[1], "--write-data=", 13) == 0) {
        const std::string dir = argv[1] + 13;
        writeFile(dir + "/binary.bin", binaryData());
        writeFile(dir + "/text.bin", textData());
        return 0;
    }
    benchmark::Initialize(&argc, argv);
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    return 0;
}
