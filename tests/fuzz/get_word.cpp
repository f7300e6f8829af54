// Fuzz target: words of a reply line; the first byte picks the word number.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string_view>

#include "codec/wordfunc.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    if (size == 0)
        return 0;
    const auto n = static_cast<int32_t>(static_cast<int8_t>(data[0]));
    const std::string_view text(reinterpret_cast<const char*>(data + 1), size - 1);
    const std::string word = tolmail::codec::GetWord(text, n);
    if (word.size() > text.size() || word.find(' ') != std::string::npos)
        abort();
    if (n < 1 && !word.empty())
        abort();
    tolmail::codec::TrimBlanks(text);
    return 0;
}
