// UTF-8 sequences (RFC 3629): where a character ends, so that text is never cut inside one.
#pragma once

#include <cstddef>
#include <string>
#include <string_view>

namespace tolmail::codec {

/// The length (1 to 4) of the well-formed sequence at the start of `text`; 0 when none
/// starts there: a stray continuation byte, an overlong form, a surrogate, a value above
/// U+10FFFF, or a sequence cut short.
size_t Utf8SequenceLength(std::string_view text);

/// True when `text` is well-formed UTF-8 from end to end.
bool IsUtf8(std::string_view text);

/// `text` with every byte that starts no well-formed sequence replaced by U+FFFD, so that
/// what is declared UTF-8 is UTF-8.
std::string WellFormedUtf8(std::string_view text);

/// The number of characters; a byte that starts no well-formed sequence counts as one.
size_t Utf8CharacterCount(std::string_view text);

} // namespace tolmail::codec
