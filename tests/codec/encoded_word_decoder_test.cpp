// Encoded words in header text: decoding, joining, and what is left alone.
#include "codec/encoded_word_decoder.h"

#include <gtest/gtest.h>

using tolmail::codec::DecodeEncodedWords;

TEST(EncodedWords, Decoding)
{
    const std::pair<std::string, std::string> cases[] = {
        {"=?utf-8?Q?caf=C3=A9?=", "caf\xc3\xa9"},
        {"=?UTF-8?b?Y2Fmw6k=?=", "caf\xc3\xa9"},
        {"=?utf-8?B?Y2Fmw6k?=", "caf\xc3\xa9"},  // padding left out
        {"=?iso-8859-1?q?a_b=E9?=", "a b\xc3\xa9"},
        {"=?utf-8*en?Q?hi?=", "hi"},  // a language suffix
        // White space between words goes; around them it stays.
        {"Re: =?utf-8?Q?a?= =?utf-8?Q?b?=  end", "Re: ab  end"},
        {"=?utf-8?Q?a?=\t =?iso-8859-1?Q?=E9?=", "a\xc3\xa9"},
        {"=?utf-8?Q?a?= x =?utf-8?Q?b?=", "a x b"},
        // One character split over two words.
        {"=?utf-8?B?w6k=?= =?utf-8?Q?=E2=82?= =?UTF-8?Q?=AC?=", "\xc3\xa9\xe2\x82\xac"},
        {"=?shift_jis?B?k/o=?==?shift_jis?B?lns=?=", "\xe6\x97\xa5\xe6\x9c\xac"},
        // Malformed words stay as they stand.
        {"=?utf-8?X?abc?=", "=?utf-8?X?abc?="},
        {"=?utf-8?Q?a b?=", "=?utf-8?Q?a b?="},
        {"=?utf-8?B?w6k*?=", "=?utf-8?B?w6k*?="},
        {"=?utf-8?B?Y?=", "=?utf-8?B?Y?="},
        {"=?utf-8?Q?=E?=", "=?utf-8?Q?=E?="},
        {"=??Q?a?=", "=??Q?a?="},
        {"=?utf-8?Q?unterminated", "=?utf-8?Q?unterminated"},
        {"a =?utf-8?Q?x", "a =?utf-8?Q?x"},
        {"=?=?utf-8?Q?b?=", "=?b"},
        // Text around words: UTF-8 kept, other bytes as Latin-1.
        {"\xc3\xa9t\xc3\xa9", "\xc3\xa9t\xc3\xa9"},
        {"\xe9t\xe9 =?utf-8?Q?x?=", "\xc3\xa9t\xc3\xa9 x"},
        {"=?x-unknown?Q?=E9?=", "\xc3\xa9"},
    };
    for (const auto& [text, expected] : cases)
        EXPECT_EQ(DecodeEncodedWords(text), expected) << text;
}

TEST(EncodedWords, ManyMalformedWordsStayLinear)
{
    std::string text;
    for (int i = 0; i < 20000; ++i)
        text += "=?a?Q?b";
    EXPECT_EQ(DecodeEncodedWords(text), text);
}
