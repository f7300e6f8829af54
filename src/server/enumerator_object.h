// What a collection's NewEnum hands out: an enumerator over a snapshot of its items.
#pragma once

#include <vector>

#include "server/catalog.h"
#include "tolmail/automation.h"
#include "tolmail/variant.h"

namespace tolmail::server {

/// A Variant holding an enumerator object over `items` in order (the dispatch turns it into
/// the host's enumerator interface). The items are taken when NewEnum is called: a
/// collection changed during a for-each loop does not disturb the loop.
Variant MakeEnumerator(std::vector<Variant> items);

/// True for the Object that MakeEnumerator puts in its Variant.
bool IsEnumerator(const Object& object) noexcept;

/// A new host reference (count 1) to an enumerator over the items of `enumerator` (an
/// Object for which IsEnumerator holds), starting at the first; objects among the items
/// reach the host through `catalog`.
TmEnumVariant* NewHostEnumerator(const Catalog& catalog, const Object& enumerator);

} // namespace tolmail::server
