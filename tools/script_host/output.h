// Text out of the host: what the script echoes, and the host's own complaints.
#pragma once

#include <string>
#include <string_view>

#include "com.h"

namespace script_host {

/// One line to standard output (to the console in its own characters, to a pipe or file
/// as UTF-8).
void EchoLine(std::wstring_view text);

/// One line to standard error, the same way.
void Complain(std::wstring_view text);

/// The HRESULT as the 0x%08X form people search for.
std::wstring HresultText(HRESULT code);

/// The error an engine or a component described, in one line; fills a deferred
/// description first.
std::wstring ExceptionText(EXCEPINFO& info, HRESULT fallback);

} // namespace script_host
