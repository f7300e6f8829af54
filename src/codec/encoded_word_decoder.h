// Header text with encoded words (RFC 2047, with the language suffix of RFC 2231) as
// UTF-8.
#pragma once

#include <string>
#include <string_view>

namespace tolmail::codec {

/// `text` (an unfolded header value) as UTF-8: each encoded word "=?charset?B|Q?...?="
/// decoded from its charset; white space between two encoded words dropped; adjacent
/// words in one charset joined before conversion, so a character split across them
/// survives. A malformed word stays as it stands. Bytes outside encoded words are kept
/// when they are UTF-8 and otherwise read as Latin-1.
std::string DecodeEncodedWords(std::string_view text);

} // namespace tolmail::codec
