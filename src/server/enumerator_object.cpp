// The host's enumerator: a position over a shared, unchanging snapshot of items, so that a
// clone costs no copy of them.
#include "server/enumerator_object.h"

#include <memory>

#include "platform/threads.h"
#include "server/abi_variant.h"
#include "server/guid.h"
#include "server/live_count.h"

namespace tolmail::server {
namespace {

// The type name that marks the enumerator among the objects a member may return.
constexpr const char* kEnumeratorTypeName = "IEnumVARIANT";

using Items = std::vector<Variant>;

struct EnumeratorObject : TmEnumVariant {
    EnumeratorObject(const TmEnumVariantVtbl* table, const Catalog& catalog_, std::shared_ptr<const Items> items_,
                     size_t position_)
        : TmEnumVariant{table}, catalog(catalog_), items(std::move(items_)), position(position_)
    {
        ObjectCreated();
    }
    ~EnumeratorObject() { ObjectDestroyed(); }

    bool onOwnerThread() const noexcept { return owner == platform::CurrentThreadId(); }

    uint32_t refs = 1;
    const platform::ThreadId owner = platform::CurrentThreadId();
    const Catalog& catalog;
    std::shared_ptr<const Items> items;
    size_t position;
};

const TmEnumVariantVtbl& Vtable();

EnumeratorObject* Own(TmEnumVariant* self) noexcept
{
    return self && self->vtbl == &Vtable() ? static_cast<EnumeratorObject*>(self) : nullptr;
}

TmResult QueryInterface(TmEnumVariant* self, const TmGuid* iid, void** out)
{
    if (!out)
        return TM_E_POINTER;
    *out = nullptr;
    EnumeratorObject* e = Own(self);
    if (!e || !iid)
        return TM_E_POINTER;
    if (!e->onOwnerThread())
        return TM_RPC_E_WRONG_THREAD;
    if (!SameGuid(*iid, TM_IID_IUnknown) && !SameGuid(*iid, TM_IID_IEnumVARIANT))
        return TM_E_NOINTERFACE;
    ++e->refs;
    *out = e;
    return TM_S_OK;
}

uint32_t AddRef(TmEnumVariant* self)
{
    EnumeratorObject* e = Own(self);
    if (!e || !e->onOwnerThread())
        return 0;
    return ++e->refs;
}

uint32_t Release(TmEnumVariant* self)
{
    EnumeratorObject* e = Own(self);
    if (!e || !e->onOwnerThread())
        return 0;
    const uint32_t left = --e->refs;
    if (left == 0)
        delete e;
    return left;
}

TmResult Next(TmEnumVariant* self, uint32_t count, TmVariant* items, uint32_t* fetched)
{
    if (fetched)
        *fetched = 0;
    EnumeratorObject* e = Own(self);
    if (!e || (count && !items))
        return TM_E_POINTER;
    if (!e->onOwnerThread())
        return TM_RPC_E_WRONG_THREAD;
    uint32_t done = 0;
    try {
        for (; done < count && e->position < e->items->size(); ++done) {
            ToHost((*e->items)[e->position], e->catalog, items[done]);
            ++e->position;
        }
    } catch (...) {
        // All or nothing: the host gets no half-filled array to clear.
        e->position -= done;
        while (done > 0)
            TmVariantClear(&items[--done]);
        return TM_E_FAIL;
    }
    if (fetched)
        *fetched = done;
    return done == count ? TM_S_OK : TM_S_FALSE;
}

TmResult Skip(TmEnumVariant* self, uint32_t count)
{
    EnumeratorObject* e = Own(self);
    if (!e)
        return TM_E_POINTER;
    if (!e->onOwnerThread())
        return TM_RPC_E_WRONG_THREAD;
    const size_t left = e->items->size() - e->position;
    const size_t skipped = count < left ? count : left;
    e->position += skipped;
    return skipped == count ? TM_S_OK : TM_S_FALSE;
}

TmResult Reset(TmEnumVariant* self)
{
    EnumeratorObject* e = Own(self);
    if (!e)
        return TM_E_POINTER;
    if (!e->onOwnerThread())
        return TM_RPC_E_WRONG_THREAD;
    e->position = 0;
    return TM_S_OK;
}

TmResult Clone(TmEnumVariant* self, TmEnumVariant** copy)
{
    if (!copy)
        return TM_E_POINTER;
    *copy = nullptr;
    EnumeratorObject* e = Own(self);
    if (!e)
        return TM_E_POINTER;
    if (!e->onOwnerThread())
        return TM_RPC_E_WRONG_THREAD;
    try {
        *copy = new EnumeratorObject(&Vtable(), e->catalog, e->items, e->position);
        return TM_S_OK;
    } catch (...) {
        return TM_E_OUTOFMEMORY;
    }
}

const TmEnumVariantVtbl kVtable = {QueryInterface, AddRef, Release, Next, Skip, Reset, Clone};

const TmEnumVariantVtbl& Vtable() { return kVtable; }

} // namespace

Variant MakeEnumerator(std::vector<Variant> items)
{
    return Variant(Object{std::make_shared<Items>(std::move(items)), kEnumeratorTypeName});
}

bool IsEnumerator(const Object& object) noexcept
{
    return object.typeName == kEnumeratorTypeName;
}

TmEnumVariant* NewHostEnumerator(const Catalog& catalog, const Object& enumerator)
{
    return new EnumeratorObject(&kVtable, catalog, std::static_pointer_cast<const Items>(enumerator.ptr), 0);
}

} // namespace tolmail::server
