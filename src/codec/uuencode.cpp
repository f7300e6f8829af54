// Uuencode data lines: a count character, groups of four characters, CR LF; a grave
// accent closes the text.
#include "codec/uuencode.h"

#include <array>
#include <cstring>

#include "platform/large_buffer.h"
#include "platform/message_loop.h"

namespace tolmail::codec {

namespace {

constexpr size_t kLineBytes = 45;  // "M": 60 group characters per full line
constexpr char kFiller = '`';
constexpr size_t kYieldBlock = size_t{1} << 16;

constexpr char uuChar(unsigned v) { return static_cast<char>((v & 63) + 32); }

// Two output characters for every 12-bit value.
constexpr auto kPairs = [] {
    std::array<std::array<char, 2>, 4096> t{};
    for (unsigned v = 0; v < 4096; ++v)
        t[v] = {uuChar(v >> 6), uuChar(v & 63)};
    return t;
}();

// Every character has a value: (code - 32) and 63, so the blank and "`" both give 0.
constexpr auto kValues = [] {
    std::array<uint8_t, 256> t{};
    for (unsigned c = 0; c < 256; ++c)
        t[c] = static_cast<uint8_t>((c - 32) & 63);
    return t;
}();

inline void encodeFull(const unsigned char* in, char* out)
{
    const uint32_t v = (uint32_t{in[0]} << 16) | (uint32_t{in[1]} << 8) | in[2];
    std::memcpy(out, kPairs[v >> 12].data(), 2);
    std::memcpy(out + 2, kPairs[v & 4095].data(), 2);
}

// The short last group of a line: only its filler positions are grave accents.
inline void encodeShort(const unsigned char* in, size_t count, char* out)
{
    const unsigned a = in[0];
    const unsigned b = count == 2 ? in[1] : 0;
    out[0] = uuChar(a >> 2);
    out[1] = uuChar(((a << 4) & 48) | ((b >> 4) & 15));
    out[2] = count == 2 ? uuChar((b << 2) & 60) : kFiller;
    out[3] = kFiller;
}

} // namespace

std::string UuEncodeGroup(std::string_view group)
{
    if (group.empty() || group.size() > 3)
        return {};
    std::string out(4, '\0');
    const auto* in = reinterpret_cast<const unsigned char*>(group.data());
    if (group.size() == 3)
        encodeFull(in, out.data());
    else
        encodeShort(in, group.size(), out.data());
    return out;
}

void UuEncodeAppend(std::string& out, std::string_view data)
{
    const size_t n = data.size();
    const size_t lines = (n + kLineBytes - 1) / kLineBytes;
    const size_t start = out.size();
    platform::ResizeLarge(out, start + (n + 2) / 3 * 4 + lines * 3 + 1);
    char* o = out.data() + start;
    const auto* in = reinterpret_cast<const unsigned char*>(data.data());
    size_t left = n;
    size_t sinceYield = 0;
    while (left > 0) {
        const size_t count = left < kLineBytes ? left : kLineBytes;
        *o++ = uuChar(static_cast<unsigned>(count));
        size_t g = 0;
        for (; g + 3 <= count; g += 3, o += 4)
            encodeFull(in + g, o);
        if (g < count) {
            encodeShort(in + g, count - g, o);
            o += 4;
        }
        *o++ = '\r';
        *o++ = '\n';
        in += count;
        left -= count;
        if ((sinceYield += count) >= kYieldBlock) {
            platform::yieldPoint();
            sinceYield = 0;
        }
    }
    *o = kFiller;
}

std::string UuEncode(std::string_view data)
{
    std::string out;
    UuEncodeAppend(out, data);
    return out;
}

void UuDecodeAppend(std::string& out, std::string_view text)
{
    const size_t n = text.size();
    const auto* s = reinterpret_cast<const unsigned char*>(text.data());
    // A position past the end reads as 0; a line's count can promise up to 63 bytes
    // that the text no longer holds, so leave room for one such line.
    auto valueAt = [&](size_t i) -> uint32_t { return i < n ? kValues[s[i]] : 0; };
    const size_t start = out.size();
    platform::ResizeLarge(out, start + n + 64);
    char* const first = out.data() + start;
    char* o = first;
    size_t p = 0;  // the current line's count character
    size_t nextYield = kYieldBlock;
    uint32_t count = valueAt(0);
    while (p + 1 < n && count != 0) {
        const size_t groups = (count + 2) / 3;
        const bool whole = p + groups * 4 < n;
        for (size_t g = 0; g < groups; ++g, p += 4) {
            uint32_t v;
            if (whole) {
                v = (uint32_t{kValues[s[p + 1]]} << 18) | (uint32_t{kValues[s[p + 2]]} << 12) |
                    (uint32_t{kValues[s[p + 3]]} << 6) | kValues[s[p + 4]];
            } else {
                v = (valueAt(p + 1) << 18) | (valueAt(p + 2) << 12) | (valueAt(p + 3) << 6) | valueAt(p + 4);
            }
            o[0] = static_cast<char>(v >> 16);
            o[1] = static_cast<char>(v >> 8);
            o[2] = static_cast<char>(v);
            o += 3;
        }
        // The last group wrote 3 bytes; keep only as many as the count promised.
        o -= groups * 3 - count;
        // The next count character follows the last group, CR and LF.
        p += 3;
        count = valueAt(p);
        if (p >= nextYield) {
            platform::yieldPoint();
            nextYield = p + kYieldBlock;
        }
    }
    out.resize(start + static_cast<size_t>(o - first));
}

std::string UuDecode(std::string_view text)
{
    std::string out;
    UuDecodeAppend(out, text);
    return out;
}

} // namespace tolmail::codec
