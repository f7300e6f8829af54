// Text routines for reply words, header values, address lists, content types and
// the numeric time zone of a Date header (RFC 5322, RFC 2045).
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

namespace tolmail::codec {

/// One entry of an address list.
struct AddressEntry {
    std::string Name;
    std::string Address;
};

/// Word n (1-based) of the text, blanks as separators after NormalizeBlanks; "" when absent.
std::string GetWord(std::string_view text, int32_t n);
/// Tabs, CR, LF and no-break spaces (160) become blanks; the length never changes.
std::string NormalizeBlanks(std::string_view text);
/// Every occurrence of pattern has its first character overwritten with a blank;
/// an empty pattern changes nothing.
std::string BlankOut(std::string_view text, std::string_view pattern);
/// Drops leading characters that cannot begin an address (only the first L - 1 are
/// examined); `text` becomes the result too, "" when nothing was accepted.
std::string StripLeadingJunk(std::string& text);
/// Takes the first comma-separated entry off `list` (which becomes the remainder).
/// Commas and "<" inside a quoted display name belong to the name (its quotes stay).
/// An entry with "<" and no ">" gives the text after "<", trimmed, as Address.
AddressEntry SplitAddress(std::string& list);
/// Splits "type/subtype; params"; assigns nothing for an empty text. A text with no
/// "/" before its first ";" gives the trimmed text before ";" as type, subtype "".
void ParseContentType(std::string_view text, std::string& type, std::string& subtype, std::string& params);
/// The zone offset in effect now as a sign and four digits, e.g. "+0100".
std::string TimeZoneOffset();
/// The same for a given bias in minutes (UTC = local + bias).
std::string TimeZoneOffsetText(int biasMinutes);

/// Blanks removed at both ends (the trim of the text routines).
std::string TrimBlanks(std::string_view text);

/// The value of a hexadecimal digit in either case, or -1 (for "=XX" and "%XX" escapes).
int HexDigit(char c);

} // namespace tolmail::codec
