// Uuencode line layout, count and filler characters, and the decoder's stopping rules.
#include "codec/uuencode.h"

#include <gtest/gtest.h>

using namespace tolmail::codec;

TEST(UuEncodeGroup, FillerOnlyInShortGroups)
{
    EXPECT_EQ(UuEncodeGroup("Cat"), "0V%T");
    EXPECT_EQ(UuEncodeGroup(std::string(1, '\0')), "  ``");
    EXPECT_EQ(UuEncodeGroup(std::string("\0\0", 2)), "   `");
    EXPECT_EQ(UuEncodeGroup(std::string("\0\0\0", 3)), "    ");
    EXPECT_EQ(UuEncodeGroup(""), "");
    EXPECT_EQ(UuEncodeGroup("four"), "");
}

TEST(UuEncode, LineLayout)
{
    EXPECT_EQ(UuEncode(""), "`");
    EXPECT_EQ(UuEncode("Cat"), "#0V%T\r\n`");

    const std::string full = UuEncode(std::string(45, 'x'));
    ASSERT_EQ(full.size(), 1u + 60u + 2u + 1u);
    EXPECT_EQ(full[0], 'M');
    EXPECT_EQ(full.substr(61), "\r\n`");

    const std::string more = UuEncode(std::string(46, 'x'));
    EXPECT_EQ(more.substr(0, 63), full.substr(0, 63));
    // Count character for 1, two group characters, two grave accents, CR LF, "`".
    EXPECT_EQ(more.substr(63), '!' + UuEncodeGroup("x") + "\r\n`");
}

TEST(UuDecode, StopsAtZeroCountOrEnd)
{
    EXPECT_EQ(UuDecode(UuEncode("Cat")), "Cat");
    EXPECT_EQ(UuDecode("#0V%T\r\n`\r\n#0V%T\r\n"), "Cat");
    // A line starting with a blank has count 0 too.
    EXPECT_EQ(UuDecode("#0V%T\r\n \r\n#0V%T\r\n"), "Cat");
    // No closing line: decoding ends at the end of the text.
    EXPECT_EQ(UuDecode("#0V%T\r\n"), "Cat");
    EXPECT_EQ(UuDecode("#0V%T"), "Cat");
    EXPECT_EQ(UuDecode(""), "");
    EXPECT_EQ(UuDecode("`"), "");
}

TEST(UuDecode, MissingGroupCharactersCountAsZero)
{
    // "M" promises 45 bytes; only one group is present.
    const std::string out = UuDecode("M0V%T");
    ASSERT_EQ(out.size(), 45u);
    EXPECT_EQ(out.substr(0, 3), "Cat");
    EXPECT_EQ(out.substr(3), std::string(42, '\0'));
}

TEST(UuDecode, ExpectsExactlyCrLfAfterGroups)
{
    // A lone LF shifts the next count character: the bytes come out wrong, no error.
    const std::string out = UuDecode("#0V%T\n#0V%T\n`");
    EXPECT_EQ(out.substr(0, 3), "Cat");
    EXPECT_NE(out, "CatCat");
}
