// The exported description of a type library (TmLibraryDesc), derived from its tables.
#pragma once

#include <deque>
#include <unordered_map>
#include <vector>

#include "platform/hidden.h"
#include "server/type_table.h"
#include "tolmail/automation.h"

namespace tolmail::server {

/// The description of one library, with the storage its pointers point into.
class TOLMAIL_HIDDEN LibraryDescription {
public:
    explicit LibraryDescription(const Library& library);
    LibraryDescription(const LibraryDescription&) = delete;
    LibraryDescription& operator=(const LibraryDescription&) = delete;

    const TmLibraryDesc& desc() const noexcept { return desc_; }
    /// The description of one of the library's types; nullptr for a type it does not hold.
    const TmTypeDesc* typeOf(const TypeEntry& entry) const;

private:
    void describeMembers(const TypeEntry& entry, TmTypeDesc& type);
    void describeEvents(const TypeEntry& entry, TmTypeDesc& type);
    const TmParamDesc* params(std::vector<TmParamDesc> list);

    TmLibraryDesc desc_{};
    std::vector<TmTypeDesc> types_;
    std::unordered_map<const TypeEntry*, size_t> index_;
    std::deque<std::vector<TmFuncDesc>> funcs_;
    std::deque<std::vector<TmParamDesc>> params_;
    std::deque<std::vector<TmEnumValueDesc>> values_;
};

/// The description of `library`, built on first use and kept for the life of the process.
const LibraryDescription& DescriptionOf(const Library& library);

} // namespace tolmail::server
