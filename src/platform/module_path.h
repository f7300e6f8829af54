// Where the library itself lives, for a registration that tells hosts what to load.
#pragma once

#include <string>

namespace tolmail::platform {

/// The absolute path of the file this code was loaded from: the shared library by the name
/// it was loaded by (links kept), or the program when the library is linked in statically.
/// Empty when it cannot be found.
std::string ModulePath();

} // namespace tolmail::platform
