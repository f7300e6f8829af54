// Base64 of MIME (RFC 2045, RFC 4648 alphabet): 76-character lines ended by CR LF,
// a decoder that skips one CR LF before a group and rejects everything else.
#include "codec/base64.h"

#include <algorithm>
#include <array>
#include <cstdio>
#include <cstring>

#if defined(__x86_64__) && (defined(__GNUC__) || defined(__clang__))
#define TOLMAIL_BASE64_SSSE3 1
#include <immintrin.h>
#endif

#include "platform/large_buffer.h"
#include "platform/message_loop.h"
#include "tolmail/error.h"

namespace tolmail::codec {

namespace {

constexpr char kAlphabet[] = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";
constexpr size_t kLineBytes = 57;   // 19 groups: 76 characters per line
constexpr size_t kLineChars = 76;
constexpr size_t kYieldBlock = size_t{1} << 16;
constexpr uint32_t kBad = 0x01000000;  // set in a decode table entry for a foreign character
constexpr size_t kDecodeSlack = 16;    // the vector decoder stores 16 bytes for 12

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

#ifdef TOLMAIL_BASE64_SSSE3
// Sixteen characters per step with SSSE3, where the processor has it (checked once).
bool haveSsse3()
{
    static const bool have = [] {
        __builtin_cpu_init();
        return __builtin_cpu_supports("ssse3") != 0;
    }();
    return have;
}

// Whole 57-byte lines: four vector steps of 12 bytes, three groups, CR LF. Every load
// of 16 bytes stays inside the line.
__attribute__((target("ssse3"))) void encodeLinesSsse3(const unsigned char* in, size_t lines, char* out)
{
    const __m128i spread = _mm_set_epi8(10, 11, 9, 10, 7, 8, 6, 7, 4, 5, 3, 4, 1, 2, 0, 1);
    for (size_t l = 0; l < lines; ++l, in += kLineBytes) {
        for (size_t b = 0; b < 48; b += 12, out += 16) {
            __m128i v = _mm_loadu_si128(reinterpret_cast<const __m128i*>(in + b));
            v = _mm_shuffle_epi8(v, spread);
            // Move the four 6-bit fields of each group into the four bytes of its lane.
            const __m128i hi = _mm_mulhi_epu16(_mm_and_si128(v, _mm_set1_epi32(0x0fc0fc00)), _mm_set1_epi32(0x04000040));
            const __m128i lo = _mm_mullo_epi16(_mm_and_si128(v, _mm_set1_epi32(0x003f03f0)), _mm_set1_epi32(0x01000010));
            const __m128i idx = _mm_or_si128(hi, lo);
            // Values to characters: "A" + v, then corrections for a-z, 0-9, "+" and "/".
            __m128i r = _mm_add_epi8(idx, _mm_set1_epi8('A'));
            r = _mm_add_epi8(r, _mm_and_si128(_mm_cmpgt_epi8(idx, _mm_set1_epi8(25)), _mm_set1_epi8('a' - 'A' - 26)));
            r = _mm_add_epi8(r, _mm_and_si128(_mm_cmpgt_epi8(idx, _mm_set1_epi8(51)), _mm_set1_epi8('0' - 'a' - 26)));
            r = _mm_add_epi8(r, _mm_and_si128(_mm_cmpeq_epi8(idx, _mm_set1_epi8(62)), _mm_set1_epi8('+' - '0' - 10)));
            r = _mm_add_epi8(r, _mm_and_si128(_mm_cmpeq_epi8(idx, _mm_set1_epi8(63)), _mm_set1_epi8('/' - '0' - 11)));
            _mm_storeu_si128(reinterpret_cast<__m128i*>(out), r);
        }
        for (size_t g = 48; g < kLineBytes; g += 3, out += 4)
            encodeGroup(in + g, out);
        *out++ = '\r';
        *out++ = '\n';
    }
}

inline __attribute__((target("ssse3"))) __m128i inRange(__m128i c, char low, char high)
{
    return _mm_and_si128(_mm_cmpgt_epi8(c, _mm_set1_epi8(static_cast<char>(low - 1))),
                         _mm_cmplt_epi8(c, _mm_set1_epi8(static_cast<char>(high + 1))));
}

// Decodes 16 alphabet characters at a time; stops at the first block that holds
// anything else (pad, line break, foreign character) and returns the position.
__attribute__((target("ssse3"))) size_t decodeBlocksSsse3(const unsigned char* s, size_t p, size_t n, char*& o)
{
    const __m128i pack = _mm_setr_epi8(2, 1, 0, 6, 5, 4, 10, 9, 8, 14, 13, 12, -1, -1, -1, -1);
    while (p + 16 <= n) {
        const __m128i c = _mm_loadu_si128(reinterpret_cast<const __m128i*>(s + p));
        // Bytes from 128 up are negative here and fall in no range.
        const __m128i upper = inRange(c, 'A', 'Z');
        const __m128i lower = inRange(c, 'a', 'z');
        const __m128i digit = inRange(c, '0', '9');
        const __m128i plus = _mm_cmpeq_epi8(c, _mm_set1_epi8('+'));
        const __m128i slash = _mm_cmpeq_epi8(c, _mm_set1_epi8('/'));
        const __m128i valid = _mm_or_si128(_mm_or_si128(_mm_or_si128(upper, lower), _mm_or_si128(digit, plus)), slash);
        if (_mm_movemask_epi8(valid) != 0xFFFF)
            break;
        __m128i shift = _mm_and_si128(upper, _mm_set1_epi8(-'A'));
        shift = _mm_or_si128(shift, _mm_and_si128(lower, _mm_set1_epi8(26 - 'a')));
        shift = _mm_or_si128(shift, _mm_and_si128(digit, _mm_set1_epi8(52 - '0')));
        shift = _mm_or_si128(shift, _mm_and_si128(plus, _mm_set1_epi8(62 - '+')));
        shift = _mm_or_si128(shift, _mm_and_si128(slash, _mm_set1_epi8(63 - '/')));
        const __m128i v = _mm_add_epi8(c, shift);
        // Pairs of 6-bit values to 12 bits, pairs of those to 24 bits, then the bytes.
        const __m128i twelve = _mm_maddubs_epi16(v, _mm_set1_epi32(0x01400140));
        const __m128i groups = _mm_madd_epi16(twelve, _mm_set1_epi32(0x00011000));
        _mm_storeu_si128(reinterpret_cast<__m128i*>(o), _mm_shuffle_epi8(groups, pack));
        o += 12;
        p += 16;
    }
    return p;
}
#endif

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
    platform::ResizeLarge(out, start + Base64EncodedSize(data.size()));
    char* o = out.data() + start;
    const auto* in = reinterpret_cast<const unsigned char*>(data.data());
    size_t left = data.size();
    size_t sinceYield = 0;

#ifdef TOLMAIL_BASE64_SSSE3
    if (haveSsse3()) {
        // In blocks of lines so that the host is let in now and then.
        constexpr size_t kBlockLines = kYieldBlock / kLineBytes;
        while (left >= kLineBytes) {
            const size_t lines = std::min(left / kLineBytes, kBlockLines);
            encodeLinesSsse3(in, lines, o);
            in += lines * kLineBytes;
            o += lines * (kLineChars + 2);
            left -= lines * kLineBytes;
            platform::yieldPoint();
        }
    }
#endif
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
    platform::ResizeLarge(out, start + n / 4 * 3 + kDecodeSlack);
    char* const first = out.data() + start;
    char* o = first;
    const auto* s = reinterpret_cast<const unsigned char*>(text.data());
    size_t p = 0;
    size_t nextYield = kYieldBlock;
#ifdef TOLMAIL_BASE64_SSSE3
    const bool vector = haveSsse3();
#endif
    int scalarGroups = 0;  // groups left to the scalar code after a vector block stopped
    try {
        while (p + 4 <= n) {
#ifdef TOLMAIL_BASE64_SSSE3
            if (vector && scalarGroups == 0) {
                p = decodeBlocksSsse3(s, p, n, o);
                scalarGroups = 4;
                if (p + 4 > n)
                    break;
            }
#endif
            if (scalarGroups > 0)
                --scalarGroups;
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
