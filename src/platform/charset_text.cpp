// Charset handling that needs no converter, shared by every system's converter.
#include "platform/charset_text.h"

#include "platform/charset.h"

namespace tolmail::platform {

namespace charset_text {

namespace {

constexpr size_t kLongestName = 40;

char Lower(char c) { return c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c; }

bool NameCharacter(char c)
{
    return (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9') || c == '-' || c == '_' || c == '.' || c == ':' ||
           c == '+';
}

std::string LowerLabel(std::string_view label)
{
    while (!label.empty() && (label.front() == ' ' || label.front() == '"'))
        label.remove_prefix(1);
    while (!label.empty() && (label.back() == ' ' || label.back() == '"'))
        label.remove_suffix(1);
    std::string lower;
    lower.reserve(label.size());
    for (char c : label)
        lower += Lower(c);
    return lower;
}

char Upper(char c) { return c >= 'a' && c <= 'z' ? static_cast<char>(c - 'a' + 'A') : c; }

/// Names mail uses that converters do not know, or know by a narrower table than the
/// mailers that write them (Windows mailers label their own supersets with the older
/// names). The names on the right are the canonical ones each converter is given.
struct Alias {
    const char* label;  // lower case
    const char* name;
};
constexpr Alias kAliases[] = {
    {"utf8", "UTF-8"},
    {"unicode-1-1-utf-8", "UTF-8"},
    {"unicode-1-1-utf-7", "UTF-7"},
    {"ascii", "US-ASCII"},
    {"us", "US-ASCII"},
    {"ansi_x3.4-1968", "US-ASCII"},
    {"iso646-us", "US-ASCII"},
    {"latin1", "ISO-8859-1"},
    {"latin-1", "ISO-8859-1"},
    {"l1", "ISO-8859-1"},
    {"iso8859-1", "ISO-8859-1"},
    {"iso_8859-1", "ISO-8859-1"},
    {"cp819", "ISO-8859-1"},
    {"latin2", "ISO-8859-2"},
    {"latin-2", "ISO-8859-2"},
    {"latin9", "ISO-8859-15"},
    {"latin-9", "ISO-8859-15"},
    {"iso-8859-8-i", "ISO-8859-8"},
    {"win-1252", "WINDOWS-1252"},
    {"shift_jis", "CP932"},
    {"shift-jis", "CP932"},
    {"sjis", "CP932"},
    {"ms_kanji", "CP932"},
    {"csshiftjis", "CP932"},
    {"windows-31j", "CP932"},
    {"ms-cp932", "CP932"},
    {"iso-2022-jp", "ISO-2022-JP-2"},
    {"csiso2022jp", "ISO-2022-JP-2"},
    {"gb2312", "GB18030"},
    {"gbk", "GB18030"},
    {"cp936", "GB18030"},
    {"euc-cn", "GB18030"},
    {"csgb2312", "GB18030"},
    {"gb_2312-80", "GB18030"},
    {"chinese", "GB18030"},
    {"big5", "CP950"},
    {"csbig5", "CP950"},
    {"euc-kr", "CP949"},
    {"ks_c_5601-1987", "CP949"},
    {"ks_c_5601", "CP949"},
    {"korean", "CP949"},
    {"windows-949", "CP949"},
    {"mac", "MACINTOSH"},
    {"mac-roman", "MACINTOSH"},
    {"windows-874", "CP874"},
};

} // namespace


bool StartsWith(std::string_view text, std::string_view prefix) { return text.substr(0, prefix.size()) == prefix; }

bool AsciiOpaque(const std::string& canonical)
{
    return StartsWith(canonical, "UTF-16") || StartsWith(canonical, "UTF-32") || StartsWith(canonical, "UCS") ||
           StartsWith(canonical, "UTF-7") || StartsWith(canonical, "HZ") || StartsWith(canonical, "UNICODE");
}

/// True when every byte is ASCII and none shifts a 7-bit encoding (ISO-2022) elsewhere.
bool PlainAscii(std::string_view bytes)
{
    for (unsigned char c : bytes) {
        if (c >= 0x80 || c == 0x1B || c == 0x0E || c == 0x0F)
            return false;
    }
    return true;
}

void AppendLatin1(std::string& out, unsigned char c)
{
    if (c < 0x80) {
        out += static_cast<char>(c);
    } else {
        out += static_cast<char>(0xC0 | (c >> 6));
        out += static_cast<char>(0x80 | (c & 0x3F));
    }
}

/// The length of the well-formed UTF-8 sequence at `at`, 0 when there is none.
size_t SequenceLength(std::string_view text, size_t at)
{
    const auto byte = [&](size_t i) { return static_cast<unsigned char>(text[i]); };
    const unsigned char lead = byte(at);
    if (lead < 0x80)
        return 1;
    size_t length = 0;
    unsigned char low = 0x80, high = 0xBF;  // the range of the second byte
    if (lead >= 0xC2 && lead <= 0xDF) {
        length = 2;
    } else if (lead >= 0xE0 && lead <= 0xEF) {
        length = 3;
        if (lead == 0xE0)
            low = 0xA0;  // overlong
        if (lead == 0xED)
            high = 0x9F;  // surrogates
    } else if (lead >= 0xF0 && lead <= 0xF4) {
        length = 4;
        if (lead == 0xF0)
            low = 0x90;  // overlong
        if (lead == 0xF4)
            high = 0x8F;  // beyond U+10FFFF
    } else {
        return 0;
    }
    if (at + length > text.size())
        return 0;
    if (byte(at + 1) < low || byte(at + 1) > high)
        return 0;
    for (size_t i = 2; i < length; ++i) {
        if ((byte(at + i) & 0xC0) != 0x80)
            return 0;
    }
    return length;
}

/// UTF-8 kept as it is; a byte that begins no well-formed sequence read as Latin-1.
std::string RepairUtf8(std::string_view bytes)
{
    std::string out;
    out.reserve(bytes.size() + bytes.size() / 4);
    size_t at = 0;
    while (at < bytes.size()) {
        const size_t length = SequenceLength(bytes, at);
        if (length == 0) {
            AppendLatin1(out, static_cast<unsigned char>(bytes[at]));
            ++at;
        } else {
            out.append(bytes.substr(at, length));
            at += length;
        }
    }
    return out;
}

std::string Latin1ToUtf8(std::string_view bytes)
{
    std::string out;
    out.reserve(bytes.size() + bytes.size() / 4);
    for (char c : bytes)
        AppendLatin1(out, static_cast<unsigned char>(c));
    return out;
}

} // namespace charset_text

using namespace charset_text;

std::string CanonicalCharset(std::string_view charset)
{
    std::string label = LowerLabel(charset);
    if (label.empty() || label.size() > kLongestName)
        return {};
    for (char c : label) {
        // Also keeps "/" out: the converter would read it as a suffix or module path.
        if (!NameCharacter(c))
            return {};
    }
    for (const Alias& alias : kAliases) {
        if (label == alias.label)
            return alias.name;
    }
    if (StartsWith(label, "x-") && label.size() > 2) {
        // Private-use prefixes on names the converter knows without them.
        return CanonicalCharset(std::string_view(label).substr(2));
    }
    std::string name;
    name.reserve(label.size());
    for (char c : label)
        name += Upper(c);
    if (StartsWith(name, "CP125") && name.size() == 6)
        return "WINDOWS-125" + name.substr(5);
    return name;
}

bool IsUtf8(std::string_view text)
{
    size_t at = 0;
    while (at < text.size()) {
        if (static_cast<unsigned char>(text[at]) < 0x80) {
            ++at;
            continue;
        }
        const size_t length = SequenceLength(text, at);
        if (length == 0)
            return false;
        at += length;
    }
    return true;
}

} // namespace tolmail::platform
