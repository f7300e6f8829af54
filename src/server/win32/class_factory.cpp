// The server's entry points for creating objects: the class objects of the creatable
// classes (over the core's) and whether the DLL may be unloaded.
// The tables first: the system headers define `interface`, a name they use.
#include "server/catalog.h"
#include "server/class_object.h"
#include "server/live_count.h"

#define WIN32_LEAN_AND_MEAN
#include <windows.h>
#include <ole2.h>

#include <new>

#include "server/win32/host_object.h"

#include "server/win32/single_interface.h"

namespace tolmail::server::win32 {
namespace {

class ClassFactory final : public SingleInterface<IClassFactory, IID_IClassFactory> {
public:
    explicit ClassFactory(TmClassFactory* core) : core_(core) {}
    ~ClassFactory() { core_->vtbl->Release(core_); }


    HRESULT STDMETHODCALLTYPE CreateInstance(IUnknown* outer, REFIID iid, void** out) override
    {
        if (!out)
            return E_POINTER;
        *out = nullptr;
        if (outer)
            return CLASS_E_NOAGGREGATION;
        void* created = nullptr;
        const TmResult result = core_->vtbl->CreateInstance(core_, nullptr, nullptr, &created);
        if (!TM_SUCCEEDED(result))
            return result;
        IDispatch* host = WrapForHost(static_cast<TmDispatch*>(created));
        if (!host)
            return E_OUTOFMEMORY;
        const HRESULT hr = host->QueryInterface(iid, out);
        host->Release();
        return hr;
    }
    HRESULT STDMETHODCALLTYPE LockServer(BOOL lock) override { return core_->vtbl->LockServer(core_, lock ? 1 : 0); }

private:
    TmClassFactory* core_;
};

} // namespace
} // namespace tolmail::server::win32

using namespace tolmail::server;

STDAPI DllGetClassObject(REFCLSID clsid, REFIID iid, void** out)
{
    if (!out)
        return E_POINTER;
    *out = nullptr;
    try {
        void* core = nullptr;
        const TmResult result = GetClassObject(TheCatalog(), reinterpret_cast<const TmGuid*>(&clsid),
                                               &TM_IID_IClassFactory, &core);
        if (!TM_SUCCEEDED(result))
            return result;
        auto* factory = new (std::nothrow) win32::ClassFactory(static_cast<TmClassFactory*>(core));
        if (!factory) {
            static_cast<TmClassFactory*>(core)->vtbl->Release(static_cast<TmClassFactory*>(core));
            return E_OUTOFMEMORY;
        }
        const HRESULT hr = factory->QueryInterface(iid, out);
        factory->Release();
        return hr;
    } catch (...) {
        return E_FAIL;
    }
}

STDAPI DllCanUnloadNow()
{
    // Every host object holds a core object, so the core's count is the whole answer.
    return CanUnload() ? S_OK : S_FALSE;
}
