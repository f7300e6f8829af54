// What a collection's NewEnum hands out: an enumerator over a snapshot of its items.
#pragma once

#include <vector>

#include "tolmail/variant.h"

namespace tolmail::server {

/// A Variant holding an enumerator object over `items` in order (the dispatch turns it into
/// the host's enumerator interface). The items are taken when NewEnum is called: a
/// collection changed during a for-each loop does not disturb the loop.
Variant MakeEnumerator(std::vector<Variant> items);

} // namespace tolmail::server
