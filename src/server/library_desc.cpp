// One TmFuncDesc per slot, as a type library lays them out: a property with get and let
// (or set) is two entries, get first; the accessor that assigns takes the value as its last
// parameter and returns nothing.
#include "server/library_desc.h"

#include <map>
#include <memory>
#include <mutex>

#include "platform/threads.h"

namespace tolmail::server {
namespace {

TmFuncDesc Slot(const Member& member, uint16_t invokeKind, TmVarType resultType, const TmParamDesc* params,
                size_t paramCount)
{
    TmFuncDesc func{};
    func.name = member.name;
    func.dispid = member.dispid;
    func.invokeKind = invokeKind;
    func.flags = member.hidden ? TM_FUNCFLAG_HIDDEN : 0;
    func.resultType = resultType;
    func.paramCount = static_cast<uint16_t>(paramCount);
    func.params = params;
    func.help = member.help ? member.help : "";
    return func;
}

TmParamDesc Described(const Param& param)
{
    return TmParamDesc{param.name, param.type, static_cast<uint16_t>(param.flags | TM_PARAMFLAG_IN)};
}

} // namespace

LibraryDescription::LibraryDescription(const Library& library)
{
    types_.resize(library.types.size());
    for (size_t i = 0; i < library.types.size(); ++i)
        index_.emplace(library.types[i], i);

    for (size_t i = 0; i < library.types.size(); ++i) {
        const TypeEntry& entry = *library.types[i];
        TmTypeDesc& type = types_[i];
        type.name = entry.name;
        type.kind = entry.kind;
        type.flags = entry.flags;
        type.guid = entry.guid;
        type.help = entry.help ? entry.help : "";
        describeMembers(entry, type);
        describeEvents(entry, type);
        if (!entry.values.empty()) {
            auto& values = values_.emplace_back();
            for (const EnumValue& value : entry.values)
                values.push_back(TmEnumValueDesc{value.name, value.value});
            type.valueCount = static_cast<uint32_t>(values.size());
            type.values = values.data();
        }
        if (entry.defaultInterface)
            type.defaultInterface = typeOf(*entry.defaultInterface);
        if (entry.eventInterface)
            type.eventInterface = typeOf(*entry.eventInterface);
    }

    desc_.name = library.name;
    desc_.guid = library.guid;
    desc_.majorVersion = library.majorVersion;
    desc_.minorVersion = library.minorVersion;
    desc_.lcid = library.lcid;
    desc_.help = library.help ? library.help : "";
    desc_.typeCount = static_cast<uint32_t>(types_.size());
    desc_.types = types_.data();
}

const TmTypeDesc* LibraryDescription::typeOf(const TypeEntry& entry) const
{
    const auto found = index_.find(&entry);
    return found == index_.end() ? nullptr : &types_[found->second];
}

const TmParamDesc* LibraryDescription::params(std::vector<TmParamDesc> list)
{
    if (list.empty())
        return nullptr;
    return params_.emplace_back(std::move(list)).data();
}

void LibraryDescription::describeMembers(const TypeEntry& entry, TmTypeDesc& type)
{
    if (entry.members.empty())
        return;
    auto& funcs = funcs_.emplace_back();
    for (const Member& member : entry.members) {
        std::vector<TmParamDesc> declared;
        for (const Param& param : member.params)
            declared.push_back(Described(param));
        if (member.access & Method) {
            funcs.push_back(Slot(member, TM_DISPATCH_METHOD, member.type, params(declared), declared.size()));
            continue;
        }
        const bool getFirst = !member.putFirst;
        if ((member.access & Get) && getFirst)
            funcs.push_back(Slot(member, TM_DISPATCH_PROPERTYGET, member.type, params(declared), declared.size()));
        for (const uint16_t put : {uint16_t(Let), uint16_t(Set)}) {
            if (!(member.access & put))
                continue;
            std::vector<TmParamDesc> withValue = declared;
            withValue.push_back(TmParamDesc{"value", member.type, TM_PARAMFLAG_IN});
            const size_t count = withValue.size();
            funcs.push_back(Slot(member, put, TM_VT_EMPTY, params(std::move(withValue)), count));
        }
        if ((member.access & Get) && !getFirst)
            funcs.push_back(Slot(member, TM_DISPATCH_PROPERTYGET, member.type, params(declared), declared.size()));
    }
    type.funcCount = static_cast<uint32_t>(funcs.size());
    type.funcs = funcs.data();
}

void LibraryDescription::describeEvents(const TypeEntry& entry, TmTypeDesc& type)
{
    if (entry.events.empty())
        return;
    auto& funcs = funcs_.emplace_back();
    for (const Event& event : entry.events) {
        std::vector<TmParamDesc> declared;
        for (const Param& param : event.params)
            declared.push_back(Described(param));
        TmFuncDesc func{};
        func.name = event.name;
        func.dispid = event.dispid;
        func.invokeKind = TM_DISPATCH_METHOD;
        func.resultType = TM_VT_EMPTY;
        func.paramCount = static_cast<uint16_t>(declared.size());
        func.params = params(std::move(declared));
        func.help = "";
        funcs.push_back(func);
    }
    type.funcCount = static_cast<uint32_t>(funcs.size());
    type.funcs = funcs.data();
}

const LibraryDescription& DescriptionOf(const Library& library)
{
    // Built once per library; hosts may ask from any thread.
    static platform::ThreadLock mutex;
    static std::map<const Library*, std::unique_ptr<LibraryDescription>> built;
    std::lock_guard lock(mutex);
    auto& slot = built[&library];
    if (!slot)
        slot = std::make_unique<LibraryDescription>(library);
    return *slot;
}

} // namespace tolmail::server
