// The host's IEnumVARIANT over the core's enumerator (what a collection's NewEnum gives).
#pragma once

#define WIN32_LEAN_AND_MEAN
#include <windows.h>
#include <oaidl.h>

#include "tolmail/automation.h"

namespace tolmail::server::win32 {

/// A new host enumerator (count 1) over the core's, whose reference it takes over; nullptr
/// (and `unknown` released) when the core object is no enumerator.
IEnumVARIANT* WrapEnumerator(TmUnknown* unknown);

} // namespace tolmail::server::win32
