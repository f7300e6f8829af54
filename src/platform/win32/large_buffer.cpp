// Large output buffers: the system backs fresh allocations lazily on its own.
#include "platform/large_buffer.h"

namespace tolmail::platform {

void ResizeLarge(std::string& s, size_t size)
{
    s.resize(size);
}

} // namespace tolmail::platform
