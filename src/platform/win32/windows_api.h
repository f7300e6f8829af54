// The Windows headers, included in the one order that works (Winsock 2 before windows.h)
// and without the parts of windows.h that collide with the standard library's names.
#pragma once

#ifndef WIN32_LEAN_AND_MEAN
#define WIN32_LEAN_AND_MEAN
#endif
#ifndef NOMINMAX
#define NOMINMAX
#endif

#include <winsock2.h>
#include <ws2tcpip.h>
#include <windows.h>

// windows.h maps this name to its ANSI or wide function; the platform interface has a
// function of its own by that name.
#undef CallWindowProc

#include <cstdint>

namespace tolmail::platform::win32 {

// Socket and kernel handles travel through the library as 32-bit integers. Windows keeps
// both within 32 bits (a 64-bit process may hand them to a 32-bit one), so the narrowing
// loses nothing and sign extension brings INVALID_SOCKET / INVALID_HANDLE_VALUE back.
inline int32_t ToInt(SOCKET s) { return static_cast<int32_t>(static_cast<intptr_t>(s)); }
inline SOCKET ToSocket(int32_t s) { return static_cast<SOCKET>(static_cast<intptr_t>(s)); }
inline int32_t ToInt(HANDLE h) { return static_cast<int32_t>(reinterpret_cast<intptr_t>(h)); }
inline HANDLE ToHandle(int32_t h) { return reinterpret_cast<HANDLE>(static_cast<intptr_t>(h)); }

} // namespace tolmail::platform::win32
