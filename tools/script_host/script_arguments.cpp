#include "script_arguments.h"

namespace script_host {
namespace {

enum : DISPID { kItem = DISPID_VALUE, kCount = 1, kLength = 2, kNewEnum = DISPID_NEWENUM };

constexpr HostMember kMembers[] = {
    {L"Item", kItem}, {L"Count", kCount}, {L"length", kLength}, {L"_NewEnum", kNewEnum}};

/// For Each over a copy of the words.
class WordEnumerator final : public IEnumVARIANT {
public:
    WordEnumerator(std::vector<std::wstring> words, size_t next) : words_(std::move(words)), next_(next) {}

    HRESULT STDMETHODCALLTYPE QueryInterface(REFIID iid, void** object) override
    {
        if (iid == IID_IUnknown || iid == IID_IEnumVARIANT) {
            *object = static_cast<IEnumVARIANT*>(this);
            AddRef();
            return S_OK;
        }
        *object = nullptr;
        return E_NOINTERFACE;
    }
    ULONG STDMETHODCALLTYPE AddRef() override { return static_cast<ULONG>(InterlockedIncrement(&references_)); }
    ULONG STDMETHODCALLTYPE Release() override
    {
        const LONG left = InterlockedDecrement(&references_);
        if (left == 0)
            delete this;
        return static_cast<ULONG>(left);
    }
    HRESULT STDMETHODCALLTYPE Next(ULONG wanted, VARIANT* items, ULONG* fetched) override
    {
        ULONG given = 0;
        for (; given < wanted && next_ < words_.size(); ++given, ++next_) {
            VariantInit(&items[given]);
            ReturnText(&items[given], words_[next_]);
        }
        if (fetched != nullptr)
            *fetched = given;
        return given == wanted ? S_OK : S_FALSE;
    }
    HRESULT STDMETHODCALLTYPE Skip(ULONG count) override
    {
        next_ += count;
        return next_ <= words_.size() ? S_OK : S_FALSE;
    }
    HRESULT STDMETHODCALLTYPE Reset() override
    {
        next_ = 0;
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE Clone(IEnumVARIANT** copy) override
    {
        *copy = new WordEnumerator(words_, next_);
        return S_OK;
    }

private:
    LONG references_ = 1;
    std::vector<std::wstring> words_;
    size_t next_;
};

} // namespace

const std::wstring& ScriptArguments::Item(LONG index) const
{
    if (index < 0 || static_cast<size_t>(index) >= words_.size())
        throw HostError{DISP_E_BADINDEX, L"no argument " + std::to_wstring(index)};
    return words_[static_cast<size_t>(index)];
}

std::span<const HostMember> ScriptArguments::Members() const { return kMembers; }

void ScriptArguments::Call(DISPID id, const CallArguments& arguments, VARIANT* result)
{
    switch (id) {
    case kItem: {
        arguments.Expect(1, 1);
        ReturnText(result, Item(arguments.Long(0)));
        return;
    }
    case kCount:
    case kLength:
        arguments.Expect(0, 0);
        ReturnLong(result, static_cast<LONG>(words_.size()));
        return;
    case kNewEnum:
        if (result != nullptr) {
            V_VT(result) = VT_UNKNOWN;
            V_UNKNOWN(result) = new WordEnumerator(words_, 0);
        }
        return;
    }
}

} // namespace script_host
