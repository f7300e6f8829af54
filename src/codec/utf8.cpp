// UTF-8 sequence boundaries (RFC 3629 section 4: the well-formed byte sequences).
#include "codec/utf8.h"

namespace tolmail::codec {

namespace {

bool isContinuation(unsigned char c)
{
    return (c & 0xC0) == 0x80;
}

/// Length of the sequence at the start of `text`, a stray byte counting as one.
size_t characterLength(std::string_view text)
{
    const size_t n = Utf8SequenceLength(text);
    return n == 0 ? 1 : n;
}

} // namespace

size_t Utf8SequenceLength(std::string_view text)
{
    if (text.empty())
        return 0;
    const auto lead = static_cast<unsigned char>(text[0]);
    if (lead < 0x80)
        return 1;
    size_t length = 0;
    // The second byte's range excludes overlong forms, surrogates and values above
    // U+10FFFF, which are the ill-formed sequences that look well-formed byte by byte.
    unsigned char low = 0x80, high = 0xBF;
    if (lead >= 0xC2 && lead <= 0xDF)
        length = 2;
    else if (lead >= 0xE0 && lead <= 0xEF) {
        length = 3;
        low = lead == 0xE0 ? 0xA0 : 0x80;
        high = lead == 0xED ? 0x9F : 0xBF;
    } else if (lead >= 0xF0 && lead <= 0xF4) {
        length = 4;
        low = lead == 0xF0 ? 0x90 : 0x80;
        high = lead == 0xF4 ? 0x8F : 0xBF;
    } else {
        return 0;
    }
    if (text.size() < length)
        return 0;
    const auto second = static_cast<unsigned char>(text[1]);
    if (second < low || second > high)
        return 0;
    for (size_t i = 2; i < length; ++i) {
        if (!isContinuation(static_cast<unsigned char>(text[i])))
            return 0;
    }
    return length;
}

bool IsUtf8(std::string_view text)
{
    while (!text.empty()) {
        const size_t n = Utf8SequenceLength(text);
        if (n == 0)
            return false;
        text.remove_prefix(n);
    }
    return true;
}

std::string WellFormedUtf8(std::string_view text)
{
    std::string out;
    out.reserve(text.size());
    while (!text.empty()) {
        const size_t n = Utf8SequenceLength(text);
        if (n == 0) {
            out += "\xEF\xBF\xBD";
            text.remove_prefix(1);
        } else {
            out.append(text.substr(0, n));
            text.remove_prefix(n);
        }
    }
    return out;
}

size_t Utf8CharacterCount(std::string_view text)
{
    size_t count = 0;
    for (; !text.empty(); ++count)
        text.remove_prefix(characterLength(text));
    return count;
}

} // namespace tolmail::codec
