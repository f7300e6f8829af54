// Large output buffers backed by transparent huge pages where the kernel offers them.
#include "platform/large_buffer.h"

#include <cstdint>
#include <sys/mman.h>

namespace tolmail::platform {

namespace {

constexpr size_t kLargeBuffer = size_t{8} << 20;
constexpr uintptr_t kHugePage = uintptr_t{2} << 20;

} // namespace

void ResizeLarge(std::string& s, size_t size)
{
    if (size <= s.capacity() || size - s.size() < kLargeBuffer) {
        s.resize(size);
        return;
    }
    const size_t old = s.size();
    s.reserve(size);
    // Only whole huge pages inside the part not yet touched; the advice is a hint
    // and its failure changes nothing but speed.
    const auto first = (reinterpret_cast<uintptr_t>(s.data() + old) + kHugePage - 1) & ~(kHugePage - 1);
    const auto last = reinterpret_cast<uintptr_t>(s.data() + size) & ~(kHugePage - 1);
#ifdef MADV_HUGEPAGE
    if (last > first)
        ::madvise(reinterpret_cast<void*>(first), last - first, MADV_HUGEPAGE);
#endif
    s.resize(size);
}

} // namespace tolmail::platform
