// Text routines for reply words, header values, address lists, content types and the
// numeric zone of a Date header (RFC 5322, RFC 2045).
#include "codec/wordfunc.h"

#include <array>
#include <cstdio>
#include <cstdlib>

#include "platform/local_time.h"

namespace tolmail::codec {

namespace {

constexpr std::string_view kAddressStartCharacters =
    "1234567890abcdefghijklmnopqrstuvwxyzABCDEFGHIJKLMNOPQRSTUVWXYZ<>\"";

constexpr auto kAddressStart = [] {
    std::array<bool, 256> table{};
    for (char c : kAddressStartCharacters)
        table[static_cast<unsigned char>(c)] = true;
    return table;
}();

constexpr bool isSeparatorToNormalize(unsigned char c)
{
    return c == '\t' || c == '\n' || c == '\r' || c == 160;
}

} // namespace

std::string TrimBlanks(std::string_view text)
{
    const auto first = text.find_first_not_of(' ');
    if (first == std::string_view::npos)
        return {};
    const auto last = text.find_last_not_of(' ');
    return std::string(text.substr(first, last - first + 1));
}

int HexDigit(char c)
{
    if (c >= '0' && c <= '9')
        return c - '0';
    if (c >= 'A' && c <= 'F')
        return c - 'A' + 10;
    if (c >= 'a' && c <= 'f')
        return c - 'a' + 10;
    return -1;
}

std::string NormalizeBlanks(std::string_view text)
{
    std::string s(text);
    for (char& c : s)
        if (isSeparatorToNormalize(static_cast<unsigned char>(c)))
            c = ' ';
    return s;
}

std::string GetWord(std::string_view text, int32_t n)
{
    const std::string s = NormalizeBlanks(text);
    size_t p = 0;
    for (int64_t k = 1;; ++k) {
        p = s.find_first_not_of(' ', p);
        if (p == std::string::npos)
            return {};
        if (k == n)
            break;
        p = s.find(' ', p);
        if (p == std::string::npos)
            return {};
    }
    const auto end = s.find(' ', p);
    return s.substr(p, end == std::string::npos ? std::string::npos : end - p);
}

std::string BlankOut(std::string_view text, std::string_view pattern)
{
    std::string s(text);
    // An empty pattern would match everywhere; it changes nothing instead.
    if (pattern.empty())
        return s;
    // Each search starts one past the previous hit, on the already blanked copy, so
    // overlapping occurrences are found too.
    for (size_t q = s.find(pattern); q != std::string::npos; q = s.find(pattern, q + 1))
        s[q] = ' ';
    return s;
}

std::string StripLeadingJunk(std::string& text)
{
    const size_t length = text.size();
    // Only L - 1 characters are examined: the last character alone is never accepted.
    for (size_t removed = 0; removed + 1 < length; ++removed) {
        if (kAddressStart[static_cast<unsigned char>(text[removed])]) {
            text.erase(0, removed);
            return text;
        }
    }
    // Nothing acceptable: the caller's text ends up empty like the result.
    text.clear();
    return {};
}

namespace {

/// Where the first entry of an address list ends (its comma, or npos), and where its
/// address begins (its "<", or npos). A comma or "<" inside a quoted display name
/// ("Doe, John") belongs to the name; a quote inside <...> opens nothing. A quote that
/// never closes is taken as an ordinary character, as in a list without quotes.
struct EntryMarks {
    size_t comma = std::string_view::npos;
    size_t open = std::string_view::npos;
};

EntryMarks MarkEntry(std::string_view list, bool honourQuotes)
{
    EntryMarks marks;
    bool quoted = false;
    bool angle = false;
    for (size_t i = 0; i < list.size(); ++i) {
        const char c = list[i];
        if (quoted) {
            if (c == '\\')
                ++i;
            else if (c == '"')
                quoted = false;
            continue;
        }
        if (c == ',') {
            marks.comma = i;
            break;
        }
        if (c == '"' && honourQuotes && !angle) {
            quoted = true;
        } else if (c == '<') {
            angle = true;
            if (marks.open == std::string_view::npos)
                marks.open = i;
        } else if (c == '>') {
            angle = false;
        }
    }
    if (quoted)
        return MarkEntry(list, false);
    return marks;
}

} // namespace

AddressEntry SplitAddress(std::string& list)
{
    const EntryMarks marks = MarkEntry(list, true);
    const auto comma = marks.comma;
    const std::string_view whole(list);
    const std::string_view entry = whole.substr(0, comma);

    AddressEntry result;
    const auto open = marks.open;
    if (open == std::string_view::npos) {
        result.Address = TrimBlanks(entry);
    } else {
        result.Name = TrimBlanks(entry.substr(0, open));
        const auto close = entry.find('>', open + 1);
        // Without a closing ">" the address runs to the end of the entry, so that
        // nothing of it is lost.
        result.Address = close == std::string_view::npos
                             ? TrimBlanks(entry.substr(open + 1))
                             : std::string(entry.substr(open + 1, close - open - 1));
    }
    list = comma == std::string::npos ? std::string() : list.substr(comma + 1);
    return result;
}

void ParseContentType(std::string_view text, std::string& type, std::string& subtype, std::string& params)
{
    if (text.empty())
        return;
    const auto semi = text.find(';');
    const auto slash = text.find('/');
    const std::string rest =
        (semi != std::string_view::npos && semi + 1 < text.size()) ? TrimBlanks(NormalizeBlanks(text.substr(semi + 1)))
                                                                    : std::string();
    // A text without "/" before its ";" (or without "/" at all) has no subtype: its
    // type is the trimmed text before the ";", and the parameters are kept.
    if (slash == std::string_view::npos || (semi != std::string_view::npos && semi < slash)) {
        type = TrimBlanks(NormalizeBlanks(text.substr(0, semi)));
        subtype.clear();
        params = rest;
        return;
    }
    // The type is cut from the first word by the slash's place in the whole text.
    type = GetWord(text, 1).substr(0, slash);
    subtype = semi == std::string_view::npos ? TrimBlanks(text.substr(slash + 1))
                                             : TrimBlanks(text.substr(slash + 1, semi - slash - 1));
    params = rest;
}

std::string TimeZoneOffsetText(int biasMinutes)
{
    const long east = -static_cast<long>(biasMinutes);
    const long magnitude = std::labs(east);
    char buf[32];
    std::snprintf(buf, sizeof buf, "%c%02ld%02ld", east >= 0 ? '+' : '-', magnitude / 60, magnitude % 60);
    return buf;
}

std::string TimeZoneOffset()
{
    return TimeZoneOffsetText(platform::TimeZoneBiasMinutes());
}

} // namespace tolmail::codec
