// Charset conversion: the labels mail uses, the Latin-1 fallback, and the round trip.
#include "platform/charset.h"

#include <gtest/gtest.h>

#include <string_view>

#include "support/portable.h"

using namespace tolmail::platform;

TEST(Charset, ToUtf8)
{
    struct Case {
        const char* charset;
        std::string bytes;
        std::string utf8;
    };
    const Case cases[] = {
        {"ISO-8859-1", "caf\xe9", "caf\xc3\xa9"},
        {"latin1", "\xe9t\xe9", "\xc3\xa9t\xc3\xa9"},
        {"iso-8859-15", "\xa4", "\xe2\x82\xac"},                // the euro sign, not the currency sign
        {"Windows-1252", "\x93quoted\x94", "\xe2\x80\x9cquoted\xe2\x80\x9d"},
        {"cp1252", "\x80", "\xe2\x82\xac"},
        {"x-cp1252", "\x80", "\xe2\x82\xac"},
        {"KOI8-R", "\xf0\xd2\xc9\xd7\xc5\xd4", "\xd0\x9f\xd1\x80\xd0\xb8\xd0\xb2\xd0\xb5\xd1\x82"},
        {"koi8-u", "\xa4", "\xd1\x94"},
        {"Shift_JIS", "\x93\xfa\x96\x7b", "\xe6\x97\xa5\xe6\x9c\xac"},
        {"x-sjis", "\x93\xfa\x96\x7b", "\xe6\x97\xa5\xe6\x9c\xac"},
        {"EUC-JP", "\xc6\xfc\xcb\xdc", "\xe6\x97\xa5\xe6\x9c\xac"},
        {"ISO-2022-JP", "\x1b$BF|K\\\x1b(B", "\xe6\x97\xa5\xe6\x9c\xac"},
        {"gb2312", "\xd6\xd0\xce\xc4", "\xe4\xb8\xad\xe6\x96\x87"},
        {"GB18030", "\x81\x30\x81\x30", "\xc2\x80"},
        {"big5", "\xa4\xa4\xa4\xe5", "\xe4\xb8\xad\xe6\x96\x87"},
        {"euc-kr", "\xc7\xd1\xb1\xdb", "\xed\x95\x9c\xea\xb8\x80"},
        {"\"UTF-8\"", "\xc3\xa9", "\xc3\xa9"},
        // Mislabelled UTF-8 is common and kept; a stray byte alone is read as Latin-1.
        {"us-ascii", "\xc3\xa9", "\xc3\xa9"},
        {"utf-8", "a\xe9z", "a\xc3\xa9z"},
        {"utf-8", "\xed\xa0\x80", "\xc3\xad\xc2\xa0\xc2\x80"},  // a surrogate is not UTF-8
        // Unknown or impossible names: every byte as Latin-1.
        {"x-no-such-charset", "\xe9", "\xc3\xa9"},
        {"../../etc/passwd", "\xe9", "\xc3\xa9"},
        {"UTF-8//TRANSLIT", "\xe9", "\xc3\xa9"},
        {"", "\xe9", "\xc3\xa9"},
        // A sequence invalid in a known charset: its bytes as Latin-1, the rest converted.
        {"Shift_JIS", "\x93\xfa\x81", "\xe6\x97\xa5\xc2\x81"},
        // Not ASCII-transparent: even plain letters go through the converter.
        {"UTF-16BE", std::string("\0A", 2), "A"},
    };
    for (const Case& c : cases) {
#ifdef _WIN32
        // Wine has no GB18030 code page; the superset GBK stands in for it there.
        if (std::string_view(c.charset) == "GB18030" && !IsValidCodePage(54936))
            continue;
#endif
        EXPECT_EQ(ToUtf8(c.charset, c.bytes), c.utf8) << c.charset << " " << c.bytes;
    }
}

TEST(Charset, FromUtf8RoundTrips)
{
    const char* charsets[] = {"ISO-8859-1", "windows-1252", "KOI8-R", "Shift_JIS", "ISO-2022-JP", "GB2312", "UTF-8"};
    const std::string texts[] = {"caf\xc3\xa9", "\xd0\x9f\xd1\x80\xd0\xb8", "\xe6\x97\xa5\xe6\x9c\xac", "plain"};
    for (const char* charset : charsets) {
        for (const std::string& text : texts) {
            const auto bytes = FromUtf8(charset, text);
            if (!bytes)
                continue;  // the charset cannot hold it
            EXPECT_EQ(ToUtf8(charset, *bytes), text) << charset;
        }
    }
    // ISO-2022-JP ends back in ASCII, or the next text would be read in the wrong set.
    EXPECT_EQ(FromUtf8("ISO-2022-JP", "\xe6\x97\xa5"), std::string("\x1b$BF|\x1b(B"));
    EXPECT_EQ(FromUtf8("ISO-8859-1", "\xe6\x97\xa5"), std::nullopt);
    EXPECT_EQ(FromUtf8("us-ascii", "caf\xc3\xa9"), std::nullopt);
    EXPECT_EQ(FromUtf8("no-such-charset", "a"), std::nullopt);
    EXPECT_EQ(FromUtf8("ISO-8859-1", "\xe9"), std::nullopt);  // not UTF-8 to begin with
}

TEST(Charset, StatefulCharsetStartsFreshEachTime)
{
    // A text cut inside a shift leaves the cached converter shifted; the next must not
    // be read in that state.
    (void)ToUtf8("ISO-2022-JP", "\x1b$BF|");
    EXPECT_EQ(ToUtf8("ISO-2022-JP", "\x1b(Babc\xe9"), "abc\xc3\xa9");
}

TEST(Charset, ThreadsHaveTheirOwnConverters)
{
    std::string results[4];
    portable::Thread threads[4];
    for (int i = 0; i < 4; ++i) {
        threads[i] = portable::Thread([&results, i] {
            for (int n = 0; n < 2000; ++n)
                results[i] = ToUtf8(i % 2 ? "KOI8-R" : "Shift_JIS", i % 2 ? "\xf0" : "\x93\xfa");
        });
    }
    for (portable::Thread& t : threads)
        t.join();
    EXPECT_EQ(results[0], "\xe6\x97\xa5");
    EXPECT_EQ(results[1], "\xd0\x9f");
}
