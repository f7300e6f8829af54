// Base64 line layout, pads and the decoder's tolerance and failure rules.
#include "codec/base64.h"

#include <gtest/gtest.h>


#include "support/portable.h"
#include "tolmail/error.h"

using namespace tolmail::codec;

namespace {

std::string bytes(size_t n, char c = 'x') { return std::string(n, c); }

std::string decodeError(std::string_view text)
{
    try {
        Base64Decode(text);
    } catch (const tolmail::Error& e) {
        return e.what();
    }
    return "no error";
}

} // namespace

TEST(Base64Encode, GroupsAndPads)
{
    EXPECT_EQ(Base64Encode(""), "");
    EXPECT_EQ(Base64Encode("abc"), "YWJj\r\n");
    EXPECT_EQ(Base64Encode("ab"), "YWI=\r\n");
    EXPECT_EQ(Base64Encode("a"), "YQ==\r\n");
    EXPECT_EQ(Base64Encode(std::string("\xff\xfe\x00", 3)), "//4A\r\n");
    // RFC 4648 test vector.
    EXPECT_EQ(Base64Encode("foobar"), "Zm9vYmFy\r\n");
}

TEST(Base64Encode, LinesOf76)
{
    const std::string one = Base64Encode(bytes(57));
    EXPECT_EQ(one.size(), 78u);
    EXPECT_EQ(one.substr(76), "\r\n");

    const std::string two = Base64Encode(bytes(58));
    EXPECT_EQ(two.size(), 78u + 6u);
    EXPECT_EQ(two.substr(76, 2), "\r\n");
    EXPECT_EQ(two.substr(78), "eA==\r\n");

    const std::string full = Base64Encode(bytes(114));
    EXPECT_EQ(full.size(), 2u * 78u);
    EXPECT_EQ(full.substr(76, 2), "\r\n");
    EXPECT_EQ(full.substr(154), "\r\n");
    EXPECT_EQ(Base64EncodedSize(114), full.size());
}

TEST(Base64Decode, PadsGiveOneOrTwoBytes)
{
    EXPECT_EQ(Base64Decode("YWJj"), "abc");
    EXPECT_EQ(Base64Decode("YWI="), "ab");
    EXPECT_EQ(Base64Decode("YQ=="), "a");
    // Decoding goes on after a padded group.
    EXPECT_EQ(Base64Decode("YQ==YWJj"), "aabc");
}

TEST(Base64Decode, LoopBoundLeavesShortTailsAlone)
{
    EXPECT_EQ(Base64Decode(""), "");
    EXPECT_EQ(Base64Decode("YWJ"), "");           // fewer than four characters
    EXPECT_EQ(Base64Decode("YWJjYW"), "abc");     // a short last group is not decoded
    EXPECT_EQ(Base64Decode("YWJj\r\n"), "abc");   // nor is a trailing CR LF
    EXPECT_EQ(Base64Decode("YWJjYWJj"), "abcabc");
    // A short group right after a line break is decoded, missing characters as 0.
    EXPECT_EQ(Base64Decode("YWJj\r\nYQ"), std::string("abca\0\0", 6));
}

TEST(Base64Decode, LineBreaks)
{
    // Lines of 72 characters (a multiple of four) work.
    std::string data;
    for (int i = 0; i < 200; ++i)
        data += static_cast<char>(i * 7);
    std::string text = Base64Encode(data);
    std::string lines72;
    std::string flat;
    for (char c : text)
        if (c != '\r' && c != '\n')
            flat += c;
    for (size_t i = 0; i < flat.size(); i += 72)
        lines72 += flat.substr(i, 72) + "\r\n";
    EXPECT_EQ(Base64Decode(lines72), data);
    EXPECT_EQ(Base64Decode(flat), data);

    // Lines of 70 characters fail at the first line break.
    std::string lines70;
    for (size_t i = 0; i < flat.size(); i += 70)
        lines70 += flat.substr(i, 70) + "\r\n";
    EXPECT_EQ(decodeError(lines70), "invalid base64 character 0x0d at index 70");
}

TEST(Base64Decode, ForeignCharactersFail)
{
    EXPECT_EQ(decodeError("YWJj YWJj"), "invalid base64 character 0x20 at index 4");
    EXPECT_EQ(decodeError("YWJj\nYWJj"), "invalid base64 character 0x0a at index 4");
    EXPECT_EQ(decodeError("YW=j"), "invalid base64 character 0x3d at index 2");
    EXPECT_EQ(decodeError("YWJj\r\n\r\nYWJj"), "invalid base64 character 0x0d at index 6");
    EXPECT_EQ(decodeError("YWJ\xe9"), "invalid base64 character 0xe9 at index 3");
    // "=" in the third place with a data character in the fourth is not a pad.
    EXPECT_EQ(decodeError("YQ=j"), "invalid base64 character 0x3d at index 2");
    EXPECT_EQ(decodeError("Y\x01=="), "invalid base64 character 0x01 at index 1");
}

TEST(Base64Decode, FailureLeavesAppendTargetUnchanged)
{
    std::string out = "kept";
    EXPECT_THROW(Base64DecodeAppend(out, "YWJjYWJjYW J"), tolmail::Error);
    EXPECT_EQ(out, "kept");
}

TEST(Base64Value, Alphabet)
{
    EXPECT_EQ(Base64Value(""), 0);
    EXPECT_EQ(Base64Value("A"), 0);
    EXPECT_EQ(Base64Value("z"), 51);
    EXPECT_EQ(Base64Value("+"), 62);
    EXPECT_EQ(Base64Value("/"), 63);
    EXPECT_THROW(Base64Value("="), tolmail::Error);
    EXPECT_THROW(Base64Value("-"), tolmail::Error);
}

TEST(Base64, WorksOnAnyThreadWithoutInit)
{
    std::string encoded;
    std::string decoded;
    portable::Thread t([&] {
        encoded = Base64Encode("thread");
        decoded = Base64Decode(encoded);
    });
    t.join();
    EXPECT_EQ(encoded, "dGhyZWFk\r\n");
    EXPECT_EQ(decoded, "thread");
    InitBase64Table();
    EXPECT_EQ(Base64Encode("thread"), encoded);
}
