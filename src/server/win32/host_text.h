// The one place where the host's strings (UTF-16 BSTR) meet the library's (bytes): through
// the system's ANSI code page, so that a script's text reaches files and servers as the
// system would write it, and each byte of binary data is one character.
#pragma once

#define WIN32_LEAN_AND_MEAN
#include <windows.h>
#include <oleauto.h>

#include <string>
#include <string_view>

namespace tolmail::server::win32 {

/// The bytes of a host's string; a NULL BSTR is the empty string.
std::string FromHostText(const wchar_t* text, size_t length);
inline std::string FromHostText(BSTR text) { return FromHostText(text, text ? SysStringLen(text) : 0); }

/// A new BSTR with the library's bytes; nullptr only when memory ran out.
BSTR ToHostText(std::string_view bytes);

} // namespace tolmail::server::win32
