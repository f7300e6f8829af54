// Quoted-printable of MIME (RFC 2045): lines of at most 76 characters with soft breaks
// that never cut an escape; the decoder drops blanks that nothing follows.
#include "codec/quoted_printable.h"

#include <array>
#include <cstring>

#include "platform/message_loop.h"

namespace tolmail::codec {

namespace {

constexpr char kHexDigits[] = "0123456789ABCDEF";
constexpr size_t kMaxLine = 76;   // longest physical line, soft-break "=" included
constexpr size_t kPiece = 75;     // where a long line is first tried to be cut
constexpr size_t kYieldBlock = size_t{1} << 16;

enum CharClass : uint8_t { Literal, Blank, Escaped };

constexpr auto kClass = [] {
    std::array<CharClass, 256> t{};
    for (unsigned c = 0; c < 256; ++c)
        t[c] = (c >= 33 && c <= 126 && c != '=') ? Literal : Escaped;
    t[' '] = Blank;
    t['\t'] = Blank;
    return t;
}();

// 16 × value for an upper-case hex digit, 0xFF for anything else.
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

    void literal(char c)
    {
        *o_++ = c;
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

// An upper bound of the encoded length: escapes and blanks take three characters,
// and soft breaks add three per 72 characters at most.
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
    const size_t start = output.size();
    output.resize(start + encodedBound(in, n));
    LineWriter w(output.data() + start);

    bool lineUsed = false;       // the logical line holds something
    size_t pendingStart = 0;     // the run of blanks not yet placed: [pendingStart, i)
    size_t pendingLength = 0;
    size_t nextYield = kYieldBlock;
    size_t i = 0;
    while (i < n) {
        const unsigned char c = in[i];
        const CharClass cls = kClass[c];
        if (cls == Blank) {
            if (pendingLength++ == 0)
                pendingStart = i;
            ++i;
            continue;
        }
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
        // A run of literal characters, the common case of text.
        do {
            w.literal(static_cast<char>(in[i++]));
        } while (i < n && kClass[in[i]] == Literal);
    }
    if (lineUsed || pendingLength > 0) {
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

void QpDecodeAppend(std::string& output, std::string_view text)
{
    const size_t n = text.size();
    const char* s = text.data();
    const size_t start = output.size();
    output.resize(start + n);  // decoding never lengthens
    char* const first = output.data() + start;
    char* o = first;
    std::string pending;         // blanks and tabs written only when something follows
    auto writePending = [&] {
        if (pending.empty())
            return;
        std::memcpy(o, pending.data(), pending.size());
        o += pending.size();
        pending.clear();
    };

    bool takeStretch = true;     // at the start and after each escape
    size_t nextYield = kYieldBlock;
    size_t i = 0;
    while (i < n) {
        if (takeStretch) {
            takeStretch = false;
            const void* hit = std::memchr(s + i, '=', n - i);
            if (hit == nullptr) {
                // No "=" left: single characters to the end, so only the blanks at
                // the very end of the text (and any pending before them) are dropped.
                size_t end = n;
                while (end > i && isBlank(static_cast<unsigned char>(s[end - 1])))
                    --end;
                if (end > i) {
                    writePending();
                    std::memcpy(o, s + i, end - i);
                    o += end - i;
                }
                break;
            }
            const size_t eq = static_cast<size_t>(static_cast<const char*>(hit) - s);
            if (eq > i) {
                // A stretch of exactly one blank or tab waits like a single blank.
                if (eq - i == 1 && isBlank(static_cast<unsigned char>(s[i]))) {
                    pending += s[i];
                } else {
                    writePending();
                    std::memcpy(o, s + i, eq - i);
                    o += eq - i;
                }
                i = eq;
                continue;
            }
        }
        const unsigned char c = static_cast<unsigned char>(s[i]);
        if (c == '=' && i + 2 < n) {
            const unsigned char c1 = static_cast<unsigned char>(s[i + 1]);
            const unsigned char c2 = static_cast<unsigned char>(s[i + 2]);
            if (c1 == '\r' && c2 == '\n') {
                // Soft line break: nothing is written.
            } else if (kHexValue[c1] != 0xFF && kHexValue[c2] != 0xFF) {
                writePending();
                *o++ = static_cast<char>(kHexValue[c1] * 16 + kHexValue[c2]);
            } else {
                writePending();
                std::memcpy(o, s + i, 3);  // a malformed escape passes through
                o += 3;
            }
            i += 3;
            takeStretch = true;
            if (i >= nextYield) {
                platform::yieldPoint();
                nextYield = i + kYieldBlock;
            }
            continue;
        }
        if (isBlank(c)) {
            pending += static_cast<char>(c);
        } else {
            writePending();
            *o++ = static_cast<char>(c);
        }
        ++i;
    }
    // Whatever is still pending at the end of the text is dropped.
    output.resize(start + static_cast<size_t>(o - first));
}

std::string QpDecode(std::string_view text)
{
    std::string out;
    QpDecodeAppend(out, text);
    return out;
}

} // namespace tolmail::codec
