// Base64 of MIME (RFC 2045, RFC 4648 alphabet): 76-character lines ended by CR LF,
// a decoder that skips one CR LF before a group and rejects everything else.
#include "codec/base64.h"

#include <array>
#include <cstdio>
#include <cstring>

#include "platform/message_loop.h"
#include "tolmail/error.h"

namespace tolmail::codec {

namespace {

constexpr char kAlphabet[] = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";
constexpr size_t kLineBytes = 57;   // 19 groups: 76 characters per line
constexpr size_t kLineChars = 76;
constexpr size_t kYieldBlock = size_t{1} << 16;
constexpr uint32_t kBad = 0x01000000;  // set in a decode table entry for a foreign character

// Two output characters for every 12-bit value: one table look-up per half group.
constexpr auto kPairs = [] {
    std::array<std::array<char, 2>, 4096> t{};
    for (unsigned v = 0; v < 4096; ++v)
        t[v] = {kAlphabet[v >> 6], kAlphabet[v & 63]};
    return t;
}();

// Decode tables with each character's value already shifted into its place in the
// 24-bit group, so a group is the OR of four look-ups and one test finds any foreign
// character.
constexpr auto makeDecodeTable(int shift)
{
    std::array<uint32_t, 256> t{};
    for (auto& e : t)
        e = kBad;
    for (uint32_t v = 0; v < 64; ++v)
        t[static_cast<unsigned char>(kAlphabet[v])] = v << shift;
    return t;
}
constexpr auto kDec0 = makeDecodeTable(18);
constexpr auto kDec1 = makeDecodeTable(12);
constexpr auto kDec2 = makeDecodeTable(6);
constexpr auto kDec3 = makeDecodeTable(0);

[[noreturn]] void throwInvalid(unsigned char c, size_t index)
{
    char text[80];
    std::snprintf(text, sizeof text, "invalid base64 character 0x%02x at index %zu", c, index);
    throw Error(errc::InvalidCall, text);
}

inline uint32_t valueAt(std::string_view text, size_t index, const std::array<uint32_t, 256>& table)
{
    // A character past the end of the text counts as value 0.
    if (index >= text.size())
        return 0;
    const auto c = static_cast<unsigned char>(text[index]);
    const uint32_t v = table[c];
    if (v & kBad)
        throwInvalid(c, index);
    return v;
}

inline void encodeGroup(const unsigned char* in, char* out)
{
    const uint32_t v = (uint32_t{in[0]} << 16) | (uint32_t{in[1]} << 8) | in[2];
    std::memcpy(out, kPairs[v >> 12].data(), 2);
    std::memcpy(out + 2, kPairs[v & 4095].data(), 2);
}

// One group in its general form: pads, the skipped line break, short text at the end.
// Returns the new position.
size_t decodeSlowGroup(std::string_view text, size_t p, char*& out, size_t& nextYield)
{
    const size_t n = text.size();
    auto pairAt = [&](size_t i) { return i + 1 < n && text[i] == '\r' && text[i + 1] == '\n'; };
    if (pairAt(p) || pairAt(p + 1) || pairAt(p + 2)) {
        // The break is expected at the start of the group; anywhere else the group
        // taken after skipping two characters holds a CR or LF and fails below.
        p += 2;
        if (p >= nextYield) {
            platform::yieldPoint();
            nextYield = p + kYieldBlock;
        }
    }
    int count = 3;
    if (p + 3 < n && text[p + 3] == '=')
        count = (text[p + 2] == '=') ? 1 : 2;
    const uint32_t w = valueAt(text, p, kDec0);
    const uint32_t x = valueAt(text, p + 1, kDec1);
    const uint32_t y = count >= 2 ? valueAt(text, p + 2, kDec2) : 0;
    const uint32_t z = count == 3 ? valueAt(text, p + 3, kDec3) : 0;
    const uint32_t v = w | x | y | z;
    *out++ = static_cast<char>(v >> 16);
    if (count >= 2)
        *out++ = static_cast<char>(v >> 8);
    if (count == 3)
        *out++ = static_cast<char>(v);
    return p + 4;
}

} // namespace

void InitBase64Table()
{
    // The tables are compile-time constants; nothing to build on any thread.
}

int Base64Value(std::string_view character)
{
    if (character.empty())
        return 0;
    return static_cast<int>(valueAt(character, 0, kDec3));
}

size_t Base64EncodedSize(size_t length)
{
    if (length == 0)
        return 0;
    const size_t lines = (length + kLineBytes - 1) / kLineBytes;
    return (length + 2) / 3 * 4 + lines * 2;
}

void Base64EncodeAppend(std::string& out, std::string_view data)
{
    if (data.empty())
        return;
    const size_t start = out.size();
    out.resize(start + Base64EncodedSize(data.size()));
    char* o = out.data() + start;
    const auto* in = reinterpret_cast<const unsigned char*>(data.data());
    size_t left = data.size();
    size_t sinceYield = 0;

    while (left >= kLineBytes) {
        for (size_t g = 0; g < kLineBytes; g += 3, o += 4)
            encodeGroup(in + g, o);
        in += kLineBytes;
        left -= kLineBytes;
        *o++ = '\r';
        *o++ = '\n';
        if ((sinceYield += kLineBytes) >= kYieldBlock) {
            platform::yieldPoint();
            sinceYield = 0;
        }
    }
    if (left == 0)
        return;
    for (; left >= 3; left -= 3, in += 3, o += 4)
        encodeGroup(in, o);
    if (left > 0) {
        const uint32_t a = in[0];
        const uint32_t b = left == 2 ? in[1] : 0;
        *o++ = kAlphabet[a >> 2];
        *o++ = kAlphabet[((a & 3) << 4) | (b >> 4)];
        *o++ = left == 2 ? kAlphabet[(b & 15) << 2] : '=';
        *o++ = '=';
    }
    *o++ = '\r';
    *o++ = '\n';
}

std::string Base64Encode(std::string_view data)
{
    std::string out;
    Base64EncodeAppend(out, data);
    return out;
}

void Base64DecodeAppend(std::string& out, std::string_view text)
{
    const size_t n = text.size();
    // Groups are taken while at least four characters remain at the group's start,
    // so a trailing CR LF or a short last group is not decoded.
    if (n < 4)
        return;
    const size_t start = out.size();
    out.resize(start + n / 4 * 3 + 3);
    char* const first = out.data() + start;
    char* o = first;
    const auto* s = reinterpret_cast<const unsigned char*>(text.data());
    size_t p = 0;
    size_t nextYield = kYieldBlock;
    try {
        while (p + 4 <= n) {
            // Fast path: four alphabet characters (no pad, no line break) make three bytes.
            const uint32_t v = kDec0[s[p]] | kDec1[s[p + 1]] | kDec2[s[p + 2]] | kDec3[s[p + 3]];
            if (!(v & kBad)) {
                o[0] = static_cast<char>(v >> 16);
                o[1] = static_cast<char>(v >> 8);
                o[2] = static_cast<char>(v);
                o += 3;
                p += 4;
                continue;
            }
            p = decodeSlowGroup(text, p, o, nextYield);
        }
    } catch (...) {
        out.resize(start);
        throw;
    }
    out.resize(start + static_cast<size_t>(o - first));
}

std::string Base64Decode(std::string_view text)
{
    std::string out;
    Base64DecodeAppend(out, text);
    return out;
}

} // namespace tolmail::codec
