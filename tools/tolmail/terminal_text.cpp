// Terminal-safe text: what a mail or a server sends never reaches the terminal as
// control sequences, and never floods it.
#include "terminal_text.h"

#include <cstdint>
#include <cstdio>

namespace tolmail::cli {

namespace {

constexpr std::string_view kCutMark = "...";

/// The length of the UTF-8 sequence at `at` and its code point; 0 when the bytes there
/// are not a well-formed sequence (overlong forms and surrogates included).
size_t DecodeUtf8(std::string_view text, size_t at, uint32_t& code)
{
    const auto byte = [&](size_t i) { return static_cast<unsigned char>(text[at + i]); };
    const unsigned char lead = byte(0);
    size_t length = 0;
    uint32_t least = 0;
    if (lead < 0x80) {
        code = lead;
        return 1;
    }
    if (lead >= 0xC2 && lead <= 0xDF) {
        length = 2, code = lead & 0x1F, least = 0x80;
    } else if (lead >= 0xE0 && lead <= 0xEF) {
        length = 3, code = lead & 0x0F, least = 0x800;
    } else if (lead >= 0xF0 && lead <= 0xF4) {
        length = 4, code = lead & 0x07, least = 0x10000;
    } else {
        return 0;
    }
    if (at + length > text.size())
        return 0;
    for (size_t i = 1; i < length; ++i) {
        if ((byte(i) & 0xC0) != 0x80)
            return 0;
        code = code << 6 | (byte(i) & 0x3F);
    }
    if (code < least || code > 0x10FFFF || (code >= 0xD800 && code <= 0xDFFF))
        return 0;
    return length;
}

/// Characters that move or hide the text around them without being controls.
bool Reorders(uint32_t code)
{
    return code == 0x200E || code == 0x200F || (code >= 0x202A && code <= 0x202E) ||
           (code >= 0x2066 && code <= 0x2069) || code == 0x2028 || code == 0x2029;
}

std::string Escaped(const char* format, uint32_t value)
{
    char buffer[16];
    std::snprintf(buffer, sizeof buffer, format, static_cast<unsigned>(value));
    return buffer;
}

/// How the character (or stray byte) at `at` is shown; `length` gets the bytes it takes.
std::string Shown(std::string_view text, size_t at, size_t& length)
{
    uint32_t code = 0;
    length = DecodeUtf8(text, at, code);
    if (length == 0) {
        length = 1;
        return Escaped("\\x%02x", static_cast<unsigned char>(text[at]));
    }
    switch (code) {
    case '\n':
        return "\\n";
    case '\r':
        return "\\r";
    case '\t':
        return "\\t";
    default:
        break;
    }
    if (code < 0x20 || code == 0x7F)
        return Escaped("\\x%02x", code);
    if ((code >= 0x80 && code <= 0x9F) || Reorders(code))
        return Escaped("\\u{%x}", code);
    return std::string(text.substr(at, length));
}

} // namespace

std::string Printable(std::string_view text, size_t limit)
{
    std::string out;
    size_t characters = 0;
    for (size_t at = 0, length = 0; at < text.size(); at += length) {
        const std::string shown = Shown(text, at, length);
        // An escape counts with its full width, so the cap bounds what the terminal gets.
        const size_t width = shown.size() > length ? shown.size() : 1;
        if (characters + width > limit) {
            out += kCutMark;
            break;
        }
        out += shown;
        characters += width;
    }
    return out;
}

} // namespace tolmail::cli
