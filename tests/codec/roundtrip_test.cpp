// Round trips over random inputs of many sizes, and the decoders against plain
// position-by-position models of their rules on damaged input.
#include <gtest/gtest.h>

#include <random>

#include "codec/base64.h"
#include "codec/quoted_printable.h"
#include "codec/uuencode.h"
#include "tolmail/error.h"

using namespace tolmail::codec;

namespace {

std::vector<size_t> sizes()
{
    std::vector<size_t> out;
    for (size_t n = 0; n < 200; ++n)
        out.push_back(n);
    for (size_t n = 256; n <= 400000; n = n * 3 / 2 + 1)
        out.push_back(n);
    return out;
}

std::string randomBytes(std::mt19937& rng, size_t n, bool textLike)
{
    std::string s(n, '\0');
    for (char& c : s)
        c = textLike ? "The  quick\t=\r\n\xe9.,"[rng() % 16] : static_cast<char>(rng());
    return s;
}

// Base64 decoding by its stated rules, one position at a time.
std::string modelBase64Decode(std::string_view t)
{
    static const std::string alphabet = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";
    const long L = static_cast<long>(t.size());
    auto at = [&](long p) { return p <= L ? t[static_cast<size_t>(p - 1)] : '\0'; };  // 1-based
    auto value = [&](long p) -> uint32_t {
        if (p > L)
            return 0;
        const auto v = alphabet.find(at(p));
        if (v == std::string::npos)
            throw tolmail::Error(0, "bad");
        return static_cast<uint32_t>(v);
    };
    std::string out;
    for (long p = 1; p < L - 2; p += 4) {
        const std::string q(t.substr(static_cast<size_t>(p - 1), 4));
        if (q.find("\r\n") != std::string::npos)
            p += 2;
        int n = 3;
        if (p + 3 <= L && at(p + 3) == '=')
            n = (p + 2 <= L && at(p + 2) == '=') ? 1 : 2;
        const uint32_t w = value(p), x = value(p + 1);
        const uint32_t y = n >= 2 ? value(p + 2) : 0, z = n == 3 ? value(p + 3) : 0;
        out += static_cast<char>((w << 2) | (x >> 4));
        if (n >= 2)
            out += static_cast<char>((x << 4) | (y >> 2));
        if (n == 3)
            out += static_cast<char>((y << 6) | z);
    }
    return out;
}

std::string modelUuDecode(std::string_view t)
{
    const long L = static_cast<long>(t.size());
    auto value = [&](long p) -> int { return p <= L ? (static_cast<unsigned char>(t[static_cast<size_t>(p - 1)]) - 32) & 63 : 0; };
    std::string out;
    long p = 1;
    int n = value(1);
    while (p < L && n != 0) {
        while (n > 0) {
            const int w = value(p + 1), x = value(p + 2), y = value(p + 3), z = value(p + 4);
            p += 4;
            out += static_cast<char>((w << 2) | (x >> 4));
            if (n - 1 > 0)
                out += static_cast<char>((x << 4) | (y >> 2));
            if (n - 2 > 0)
                out += static_cast<char>((y << 6) | z);
            n -= 3;
        }
        p += 3;
        n = value(p);
    }
    return out;
}

std::string modelQpDecode(std::string_view t)
{
    auto hex = [](char c) { return std::string_view("0123456789ABCDEF").find(c); };
    std::string out, pending;
    bool stretch = true;
    size_t i = 0;
    while (i < t.size()) {
        std::string_view piece = t.substr(i, 1);
        const size_t eq = t.find('=', i);
        if (stretch && eq != std::string_view::npos && eq > i)
            piece = t.substr(i, eq - i);
        stretch = false;
        if (piece == "=" && i + 2 < t.size()) {
            const char c1 = t[i + 1], c2 = t[i + 2];
            if (!(c1 == '\r' && c2 == '\n')) {
                out += pending;
                pending.clear();
                if (hex(c1) != std::string_view::npos && hex(c2) != std::string_view::npos)
                    out += static_cast<char>(hex(c1) * 16 + hex(c2));
                else
                    out += t.substr(i, 3);
            }
            i += 3;
            stretch = true;
            continue;
        }
        if (piece == " " || piece == "\t") {
            pending += piece;
        } else {
            out += pending;
            pending.clear();
            out += piece;
        }
        i += piece.size();
    }
    return out;
}

// Breaks a valid encoding here and there: changed, dropped and inserted characters.
std::string damage(std::mt19937& rng, std::string s)
{
    static const char kChars[] = "AZaz09+/= \r\n`M!\t\xe9";
    const int edits = 1 + static_cast<int>(rng() % 4);
    for (int e = 0; e < edits && !s.empty(); ++e) {
        const size_t at = rng() % s.size();
        switch (rng() % 3) {
        case 0: s[at] = kChars[rng() % (sizeof kChars - 1)]; break;
        case 1: s.erase(at, 1); break;
        default: s.insert(at, 1, kChars[rng() % (sizeof kChars - 1)]); break;
        }
    }
    return s;
}

std::string outcome(std::string (*decode)(std::string_view), std::string_view text)
{
    try {
        return "ok:" + decode(text);
    } catch (const tolmail::Error&) {
        return "error";
    }
}

} // namespace

TEST(RoundTrip, Base64)
{
    std::mt19937 rng(1);
    for (size_t n : sizes()) {
        const std::string data = randomBytes(rng, n, n % 3 == 0);
        ASSERT_EQ(Base64Decode(Base64Encode(data)), data) << "size " << n;
    }
}

TEST(RoundTrip, Uuencode)
{
    std::mt19937 rng(2);
    for (size_t n : sizes()) {
        const std::string data = randomBytes(rng, n, n % 3 == 0);
        ASSERT_EQ(UuDecode(UuEncode(data)), data) << "size " << n;
    }
}

TEST(RoundTrip, QuotedPrintable)
{
    std::mt19937 rng(3);
    for (size_t n : sizes()) {
        const std::string data = randomBytes(rng, n, n % 3 != 0);
        // The encoder ends every line with CR LF, the last one included.
        const bool closed = data.empty() || data.ends_with("\r\n");
        ASSERT_EQ(QpDecode(QpEncode(data)), closed ? data : data + "\r\n") << "size " << n;
    }
}

TEST(RoundTrip, AppendVariantsMatch)
{
    std::string out = "head";
    Base64EncodeAppend(out, "abc");
    UuEncodeAppend(out, "abc");
    QpEncodeAppend(out, "a=b");
    EXPECT_EQ(out, "head" + Base64Encode("abc") + UuEncode("abc") + QpEncode("a=b"));
}

TEST(DecoderModels, DamagedInputDecodesAsTheRulesSay)
{
    std::mt19937 rng(4);
    for (int round = 0; round < 3000; ++round) {
        const std::string data = randomBytes(rng, rng() % 300, round % 2 == 0);
        const std::string b64 = damage(rng, Base64Encode(data));
        std::string model;
        try {
            model = "ok:" + modelBase64Decode(b64);
        } catch (const tolmail::Error&) {
            model = "error";
        }
        ASSERT_EQ(outcome(Base64Decode, b64), model) << "base64 round " << round;
        const std::string uu = damage(rng, UuEncode(data));
        ASSERT_EQ(UuDecode(uu), modelUuDecode(uu)) << "uu round " << round;
        const std::string qp = damage(rng, QpEncode(data));
        ASSERT_EQ(QpDecode(qp), modelQpDecode(qp)) << "qp round " << round;
    }
}

TEST(DecoderModels, QpOutputGrowsPastWhatItsSampleSuggested)
{
    // The output is sized from the first 64 KiB, all escapes; plain text follows.
    std::string text;
    while (text.size() < 70000)
        text += "=41=\r\n";
    for (int k = 0; k < 40000; ++k)
        text += "plain text =\r\n";
    text += " \t ";
    EXPECT_EQ(QpDecode(text), modelQpDecode(text));
    std::string out = "head";
    QpDecodeAppend(out, text);
    EXPECT_EQ(out, "head" + modelQpDecode(text));
}
