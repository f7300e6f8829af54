// Content-Type and Content-Disposition parameters, plain and in the forms of RFC 2231.
#include "codec/mime_parameters.h"

#include <gtest/gtest.h>

using namespace tolmail::codec;

TEST(MimeParameters, Values)
{
    struct Case {
        const char* text;
        const char* name;
        std::optional<std::string> value;
    };
    const Case cases[] = {
        {"charset=\"utf-8\"; name=Report.pdf", "name", "Report.pdf"},
        {"charset=utf-8; NAME = \"a;b\\\"c.txt\" ", "name", "a;b\"c.txt"},
        {"name=\"no closing quote", "name", "no closing quote"},
        {"name*=utf-8''%C3%A9t%C3%A9.txt", "name", "\xc3\xa9t\xc3\xa9.txt"},
        {"name*=iso-8859-1'fr'%E9t%E9.txt", "name", "\xc3\xa9t\xc3\xa9.txt"},
        {"name*=''100%.txt", "name", "100%.txt"},
        // Sections in any order; only the first carries the charset; a character may
        // be split between two.
        {"filename*1*=%A9.txt; filename*0*=utf-8'en'%C3", "filename", "\xc3\xa9.txt"},
        {"filename*0=\"long \"; filename*2=\"end\"; filename*1=\"middle \"", "filename", "long middle end"},
        {"filename*0*=utf-8''a%C3%A9; filename*1=\"%41\"", "filename", "a\xc3\xa9%41"},
        // The extended form wins over a plain one, whichever comes first.
        {"name=\"plain.txt\"; name*=utf-8''ext.txt", "name", "ext.txt"},
        {"name*=utf-8''ext.txt; name=plain.txt", "name", "ext.txt"},
        // Encoded words in a plain value, as mailers write them.
        {"name=\"=?utf-8?B?w6l0w6kudHh0?=\"", "name", "\xc3\xa9t\xc3\xa9.txt"},
        {"name*x=bad; other=1", "name", std::nullopt},
        {"name*1000=a", "name", std::nullopt},
        {"charset=utf-8", "name", std::nullopt},
        {"attachment", "filename", std::nullopt},
        {"; ; =x; filename=a", "filename", "a"},
    };
    for (const Case& c : cases)
        EXPECT_EQ(ParameterText(ParseMimeParameters(c.text), c.name), c.value) << c.text;
}

TEST(MimeParameters, CountIsBounded)
{
    std::string text;
    for (int i = 0; i < 10000; ++i)
        text += "name*" + std::to_string(i % 1000) + "=x; ";
    const auto parameters = ParseMimeParameters(text);
    ASSERT_EQ(parameters.size(), 1u);
    EXPECT_EQ(parameters[0].value, std::string(kMaxParameters, 'x'));
}
