// How much of what was handed to a TCP socket the peer has not yet acknowledged.
#pragma once

#include <cstdint>

namespace tolmail::smtp {

/// Bytes queued on the socket `handle` and not yet acknowledged by the peer; -1 when
/// the system cannot tell (the caller then treats the data as gone out).
long UnsentBytes(int32_t handle);

} // namespace tolmail::smtp
