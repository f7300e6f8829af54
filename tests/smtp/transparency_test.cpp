// SMTP transparency: dot-stuffing across piece boundaries, line-end normalisation,
// header folding and quoted-printable chunk ends.
#include <gtest/gtest.h>

#include <random>

#include "codec/quoted_printable.h"
#include "smtp/binary_lines.h"
#include "smtp/chunk_encoders.h"
#include "smtp/dot_stuffing.h"
#include "smtp/header_value.h"
#include "smtp/line_ends.h"

using namespace tolmail::smtp;

namespace {

/// Runs `input` through one stuffer in two pieces cut at `cut`.
std::string stuffSplit(const std::string& input, size_t cut, bool atLineStart = true)
{
    DotStuffer s(atLineStart);
    std::string scratch;
    std::string out(s.filter(std::string_view(input).substr(0, cut), scratch));
    out += s.filter(std::string_view(input).substr(cut), scratch);
    return out;
}

/// True when some line-end reading (CR LF, lone LF, lone CR) finds a line of a lone ".".
bool hasLoneDotLine(const std::string& wire)
{
    for (const char* end : {"\r\n", "\n", "\r"}) {
        const std::string e(end);
        if (wire.rfind("." + e, 0) == 0 || wire == ".")
            return true;
        for (const char* start : {"\r\n", "\n", "\r"}) {
            if (wire.find(std::string(start) + "." + e) != std::string::npos)
                return true;
        }
    }
    return false;
}

} // namespace

TEST(SmtpDotStuffing, TextLinesStartingWithDotAreDoubled)
{
    EXPECT_EQ(StuffDots(".first\r\nsecond\r\n.third\r\n..fourth\r\n", true),
              "..first\r\nsecond\r\n..third\r\n...fourth\r\n");
    EXPECT_EQ(StuffDots(".mid", false), ".mid");
    EXPECT_EQ(StuffDots("a.b\r\nc.\r\n", true), "a.b\r\nc.\r\n");
    EXPECT_EQ(StuffDots("", true), "");
}

TEST(SmtpDotStuffing, StateIsCarriedAcrossEverySplit)
{
    const std::string input = ".a\r\n.\r\nb.\r\n\r\n..\r\n.";
    const std::string whole = StuffDots(input, true);
    EXPECT_EQ(whole, "..a\r\n..\r\nb.\r\n\r\n...\r\n..");
    for (size_t cut = 0; cut <= input.size(); ++cut)
        EXPECT_EQ(stuffSplit(input, cut), whole) << "cut at " << cut;
}

TEST(SmtpDotStuffing, BinaryDataNeverCarriesALoneDotLine)
{
    for (const std::string input : {"x\n.\ny", "x\r.\ry", "x\n.\r\ny", "x\r\n.\r\ny", ".\n", "\r\n.\r", "a\r.\n"}) {
        ASSERT_TRUE(hasLoneDotLine(input));
        for (size_t cut = 0; cut <= input.size(); ++cut) {
            const std::string out = stuffSplit(input, cut);
            EXPECT_FALSE(hasLoneDotLine(out)) << "input " << ::testing::PrintToString(input) << " cut " << cut;
            EXPECT_EQ(out, stuffSplit(input, 0));
        }
    }
    EXPECT_EQ(StuffDots("x\n.\ny", true), "x\n..\ny");

    std::mt19937 rng(7);
    std::uniform_int_distribution<int> pick(0, 3);
    const char alphabet[] = {'.', '\r', '\n', 'a'};
    for (int round = 0; round < 2000; ++round) {
        std::string data(12, ' ');
        for (char& c : data)
            c = alphabet[pick(rng)];
        EXPECT_FALSE(hasLoneDotLine(stuffSplit(data, static_cast<size_t>(round) % 13))) << data;
    }
}

TEST(SmtpLineEnds, BareCrAndLfBecomeCrLf)
{
    EXPECT_EQ(NormalizeLineEnds("a\nb\rc\r\nd\n\re"), "a\r\nb\r\nc\r\nd\r\n\r\ne");
    EXPECT_EQ(NormalizeLineEnds("plain"), "plain");
    EXPECT_EQ(NormalizeLineEnds("\r"), "\r\n");
}

TEST(SmtpHeaderFolding, LineBreaksBecomeFolds)
{
    EXPECT_EQ(FoldHeaderValue("no breaks: stays"), "no breaks: stays");
    EXPECT_EQ(FoldHeaderValue("one\r\nBcc: x@y"), "one\r\n Bcc: x@y");
    EXPECT_EQ(FoldHeaderValue("a\nb\rc"), "a\r\n b\r\n c");
    EXPECT_EQ(FoldHeaderValue("a\r\n\r\n.\r\nb"), "a\r\n .\r\n b");  // no blank line, no line start
    EXPECT_EQ(FoldHeaderValue("a\r\n\tb"), "a\r\n\tb");
    EXPECT_EQ(FoldHeaderValue("trailing\r\n"), "trailing");
}

TEST(SmtpQpChunks, ChunksCutInsideLinesDecodeToTheOriginal)
{
    std::mt19937 rng(11);
    std::uniform_int_distribution<int> byte(0, 255);
    std::string data(20000, '\0');
    for (char& c : data)
        c = static_cast<char>(byte(rng));
    data.replace(100, 8, "\r\n.dot\r\n");
    const auto& rule = EncodingRuleOf(1);
    ASSERT_EQ(rule.chunkSize, 3800u);
    std::string wire, encoded;
    for (size_t at = 0; at < data.size(); at += rule.chunkSize) {
        rule.encode(std::string_view(data).substr(at, rule.chunkSize), encoded);
        wire += encoded;
    }
    EXPECT_EQ(tolmail::codec::QpDecode(wire), data);
    size_t start = 0;
    for (size_t end; (end = wire.find("\r\n", start)) != std::string::npos; start = end + 2)
        EXPECT_LE(end - start, 76u);
}

TEST(SmtpQpChunks, SoftEndNeverCutsAnEscapeNorPassesTheLineLimit)
{
    std::string line(73, 'a');
    line += "=3D\r\n";  // 76 characters: one more "=" would not fit
    EndQpChunkSoftly(line);
    EXPECT_EQ(line, std::string(73, 'a') + "=\r\n=3D=\r\n");
    std::string shortLine = "abc\r\n";
    EndQpChunkSoftly(shortLine);
    EXPECT_EQ(shortLine, "abc=\r\n");
}


TEST(SmtpBinaryCheck, OnlyShortCrLfLinesWithoutTheBoundaryPass)
{
    const std::string b = "----= _NextPart_0f.1";
    const std::pair<std::string, bool> cases[] = {
        {"", true},
        {"a\r\n.b\r\n", true},
        {"no line end", true},
        {std::string("\0\xff\r\n", 4), true},
        {std::string(998, 'x') + "\r\nshort", true},
        {std::string(999, 'x') + "\r\n", false},
        {"a\nb", false},
        {"a\rb", false},
        {"ends in CR\r", false},
        {"x\n.\n", false},
        {"x\r\n--" + b + "\r\n", false},
        {"anywhere " + b + " at all", false},
        {"----= _NextPart_0f.2", true},
    };
    for (const auto& [data, sendable] : cases) {
        // Every cut, and byte by byte: a fault straddling pieces is still seen.
        for (size_t cut = 0; cut <= data.size(); ++cut) {
            BinaryLineCheck check(b);
            // Both pieces are fed, whatever the first one returns.
            const bool headFed = check.feed(data.substr(0, cut));
            const bool fed = check.feed(data.substr(cut)) && headFed;
            EXPECT_EQ(fed && check.finish(), sendable) << ::testing::PrintToString(data) << " cut " << cut;
        }
        BinaryLineCheck bytes(b);
        for (char c : data)
            bytes.feed(std::string_view(&c, 1));
        EXPECT_EQ(bytes.finish(), sendable) << ::testing::PrintToString(data);
    }
}
