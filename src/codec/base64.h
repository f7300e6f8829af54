// Base64 of MIME (RFC 2045, RFC 4648 alphabet) with this library's line layout:
// 76-character lines, every line ended by CR LF.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

namespace tolmail::codec {

/// Kept for hosts and threads that call it; the tables are constant.
void InitBase64Table();
std::string Base64Encode(std::string_view data);
/// Appends Base64Encode(data) to out without a temporary (for streaming senders).
void Base64EncodeAppend(std::string& out, std::string_view data);
/// The length of Base64Encode's result for `length` input bytes.
size_t Base64EncodedSize(size_t length);
/// Throws tolmail::Error for a character outside the alphabet in a decoded position.
std::string Base64Decode(std::string_view text);
/// Appends Base64Decode(text) to out; on failure out is left as it was.
void Base64DecodeAppend(std::string& out, std::string_view text);
/// 0..63; "" gives 0; throws tolmail::Error for a character outside the alphabet.
int Base64Value(std::string_view character);

} // namespace tolmail::codec
