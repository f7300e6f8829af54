// A class object creates objects of one class on the calling thread. It is not tied to a
// thread itself: a host may keep one and create from several threads.
#include "server/class_object.h"

#include <atomic>
#include <new>

#include "server/dispatch_object.h"
#include "server/guid.h"
#include "server/live_count.h"

namespace tolmail::server {
namespace {

struct ClassObject : TmClassFactory {
    // A class object does not keep the library loaded by itself, only through LockServer:
    // script engines keep the class objects they created from, and would otherwise pin the
    // library after every object they made was gone.
    ClassObject(const TmClassFactoryVtbl* table, const Catalog& catalog_, const TypeEntry& entry_)
        : TmClassFactory{table}, catalog(catalog_), entry(entry_)
    {
    }

    std::atomic<uint32_t> refs{1};
    const Catalog& catalog;
    const TypeEntry& entry;
};

const TmClassFactoryVtbl& Vtable();

ClassObject* Own(TmClassFactory* self) noexcept
{
    return self && self->vtbl == &Vtable() ? static_cast<ClassObject*>(self) : nullptr;
}

TmResult QueryInterface(TmClassFactory* self, const TmGuid* iid, void** out)
{
    if (!out)
        return TM_E_POINTER;
    *out = nullptr;
    ClassObject* c = Own(self);
    if (!c || !iid)
        return TM_E_POINTER;
    if (!SameGuid(*iid, TM_IID_IUnknown) && !SameGuid(*iid, TM_IID_IClassFactory))
        return TM_E_NOINTERFACE;
    c->refs.fetch_add(1, std::memory_order_relaxed);
    *out = c;
    return TM_S_OK;
}

uint32_t AddRef(TmClassFactory* self)
{
    ClassObject* c = Own(self);
    return c ? c->refs.fetch_add(1, std::memory_order_relaxed) + 1 : 0;
}

uint32_t Release(TmClassFactory* self)
{
    ClassObject* c = Own(self);
    if (!c)
        return 0;
    const uint32_t left = c->refs.fetch_sub(1, std::memory_order_acq_rel) - 1;
    if (left == 0)
        delete c;
    return left;
}

TmResult CreateInstance(TmClassFactory* self, TmUnknown* outer, const TmGuid* iid, void** out)
{
    if (!out)
        return TM_E_POINTER;
    *out = nullptr;
    ClassObject* c = Own(self);
    if (!c)
        return TM_E_POINTER;
    if (outer)
        return TM_CLASS_E_NOAGGREGATION;
    const TypeEntry& interface = *c->entry.defaultInterface;
    try {
        TmDispatch* object = WrapObject(c->catalog, interface, c->entry.create(), c->entry.name);
        if (!iid) {
            *out = object;
            return TM_S_OK;
        }
        const TmResult result = object->vtbl->QueryInterface(object, iid, out);
        object->vtbl->Release(object);
        return result;
    } catch (const std::bad_alloc&) {
        return TM_E_OUTOFMEMORY;
    } catch (...) {
        return TM_E_FAIL;
    }
}

TmResult LockServer(TmClassFactory* self, int32_t lock)
{
    if (!Own(self))
        return TM_E_POINTER;
    if (lock)
        ServerLocked();
    else
        ServerUnlocked();
    return TM_S_OK;
}

const TmClassFactoryVtbl kVtable = {QueryInterface, AddRef, Release, CreateInstance, LockServer};

const TmClassFactoryVtbl& Vtable() { return kVtable; }

} // namespace

TmResult GetClassObject(const Catalog& catalog, const TmGuid* clsid, const TmGuid* iid, void** object)
{
    if (!object)
        return TM_E_POINTER;
    *object = nullptr;
    if (!clsid || !iid)
        return TM_E_POINTER;
    for (const TypeEntry* entry : catalog.library().types) {
        if (entry->kind != TM_TKIND_COCLASS || !entry->create || !entry->defaultInterface ||
            !SameGuid(entry->guid, *clsid))
            continue;
        if (!SameGuid(*iid, TM_IID_IUnknown) && !SameGuid(*iid, TM_IID_IClassFactory))
            return TM_E_NOINTERFACE;
        try {
            *object = new ClassObject(&kVtable, catalog, *entry);
            return TM_S_OK;
        } catch (...) {
            return TM_E_OUTOFMEMORY;
        }
    }
    return TM_CLASS_E_CLASSNOTAVAILABLE;
}

} // namespace tolmail::server
