// Name and id maps per interface, so that GetIDOfName and Invoke cost a hash look-up.
#include "server/interface_info.h"

#include <algorithm>
#include <map>
#include <memory>
#include <mutex>
#include <stdexcept>

#include "platform/threads.h"
#include "server/library_desc.h"

namespace tolmail::server {
namespace {

// A table's ids are chosen by hand, in the low hundreds; a wider spread is a slip in a table.
constexpr int64_t kMaxIdRange = 1 << 16;

} // namespace

std::string LowerCase(std::string_view text)
{
    std::string lower(text);
    for (char& c : lower)
        if (c >= 'A' && c <= 'Z')
            c = static_cast<char>(c - 'A' + 'a');
    return lower;
}

InterfaceInfo::InterfaceInfo(const Catalog& catalog_, const TypeEntry& interface)
    : catalog(catalog_),
      entry(interface),
      classEntry(catalog_.classOf(interface)),
      desc(DescriptionOf(catalog_.library()).typeOf(interface)),
      source(std::string(catalog_.library().name) + "." + (classEntry ? classEntry->name : interface.name))
{
    int32_t highestId = 0;
    for (const Member& member : interface.members) {
        byName_.emplace(LowerCase(member.name), member.dispid);
        lowestId_ = std::min(lowestId_, member.dispid);
        highestId = std::max(highestId, member.dispid);
    }
    if (!interface.members.empty()) {
        if (int64_t(highestId) - lowestId_ >= kMaxIdRange)
            throw std::length_error(std::string("dispatch ids of ") + interface.name + " too far apart");
        byId_.assign(size_t(int64_t(highestId) - lowestId_ + 1), nullptr);
    }
    for (const Member& member : interface.members)
        byId_[size_t(member.dispid - lowestId_)] = &member;
}

const Member* InterfaceInfo::member(int32_t dispid) const
{
    const int64_t index = int64_t(dispid) - lowestId_;
    return index >= 0 && index < int64_t(byId_.size()) ? byId_[size_t(index)] : nullptr;
}

bool InterfaceInfo::dispidOf(std::string_view name, int32_t& dispid) const
{
    const auto found = byName_.find(LowerCase(name));
    if (found == byName_.end())
        return false;
    dispid = found->second;
    return true;
}

std::span<const Param> InterfaceInfo::eventParams(int32_t dispid) const
{
    if (classEntry && classEntry->eventInterface)
        for (const Event& event : classEntry->eventInterface->events)
            if (event.dispid == dispid)
                return event.params;
    return {};
}

const InterfaceInfo& InfoOf(const Catalog& catalog, const TypeEntry& interface)
{
    // Wrappers are made on many threads; each interface's maps are built once.
    static platform::ThreadLock mutex;
    static std::map<const TypeEntry*, std::unique_ptr<InterfaceInfo>> built;
    std::lock_guard lock(mutex);
    auto& slot = built[&interface];
    if (!slot)
        slot = std::make_unique<InterfaceInfo>(catalog, interface);
    return *slot;
}

} // namespace tolmail::server
