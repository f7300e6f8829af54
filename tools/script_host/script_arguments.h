// WScript.Arguments: the words after the script's name on the command line.
#pragma once

#include <string>
#include <vector>

#include "host_dispatch.h"

namespace script_host {

/// Item(i) (also the default member, so Arguments(i) works), Count, length for JScript,
/// and For Each.
class ScriptArguments final : public HostDispatch {
public:
    explicit ScriptArguments(std::vector<std::wstring> words) : words_(std::move(words)) {}
    /// The word at `index` (from 0); throws HostError past the last.
    const std::wstring& Item(LONG index) const;

private:
    std::span<const HostMember> Members() const override;
    void Call(DISPID id, const CallArguments& arguments, VARIANT* result) override;

    std::vector<std::wstring> words_;
};

} // namespace script_host
