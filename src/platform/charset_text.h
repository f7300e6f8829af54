// The pieces of charset conversion that need no converter: UTF-8 well-formedness and the
// Latin-1 reading of bytes no converter accepts (CanonicalCharset, beside them, makes the
// names mail gives charsets canonical). Each system's converter (iconv, the Windows code
// pages) stands on these, so that both read mail alike.
#pragma once

#include <cstddef>
#include <string>
#include <string_view>

namespace tolmail::platform::charset_text {

bool StartsWith(std::string_view text, std::string_view prefix);

/// True for the canonical names of charsets in which a byte below 128 is not always the
/// ASCII character.
bool AsciiOpaque(const std::string& canonical);

/// True when every byte is ASCII and none shifts a 7-bit encoding (ISO-2022) elsewhere.
bool PlainAscii(std::string_view bytes);

/// Byte `c` read as Latin-1, appended as UTF-8.
void AppendLatin1(std::string& out, unsigned char c);

/// Every byte read as Latin-1.
std::string Latin1ToUtf8(std::string_view bytes);

/// The length of the well-formed UTF-8 sequence at `at`, 0 when there is none.
size_t SequenceLength(std::string_view text, size_t at);

/// UTF-8 kept as it is; a byte that begins no well-formed sequence read as Latin-1.
std::string RepairUtf8(std::string_view bytes);

} // namespace tolmail::platform::charset_text
