// Writing header text as encoded words (RFC 2047) labelled UTF-8, folded so that no
// line passes 76 characters.
#pragma once

#include <cstddef>
#include <string>
#include <string_view>

namespace tolmail::codec {

/// The longest header line the encoder writes, CR LF not counted.
constexpr size_t kFoldedLineLength = 76;

/// Where the encoded words stand, which decides the words that may stay as they are.
enum class WordPlace {
    Text,    // unstructured text such as a subject: every word of printable ASCII
    Phrase,  // a display name: only words of atom characters (RFC 5322 3.2.3)
};

/// True when some word of `text` cannot stay as it is in `place`: a byte outside
/// printable ASCII, a word that would read as an encoded word ("=?"), or in a phrase a
/// character outside the atom set.
bool NeedsEncodedWords(std::string_view text, WordPlace place);

/// `text` (UTF-8; ill-formed bytes become U+FFFD) with each run of words that cannot stay
/// as they are written as encoded words, B or Q whichever is shorter for the run, and
/// the words that can stay kept between them. Lines are folded before a blank where the
/// line would pass 76 characters, counting from `column` (where the text starts on its
/// first line); an encoded word is never split inside a UTF-8 sequence. Text that needs
/// no encoded word is returned unchanged and unfolded.
std::string EncodeHeaderText(std::string_view text, WordPlace place, size_t column);

/// All of `text` as encoded words, folded with CR LF and one blank: for places where a
/// reader takes the words themselves, such as the name inside a quoted parameter.
std::string EncodeAsWords(std::string_view text, size_t column);

} // namespace tolmail::codec
