// Parameter lists as mailers really write them: unquoted values with spaces, a missing
// closing quote, sections out of order. What cannot be read is dropped, never guessed.
#include "codec/mime_parameters.h"

#include <algorithm>
#include <map>

#include "codec/encoded_word_decoder.h"
#include "codec/wordfunc.h"
#include "platform/charset.h"

namespace tolmail::codec {

namespace {

constexpr int kMaxSection = 999;

char Lower(char c) { return c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c; }

std::string_view Trim(std::string_view text)
{
    const size_t first = text.find_first_not_of(" \t\r\n");
    if (first == std::string_view::npos)
        return {};
    const size_t last = text.find_last_not_of(" \t\r\n");
    return text.substr(first, last - first + 1);
}

/// "%XX" escapes undone; a "%" that begins no escape stays.
std::string PercentDecoded(std::string_view text)
{
    std::string out;
    out.reserve(text.size());
    for (size_t at = 0; at < text.size(); ++at) {
        if (text[at] == '%' && at + 2 < text.size()) {
            const int high = HexDigit(text[at + 1]);
            const int low = HexDigit(text[at + 2]);
            if (high >= 0 && low >= 0) {
                out += static_cast<char>(high * 16 + low);
                at += 2;
                continue;
            }
        }
        out += text[at];
    }
    return out;
}

/// One "name=value" as written, before sections are joined.
struct RawParameter {
    std::string name;  // lower case, "*" and section removed
    int section = -1;  // -1: not sectioned
    bool extended = false;
    std::string value;  // quotes undone; percent escapes still in place when extended
};

/// Reads the value at `at` (after "="): a quoted string with "\" escapes, or a token up
/// to ";". `at` ends after the ";" that ends the parameter.
std::string ReadValue(std::string_view text, size_t& at)
{
    while (at < text.size() && (text[at] == ' ' || text[at] == '\t'))
        ++at;
    std::string value;
    if (at < text.size() && text[at] == '"') {
        for (++at; at < text.size() && text[at] != '"'; ++at) {
            if (text[at] == '\\' && at + 1 < text.size())
                ++at;
            value += text[at];
        }
        const size_t semicolon = text.find(';', at);
        at = semicolon == std::string_view::npos ? text.size() : semicolon + 1;
        return value;
    }
    const size_t semicolon = text.find(';', at);
    const size_t end = semicolon == std::string_view::npos ? text.size() : semicolon;
    value = Trim(text.substr(at, end - at));
    at = semicolon == std::string_view::npos ? text.size() : semicolon + 1;
    return value;
}

/// Splits "name*2*" into its name, section and whether it is extended; false for a
/// section number that is not one.
bool ReadName(std::string_view written, RawParameter& raw)
{
    std::string name;
    for (char c : Trim(written))
        name += Lower(c);
    if (!name.empty() && name.back() == '*') {
        raw.extended = true;
        name.pop_back();
    }
    if (const size_t star = name.find('*'); star != std::string::npos) {
        const std::string digits = name.substr(star + 1);
        if (digits.empty() || digits.size() > 3 || !std::all_of(digits.begin(), digits.end(), [](char c) {
                return c >= '0' && c <= '9';
            }))
            return false;
        raw.section = std::stoi(digits);
        name.resize(star);
    }
    if (name.empty() || raw.section > kMaxSection)
        return false;
    raw.name = std::move(name);
    return true;
}

std::vector<RawParameter> ReadRaw(std::string_view text)
{
    std::vector<RawParameter> list;
    size_t at = 0;
    while (at < text.size() && list.size() < kMaxParameters) {
        const size_t equals = text.find('=', at);
        const size_t semicolon = text.find(';', at);
        if (equals == std::string_view::npos)
            break;
        if (semicolon < equals) {
            at = semicolon + 1;  // a word without "=" (the type itself, or stray text)
            continue;
        }
        RawParameter raw;
        const bool named = ReadName(text.substr(at, equals - at), raw);
        at = equals + 1;
        raw.value = ReadValue(text, at);
        if (named)
            list.push_back(std::move(raw));
    }
    return list;
}

/// An extended value "charset'language'octets" (sections after the first carry no
/// charset): the charset and the percent-decoded octets.
void SplitExtended(std::string_view value, bool first, std::string& charset, std::string& octets)
{
    if (first) {
        const size_t quote1 = value.find('\'');
        const size_t quote2 = quote1 == std::string_view::npos ? quote1 : value.find('\'', quote1 + 1);
        if (quote2 != std::string_view::npos) {
            charset = value.substr(0, quote1);
            value = value.substr(quote2 + 1);
        }
    }
    octets += PercentDecoded(value);
}

} // namespace

std::vector<MimeParameter> ParseMimeParameters(std::string_view text)
{
    std::vector<RawParameter> raws = ReadRaw(text);
    std::vector<MimeParameter> result;
    // Sections of one name, by section number (the first of each number counts).
    std::map<std::string, std::map<int, const RawParameter*>> sections;
    for (const RawParameter& raw : raws) {
        if (raw.section >= 0) {
            sections[raw.name].emplace(raw.section, &raw);
            continue;
        }
        MimeParameter parameter{raw.name, raw.value, raw.extended};
        if (raw.extended) {
            std::string charset, octets;
            SplitExtended(raw.value, true, charset, octets);
            parameter.value = platform::ToUtf8(charset.empty() ? "UTF-8" : charset, octets);
        }
        result.push_back(std::move(parameter));
    }
    for (const RawParameter& raw : raws) {
        auto found = sections.find(raw.name);
        if (raw.section < 0 || found == sections.end())
            continue;
        // Joined once, where the name first appears among the sections.
        std::string charset, octets;
        bool extended = false;
        for (const auto& [number, section] : found->second) {
            if (section->extended) {
                extended = true;
                SplitExtended(section->value, number == 0, charset, octets);
            } else {
                octets += section->value;
            }
        }
        MimeParameter parameter{raw.name, {}, true};
        parameter.value = extended ? platform::ToUtf8(charset.empty() ? "UTF-8" : charset, octets)
                                   : platform::ToUtf8("UTF-8", octets);
        result.push_back(std::move(parameter));
        sections.erase(found);
    }
    return result;
}

std::optional<std::string> ParameterText(const std::vector<MimeParameter>& parameters, std::string_view name)
{
    std::string lower;
    for (char c : name)
        lower += Lower(c);
    const MimeParameter* plain = nullptr;
    for (const MimeParameter& parameter : parameters) {
        if (parameter.name != lower)
            continue;
        if (parameter.extended)
            return parameter.value;
        if (!plain)
            plain = &parameter;
    }
    if (!plain)
        return std::nullopt;
    return DecodeEncodedWords(plain->value);
}

} // namespace tolmail::codec
