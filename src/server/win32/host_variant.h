// VARIANT <-> TmVariant: the host's values for the core and the core's for the host.
#pragma once

#define WIN32_LEAN_AND_MEAN
#include <windows.h>
#include <oleauto.h>

#include "tolmail/automation.h"

namespace tolmail::server::win32 {

/// The core's value for a host's VARIANT (a by-reference one followed). `out` must own
/// nothing; afterwards it owns library copies and a core reference for one of the
/// library's objects (release with TmVariantClear). A foreign object becomes an object the
/// core refuses; a type the core does not know gives DISP_E_TYPEMISMATCH.
HRESULT ToCore(const VARIANT& value, TmVariant& out);

/// The host's VARIANT for a core value, which stays as it is (an event's argument, owned by
/// the core): text is copied, an object gets a new host object. `out` must be initialised
/// (it is cleared first).
HRESULT CopyToHost(const TmVariant& value, VARIANT& out);

/// CopyToHost for a value the caller owns, which is released and left empty.
HRESULT ToHost(TmVariant& value, VARIANT& out);

} // namespace tolmail::server::win32
