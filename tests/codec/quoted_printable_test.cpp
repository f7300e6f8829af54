// Quoted-printable: the 76-character rule, escapes never cut, soft breaks, trailing
// blanks, and the decoder's pieces and pending blanks.
#include "codec/quoted_printable.h"

#include <gtest/gtest.h>

#include <random>

using namespace tolmail::codec;

namespace {

// The encoder written the plain way, one logical line at a time through QpFlushLine;
// the real encoder streams and must give the same bytes.
std::string referenceEncode(std::string_view text)
{
    std::string out, line, run;
    for (size_t i = 0; i < text.size(); ++i) {
        const unsigned char c = static_cast<unsigned char>(text[i]);
        if (c == '\r' && i + 1 < text.size() && text[i + 1] == '\n') {
            QpFlushLine(out, line, run);
            ++i;
        } else if (c == ' ' || c == '\t') {
            run += static_cast<char>(c);
        } else {
            line += run;
            run.clear();
            if (c >= 33 && c <= 126 && c != '=')
                line += static_cast<char>(c);
            else
                QpAppendHex(line, c);
        }
    }
    if (!line.empty() || !run.empty())
        QpFlushLine(out, line, run);
    return out;
}

} // namespace

TEST(QpEncode, EscapesAndTrailingBlanks)
{
    EXPECT_EQ(QpEncode(""), "");
    EXPECT_EQ(QpEncode("a=b"), "a=3Db\r\n");
    EXPECT_EQ(QpEncode("abc  "), "abc=20=20\r\n");
    EXPECT_EQ(QpEncode("a \r\nb"), "a=20\r\nb\r\n");
    EXPECT_EQ(QpEncode("one\ttwo"), "one\ttwo\r\n");
    EXPECT_EQ(QpEncode("tab\t"), "tab=09\r\n");
    EXPECT_EQ(QpEncode("\r \n\xe9"), "=0D =0A=E9\r\n");
    EXPECT_EQ(QpEncode("x\r\n"), "x\r\n");           // no extra empty line
    EXPECT_EQ(QpEncode("\r\n\r\n"), "\r\n\r\n");    // empty lines stay
    EXPECT_EQ(QpEncode("  "), "=20=20\r\n");
}

TEST(QpEncode, SeventySixCharacterRule)
{
    const std::string l76(76, 'a');
    EXPECT_EQ(QpEncode(l76), l76 + "\r\n");
    EXPECT_EQ(QpEncode(l76 + "a"), std::string(75, 'a') + "=\r\naa\r\n");
    // An escape is never cut: the line breaks before it.
    EXPECT_EQ(QpEncode(std::string(74, 'a') + "="), std::string(74, 'a') + "=\r\n=3D\r\n");
    EXPECT_EQ(QpEncode(std::string(73, 'a') + "=b"), std::string(73, 'a') + "=\r\n=3Db\r\n");
    EXPECT_EQ(QpEncode(std::string(73, 'a') + "=bcd"), std::string(73, 'a') + "=\r\n=3Dbcd\r\n");
    EXPECT_EQ(QpEncode(std::string(72, 'a') + "=bcd"), std::string(72, 'a') + "=3D=\r\nbcd\r\n");
    // A trailing blank escaped at the end of a long line is not cut either.
    EXPECT_EQ(QpEncode(std::string(74, 'a') + " "), std::string(74, 'a') + "=\r\n=20\r\n");
}

TEST(QpEncode, PhysicalLinesNeverExceed76)
{
    std::mt19937 rng(7);
    for (int round = 0; round < 200; ++round) {
        std::string text(rng() % 600, '\0');
        for (char& c : text)
            c = static_cast<char>("a =\t\r\n\xe9xyz"[rng() % 10]);
        const std::string out = QpEncode(text);
        ASSERT_EQ(out, referenceEncode(text));
        size_t start = 0;
        for (size_t p = out.find("\r\n"); p != std::string::npos; p = out.find("\r\n", start)) {
            const size_t length = p - start;
            ASSERT_LE(length, 76u);
            // A soft-broken line holds 73 to 75 characters before its "=".
            if (length > 0 && out[p - 1] == '=') {
                ASSERT_GE(length - 1, 73u);
                ASSERT_LE(length - 1, 75u);
            }
            start = p + 2;
        }
        ASSERT_EQ(start, out.size());
    }
}

TEST(QpEncode, OutputGrowsPastWhatItsSampleSuggested)
{
    // The output is sized from the first 64 KiB; what follows needs three times more.
    std::string text(100000, 'a');
    text += std::string(200000, '\xff');
    text += ' ' + std::string(100000, 'b') + std::string(70000, ' ') + "\r\n";
    text += std::string(70000, '\t') + "x";
    EXPECT_EQ(QpEncode(text), referenceEncode(text));
    std::string out = "head";
    QpEncodeAppend(out, text);
    EXPECT_EQ(out, "head" + referenceEncode(text));
}

TEST(QpFlushLine, BrokenEscapeAtLineEndDoesNotLoop)
{
    std::string out, line = "abc=", run;
    QpFlushLine(out, line, run);
    EXPECT_EQ(out, "abc=\r\n=\r\n");
    EXPECT_TRUE(line.empty());
}

TEST(QpAppendHex, UsesLowByte)
{
    std::string line;
    QpAppendHex(line, 0x1E9);
    QpAppendHex(line, -1);
    EXPECT_EQ(line, "=E9=FF");
}

TEST(QpDecode, Escapes)
{
    EXPECT_EQ(QpDecode("=41 =42"), "A B");
    EXPECT_EQ(QpDecode("a=\r\nb"), "ab");
    EXPECT_EQ(QpDecode("=3d"), "=3d");      // lower-case digits are not escapes
    EXPECT_EQ(QpDecode("x=4"), "x=4");      // too short to be an escape
    EXPECT_EQ(QpDecode("="), "=");
    EXPECT_EQ(QpDecode("=E9=\r\n"), "\xe9");
    EXPECT_EQ(QpDecode("a=G1b"), "a=G1b");
}

TEST(QpDecode, PendingBlanks)
{
    EXPECT_EQ(QpDecode("text  "), "text");
    EXPECT_EQ(QpDecode("ab  \r\ncd"), "ab  \r\ncd");   // blanks before a hard break remain
    EXPECT_EQ(QpDecode("ab \t"), "ab");
    // A whole stretch of several characters is written at once, blanks included.
    EXPECT_EQ(QpDecode("abc =\r\n"), "abc ");
    // A stretch of exactly one blank waits; only soft breaks follow, so it goes.
    EXPECT_EQ(QpDecode("=41 =\r\n"), "A");
    EXPECT_EQ(QpDecode("=41 =\r\n =42"), "A  B");
    EXPECT_EQ(QpDecode("=41 =\r\n  "), "A");
}

TEST(QpDecode, UndoesEncoderUpToFinalLineBreak)
{
    const std::string text("a=b \t \r\nline\r\n\xff\0 end ", 21);
    EXPECT_EQ(QpDecode(QpEncode(text)), text + "\r\n");
    EXPECT_EQ(QpDecode(QpEncode(text + "\r\n")), text + "\r\n");
}
