#include "server/catalog.h"

namespace tolmail::server {

const Catalog& TheCatalog()
{
    static const Catalog catalog{&TheLibrary, &InterfaceOf, &ClassOf};
    return catalog;
}

} // namespace tolmail::server
