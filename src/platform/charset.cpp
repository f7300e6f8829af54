// Charset conversion with the C library's iconv. Descriptors are opened once per thread
// and charset, because opening one costs more than converting a header.
#include "platform/charset.h"

#include <iconv.h>

#include <cerrno>
#include <cstdint>
#include <utility>
#include <vector>

namespace tolmail::platform {

namespace {

constexpr size_t kLongestName = 40;
const iconv_t kNoConverter = reinterpret_cast<iconv_t>(-1);

/// Names mail uses that the converter does not know, or knows by a narrower table than
/// the mailers that write them (Windows mailers label their own supersets with the
/// older names).
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

char Lower(char c) { return c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c; }
char Upper(char c) { return c >= 'a' && c <= 'z' ? static_cast<char>(c - 'a' + 'A') : c; }

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

bool Named(const std::string& canonical, std::string_view name) { return canonical == name; }

bool StartsWith(std::string_view text, std::string_view prefix) { return text.substr(0, prefix.size()) == prefix; }

/// Charsets in which a byte below 128 is not always the ASCII character.
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

/// This thread's open descriptors, by direction and charset. Unknown charsets are
/// remembered too, so a mailbox full of them does not ask the converter again each time.
class Converters {
public:
    Converters() = default;
    Converters(const Converters&) = delete;
    Converters& operator=(const Converters&) = delete;
    ~Converters()
    {
        for (Entry& entry : entries_)
            close(entry);
    }

    /// A descriptor reset to its initial state, or kNoConverter.
    iconv_t get(const std::string& canonical, bool toUtf8)
    {
        for (Entry& entry : entries_) {
            if (entry.toUtf8 == toUtf8 && entry.charset == canonical)
                return reset(entry.descriptor);
        }
        // A hostile mailbox may name any number of charsets: the table stays small.
        constexpr size_t kMostKept = 32;
        if (entries_.size() >= kMostKept) {
            close(entries_.front());
            entries_.erase(entries_.begin());
        }
        const iconv_t descriptor = toUtf8 ? iconv_open("UTF-8", canonical.c_str())
                                          : iconv_open(canonical.c_str(), "UTF-8");
        entries_.push_back({canonical, toUtf8, descriptor});
        return reset(descriptor);
    }

private:
    struct Entry {
        std::string charset;
        bool toUtf8;
        iconv_t descriptor;
    };

    static iconv_t reset(iconv_t descriptor)
    {
        if (descriptor != kNoConverter)
            iconv(descriptor, nullptr, nullptr, nullptr, nullptr);
        return descriptor;
    }
    static void close(Entry& entry)
    {
        if (entry.descriptor != kNoConverter)
            iconv_close(entry.descriptor);
    }

    std::vector<Entry> entries_;
};

Converters& ThreadConverters()
{
    thread_local Converters converters;
    return converters;
}

enum class Step { Done, Invalid };

/// Converts as far as the input allows; on Invalid, `in` points at the offending byte.
Step Convert(iconv_t descriptor, const char*& in, size_t& left, std::string& out)
{
    char chunk[4096];
    while (left > 0) {
        char* next = chunk;
        size_t room = sizeof chunk;
        char* source = const_cast<char*>(in);  // iconv's historical signature; it only reads
        const size_t done = iconv(descriptor, &source, &left, &next, &room);
        const int why = errno;
        in = source;
        out.append(chunk, static_cast<size_t>(next - chunk));
        if (done != static_cast<size_t>(-1))
            return Step::Done;
        if (why != E2BIG)
            return Step::Invalid;
    }
    return Step::Done;
}

/// Writes what a stateful target needs to end in its initial state (ISO-2022-JP's
/// return to ASCII).
void EndShiftState(iconv_t descriptor, std::string& out)
{
    char chunk[64];
    char* next = chunk;
    size_t room = sizeof chunk;
    iconv(descriptor, nullptr, nullptr, &next, &room);
    out.append(chunk, static_cast<size_t>(next - chunk));
}

} // namespace

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

std::string ToUtf8(std::string_view charset, std::string_view bytes)
{
    const std::string canonical = CanonicalCharset(charset);
    if (!AsciiOpaque(canonical) && PlainAscii(bytes))
        return std::string(bytes);
    if (Named(canonical, "UTF-8") || Named(canonical, "US-ASCII"))
        return RepairUtf8(bytes);
    if (Named(canonical, "ISO-8859-1") || canonical.empty())
        return Latin1ToUtf8(bytes);
    const iconv_t descriptor = ThreadConverters().get(canonical, true);
    if (descriptor == kNoConverter)
        return Latin1ToUtf8(bytes);

    std::string out;
    out.reserve(bytes.size() * 2);
    const char* in = bytes.data();
    size_t left = bytes.size();
    while (Convert(descriptor, in, left, out) == Step::Invalid) {
        // An invalid or cut-off sequence: its first byte as it came, then on.
        AppendLatin1(out, static_cast<unsigned char>(*in));
        ++in;
        --left;
        iconv(descriptor, nullptr, nullptr, nullptr, nullptr);
    }
    return out;
}

std::optional<std::string> FromUtf8(std::string_view charset, std::string_view utf8)
{
    const std::string canonical = CanonicalCharset(charset);
    if (canonical.empty() || !IsUtf8(utf8))
        return std::nullopt;
    if (Named(canonical, "UTF-8"))
        return std::string(utf8);
    if (Named(canonical, "US-ASCII"))
        return PlainAscii(utf8) ? std::optional<std::string>(utf8) : std::nullopt;
    // Older C libraries write past their buffer when converting into this one.
    if (StartsWith(canonical, "ISO-2022-CN-EXT"))
        return std::nullopt;
    const iconv_t descriptor = ThreadConverters().get(canonical, false);
    if (descriptor == kNoConverter)
        return std::nullopt;
    if (!AsciiOpaque(canonical) && PlainAscii(utf8))
        return std::string(utf8);
    std::string out;
    out.reserve(utf8.size());
    const char* in = utf8.data();
    size_t left = utf8.size();
    if (Convert(descriptor, in, left, out) == Step::Invalid)
        return std::nullopt;
    EndShiftState(descriptor, out);
    return out;
}

} // namespace tolmail::platform
