/// \file
/// The automation value type: what late-bound calls pass and what a few members take.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <variant>
#include <vector>

#include "tolmail/export.h"

namespace tolmail {

/// A one-dimensional array of bytes (an automation byte array).
using Bytes = std::vector<uint8_t>;

/// Marks an optional argument that the caller left out.
struct TOLMAIL_API Missing {
    /// All Missing values are equal.
    bool operator==(const Missing&) const = default;
};

/// Any automation object (a component or a model object) carried in a Variant.
struct TOLMAIL_API Object {
    /// The object itself (shared with its other holders).
    std::shared_ptr<void> ptr;
    /// The class name, for late-bound calls ("TolvanSocket", "Message", ...).
    const char* typeName = "";
    /// The same object, whatever the type name.
    bool operator==(const Object& other) const { return ptr == other.ptr; }
};

/// Empty, Boolean, 8/16/32-bit integers, single, double, string, byte array,
/// object or missing.
class TOLMAIL_API Variant {
public:
    /// The alternatives, in automation type order.
    using Value = std::variant<std::monostate, bool, uint8_t, int16_t, int32_t, float, double, std::string, Bytes,
                               Object, Missing>;

    /// Empty.
    Variant() = default;
    /// A Boolean.
    Variant(bool v) : value_(v) {}
    /// An 8-bit unsigned integer (Byte).
    Variant(uint8_t v) : value_(v) {}
    /// A 16-bit integer.
    Variant(int16_t v) : value_(v) {}
    /// A 32-bit integer.
    Variant(int32_t v) : value_(v) {}
    /// A single-precision number.
    Variant(float v) : value_(v) {}
    /// A double-precision number.
    Variant(double v) : value_(v) {}
    /// A string.
    Variant(std::string v) : value_(std::move(v)) {}
    /// A string.
    Variant(const char* v) : value_(std::string(v)) {}
    /// A byte array.
    Variant(Bytes v) : value_(std::move(v)) {}
    /// An object.
    Variant(Object v) : value_(std::move(v)) {}
    /// An argument left out.
    Variant(Missing v) : value_(v) {}

    /// The value with its type.
    const Value& value() const noexcept { return value_; }

    /// True when empty.
    bool isEmpty() const noexcept { return std::holds_alternative<std::monostate>(value_); }
    /// True for an argument left out.
    bool isMissing() const noexcept { return std::holds_alternative<Missing>(value_); }
    /// True for a string.
    bool isString() const noexcept { return std::holds_alternative<std::string>(value_); }
    /// True for a byte array.
    bool isBytes() const noexcept { return std::holds_alternative<Bytes>(value_); }
    /// True for a Boolean or any number type.
    bool isNumber() const noexcept
    {
        return std::holds_alternative<uint8_t>(value_) || std::holds_alternative<int16_t>(value_) ||
               std::holds_alternative<int32_t>(value_) || std::holds_alternative<float>(value_) ||
               std::holds_alternative<double>(value_) || std::holds_alternative<bool>(value_);
    }

    /// True when the value has type T.
    template <class T>
    bool holds() const noexcept { return std::holds_alternative<T>(value_); }
    /// The value as type T; throws std::bad_variant_access when it has another type.
    template <class T>
    const T& get() const { return std::get<T>(value_); }

    /// The numeric value (Boolean true is -1, as in automation); 0 for non-numbers.
    double toNumber() const;
    /// The string form: numbers in decimal, Booleans "True"/"False", byte arrays as
    /// one character per byte, empty and missing as "".
    std::string toString() const;

    /// Same type and same value.
    bool operator==(const Variant& other) const { return value_ == other.value_; }

private:
    Value value_;
};

} // namespace tolmail
