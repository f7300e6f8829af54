// Output buffers for the codecs and file reads that may be tens of megabytes.
#pragma once

#include <cstddef>
#include <string>

namespace tolmail::platform {

/// Resizes `s` to `size` characters (new ones zero). When that takes a large new
/// allocation, asks the system to back it with huge pages first: a fresh 90 MB
/// buffer then costs a few dozen page faults instead of tens of thousands.
void ResizeLarge(std::string& s, size_t size);

} // namespace tolmail::platform
