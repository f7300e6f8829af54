// Fuzz target: the quoted-printable decoder never lengthens its input, and the
// encoder's lines stay within 76 characters and decode back to the input.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string_view>

#include "codec/quoted_printable.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    const std::string_view text(reinterpret_cast<const char*>(data), size);
    if (tolmail::codec::QpDecode(text).size() > size)
        abort();
    const std::string encoded = tolmail::codec::QpEncode(text);
    size_t start = 0;
    for (size_t p = encoded.find("\r\n"); p != std::string::npos; p = encoded.find("\r\n", start)) {
        if (p - start > 76)
            abort();
        start = p + 2;
    }
    const bool closed = text.empty() || text.ends_with("\r\n");
    if (tolmail::codec::QpDecode(encoded) != (closed ? std::string(text) : std::string(text) + "\r\n"))
        abort();
    return 0;
}
