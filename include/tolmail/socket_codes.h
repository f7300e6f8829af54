// The result codes of TolvanSocket's members, and the limit on the lines it hands out.
#pragma once

#include <cstddef>
#include <cstdint>

/// Results of TolvanSocket's methods. senddta returns its code in a Variant holding a
/// 16-bit integer.
namespace tolmail::socket_result {

/// Connect, GetData, GetlnData, senddta: done. Listen: listening (TCP) or bound (UDP).
inline constexpr int32_t Ok = 0;
/// Accept: the connection was accepted; this component now owns it.
inline constexpr int32_t Accepted = -1;
/// GetData, GetlnData: nothing (no complete line) arrived within TimeOut; a partial
/// line stays for the next call.
inline constexpr int32_t NothingArrived = 1;
/// Connect: the component already holds a connected socket; nothing was done.
inline constexpr int32_t AlreadyConnected = 3;
/// Connect: the connection failed (host not resolved, port 65535, refused, timed out).
/// Listen: the socket could not be set up (port 65535 or taken, bind or listen failed).
inline constexpr int32_t OpenFailed = 4;
/// GetData, GetlnData, senddta (TCP): not connected, or the connection closed during
/// the send; reads return it once nothing is left of what arrived before the close.
inline constexpr int32_t NotConnected = 6;
/// senddta (UDP): the datagram socket could not be created.
inline constexpr int32_t DatagramSocketFailed = 8;
/// senddta: not sent; the peer took nothing for TimeOut seconds, or the send failed.
inline constexpr int32_t NotSent = 9;
/// Accept: socketID is -1, or the platform's accept failed.
inline constexpr int32_t AcceptFailed = 10;
/// GetlnData: a line longer than socket_limit::LongestLine was read to its end and
/// dropped; the next call returns the line after it.
inline constexpr int32_t LineTooLong = 12;
/// Listen: the component already holds an open socket.
inline constexpr int32_t AlreadyListening = 16;
/// Accept: the component already holds an open socket.
inline constexpr int32_t AlreadyOpenForAccept = 32;
/// StartTLS, and Connect with ImplicitTLS: the TLS handshake failed (the server's
/// certificate was refused, the server did not answer in TLS or not within TimeOut, or
/// it closed the connection); TLSError says why, and the connection is closed.
inline constexpr int32_t TlsFailed = 64;
/// Connect, Listen, Accept, senddta (UDP): the thread's socket layer did not start.
inline constexpr int32_t LayerFailed = 96;

} // namespace tolmail::socket_result

namespace tolmail::socket_limit {

/// The longest line GetlnData hands out, counted without its CR LF; a longer one gives
/// socket_result::LineTooLong, so that a peer cannot make a reader's memory grow
/// without bound.
inline constexpr size_t LongestLine = size_t{1} << 20;

} // namespace tolmail::socket_limit
