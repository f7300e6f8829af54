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
    EXPECT_EQ(GetWord(reply, 1) + "|" + GetWord(reply, 2) + "|" + GetWord(reply, 3), "+OK|2|320");
    EXPECT_EQ(GetWord(reply, 4), "");
    EXPECT_EQ(GetWord(reply, 0), "");
    EXPECT_EQ(GetWord(reply, -5), "");
    EXPECT_EQ(GetWord("  a\tb  ", 2), "b");  // tab is a blank; leading and doubled skipped
    EXPECT_EQ(GetWord("  a\tb  ", 3), "");
    EXPECT_EQ(GetWord("a\xa0" "b\r\n", 2), "b");
    EXPECT_EQ(GetWord("   ", 1), "");
}

TEST(NormalizeBlanksAndBlankOut, ReplaceInPlace)
{
    EXPECT_EQ(NormalizeBlanks("a\tb\rc\nd\xa0" "e\x0b"), "a b c d e\x0b");
    EXPECT_EQ(BlankOut("\"report.pdf\"", "\""), " report.pdf ");
    EXPECT_EQ(BlankOut("aaa", "aa"), "  a");  // the next search starts one further on
    EXPECT_EQ(BlankOut("abc", ""), "abc");
}

TEST(StripLeadingJunk, Limits)
{
    const std::pair<std::string, std::string> cases[] = {
        {": <a@b.example>", "<a@b.example>"},
        {" a", ""},  // only the first L - 1 characters are examined
        {"ab", "ab"},
        {"x", ""},
        {"", ""},
        {"\"Name\" <n@x>", "\"Name\" <n@x>"},
    };
    for (const auto& [input, expected] : cases) {
        std::string text = input;
        EXPECT_EQ(StripLeadingJunk(text), expected) << input;
        EXPECT_EQ(text, expected) << input;
    }
}

TEST(SplitAddress, Entries)
{
    struct Case {
        std::string list, name, address, rest;
    };
    const Case cases[] = {
        {"John Smith <john@example.com>", "John Smith", "john@example.com", ""},
        {"a@x.example, b@y.example", "", "a@x.example", " b@y.example"},
        {" b@y.example", "", "b@y.example", ""},
        {"\"J Smith\" <j@x>", "\"J Smith\"", "j@x", ""},   // quotes stay in Name
        {"\"Smith, J\" <j@x>, k@y", "\"Smith, J\"", "j@x", " k@y"},  // a quoted comma is the name's
        {"\"<a@b>\" <j@x>", "\"<a@b>\"", "j@x", ""},
        {"\"open, <j@x>", "", "\"open", " <j@x>"},  // a quote that never closes is a character
        {"<a,b@x>", "", "a", "b@x>"},                   // without quotes every comma splits
        {"<only@x>", "", "only@x", ""},
        {"Name <broken@x , next@y", "Name", "broken@x", " next@y"},  // no ">"
        {"<", "", "", ""},
    };
    for (const auto& c : cases) {
        std::string list = c.list;
        const AddressEntry e = SplitAddress(list);
        EXPECT_EQ(e.Name + "|" + e.Address + "|" + list, c.name + "|" + c.address + "|" + c.rest) << c.list;
    }
}

TEST(ParseContentType, Splits)
{
    struct Case {
        std::string text, type, subtype, params;
    };
    const Case cases[] = {
        {"multipart/mixed; boundary=\"xyz\"", "multipart", "mixed", "boundary=\"xyz\""},
        {"text/plain;", "text", "plain", ""},
        {"text/plain", "text", "plain", ""},
        {"text/ plain ;\tcharset=x\r\n", "text", "plain", "charset=x"},
        {"text x/y", "text", "y", ""},  // type cut from the first word
        {"text; name=a/b", "text", "", "name=a/b"},  // ";" before "/": nothing lost
        {"plain", "plain", "", ""},
        {"/x", "", "x", ""},
    };
    for (const auto& c : cases) {
        std::string type = "?", subtype = "?", params = "?";
        ParseContentType(c.text, type, subtype, params);
        EXPECT_EQ(type + "|" + subtype + "|" + params, c.type + "|" + c.subtype + "|" + c.params) << c.text;
    }
    std::string type = "t", subtype = "s", params = "p";
    ParseContentType("", type, subtype, params);
    EXPECT_EQ(type + subtype + params, "tsp");
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
        savedTz_ = hadTz_ ? tz : "";
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
    const std::pair<const char*, const char*> zones[] = {
        {"UTC0", "+0000"}, {"EST5", "-0500"}, {"IST-5:30", "+0530"}, {"NZST-12", "+1200"}};
    for (const auto& [tz, offset] : zones) {
        use(tz);
        EXPECT_EQ(TimeZoneOffset(), offset) << tz;
    }
}

TEST_F(ZoneTest, DaylightSavingInEffectCounts)
{
    // Central European rules written out, so no zone database is needed.
    use("CET-1CEST,M3.5.0,M10.5.0/3");
    const std::time_t winter = 1767225600;  // 2026-01-01 00:00 UTC
    const std::time_t summer = 1782864000;  // 2026-07-01 00:00 UTC
    EXPECT_EQ(TimeZoneOffsetText(tolmail::platform::LocalAt(winter).biasMinutes), "+0100");
    EXPECT_EQ(TimeZoneOffsetText(tolmail::platform::LocalAt(summer).biasMinutes), "+0200");
    EXPECT_EQ(tolmail::platform::MailDateText(tolmail::platform::LocalAt(summer)), "Wed, 01 Jul 2026 02:00:00");
    const std::string now = TimeZoneOffset();
    EXPECT_TRUE(now == "+0100" || now == "+0200") << now;
}
