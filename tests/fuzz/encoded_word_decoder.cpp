// Fuzz target: encoded-word decoding of any header text; the result is always UTF-8.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string_view>

#include "codec/encoded_word_decoder.h"
#include "platform/charset.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    const std::string_view text(reinterpret_cast<const char*>(data), size);
    const std::string decoded = tolmail::codec::DecodeEncodedWords(text);
    if (!tolmail::platform::IsUtf8(decoded))
        abort();
    // Each input byte becomes at most a few output bytes (Latin-1 doubles; a charset
    // such as GB18030 takes four bytes to one character of up to four).
    if (decoded.size() > 4 * size + 4)
        abort();
    return 0;
}
