// Which tables a set of automation objects answers from. The exported entry points use the
// library's own tables; the core takes them as a parameter so that it can run over any
// table of the same shape.
#pragma once

#include "platform/hidden.h"
#include "server/type_table.h"

namespace tolmail::server {

/// The library's types and the two look-ups the dispatch needs: the interface of an
/// object's C++ class by its type name, and the class that owns an interface.
struct TOLMAIL_HIDDEN Catalog {
    const Library& (*library)();
    const TypeEntry* (*interfaceOf)(const char* objectTypeName);
    const TypeEntry* (*classOf)(const TypeEntry& interface);
};

/// The catalog of the library's own tables (TheLibrary, InterfaceOf, ClassOf).
const Catalog& TheCatalog();

} // namespace tolmail::server
