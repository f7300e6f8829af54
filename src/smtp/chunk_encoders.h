// Transfer encodings of attachment parts (RFC 2045 6), applied one chunk at a time.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

namespace tolmail::smtp {

struct EncodingRule {
    int32_t code;
    const char* token;   // the Content-Transfer-Encoding value
    size_t chunkSize;    // bytes read per chunk: whole encoder input lines where lines exist
    /// Encodes one chunk into `out`; null for data sent as read.
    void (*encode)(std::string_view chunk, std::string& out);
};

/// The rule of an encoding code; any code without a rule of its own is binary.
const EncodingRule& EncodingRuleOf(int32_t code);

/// A quoted-printable chunk that stops inside a line ends with a soft line break
/// instead of the encoder's hard one, so that the decoded part equals the file
/// wherever chunks are cut. No physical line grows beyond 76 characters.
void EndQpChunkSoftly(std::string& encoded);

} // namespace tolmail::smtp
