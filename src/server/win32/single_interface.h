// The identity and count of the server's small objects that answer for one interface only
// (class factories, enumerators): one home for what each would otherwise repeat.
#pragma once

#include <objbase.h>

namespace tolmail::server::win32 {

/// Implements IUnknown for an object of `Interface` (whose IID is `kIid`): a count that
/// starts at one for the creator's reference and ends the object at zero.
template <class Interface, const IID& kIid>
class SingleInterface : public Interface {
public:
    SingleInterface(const SingleInterface&) = delete;
    SingleInterface& operator=(const SingleInterface&) = delete;

    HRESULT STDMETHODCALLTYPE QueryInterface(REFIID iid, void** out) override
    {
        if (!out)
            return E_POINTER;
        if (IsEqualIID(iid, IID_IUnknown) || IsEqualIID(iid, kIid)) {
            *out = static_cast<Interface*>(this);
            AddRef();
            return S_OK;
        }
        *out = nullptr;
        return E_NOINTERFACE;
    }
    ULONG STDMETHODCALLTYPE AddRef() override { return static_cast<ULONG>(InterlockedIncrement(&refs_)); }
    ULONG STDMETHODCALLTYPE Release() override
    {
        const LONG left = InterlockedDecrement(&refs_);
        if (left == 0)
            delete this;
        return static_cast<ULONG>(left);
    }

protected:
    SingleInterface() = default;
    virtual ~SingleInterface() = default;

private:
    LONG refs_ = 1;
};

} // namespace tolmail::server::win32
