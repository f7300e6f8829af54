// Writing encoded words: the B/Q choice, runs of words, folding at 76 columns, and
// never a word that ends inside a UTF-8 sequence; plus the UTF-8 sequence rules.
#include "codec/encoded_word_encoder.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "codec/base64.h"
#include "codec/utf8.h"

using namespace tolmail::codec;

namespace {

/// The decoded payload of one encoded word "=?UTF-8?X?...?=".
std::string payload(const std::string& word)
{
    const std::string text = word.substr(10, word.size() - 12);
    if (word[8] == 'B')
        return Base64Decode(text);
    std::string out;
    for (size_t i = 0; i < text.size(); ++i) {
        if (text[i] == '_')
            out += ' ';
        else if (text[i] == '=')
            out += static_cast<char>(std::stoi(text.substr(i + 1, 2), nullptr, 16)), i += 2;
        else
            out += text[i];
    }
    return out;
}

/// What a reader makes of a header value: folds undone, encoded words decoded, the
/// blanks between two adjacent encoded words dropped. Also checks every line's length
/// (the first counted from `column`) and that each word holds whole UTF-8 sequences.
std::string readBack(const std::string& value, size_t column)
{
    size_t start = 0;
    for (size_t end; (end = value.find("\r\n", start)) != std::string::npos; start = end + 2, column = 0)
        EXPECT_LE(column + end - start, kFoldedLineLength) << value;
    EXPECT_LE(column + value.size() - start, kFoldedLineLength) << value;

    std::string unfolded = value;
    for (size_t f; (f = unfolded.find("\r\n")) != std::string::npos;)
        unfolded.erase(f, 2);
    std::string out;
    bool lastEncoded = false;
    size_t i = 0;
    while (i < unfolded.size()) {
        const size_t blanks = unfolded.find_first_not_of(" \t", i);
        const std::string gap = unfolded.substr(i, (blanks == std::string::npos ? unfolded.size() : blanks) - i);
        if (blanks == std::string::npos) {
            out += gap;
            break;
        }
        size_t end = unfolded.find_first_of(" \t", blanks);
        end = end == std::string::npos ? unfolded.size() : end;
        const std::string word = unfolded.substr(blanks, end - blanks);
        const bool encoded = word.rfind("=?UTF-8?", 0) == 0 && word.size() > 12;
        if (encoded) {
            EXPECT_LE(word.size(), 75u) << word;
            EXPECT_TRUE(IsUtf8(payload(word))) << word;
        }
        out += (encoded && lastEncoded ? "" : gap) + (encoded ? payload(word) : word);
        lastEncoded = encoded;
        i = end;
    }
    return out;
}

} // namespace

TEST(EncodedWordEncoder, ChoosesTheShorterEncodingAndKeepsPlainWords)
{
    const struct {
        std::string text;
        WordPlace place;
        std::string written;
    } cases[] = {
        {"plain ascii, stays (as it is)", WordPlace::Text, "plain ascii, stays (as it is)"},
        {"", WordPlace::Phrase, ""},
        {"Hello Zoë world", WordPlace::Text, "Hello =?UTF-8?Q?Zo=C3=AB?= world"},
        // One run over both words: the blank goes inside, where a reader keeps it.
        {"Zoë Ångström", WordPlace::Phrase, "=?UTF-8?B?Wm/DqyDDhW5nc3Ryw7Zt?="},
        {"Zürichsee-Schifffahrt", WordPlace::Text, "=?UTF-8?Q?Z=C3=BCrichsee-Schifffahrt?="},
        {"中文", WordPlace::Text, "=?UTF-8?B?5Lit5paH?="},
        // A word that looks like an encoded word would be decoded by a reader.
        {"see =?x?Q?y?=", WordPlace::Text, "see =?UTF-8?B?PT94P1E/eT89?="},
        // In a phrase a word with specials joins the run: quotes cannot hold encoded words.
        {"Zoë \"b\" a", WordPlace::Phrase, "=?UTF-8?B?Wm/DqyAiYiI=?= a"},
        {"Zoë \"b\" a", WordPlace::Text, "=?UTF-8?Q?Zo=C3=AB?= \"b\" a"},
        // Ill-formed bytes go out as U+FFFD, never as bytes labelled UTF-8.
        {"x\xC3(", WordPlace::Text, "=?UTF-8?B?eO+/vSg=?="},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.text);
        EXPECT_EQ(EncodeHeaderText(c.text, c.place, 9), c.written);
    }
}

TEST(EncodedWordEncoder, FoldsAt76ColumnsBetweenWholeCharacters)
{
    std::string chinese, emoji, latin, mixed;
    for (int i = 0; i < 40; ++i)
        chinese += "中文字";
    for (int i = 0; i < 30; ++i)
        emoji += "😀";
    for (int i = 0; i < 30; ++i)
        latin += "Ærø ";
    for (int i = 0; i < 12; ++i)
        mixed += "word Привет longerword ";
    const std::string texts[] = {chinese, emoji, latin + "end", mixed, "Zoë " + std::string(60, 'x') + " z"};
    for (const auto& text : texts) {
        for (const size_t column : {0u, 9u, 30u, 50u}) {
            SCOPED_TRACE(text.substr(0, 20) + " at column " + std::to_string(column));
            const std::string written = EncodeHeaderText(text, WordPlace::Text, column);
            EXPECT_EQ(readBack(written, column), text);
            EXPECT_NE(written.find("\r\n "), std::string::npos);
        }
    }
    const std::string words = EncodeAsWords("Résumé – 2026 " + chinese, 8);
    EXPECT_EQ(readBack(" " + words, 7), " Résumé – 2026 " + chinese);
    EXPECT_EQ(words.find_first_not_of(" "), 0u);
}

TEST(Utf8, SequenceLengths)
{
    const struct {
        std::string bytes;
        size_t length;
    } sequences[] = {
        {"\xC3\xA9", 2}, {"\xE4\xB8\xAD", 3}, {"\xF0\x9F\x98\x80", 4},
        {"\x80", 0},              // a continuation byte alone
        {"\xC0\x80", 0},          // overlong NUL
        {"\xE0\x80\xAF", 0},      // overlong
        {"\xED\xA0\x80", 0},      // a surrogate
        {"\xF4\x90\x80\x80", 0},  // above U+10FFFF
        {"\xE4\xB8", 0},          // cut short
        {"\xF5\x80\x80\x80", 0},
    };
    for (const auto& s : sequences)
        EXPECT_EQ(Utf8SequenceLength(s.bytes), s.length) << testing::PrintToString(s.bytes);

    EXPECT_EQ(WellFormedUtf8("a\xED\xA0\x80z"), "a\xEF\xBF\xBD\xEF\xBF\xBD\xEF\xBF\xBDz");
    EXPECT_EQ(Utf8CharacterCount("Zoë中😀\x80"), 6u);
}
