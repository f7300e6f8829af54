// The result codes of TolvanSocket's methods, in one table.
#pragma once

#include <cstddef>
#include <cstdint>

namespace tolmail::socket {

inline constexpr int32_t kOk = 0;                     // Connect, reads, senddta; Listen: listening or bound
inline constexpr int32_t kAccepted = -1;              // Accept took the connection
inline constexpr int32_t kNothingArrived = 1;         // reads: no (complete line of) text within the time-out
inline constexpr int32_t kAlreadyConnected = 3;       // Connect on an open component
inline constexpr int32_t kOpenFailed = 4;             // Connect or Listen could not set the socket up
inline constexpr int32_t kNotConnected = 6;           // reads and TCP senddta on a closed component
inline constexpr int32_t kDatagramSocketFailed = 8;   // UDP senddta could not create its socket
inline constexpr int32_t kNotSent = 9;                // senddta gave up
inline constexpr int32_t kAcceptFailed = 10;          // Accept(-1) or the platform's accept failed
inline constexpr int32_t kLineTooLong = 12;           // GetlnData consumed and dropped a line over kLongestLine
inline constexpr int32_t kAlreadyListening = 16;      // Listen on an open component
inline constexpr int32_t kAlreadyOpenForAccept = 32;  // Accept on an open component
inline constexpr int32_t kLayerFailed = 96;           // the thread's socket layer did not start

/// The longest line GetlnData hands out, counted without its CR LF. A longer one is
/// read to its end and dropped (kLineTooLong), so memory stays bounded.
inline constexpr size_t kLongestLine = size_t{1} << 20;

} // namespace tolmail::socket
