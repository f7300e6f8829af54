#include "server/win32/host_enumerator.h"

#include <new>
#include <vector>

#include "server/win32/host_variant.h"

#include "server/win32/single_interface.h"

namespace tolmail::server::win32 {
namespace {

class HostEnumerator final : public SingleInterface<IEnumVARIANT, IID_IEnumVARIANT> {
public:
    explicit HostEnumerator(TmEnumVariant* core) : core_(core) {}
    ~HostEnumerator() { core_->vtbl->Release(core_); }


    HRESULT STDMETHODCALLTYPE Next(ULONG count, VARIANT* items, ULONG* fetched) override
    {
        if (fetched)
            *fetched = 0;
        if (!items && count)
            return E_POINTER;
        std::vector<TmVariant> got(count);
        uint32_t n = 0;
        const TmResult result = core_->vtbl->Next(core_, count, got.data(), &n);
        if (!TM_SUCCEEDED(result))
            return result;
        HRESULT hr = S_OK;
        for (uint32_t i = 0; i < n; ++i) {
            VariantInit(&items[i]);
            if (SUCCEEDED(hr))
                hr = ToHost(got[i], items[i]);
            else
                TmVariantClear(&got[i]);
        }
        if (FAILED(hr)) {
            for (uint32_t i = 0; i < n; ++i)
                VariantClear(&items[i]);
            return hr;
        }
        if (fetched)
            *fetched = n;
        return n == count ? S_OK : S_FALSE;
    }
    HRESULT STDMETHODCALLTYPE Skip(ULONG count) override { return core_->vtbl->Skip(core_, count); }
    HRESULT STDMETHODCALLTYPE Reset() override { return core_->vtbl->Reset(core_); }
    HRESULT STDMETHODCALLTYPE Clone(IEnumVARIANT** copy) override
    {
        if (!copy)
            return E_POINTER;
        *copy = nullptr;
        TmEnumVariant* core = nullptr;
        const TmResult result = core_->vtbl->Clone(core_, &core);
        if (!TM_SUCCEEDED(result))
            return result;
        *copy = new (std::nothrow) HostEnumerator(core);
        if (!*copy) {
            core->vtbl->Release(core);
            return E_OUTOFMEMORY;
        }
        return S_OK;
    }

private:
    TmEnumVariant* core_;
};

} // namespace

IEnumVARIANT* WrapEnumerator(TmUnknown* unknown)
{
    void* found = nullptr;
    const TmResult result = unknown->vtbl->QueryInterface(unknown, &TM_IID_IEnumVARIANT, &found);
    unknown->vtbl->Release(unknown);
    if (!TM_SUCCEEDED(result) || !found)
        return nullptr;
    auto* core = static_cast<TmEnumVariant*>(found);
    auto* host = new (std::nothrow) HostEnumerator(core);
    if (!host)
        core->vtbl->Release(core);
    return host;
}

} // namespace tolmail::server::win32
