// Fuzz target: content-type splitting of any text, with or without "/" and ";".
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string_view>

#include "codec/wordfunc.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    const std::string_view text(reinterpret_cast<const char*>(data), size);
    std::string type, subtype, params;
    tolmail::codec::ParseContentType(text, type, subtype, params);
    if (type.size() + subtype.size() + params.size() > size)
        abort();
    tolmail::codec::BlankOut(text, "\"");
    return 0;
}
