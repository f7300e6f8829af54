// Fuzz target: taking entries off an address list always shortens it and ends.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>

#include "codec/wordfunc.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    std::string list(reinterpret_cast<const char*>(data), size);
    tolmail::codec::StripLeadingJunk(list);
    while (!list.empty()) {
        const size_t before = list.size();
        const auto entry = tolmail::codec::SplitAddress(list);
        if (list.size() >= before || entry.Address.size() + entry.Name.size() > before)
            abort();
    }
    return 0;
}
