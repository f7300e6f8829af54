// The one place where the host's TmVariant and the library's Variant meet.
#pragma once

#include "server/catalog.h"
#include "tolmail/automation.h"
#include "tolmail/variant.h"

namespace tolmail::server {

/// A host's value as a Variant (a by-reference variant is followed once). A type the
/// library does not take throws tolmail::Error with TM_DISP_E_TYPEMISMATCH; an object that
/// is not one of the library's becomes an Object without a pointer, which no member accepts.
Variant FromHost(const TmVariant& value);

/// A Variant for the host: `out` is overwritten (it must own nothing) and then owns copies of
/// text and bytes and a reference to a wrapper of an object, whose interface `catalog` gives.
/// Throws (before anything is allocated) for an object of a class the catalog does not know.
void ToHost(const Variant& value, const Catalog& catalog, TmVariant& out);

} // namespace tolmail::server
