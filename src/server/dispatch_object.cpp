// The dispatch wrapper: identity and count, late-bound calls by id, and event connections.
// Every entry checks the calling thread first: an object belongs to the thread that made it,
// and a call from elsewhere must leave it untouched.
#include "server/dispatch_object.h"

#include <algorithm>
#include <new>
#include <exception>
#include <string>
#include <utility>
#include <vector>

#include "platform/threads.h"
#include "server/abi_variant.h"
#include "server/arguments.h"
#include "server/error_info.h"
#include "server/guid.h"
#include "server/interface_info.h"
#include "server/live_count.h"
#include "tolmail/error.h"

namespace tolmail::server {
namespace {

struct DispatchObject : TmDispatch {
    DispatchObject(const TmDispatchVtbl* table, const InterfaceInfo& info_, std::shared_ptr<void> object_,
                   const char* typeName_)
        : TmDispatch{table}, info(info_), object(std::move(object_)), typeName(typeName_)
    {
        ObjectCreated();
    }
    ~DispatchObject()
    {
        // A connection must not outlive the host's last reference: its context may be gone.
        if (info.classEntry && info.classEntry->unadvise)
            for (const uint32_t cookie : cookies)
                info.classEntry->unadvise(object.get(), cookie);
        ObjectDestroyed();
    }

    bool onOwnerThread() const noexcept { return owner == platform::CurrentThreadId(); }

    uint32_t refs = 1;
    const platform::ThreadId owner = platform::CurrentThreadId();
    const InterfaceInfo& info;
    std::shared_ptr<void> object;
    const char* typeName;
    std::vector<uint32_t> cookies;
};

const TmDispatchVtbl& Vtable();

DispatchObject* Own(TmDispatch* self) noexcept
{
    return self && self->vtbl == &Vtable() ? static_cast<DispatchObject*>(self) : nullptr;
}

TmResult WrongThread(TmErrorInfo* error, const DispatchObject& o) noexcept
{
    return Failure(error, TM_RPC_E_WRONG_THREAD, o.info.source,
                   "The object was called from a thread other than the one that created it");
}

bool IsMissingMarker(const TmVariant& v) noexcept
{
    return v.vt == TM_VT_ERROR && v.u.scode == TM_DISP_E_PARAMNOTFOUND;
}

/// Arguments the host must pass: those up to the last one not marked optional.
size_t RequiredCount(std::span<const Param> params) noexcept
{
    size_t required = 0;
    for (size_t i = 0; i < params.size(); ++i)
        if (!(params[i].flags & TM_PARAMFLAG_OPTIONAL))
            required = i + 1;
    return required;
}

TmResult QueryInterface(TmDispatch* self, const TmGuid* iid, void** out)
{
    if (!out)
        return TM_E_POINTER;
    *out = nullptr;
    DispatchObject* o = Own(self);
    if (!o || !iid)
        return TM_E_POINTER;
    if (!o->onOwnerThread())
        return TM_RPC_E_WRONG_THREAD;
    if (SameGuid(*iid, TM_IID_IUnknown) || SameGuid(*iid, TM_IID_IDispatch) || SameGuid(*iid, o->info.entry.guid)) {
        ++o->refs;
        *out = o;
        return TM_S_OK;
    }
    return TM_E_NOINTERFACE;
}

uint32_t AddRef(TmDispatch* self)
{
    DispatchObject* o = Own(self);
    if (!o || !o->onOwnerThread())
        return 0;
    return ++o->refs;
}

uint32_t Release(TmDispatch* self)
{
    DispatchObject* o = Own(self);
    if (!o || !o->onOwnerThread())
        return 0;  // a leak rather than the object's clean-up on a thread it does not own
    const uint32_t left = --o->refs;
    if (left == 0)
        delete o;
    return left;
}

const TmTypeDesc* GetTypeDesc(TmDispatch* self)
{
    DispatchObject* o = Own(self);
    return o && o->onOwnerThread() ? o->info.desc : nullptr;
}

TmResult GetIDOfName(TmDispatch* self, const char* name, int32_t* dispid, TmErrorInfo* error)
{
    DispatchObject* o = Own(self);
    if (!o || !name || !dispid)
        return Failure(error, TM_E_POINTER, "", "A pointer argument is NULL");
    if (!o->onOwnerThread())
        return WrongThread(error, *o);
    try {
        if (o->info.dispidOf(name, *dispid))
            return TM_S_OK;
        return Failure(error, TM_DISP_E_UNKNOWNNAME, o->info.source,
                       std::string("Unknown name: ") + o->info.entry.name + " has no member " + name);
    } catch (...) {
        return Failure(error, TM_E_OUTOFMEMORY, o->info.source, "Out of memory");
    }
}

/// The accessor that `flags` asks for, or nullptr. A property get may be asked as a method
/// as well: script engines that cannot tell ask for both, and some ask for a method only.
Invoker Accessor(const Member& member, uint16_t flags, bool& put)
{
    put = flags & (TM_DISPATCH_PROPERTYPUT | TM_DISPATCH_PROPERTYPUTREF);
    if (put)
        return (member.access & (Let | Set)) ? member.put : nullptr;
    if ((member.access & Method) && (flags & TM_DISPATCH_METHOD))
        return member.get;
    if ((member.access & Get) && (flags & (TM_DISPATCH_PROPERTYGET | TM_DISPATCH_METHOD)))
        return member.get;
    return nullptr;
}

/// The arguments of one call as Variants, built in place: most calls take a few, and these
/// stay on the stack (a late-bound call should cost a hash look-up and conversions only).
class ArgumentValues {
public:
    explicit ArgumentValues(size_t count)
    {
        if (count > kInline) {
            heapValues_.reserve(count);
            heapSlots_.reserve(count);
        }
    }
    ~ArgumentValues()
    {
        if (heapValues_.capacity() == 0)
            for (size_t i = 0; i < built_; ++i)
                inline_.values[i].~Variant();
    }
    ArgumentValues(const ArgumentValues&) = delete;
    ArgumentValues& operator=(const ArgumentValues&) = delete;

    Variant& add(Variant value, bool byRef)
    {
        Variant* slot;
        if (heapValues_.capacity() == 0) {
            slot = new (&inline_.values[built_]) Variant(std::move(value));
            inlineSlots_[built_] = Arguments::Slot{slot, byRef};
        } else {
            slot = &heapValues_.emplace_back(std::move(value));
            heapSlots_.push_back(Arguments::Slot{slot, byRef});
        }
        ++built_;
        return *slot;
    }
    Variant& operator[](size_t i) { return *slots()[i].value; }
    std::span<const Arguments::Slot> slots() const
    {
        return heapValues_.capacity() == 0 ? std::span<const Arguments::Slot>(inlineSlots_, built_)
                                           : std::span<const Arguments::Slot>(heapSlots_);
    }

private:
    static constexpr size_t kInline = 8;
    union Inline {  // constructed one by one by add()
        Inline() {}
        ~Inline() {}
        Variant values[kInline];
    };
    Inline inline_;
    Arguments::Slot inlineSlots_[kInline];
    size_t built_ = 0;
    std::vector<Variant> heapValues_;  // reserved once: the slots point into it
    std::vector<Arguments::Slot> heapSlots_;
};

TmResult CallMember(DispatchObject& o, const Member& member, Invoker invoker, bool put, TmVariant* args,
                    uint32_t argCount, TmVariant* result, TmErrorInfo* error)
{
    const InterfaceInfo& info = o.info;
    // A put takes the value after the member's own parameters.
    const size_t declared = member.params.size() + (put ? 1 : 0);
    const size_t required = RequiredCount(member.params) + (put ? 1 : 0);
    size_t count = argCount;
    while (count > 0 && IsMissingMarker(args[count - 1]))
        --count;
    if (count > declared || argCount < required)
        return Failure(error, TM_DISP_E_BADPARAMCOUNT, info.source,
                       std::string("Wrong number of arguments: ") + member.name + " takes " +
                           (required == declared ? std::to_string(declared)
                                                 : std::to_string(required) + " to " + std::to_string(declared)) +
                           ", " + std::to_string(argCount) + " given");
    for (size_t i = 0; i < required; ++i)
        if (i >= count || IsMissingMarker(args[i]))
            return Failure(error, TM_DISP_E_PARAMNOTOPTIONAL, info.source,
                           "Argument not optional: argument " + std::to_string(i + 1) + " of " + member.name);

    ArgumentValues values(count);
    std::vector<std::pair<size_t, Variant>> byRefBefore;
    for (size_t i = 0; i < count; ++i) {
        const bool byRef = args[i].vt == (TM_VT_BYREF | TM_VT_VARIANT);
        Variant& value = values.add(FromHost(args[i]), byRef);
        if (byRef)
            byRefBefore.emplace_back(i, value);
    }

    Arguments arguments(values.slots(), member.name);
    Variant value;
    invoker(o.object.get(), arguments, value);

    for (const auto& [i, before] : byRefBefore) {
        if (values[i] == before)
            continue;
        TmVariant written;
        ToHost(values[i], info.catalog, written);
        TmVariantClear(args[i].u.ref);
        *args[i].u.ref = written;
    }
    if (result) {
        TmVariantClear(result);
        ToHost(value, info.catalog, *result);
    }
    return TM_S_OK;
}

TmResult Invoke(TmDispatch* self, int32_t dispid, uint16_t flags, TmVariant* args, uint32_t argCount,
                TmVariant* result, TmErrorInfo* error)
{
    DispatchObject* o = Own(self);
    if (!o || (argCount && !args))
        return Failure(error, TM_E_POINTER, "", "A pointer argument is NULL");
    if (!o->onOwnerThread())
        return WrongThread(error, *o);
    const InterfaceInfo& info = o->info;
    // The wrapper may lose its last reference inside the call (a handler releasing it); the
    // object must stay for the rest of the call.
    ++o->refs;
    struct Hold {
        TmDispatch* self;
        ~Hold() { Release(self); }
    } hold{self};
    try {
        const Member* member = info.member(dispid);
        if (!member)
            return Failure(error, TM_DISP_E_MEMBERNOTFOUND, info.source,
                           "Member not found: " + std::string(info.entry.name) + " has no member with dispatch id " +
                               std::to_string(dispid));
        bool put = false;
        const Invoker invoker = Accessor(*member, flags, put);
        if (!invoker)
            return Failure(error, TM_DISP_E_MEMBERNOTFOUND, info.source,
                           std::string("Member not found: ") + member->name + " cannot be " +
                               (put                         ? "assigned"
                                : (member->access & Method) ? "read as a property"
                                                            : "read"));
        return CallMember(*o, *member, invoker, put, args, argCount, result, error);
    } catch (const Error& e) {
        if (IsDispatchResult(e.code()))
            return Failure(error, e.code(), info.source, e.what());
        FillErrorInfo(error, e.code(), info.source, e.what());
        return TM_DISP_E_EXCEPTION;
    } catch (const std::exception& e) {
        FillErrorInfo(error, TM_E_FAIL, info.source, e.what());
        return TM_DISP_E_EXCEPTION;
    } catch (...) {
        FillErrorInfo(error, TM_E_FAIL, info.source, "The member failed");
        return TM_DISP_E_EXCEPTION;
    }
}

/// Hands one event to the host's callback: arguments as variants the library owns, the
/// by-reference ones behind a pointer the host may write through, copied back afterwards.
void Forward(const InterfaceInfo& info, TmEventCallback callback, void* context, int32_t dispid,
             std::span<Variant> args) noexcept
{
    try {
        const std::span<const Param> params = info.eventParams(dispid);
        std::vector<TmVariant> owned(args.size());
        std::vector<TmVariant> passed(args.size());
        struct Clear {
            std::vector<TmVariant>& owned;
            ~Clear()
            {
                for (TmVariant& v : owned)
                    TmVariantClear(&v);
            }
        } clear{owned};
        for (size_t i = 0; i < args.size(); ++i)
            ToHost(args[i], info.catalog, owned[i]);
        for (size_t i = 0; i < args.size(); ++i) {
            if (i < params.size() && (params[i].flags & TM_PARAMFLAG_BYREF)) {
                passed[i].vt = TM_VT_BYREF | TM_VT_VARIANT;
                passed[i].u.ref = &owned[i];
            } else {
                passed[i] = owned[i];
            }
        }
        callback(context, dispid, passed.data(), static_cast<uint32_t>(passed.size()));
        for (size_t i = 0; i < args.size(); ++i)
            if (passed[i].vt == (TM_VT_BYREF | TM_VT_VARIANT))
                args[i] = FromHost(owned[i]);
    } catch (...) {
        // An event the host cannot receive must not break the component that raised it.
    }
}

TmResult Advise(TmDispatch* self, TmEventCallback callback, void* context, uint32_t* cookie)
{
    DispatchObject* o = Own(self);
    if (!o || !callback || !cookie)
        return TM_E_POINTER;
    if (!o->onOwnerThread())
        return TM_RPC_E_WRONG_THREAD;
    const TypeEntry* owner = o->info.classEntry;
    if (!owner || !owner->advise || !owner->unadvise)
        return TM_E_NOINTERFACE;
    try {
        const InterfaceInfo* info = &o->info;
        o->cookies.reserve(o->cookies.size() + 1);
        *cookie = owner->advise(o->object.get(), [info, callback, context](int32_t dispid, std::span<Variant> args) {
            Forward(*info, callback, context, dispid, args);
        });
        o->cookies.push_back(*cookie);
        return TM_S_OK;
    } catch (const std::bad_alloc&) {
        return TM_E_OUTOFMEMORY;
    } catch (...) {
        return TM_E_FAIL;
    }
}

TmResult Unadvise(TmDispatch* self, uint32_t cookie)
{
    DispatchObject* o = Own(self);
    if (!o)
        return TM_E_POINTER;
    if (!o->onOwnerThread())
        return TM_RPC_E_WRONG_THREAD;
    const auto found = std::find(o->cookies.begin(), o->cookies.end(), cookie);
    if (found == o->cookies.end())
        return TM_E_INVALIDARG;
    o->cookies.erase(found);
    try {
        o->info.classEntry->unadvise(o->object.get(), cookie);
        return TM_S_OK;
    } catch (...) {
        return TM_E_FAIL;
    }
}

const TmDispatchVtbl kVtable = {QueryInterface, AddRef, Release, GetTypeDesc, GetIDOfName, Invoke, Advise, Unadvise};

const TmDispatchVtbl& Vtable() { return kVtable; }

} // namespace

TmDispatch* WrapObject(const Catalog& catalog, const TypeEntry& interface, std::shared_ptr<void> object,
                       const char* typeName)
{
    return new DispatchObject(&kVtable, InfoOf(catalog, interface), std::move(object), typeName);
}

bool UnwrapObject(const TmDispatch* dispatch, Object& object)
{
    object = Object{};
    if (!dispatch || dispatch->vtbl != &kVtable)
        return false;
    const auto* o = static_cast<const DispatchObject*>(dispatch);
    if (!o->onOwnerThread())
        return false;
    object.ptr = o->object;
    object.typeName = o->typeName;
    return true;
}

} // namespace tolmail::server
