// Quoted-printable of MIME (RFC 2045): lines of at most 76 characters with soft breaks
// that never cut an escape; the decoder drops blanks that nothing follows.
#include "codec/quoted_printable.h"

#include <algorithm>
#include <array>
#include <bit>
#include <cstring>

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

#if defined(__x86_64__) && (defined(__GNUC__) || defined(__clang__))
#define TOLMAIL_QP_SSSE3 1
#include <immintrin.h>
#endif

#include "platform/large_buffer.h"
#include "platform/message_loop.h"

namespace tolmail::codec {

namespace {

constexpr char kHexDigits[] = "0123456789ABCDEF";
constexpr size_t kMaxLine = 76;   // longest physical line, soft-break "=" included
constexpr size_t kPiece = 75;     // where a long line is first tried to be cut
constexpr size_t kYieldBlock = size_t{1} << 16;
constexpr size_t kSample = size_t{1} << 16;  // input looked at to size an output
constexpr size_t kStepMargin = 64;           // most one encoder step writes, soft break included
constexpr size_t kDecodeMargin = 160;        // most one decoder window writes, stores ahead included

enum CharClass : uint8_t { Literal, Blank, Escaped };

constexpr auto kClass = [] {
    std::array<CharClass, 256> t{};
    for (unsigned c = 0; c < 256; ++c)
        t[c] = (c >= 33 && c <= 126 && c != '=') ? Literal : Escaped;
    t[' '] = Blank;
    t['\t'] = Blank;
    return t;
}();

// Each byte's encoded form in the low bytes of a word (the character itself, or
// "=" and two hex digits) and its length in the top byte, for one unaligned store.
constexpr auto kEncoded = [] {
    std::array<uint32_t, 256> t{};
    for (unsigned c = 0; c < 256; ++c) {
        if (kClass[c] == Literal)
            t[c] = c | (1u << 24);
        else
            t[c] = '=' | (uint32_t(kHexDigits[c >> 4]) << 8) | (uint32_t(kHexDigits[c & 15]) << 16) | (3u << 24);
    }
    return t;
}();

// The value of an upper-case hex digit, 0xFF for anything else.
constexpr auto kHexValue = [] {
    std::array<uint8_t, 256> t{};
    for (auto& v : t)
        v = 0xFF;
    for (uint8_t i = 0; i < 16; ++i)
        t[static_cast<unsigned char>(kHexDigits[i])] = i;
    return t;
}();

inline bool isBlank(unsigned char c) { return c == ' ' || c == '\t'; }

// Writes encoded characters straight into a pre-sized output. A physical line that
// grows past 76 characters is cut at once: the cut depends only on characters
// already written, so the result is the same as splitting the finished line.
class LineWriter {
public:
    explicit LineWriter(char* out) : o_(out), lineStart_(out) {}

    /// Moves to a new buffer holding the same bytes (after the output has grown).
    void moveTo(char* oldBase, char* newBase)
    {
        o_ = newBase + (o_ - oldBase);
        lineStart_ = newBase + (lineStart_ - oldBase);
    }

    void literal(char c)
    {
        *o_++ = c;
        checkLength();
    }
    /// A literal or escaped character (not a blank): writes 4 bytes, keeps 1 or 3.
    void encoded(unsigned char c)
    {
        const uint32_t e = kEncoded[c];
        const unsigned char bytes[4] = {static_cast<unsigned char>(e), static_cast<unsigned char>(e >> 8),
                                        static_cast<unsigned char>(e >> 16), 0};
        std::memcpy(o_, bytes, 4);
        o_ += e >> 24;
        checkLength();
    }
    void escape(unsigned char c)
    {
        o_[0] = '=';
        o_[1] = kHexDigits[c >> 4];
        o_[2] = kHexDigits[c & 15];
        o_ += 3;
        checkLength();
    }
    /// Ends the logical line: every line, an empty one too, ends with CR LF.
    void hardBreak()
    {
        *o_++ = '\r';
        *o_++ = '\n';
        lineStart_ = o_;
    }
    /// Writes as many of `length` (at most 16) unchanged characters as fit on the
    /// line without a cut, and returns that count. Needs 16 writable bytes at the end.
    size_t copyFitting(const unsigned char* in, size_t length)
    {
        const size_t used = static_cast<size_t>(o_ - lineStart_);
        const size_t fit = used >= kMaxLine ? 0 : std::min(length, kMaxLine - used);
        std::memcpy(o_, in, 16);
        o_ += fit;
        return fit;
    }
    char* end() const { return o_; }

private:
    void checkLength()
    {
        if (static_cast<size_t>(o_ - lineStart_) > kMaxLine)
            softBreak();
    }
    void softBreak()
    {
        size_t e = kPiece;
        if (lineStart_[e - 1] == '=')
            e -= 1;
        if (lineStart_[e - 2] == '=')
            e -= 2;
        char* cut = lineStart_ + e;
        const size_t tail = static_cast<size_t>(o_ - cut);
        std::memmove(cut + 3, cut, tail);
        std::memcpy(cut, "=\r\n", 3);
        o_ += 3;
        lineStart_ = cut + 3;
    }

    char* o_;
    char* lineStart_;
};

// How many of the 16 bytes at `in` go out unchanged: literal characters and blanks
// up to the last literal one before anything else. Every blank among them is then
// followed by a character on the same line, so it stays literal too.
inline size_t plainPrefix(const unsigned char* in)
{
    unsigned literalMask = 0;
    unsigned plainMask = 0;
#if defined(__SSE2__)
    const __m128i c = _mm_loadu_si128(reinterpret_cast<const __m128i*>(in));
    // Signed compares: bytes from 128 up are negative and never literal.
    __m128i literal = _mm_and_si128(_mm_cmpgt_epi8(c, _mm_set1_epi8(32)), _mm_cmplt_epi8(c, _mm_set1_epi8(127)));
    literal = _mm_andnot_si128(_mm_cmpeq_epi8(c, _mm_set1_epi8('=')), literal);
    const __m128i blank = _mm_or_si128(_mm_cmpeq_epi8(c, _mm_set1_epi8(' ')), _mm_cmpeq_epi8(c, _mm_set1_epi8('\t')));
    literalMask = static_cast<unsigned>(_mm_movemask_epi8(literal));
    plainMask = literalMask | static_cast<unsigned>(_mm_movemask_epi8(blank));
#else
    for (unsigned k = 0; k < 16; ++k) {
        literalMask |= unsigned{kClass[in[k]] == Literal} << k;
        plainMask |= unsigned{kClass[in[k]] != Escaped} << k;
    }
#endif
    // Keep the bytes before the first one that is neither literal nor blank...
    const unsigned prefix = static_cast<unsigned>(std::countr_one(plainMask));
    literalMask &= prefix >= 16 ? 0xFFFFu : (1u << prefix) - 1;
    // ...and of those, up to the last literal one.
    return literalMask == 0 ? 0 : static_cast<size_t>(std::bit_width(literalMask));
}

// An upper bound of the encoded length of n bytes: escapes and blanks take three
// characters, and soft breaks add three per 72 characters at most.
size_t encodedBound(const unsigned char* in, size_t n)
{
    size_t chars = 0;
    for (size_t i = 0; i < n; ++i)
        chars += kClass[in[i]] == Literal ? 1 : 3;
    return chars + (chars / 72 + 1) * 3 + 2;
}

} // namespace

void QpAppendHex(std::string& line, int16_t code)
{
    const unsigned byte = static_cast<unsigned>(code) & 255;
    line += '=';
    line += kHexDigits[byte >> 4];
    line += kHexDigits[byte & 15];
}

void QpFlushLine(std::string& output, std::string& line, std::string& pendingRun)
{
    // Blanks and tabs at the end of a line are written as escapes.
    for (char c : pendingRun)
        QpAppendHex(line, static_cast<unsigned char>(c));
    const size_t m = line.size();
    size_t pos = 0;
    while (pos < m) {
        size_t e = pos + kPiece;
        if (e == m - 1 || e > m)
            e = m;  // a last piece of up to 76 characters is written whole
        const size_t whole = e;
        // An escape is never cut (positions are 1-based as in the line's layout rule).
        if (e > 2) {
            if (line[e - 1] == '=')
                e -= 1;
            if (line[e - 2] == '=')
                e -= 2;
        }
        // A line that ends in a broken escape could not make progress; write it whole.
        if (e <= pos)
            e = whole;
        output.append(line, pos, e - pos);
        if (e != m)
            output += '=';
        output += "\r\n";
        pos = e;
    }
    if (m == 0)
        output += "\r\n";
    line.clear();
    pendingRun.clear();
}

void QpEncodeAppend(std::string& output, std::string_view text)
{
    const auto* in = reinterpret_cast<const unsigned char*>(text.data());
    const size_t n = text.size();
    if (n == 0)
        return;
    // The output is sized from a sample of the input and grows when the sample was
    // too kind. Every step of the loop writes at most kStepMargin characters, and
    // a waiting run of blanks has room made for it before it is written.
    const size_t start = output.size();
    const size_t sample = std::min(n, kSample);
    platform::ResizeLarge(output, start + encodedBound(in, sample) * ((n + sample - 1) / sample) + kStepMargin);
    LineWriter w(output.data() + start);
    char* safeEnd = output.data() + output.size() - kStepMargin;
    auto makeRoom = [&](size_t need) {
        if (w.end() + need <= safeEnd)
            return;
        char* oldBase = output.data();
        const size_t used = static_cast<size_t>(w.end() - oldBase);
        platform::ResizeLarge(output, std::max(output.size() + output.size() / 2, used + need + kStepMargin));
        // The old base is only used for offsets into the bytes just copied.
        w.moveTo(oldBase, output.data());
        safeEnd = output.data() + output.size() - kStepMargin;
    };

    bool lineUsed = false;       // the logical line holds something
    size_t pendingStart = 0;     // the run of blanks not yet placed: [pendingStart, i)
    size_t pendingLength = 0;
    size_t nextYield = kYieldBlock;
    size_t nextBlockTry = 0;
    size_t i = 0;
    while (i < n) {
        if (w.end() > safeEnd)
            makeRoom(0);
        // Unchanged stretches of text, up to 16 characters at a time.
        if (pendingLength == 0 && i + 16 <= n && i >= nextBlockTry) {
            const size_t plain = plainPrefix(in + i);
            // Among runs of escapes (binary data) the byte path alone is faster
            // for a while.
            if (plain == 0 && kClass[in[i]] == Escaped && kClass[in[i + 1]] == Escaped &&
                kClass[in[i + 2]] == Escaped)
                nextBlockTry = i + 16;
            if (plain > 0) {
                const size_t written = w.copyFitting(in + i, plain);
                if (written > 0) {
                    i += written;
                    lineUsed = true;
                    continue;
                }
            }
        }
        const unsigned char c = in[i];
        const CharClass cls = kClass[c];
        // Binary data: one store per byte and no branch on its class.
        if (pendingLength == 0 && cls != Blank && c != '\r') {
            w.encoded(c);
            lineUsed = true;
            ++i;
            continue;
        }
        if (cls == Blank) {
            if (pendingLength++ == 0)
                pendingStart = i;
            ++i;
            continue;
        }
        // Blanks take three characters at most, and a soft break per 24 of them.
        makeRoom(pendingLength * 4);
        if (c == '\r' && i + 1 < n && in[i + 1] == '\n') {
            for (size_t k = 0; k < pendingLength; ++k)
                w.escape(in[pendingStart + k]);
            pendingLength = 0;
            w.hardBreak();
            lineUsed = false;
            i += 2;
            if (i >= nextYield) {
                platform::yieldPoint();
                nextYield = i + kYieldBlock;
            }
            continue;
        }
        // Blanks followed by something on the same line stay literal.
        for (size_t k = 0; k < pendingLength; ++k)
            w.literal(static_cast<char>(in[pendingStart + k]));
        pendingLength = 0;
        lineUsed = true;
        if (cls == Escaped) {
            w.escape(c);
            ++i;
            continue;
        }
        w.literal(static_cast<char>(c));
        ++i;
    }
    if (lineUsed || pendingLength > 0) {
        makeRoom(pendingLength * 4 + kStepMargin);
        for (size_t k = 0; k < pendingLength; ++k)
            w.escape(in[pendingStart + k]);
        w.hardBreak();
    }
    output.resize(static_cast<size_t>(w.end() - output.data()));
}

std::string QpEncode(std::string_view text)
{
    std::string out;
    QpEncodeAppend(out, text);
    return out;
}

namespace {

// The next "=" at or after i, or n. Stretches between escapes are mostly short, so
// the next 16 bytes are looked at in one step before the library search takes over.
// Kept out of line: it only serves the last characters, and inlined into the decoder
// it draws a false out-of-bounds warning from GCC.
__attribute__((noinline)) size_t findEquals(const char* s, size_t i, size_t n)
{
#if defined(__SSE2__)
    if (i + 16 <= n) {
        const __m128i c = _mm_loadu_si128(reinterpret_cast<const __m128i*>(s + i));
        const unsigned mask = static_cast<unsigned>(_mm_movemask_epi8(_mm_cmpeq_epi8(c, _mm_set1_epi8('='))));
        if (mask != 0)
            return i + static_cast<size_t>(std::countr_zero(mask));
        i += 16;
    }
#endif
    if (i >= n)
        return n;
    const void* hit = std::memchr(s + i, '=', n - i);
    return hit == nullptr ? n : static_cast<size_t>(static_cast<const char*>(hit) - s);
}


#ifdef TOLMAIL_QP_SSSE3
// Sixteen characters per step with SSSE3, where the processor has it (checked once).
bool haveSsse3()
{
    static const bool have = [] {
        __builtin_cpu_init();
        return __builtin_cpu_supports("ssse3") != 0;
    }();
    return have;
}

// For each 8-bit mask of bytes to keep: the shuffle that gathers them to the front,
// and how many there are.
struct Gather {
    std::array<std::array<uint8_t, 8>, 256> shuffle;
    std::array<uint8_t, 256> count;
};
constexpr Gather kGather = [] {
    Gather g{};
    for (unsigned m = 0; m < 256; ++m) {
        uint8_t k = 0;
        for (uint8_t b = 0; b < 8; ++b)
            if ((m >> b) & 1)
                g.shuffle[m][k++] = b;
        for (uint8_t r = k; r < 8; ++r)
            g.shuffle[m][r] = 0x80;
        g.count[m] = k;
    }
    return g;
}();

// The value of each upper-case hex digit, and 0xFF in `ok` where the byte is one.
__attribute__((target("ssse3"))) inline __m128i hexValues(__m128i c, __m128i& ok)
{
    const __m128i d = _mm_sub_epi8(c, _mm_set1_epi8('0'));
    const __m128i a = _mm_sub_epi8(c, _mm_set1_epi8('A'));
    const __m128i digit = _mm_cmpeq_epi8(_mm_min_epu8(d, _mm_set1_epi8(9)), d);
    const __m128i letter = _mm_cmpeq_epi8(_mm_min_epu8(a, _mm_set1_epi8(5)), a);
    ok = _mm_or_si128(digit, letter);
    return _mm_or_si128(_mm_and_si128(digit, d), _mm_and_si128(letter, _mm_add_epi8(a, _mm_set1_epi8(10))));
}

// Decodes windows of 16 characters from i while i < end, as long as every "=" in a
// window starts a hex escape or a soft line break and none lies inside another's two
// characters. Returns false at the first window that does not qualify, which the
// caller then decodes piece by piece. Windows start every 16 characters, so that
// each load waits on nothing; the one or two characters an escape takes from the
// next window are dropped there. Reads up to 18 bytes past i; writes up to 24 past
// the output position.
__attribute__((target("ssse3"))) bool decodeWindowsSsse3(const char* s, size_t& i, size_t end, char*& o,
                                                         char*& committed, size_t& stretch)
{
    size_t p = i;
    char* out = o;
    unsigned skip = 0;  // leading characters of this window that end the last escape
    bool whole = true;
    while (p < end) {
        const __m128i c = _mm_loadu_si128(reinterpret_cast<const __m128i*>(s + p));
        const __m128i eq = _mm_cmpeq_epi8(c, _mm_set1_epi8('='));
        const unsigned eqMask = static_cast<unsigned>(_mm_movemask_epi8(eq));
        if ((eqMask | skip) == 0) {
            _mm_storeu_si128(reinterpret_cast<__m128i*>(out), c);
            out += 16;
            p += 16;
            continue;
        }
        // Each "=" must start an escape: none among the two characters of another.
        // (Those taken from this window by the last one were checked there.)
        if ((eqMask & ((eqMask << 1) | (eqMask << 2))) != 0) {
            whole = false;
            break;
        }
        const __m128i c1 = _mm_loadu_si128(reinterpret_cast<const __m128i*>(s + p + 1));
        const __m128i c2 = _mm_loadu_si128(reinterpret_cast<const __m128i*>(s + p + 2));
        __m128i ok1;
        __m128i ok2;
        const __m128i high = hexValues(c1, ok1);
        const __m128i low = hexValues(c2, ok2);
        const __m128i soft =
            _mm_and_si128(_mm_cmpeq_epi8(c1, _mm_set1_epi8('\r')), _mm_cmpeq_epi8(c2, _mm_set1_epi8('\n')));
        const unsigned hexMask = static_cast<unsigned>(_mm_movemask_epi8(_mm_and_si128(ok1, ok2))) & eqMask;
        const unsigned softMask = static_cast<unsigned>(_mm_movemask_epi8(soft)) & eqMask;
        if ((hexMask | softMask) != eqMask) {
            whole = false;
            break;
        }
        unsigned next = 0;  // where the characters after the last escape begin
        if (eqMask != 0) {
            // The last escape commits what came before it: a hex one always, a soft
            // break when the piece before it does (two characters or more, or one
            // that is not blank).
            const unsigned last = 31u - static_cast<unsigned>(std::countl_zero(eqMask));
            if (((softMask >> last) & 1) != 0) {
                const unsigned before = eqMask & ((1u << last) - 1);
                const ptrdiff_t from = before != 0 ? ptrdiff_t(31 - std::countl_zero(before)) + 3
                                                   : static_cast<ptrdiff_t>(stretch) - static_cast<ptrdiff_t>(p);
                const ptrdiff_t length = ptrdiff_t(last) - from;
                // Right after a hex escape (a soft break that cuts a line of escapes)
                // the commit of that escape ends at the same place.
                const bool afterHex = length == 0 && before != 0 && ((hexMask >> (last - 3)) & 1) != 0;
                if (!afterHex &&
                    (length < 1 || (length == 1 && isBlank(static_cast<unsigned char>(s[p + last - 1]))))) {
                    whole = false;
                    break;
                }
            }
            next = last + 3;
        }
        const __m128i value =
            _mm_or_si128(_mm_and_si128(_mm_slli_epi16(high, 4), _mm_set1_epi8(static_cast<char>(0xF0))), low);
        const __m128i bytes = _mm_or_si128(_mm_and_si128(eq, value), _mm_andnot_si128(eq, c));
        const unsigned drop = (eqMask << 1) | (eqMask << 2) | softMask | ((1u << skip) - 1);
        const unsigned keep = ~drop & 0xFFFFu;
        const __m128i lowShuffle = _mm_loadl_epi64(reinterpret_cast<const __m128i*>(kGather.shuffle[keep & 255].data()));
        const __m128i highShuffle = _mm_add_epi8(
            _mm_loadl_epi64(reinterpret_cast<const __m128i*>(kGather.shuffle[keep >> 8].data())), _mm_set1_epi8(8));
        _mm_storeu_si128(reinterpret_cast<__m128i*>(out), _mm_shuffle_epi8(bytes, lowShuffle));
        out += kGather.count[keep & 255];
        _mm_storeu_si128(reinterpret_cast<__m128i*>(out), _mm_shuffle_epi8(bytes, highShuffle));
        out += kGather.count[keep >> 8];
        if (eqMask != 0) {
            // Characters after the last escape start a piece not committed yet.
            committed = next >= 16 ? out : out - (16 - next);
            stretch = p + next;
        }
        skip = next > 16 ? next - 16 : 0;
        p += 16;
    }
    i = p + skip;
    o = out;
    return whole;
}
#endif
} // namespace

void QpDecodeAppend(std::string& output, std::string_view text)
{
    const size_t n = text.size();
    const char* s = text.data();
    const size_t start = output.size();
    // Decoding never lengthens, but escapes shorten by two thirds: the output is
    // sized from the share of "=" in a sample and grows when that was too little.
    const size_t sample = std::min(n, kSample);
    const size_t escapes = static_cast<size_t>(std::count(s, s + sample, '='));
    const size_t guess = n <= kSample ? n : (sample - 2 * escapes) * (n / sample + 1) + kSample;
    platform::ResizeLarge(output, start + std::min(n, guess) + kDecodeMargin);
    char* first = output.data() + start;
    char* o = first;
    char* limit = output.data() + output.size();
    // Blanks that wait for something to follow are written at once but not
    // committed: at the end the output is cut back to the last committed write,
    // which drops exactly the blanks that nothing followed.
    char* committed = o;
    auto makeRoom = [&](size_t need) {
        if (need <= static_cast<size_t>(limit - o))
            return;
        const size_t used = static_cast<size_t>(o - first);
        const size_t kept = static_cast<size_t>(committed - first);
        platform::ResizeLarge(output, std::max(output.size() + output.size() / 2, start + used + need));
        first = output.data() + start;
        o = first + used;
        committed = first + kept;
        limit = output.data() + output.size();
    };
    // Stores run up to 31 bytes ahead of the output position; room for them is
    // made per window and before the last stretch of the text.
    auto copy = [&](size_t from, size_t length) {
        if (length <= 16 && from + 16 <= n)
            std::memcpy(o, s + from, 16);
        else
            std::memcpy(o, s + from, length);
        o += length;
    };

    // The escape at eq (two characters follow it): hex, soft line break or malformed.
    // All three bytes are stored and the output advances by 1, 0 or 3, without a
    // branch; the room made for the window or the tail covers the store.
    auto escape = [&](size_t eq) {
        const unsigned char c1 = static_cast<unsigned char>(s[eq + 1]);
        const unsigned char c2 = static_cast<unsigned char>(s[eq + 2]);
        const unsigned value = kHexValue[c1] * 16u + kHexValue[c2];
        const bool hex = (kHexValue[c1] | kHexValue[c2]) != 0xFF;
        const bool soft = c1 == '\r' && c2 == '\n';
        o[0] = hex ? static_cast<char>(value) : '=';
        o[1] = static_cast<char>(c1);
        o[2] = static_cast<char>(c2);
        const size_t length = hex ? 1 : (soft ? 0 : 3);
        o += length;
        committed = length != 0 ? o : committed;
    };
    // Worked out without branches: in binary data the lengths 0, 1 and 2 come in
    // no order a predictor could learn.
    auto endStretch = [&](size_t stretch, size_t eq) {
        const size_t length = eq - stretch;
        const unsigned blank = isBlank(static_cast<unsigned char>(s[stretch])) ? 1u : 0u;
        const unsigned waits = unsigned{length == 0} | (unsigned{length == 1} & blank);
        committed = waits != 0 ? committed : o;
    };

    size_t i = 0;
    size_t stretch = 0;  // where the current piece began: the start, or after an escape
#ifdef TOLMAIL_QP_SSSE3
    // Whole windows pay off where escapes are dense (binary data); sparse ones are
    // found faster from the masks of 64 characters below.
    const bool dense = escapes * 6 > sample && haveSsse3();
#endif
    size_t nextYield = kYieldBlock;
#if defined(__SSE2__)
    // Windows of 64 characters: the places of every "=" in one mask, so that the
    // next escape is found from the mask instead of by another look at the text.
    // The 16-byte copies may read and write up to 31 bytes past a stretch, which
    // the margin of 128 keeps inside both buffers.
    while (i + 128 <= n) {
#ifdef TOLMAIL_QP_SSSE3
        if (dense) {
            const size_t end = std::min(n - 128, i + kYieldBlock);
            makeRoom(end - i + kDecodeMargin);
            const size_t from = i;
            const bool whole = decodeWindowsSsse3(s, i, end, o, committed, stretch);
            if (i >= nextYield) {
                platform::yieldPoint();
                nextYield = i + kYieldBlock;
            }
            // A window it could not take (or one too near the end) is decoded
            // below, piece by piece.
            if (i + 128 > n || (whole && i > from))
                continue;
        }
#endif
        makeRoom(kDecodeMargin);
        const size_t base = i;
        uint64_t mask = 0;
        for (int k = 0; k < 4; ++k) {
            const __m128i c = _mm_loadu_si128(reinterpret_cast<const __m128i*>(s + base + 16 * k));
            mask |= uint64_t(static_cast<unsigned>(_mm_movemask_epi8(_mm_cmpeq_epi8(c, _mm_set1_epi8('='))))) << (16 * k);
        }
        while (i < base + 64) {
            const uint64_t ahead = mask >> (i - base);
            const size_t eq = ahead == 0 ? base + 64 : i + static_cast<size_t>(std::countr_zero(ahead));
            // Most stretches are shorter than 32: no branch for them.
            std::memcpy(o, s + i, 16);
            std::memcpy(o + 16, s + i + 16, 16);
            for (size_t k = i + 32; k < eq; k += 16)
                std::memcpy(o + (k - i), s + k, 16);
            o += eq - i;
            i = eq;
            if (ahead == 0)
                break;  // the stretch goes on in the next window
            endStretch(stretch, eq);
            escape(eq);
            i = eq + 3;
            stretch = i;
        }
        if (i >= nextYield) {
            platform::yieldPoint();
            nextYield = i + kYieldBlock;
        }
    }
#endif
    makeRoom(n - i + kDecodeMargin);
    // Pieces: at the start and after each escape, the stretch up to the next "=".
    while (i < n) {
        size_t eq = n;
#if defined(__SSE2__)
        // Copy while looking: 16 bytes are stored whole and the output advances
        // only as far as the "=" found among them.
        while (i + 16 <= n) {
            const __m128i c = _mm_loadu_si128(reinterpret_cast<const __m128i*>(s + i));
            _mm_storeu_si128(reinterpret_cast<__m128i*>(o), c);
            const unsigned mask = static_cast<unsigned>(_mm_movemask_epi8(_mm_cmpeq_epi8(c, _mm_set1_epi8('='))));
            if (mask != 0) {
                const size_t k = static_cast<size_t>(std::countr_zero(mask));
                o += k;
                i += k;
                eq = i;
                break;
            }
            o += 16;
            i += 16;
        }
#endif
        if (eq == n) {
            eq = findEquals(s, i, n);
            copy(i, eq - i);
            i = eq;
        }
        if (eq == n) {
            // No "=" left: single characters to the end; blanks at the very end of
            // the text wait for nothing and are dropped.
            for (size_t k = n; k > stretch; --k) {
                if (!isBlank(static_cast<unsigned char>(s[k - 1]))) {
                    committed = o - (n - k);
                    break;
                }
            }
            break;
        }
        endStretch(stretch, eq);
        if (i + 2 >= n) {
            // An "=" with fewer than two characters after it is an ordinary piece,
            // and so is the character after it.
            *o++ = '=';
            committed = o;
            if (i + 1 < n) {
                *o++ = s[i + 1];
                if (!isBlank(static_cast<unsigned char>(s[i + 1])))
                    committed = o;
            }
            break;
        }
        escape(i);
        i += 3;
        stretch = i;
        if (i >= nextYield) {
            platform::yieldPoint();
            nextYield = i + kYieldBlock;
        }
    }
    output.resize(start + static_cast<size_t>(committed - first));
}

std::string QpDecode(std::string_view text)
{
    std::string out;
    QpDecodeAppend(out, text);
    return out;
}

} // namespace tolmail::codec
