// The host's view of a library object: a TmDispatch over the object and its interface.
#pragma once

#include <memory>

#include "server/catalog.h"
#include "tolmail/automation.h"
#include "tolmail/variant.h"

namespace tolmail::server {

/// A new host reference (count 1) to `object`, seen through `interface`, living on the
/// calling thread. `typeName` is the name its Variant Object carries.
TmDispatch* WrapObject(const Catalog& catalog, const TypeEntry& interface, std::shared_ptr<void> object,
                       const char* typeName);

/// The object behind a host's dispatch pointer, as an argument carries it. Anything that
/// is not one of the library's wrappers (or a wrapper of another thread) gives an Object
/// without a pointer and false.
bool UnwrapObject(const TmDispatch* dispatch, Object& object);

} // namespace tolmail::server
