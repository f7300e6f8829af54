// Encoded words are written by every kind of mailer, so the reader is lenient where
// the intent is clear (missing base64 padding, over-long words, a language suffix) and
// leaves alone what it cannot read rather than guess.
#include "codec/encoded_word_decoder.h"

#include <optional>

#include "codec/wordfunc.h"
#include "platform/charset.h"

namespace tolmail::codec {

namespace {

struct EncodedWord {
    std::string_view charset;  // without a language suffix
    std::string bytes;         // the decoded octets, still in `charset`
    size_t end = 0;            // the position just past "?="
};

int Base64Digit(char c)
{
    if (c >= 'A' && c <= 'Z')
        return c - 'A';
    if (c >= 'a' && c <= 'z')
        return c - 'a' + 26;
    if (c >= '0' && c <= '9')
        return c - '0' + 52;
    if (c == '+')
        return 62;
    if (c == '/')
        return 63;
    return -1;
}

std::optional<std::string> DecodeB(std::string_view text)
{
    std::string out;
    out.reserve(text.size() * 3 / 4);
    uint32_t bits = 0;
    int count = 0;
    size_t at = 0;
    for (; at < text.size() && text[at] != '='; ++at) {
        const int digit = Base64Digit(text[at]);
        if (digit < 0)
            return std::nullopt;
        bits = (bits << 6) | static_cast<uint32_t>(digit);
        if (++count == 4) {
            out += static_cast<char>((bits >> 16) & 0xFF);
            out += static_cast<char>((bits >> 8) & 0xFF);
            out += static_cast<char>(bits & 0xFF);
            bits = 0;
            count = 0;
        }
    }
    for (; at < text.size(); ++at) {
        if (text[at] != '=')
            return std::nullopt;  // text after the padding
    }
    if (count == 1)
        return std::nullopt;  // six bits make no octet
    if (count == 2) {
        out += static_cast<char>((bits >> 4) & 0xFF);
    } else if (count == 3) {
        out += static_cast<char>((bits >> 10) & 0xFF);
        out += static_cast<char>((bits >> 2) & 0xFF);
    }
    return out;
}

std::optional<std::string> DecodeQ(std::string_view text)
{
    std::string out;
    out.reserve(text.size());
    for (size_t at = 0; at < text.size(); ++at) {
        const char c = text[at];
        if (c == '_') {
            out += ' ';
        } else if (c == '=') {
            if (at + 2 >= text.size())
                return std::nullopt;
            const int high = HexDigit(text[at + 1]);
            const int low = HexDigit(text[at + 2]);
            if (high < 0 || low < 0)
                return std::nullopt;
            out += static_cast<char>(high * 16 + low);
            at += 2;
        } else if (c == ' ' || c == '\t') {
            return std::nullopt;
        } else {
            out += c;
        }
    }
    return out;
}

/// The encoded word that begins at `at` (which holds "=?"), or nothing.
std::optional<EncodedWord> ReadWord(std::string_view text, size_t at)
{
    const size_t charsetStart = at + 2;
    const size_t q1 = text.find('?', charsetStart);
    if (q1 == std::string_view::npos || q1 == charsetStart || q1 + 3 > text.size() || text[q1 + 2] != '?')
        return std::nullopt;
    std::string_view charset = text.substr(charsetStart, q1 - charsetStart);
    if (charset.find_first_of(" \t") != std::string_view::npos)
        return std::nullopt;
    if (const size_t star = charset.find('*'); star != std::string_view::npos)
        charset = charset.substr(0, star);  // the language does not change the octets
    const char encoding = text[q1 + 1];
    const size_t textStart = q1 + 3;
    // Encoded text holds no "?": the next one must begin the "?=" (searching for "?="
    // itself would rescan the rest of the text for every malformed word).
    const size_t close = text.find('?', textStart);
    if (close == std::string_view::npos || close + 1 >= text.size() || text[close + 1] != '=' || charset.empty())
        return std::nullopt;
    const std::string_view encoded = text.substr(textStart, close - textStart);
    std::optional<std::string> bytes;
    if (encoding == 'B' || encoding == 'b')
        bytes = DecodeB(encoded);
    else if (encoding == 'Q' || encoding == 'q')
        bytes = DecodeQ(encoded);
    if (!bytes)
        return std::nullopt;
    return EncodedWord{charset, std::move(*bytes), close + 2};
}

bool SameCharset(std::string_view a, std::string_view b)
{
    if (a.size() != b.size())
        return false;
    for (size_t i = 0; i < a.size(); ++i) {
        const auto lower = [](char c) { return c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c; };
        if (lower(a[i]) != lower(b[i]))
            return false;
    }
    return true;
}

bool OnlyWhiteSpace(std::string_view text)
{
    return text.find_first_not_of(" \t\r\n") == std::string_view::npos;
}

} // namespace

std::string DecodeEncodedWords(std::string_view text)
{
    std::string out;
    out.reserve(text.size());
    // Octets of adjacent words in one charset wait here to be converted together.
    std::string_view pendingCharset;
    std::string pending;
    const auto flush = [&] {
        if (!pending.empty())
            out += platform::ToUtf8(pendingCharset, pending);
        pending.clear();
        pendingCharset = {};
    };

    size_t copied = 0;       // text before this is in `out` or `pending`
    bool afterWord = false;  // the last thing taken was an encoded word
    size_t at = text.find("=?");
    while (at != std::string_view::npos) {
        std::optional<EncodedWord> word = ReadWord(text, at);
        if (!word) {
            at = text.find("=?", at + 2);
            continue;
        }
        const std::string_view between = text.substr(copied, at - copied);
        if (!(afterWord && OnlyWhiteSpace(between))) {
            flush();
            out += platform::ToUtf8("UTF-8", between);
        } else if (!SameCharset(pendingCharset, word->charset)) {
            flush();
        }
        pendingCharset = word->charset;
        pending += word->bytes;
        afterWord = true;
        copied = word->end;
        at = text.find("=?", copied);
    }
    flush();
    out += platform::ToUtf8("UTF-8", text.substr(copied));
    return out;
}

} // namespace tolmail::codec
