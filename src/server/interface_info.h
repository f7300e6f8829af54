// What the dispatch needs of one interface, worked out once: the members by dispatch id,
// the dispatch ids by name in any letter case, the class that owns it and its description.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <unordered_map>
#include <vector>

#include "platform/hidden.h"
#include "server/catalog.h"
#include "server/type_table.h"

namespace tolmail::server {

struct TOLMAIL_HIDDEN InterfaceInfo {
    InterfaceInfo(const Catalog& catalog, const TypeEntry& interface);

    /// The member with this dispatch id; nullptr when the interface has none.
    const Member* member(int32_t dispid) const;
    /// The dispatch id of a member by name, compared without regard to letter case.
    bool dispidOf(std::string_view name, int32_t& dispid) const;
    /// The parameters of an event of the owning class's event interface (empty if unknown).
    std::span<const Param> eventParams(int32_t dispid) const;

    const Catalog& catalog;
    const TypeEntry& entry;
    const TypeEntry* classEntry;  // nullptr for the interfaces of non-creatable types
    const TmTypeDesc* desc;
    std::string source;  // "<library>.<class>", the source of its automation errors

private:
    std::unordered_map<std::string, int32_t> byName_;  // keys in lower case
    // Dispatch ids are small numbers (and -4): a table indexed from the lowest one.
    int32_t lowestId_ = 0;
    std::vector<const Member*> byId_;
};

/// The information of `interface`, built on first use and kept for the life of the process.
const InterfaceInfo& InfoOf(const Catalog& catalog, const TypeEntry& interface);

/// `text` in ASCII lower case (member names are ASCII).
std::string LowerCase(std::string_view text);

} // namespace tolmail::server
