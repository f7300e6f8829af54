// Fuzz target: the uuencode decoder never fails and never reads past the text;
// encoding the input round-trips.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string_view>

#include "codec/uuencode.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    const std::string_view text(reinterpret_cast<const char*>(data), size);
    const std::string out = tolmail::codec::UuDecode(text);
    if (out.size() > size + 63)
        abort();
    if (tolmail::codec::UuDecode(tolmail::codec::UuEncode(text)) != text)
        abort();
    return 0;
}
