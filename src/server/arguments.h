// The arguments of one late-bound call, as a member's invoker sees them: already checked
// against the declared count, coerced on request the way an automation host coerces.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <span>
#include <string>

#include "platform/hidden.h"
#include "tolmail/variant.h"

namespace tolmail::server {

class TOLMAIL_HIDDEN Arguments {
public:
    /// One argument: the value, and whether the host passed it by reference (then SetByRef
    /// writes through to the host's variable).
    struct Slot {
        Variant* value;
        bool byRef = false;
    };

    /// `slots` in declaration order; `member` names the member in error texts.
    Arguments(std::span<const Slot> slots, const char* member) : slots_(slots), member_(member) {}

    /// How many arguments the host passed (left-out trailing ones not counted).
    size_t count() const noexcept { return slots_.size(); }
    /// True when argument i was left out (beyond count, or passed as "missing").
    bool IsMissing(size_t i) const noexcept;
    /// Argument i as given (empty when missing).
    const Variant& Value(size_t i) const;

    // Coercions, the way an automation host coerces: numbers from numeric strings, Booleans
    // as -1/0 (and from "True"/"False"), fractions rounded half to even, empty as 0 / "" /
    // False. A value that does not convert throws tolmail::Error with TM_DISP_E_TYPEMISMATCH,
    // one out of range TM_DISP_E_OVERFLOW, a left-out argument TM_DISP_E_PARAMNOTOPTIONAL; the
    // dispatch returns those codes as the call's result, with the text in the error info.
    int32_t Long(size_t i) const;
    int16_t Integer(size_t i) const;
    bool Boolean(size_t i) const;
    double Double(size_t i) const;
    std::string String(size_t i) const;
    /// The object of argument i when it is of the class named `typeName` (its Variant
    /// Object's type name); throws the type-mismatch error otherwise.
    std::shared_ptr<void> Object(size_t i, const char* typeName) const;

    /// Writes back to a by-reference argument; a by-value argument ignores it.
    void SetByRef(size_t i, Variant value);

private:
    [[noreturn]] void Mismatch(size_t i, const char* wanted) const;

    std::span<const Slot> slots_;
    const char* member_;
};

} // namespace tolmail::server
