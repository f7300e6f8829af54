// Name and id maps per interface, so that GetIDOfName and Invoke cost a hash look-up.
#include "server/interface_info.h"

#include <map>
#include <memory>
#include <mutex>

#include "server/library_desc.h"

namespace tolmail::server {

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
    for (const Member& member : interface.members) {
        byName_.emplace(LowerCase(member.name), member.dispid);
        byId_.emplace(member.dispid, &member);
    }
}

const Member* InterfaceInfo::member(int32_t dispid) const
{
    const auto found = byId_.find(dispid);
    return found == byId_.end() ? nullptr : found->second;
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
    static std::mutex mutex;
    static std::map<const TypeEntry*, std::unique_ptr<InterfaceInfo>> built;
    std::lock_guard lock(mutex);
    auto& slot = built[&interface];
    if (!slot)
        slot = std::make_unique<InterfaceInfo>(catalog, interface);
    return *slot;
}

} // namespace tolmail::server
