// Text from a mail or a server made safe to print on a terminal.
#pragma once

#include <cstddef>
#include <string>
#include <string_view>

namespace tolmail::cli {

/// The most characters printed of one field that a peer controls.
inline constexpr size_t kLongestPrintedField = 200;

/// `text` as it may be printed: control characters (C0, DEL, C1) and bytes that are not
/// UTF-8 are shown as escapes (\n, \t, \x1b, \u{9b}), and so are the characters that
/// reorder or break the line around them (U+202E and kin); at most `limit` characters
/// are kept, a cut marked with "...".
std::string Printable(std::string_view text, size_t limit = kLongestPrintedField);

} // namespace tolmail::cli
