// Fuzz target: the base64 decoder either fails with the library error or returns
// at most three bytes per four characters; encoding what it returns round-trips.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string_view>

#include "codec/base64.h"
#include "tolmail/error.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    const std::string_view text(reinterpret_cast<const char*>(data), size);
    std::string out;
    try {
        out = tolmail::codec::Base64Decode(text);
    } catch (const tolmail::Error&) {
        return 0;
    }
    if (out.size() > size / 4 * 3)
        abort();
    if (tolmail::codec::Base64Decode(tolmail::codec::Base64Encode(out)) != out)
        abort();
    return 0;
}
