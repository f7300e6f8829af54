// The late-bound surface of the host's own objects (WScript and its Arguments): a table
// of names, arguments in the order the script wrote them, and failures that reach the
// script as its runtime errors.
#pragma once

#include <span>
#include <string>

#include "com.h"

namespace script_host {

/// One member a host object offers to scripts; names match without regard to case, as
/// VBScript expects and JScript tolerates.
struct HostMember {
    const wchar_t* name;
    DISPID id;
};

/// A failure of a host member, raised to the script with this code and text.
struct HostError {
    HRESULT code;
    std::wstring text;
};

/// The arguments of one call, first written first, by-reference ones read through.
class CallArguments {
public:
    explicit CallArguments(const DISPPARAMS& params) : params_(params) {}
    UINT Count() const { return params_.cArgs; }
    /// The argument as passed (possibly by reference).
    VARIANT& Raw(UINT index) const { return params_.rgvarg[params_.cArgs - 1 - index]; }
    /// The argument as text (`conversion`: VariantChangeType's flags); throws HostError
    /// when it has none.
    std::wstring Text(UINT index, USHORT conversion = 0) const;
    /// The argument as a 32-bit integer; throws HostError when it is not a number.
    LONG Long(UINT index) const;
    /// The argument as an object; throws HostError when it is none.
    ComPtr<IDispatch> Object(UINT index) const;
    /// Throws HostError unless at least `least` and at most `most` arguments came.
    void Expect(UINT least, UINT most) const;

private:
    const DISPPARAMS& params_;
};

/// Reference counting, QueryInterface and the IDispatch plumbing; a derived class names
/// its members and answers calls.
class HostDispatch : public IDispatch {
public:
    HRESULT STDMETHODCALLTYPE QueryInterface(REFIID iid, void** object) override;
    ULONG STDMETHODCALLTYPE AddRef() override;
    ULONG STDMETHODCALLTYPE Release() override;
    HRESULT STDMETHODCALLTYPE GetTypeInfoCount(UINT* count) override;
    HRESULT STDMETHODCALLTYPE GetTypeInfo(UINT, LCID, ITypeInfo** info) override;
    HRESULT STDMETHODCALLTYPE GetIDsOfNames(REFIID, LPOLESTR* names, UINT count, LCID, DISPID* ids) override;
    HRESULT STDMETHODCALLTYPE Invoke(DISPID id, REFIID, LCID, WORD flags, DISPPARAMS* params, VARIANT* result,
                                     EXCEPINFO* exception, UINT* argumentError) override;

protected:
    virtual ~HostDispatch() = default;
    virtual std::span<const HostMember> Members() const = 0;
    /// Answers a call of member `id`; `result` may be null when the script discards it.
    /// Property reads and method calls are not told apart: engines ask for either.
    virtual void Call(DISPID id, const CallArguments& arguments, VARIANT* result) = 0;

private:
    LONG references_ = 1;
};

/// Leaves `text` in `result` (when the caller wants one).
void ReturnText(VARIANT* result, const std::wstring& text);
/// Leaves `value` in `result` (when the caller wants one).
void ReturnLong(VARIANT* result, LONG value);
/// Leaves `object` in `result` with a reference of its own (when the caller wants one).
void ReturnObject(VARIANT* result, IDispatch* object);

} // namespace script_host
