// Reply words, blanking, leading junk, address entries, content types, zone offsets.
#include "codec/wordfunc.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <ctime>

#include "platform/local_time.h"

using namespace tolmail::codec;

TEST(GetWord, Numbering)
{
    const std::string reply = "+OK 2 320";
    EXPECT_EQ(GetWord(reply, 1), "+OK");
    EXPECT_EQ(GetWord(reply, 2), "2");
    EXPECT_EQ(GetWord(reply, 3), "320");
    EXPECT_EQ(GetWord(reply, 4), "");
    EXPECT_EQ(GetWord(reply, 0), "");
    EXPECT_EQ(GetWord(reply, -5), "");
    EXPECT_EQ(GetWord("  a\tb  ", 2), "b");
    EXPECT_EQ(GetWord("  a\tb  ", 3), "");
    EXPECT_EQ(GetWord("x\r\n", 1), "x");
    EXPECT_EQ(GetWord("a\xa0" "b", 2), "b");
    EXPECT_EQ(GetWord("", 1), "");
    EXPECT_EQ(GetWord("   ", 1), "");
}

TEST(NormalizeBlanks, KeepsLength)
{
    EXPECT_EQ(NormalizeBlanks("a\tb\rc\nd\xa0" "e"), "a b c d e");
    EXPECT_EQ(NormalizeBlanks("\x0b"), "\x0b");
}

TEST(BlankOut, OverwritesFirstCharacterOfEachHit)
{
    EXPECT_EQ(BlankOut("\"report.pdf\"", "\""), " report.pdf ");
    EXPECT_EQ(BlankOut("aaa", "aa"), "  a");
    EXPECT_EQ(BlankOut("abc", ""), "abc");
    EXPECT_EQ(BlankOut("abc", "x"), "abc");
}

TEST(StripLeadingJunk, Limits)
{
    std::string text = ": <a@b.example>";
    EXPECT_EQ(StripLeadingJunk(text), "<a@b.example>");
    EXPECT_EQ(text, "<a@b.example>");

    text = " a";  // only one character is examined
    EXPECT_EQ(StripLeadingJunk(text), "");
    EXPECT_EQ(text, "");

    text = "ab";
    EXPECT_EQ(StripLeadingJunk(text), "ab");
    EXPECT_EQ(text, "ab");

    text = "x";
    EXPECT_EQ(StripLeadingJunk(text), "");
    text = "";
    EXPECT_EQ(StripLeadingJunk(text), "");
    text = "\"Name\" <n@x>";
    EXPECT_EQ(StripLeadingJunk(text), "\"Name\" <n@x>");
}

TEST(SplitAddress, Entries)
{
    std::string list = "John Smith <john@example.com>";
    AddressEntry e = SplitAddress(list);
    EXPECT_EQ(e.Name, "John Smith");
    EXPECT_EQ(e.Address, "john@example.com");
    EXPECT_EQ(list, "");

    list = "a@x.example, b@y.example";
    e = SplitAddress(list);
    EXPECT_EQ(e.Name, "");
    EXPECT_EQ(e.Address, "a@x.example");
    EXPECT_EQ(list, " b@y.example");
    e = SplitAddress(list);
    EXPECT_EQ(e.Address, "b@y.example");
    EXPECT_EQ(list, "");

    list = "\"Smith, J\" <j@x>";  // the comma inside quotes still splits
    e = SplitAddress(list);
    EXPECT_EQ(e.Name, "");
    EXPECT_EQ(e.Address, "\"Smith");

    list = "\"J Smith\" <j@x>";
    EXPECT_EQ(SplitAddress(list).Name, "\"J Smith\"");

    list = "<only@x>";
    e = SplitAddress(list);
    EXPECT_EQ(e.Name, "");
    EXPECT_EQ(e.Address, "only@x");
}

TEST(SplitAddress, OpenBracketWithoutClose)
{
    std::string list = "Name <broken@x , next@y";
    const AddressEntry e = SplitAddress(list);
    EXPECT_EQ(e.Name, "Name");
    EXPECT_EQ(e.Address, "broken@x");
    EXPECT_EQ(list, " next@y");
    list = "<";
    EXPECT_EQ(SplitAddress(list).Address, "");
}

TEST(ParseContentType, Splits)
{
    std::string type, subtype, params;
    ParseContentType("multipart/mixed; boundary=\"xyz\"", type, subtype, params);
    EXPECT_EQ(type, "multipart");
    EXPECT_EQ(subtype, "mixed");
    EXPECT_EQ(params, "boundary=\"xyz\"");

    ParseContentType("text/plain;", type, subtype, params);
    EXPECT_EQ(subtype, "plain");
    EXPECT_EQ(params, "");
    ParseContentType("text/plain", type, subtype, params);
    EXPECT_EQ(type, "text");
    EXPECT_EQ(subtype, "plain");
    EXPECT_EQ(params, "");

    ParseContentType("text/ plain ;\tcharset=x\r\n", type, subtype, params);
    EXPECT_EQ(subtype, "plain");
    EXPECT_EQ(params, "charset=x");

    // The type is cut from the first word by the slash's place in the whole text.
    ParseContentType("text x/y", type, subtype, params);
    EXPECT_EQ(type, "text");
    EXPECT_EQ(subtype, "y");
}

TEST(ParseContentType, EmptyAndOddTexts)
{
    std::string type = "t", subtype = "s", params = "p";
    ParseContentType("", type, subtype, params);
    EXPECT_EQ(type + subtype + params, "tsp");

    ParseContentType("text; name=a/b", type, subtype, params);
    EXPECT_EQ(type, "text");
    EXPECT_EQ(subtype, "");
    EXPECT_EQ(params, "name=a/b");

    ParseContentType("plain", type, subtype, params);
    EXPECT_EQ(type, "plain");
    EXPECT_EQ(subtype, "");
    EXPECT_EQ(params, "");

    ParseContentType("/x", type, subtype, params);
    EXPECT_EQ(type, "");
    EXPECT_EQ(subtype, "x");
}

TEST(TimeZoneOffset, Text)
{
    EXPECT_EQ(TimeZoneOffsetText(0), "+0000");
    EXPECT_EQ(TimeZoneOffsetText(-60), "+0100");
    EXPECT_EQ(TimeZoneOffsetText(300), "-0500");
    EXPECT_EQ(TimeZoneOffsetText(-330), "+0530");
    EXPECT_EQ(TimeZoneOffsetText(-720), "+1200");
    EXPECT_EQ(TimeZoneOffsetText(570), "-0930");
}

namespace {

class ZoneTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        const char* tz = std::getenv("TZ");
        hadTz_ = tz != nullptr;
        if (hadTz_)
            savedTz_ = tz;
    }
    void TearDown() override
    {
        if (hadTz_)
            setenv("TZ", savedTz_.c_str(), 1);
        else
            unsetenv("TZ");
        tzset();
    }
    static void use(const char* tz)
    {
        setenv("TZ", tz, 1);
        tzset();
    }

private:
    bool hadTz_ = false;
    std::string savedTz_;
};

} // namespace

TEST_F(ZoneTest, FixedZones)
{
    use("UTC0");
    EXPECT_EQ(TimeZoneOffset(), "+0000");
    use("EST5");
    EXPECT_EQ(TimeZoneOffset(), "-0500");
    use("IST-5:30");
    EXPECT_EQ(TimeZoneOffset(), "+0530");
    use("NZST-12");
    EXPECT_EQ(TimeZoneOffset(), "+1200");
}

TEST_F(ZoneTest, DaylightSavingInEffectCounts)
{
    // Central European rules written out, so no zone database is needed.
    use("CET-1CEST,M3.5.0,M10.5.0/3");
    const std::time_t winter = 1767225600;  // 2026-01-01 00:00 UTC
    const std::time_t summer = 1782864000;  // 2026-07-01 00:00 UTC
    EXPECT_EQ(TimeZoneOffsetText(tolmail::platform::LocalAt(winter).biasMinutes), "+0100");
    EXPECT_EQ(TimeZoneOffsetText(tolmail::platform::LocalAt(summer).biasMinutes), "+0200");
    const auto t = tolmail::platform::LocalAt(summer);
    EXPECT_EQ(tolmail::platform::MailDateText(t), "Wed, 01 Jul 2026 02:00:00");
    // The zone text of "now" agrees with the clock reading of now.
    const std::string now = TimeZoneOffset();
    EXPECT_TRUE(now == "+0100" || now == "+0200") << now;
}
