// Proof of identity for component-only members.
#pragma once

#include "tolmail/error.h"

namespace tolmail::detail {

/// Component-only members (setters of read-only model properties, internal adds,
/// event raisers) take a Caller as their last argument. Only the library can make
/// a genuine one (see src/model/library_caller.h); any other refuses the call with
/// an automation error, as an automation server refuses a foreign object.
class Caller {
public:
    Caller() = default;

    bool genuine() const noexcept { return stamp_ == &secret(); }

    /// Throws Error(errc::AccessDenied) unless this caller is the library itself.
    void require(const char* member) const
    {
        if (genuine())
            return;
        throw Error(errc::AccessDenied, std::string(member) + ": component-only member called by a foreign object");
    }

private:
    friend Caller libraryCaller() noexcept;
    explicit Caller(const void* stamp) noexcept : stamp_(stamp) {}
    static const int& secret() noexcept;  // defined once, inside the library
    const void* stamp_ = nullptr;
};

} // namespace tolmail::detail
