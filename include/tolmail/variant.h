// The automation value type: what late-bound calls pass and what a few members take.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <variant>
#include <vector>

namespace tolmail {

/// A one-dimensional array of bytes (an automation byte array).
using Bytes = std::vector<uint8_t>;

/// Marks an optional argument that the caller left out.
struct Missing {
    bool operator==(const Missing&) const = default;
};

/// Any automation object (a component or a model object) carried in a Variant.
struct Object {
    std::shared_ptr<void> ptr;
    const char* typeName = "";
    bool operator==(const Object& other) const { return ptr == other.ptr; }
};

/// Empty, Boolean, 8/16/32-bit integers, single, double, string, byte array,
/// object or missing.
class Variant {
public:
    using Value = std::variant<std::monostate, bool, uint8_t, int16_t, int32_t, float, double, std::string, Bytes,
                               Object, Missing>;

    Variant() = default;
    Variant(bool v) : value_(v) {}
    Variant(uint8_t v) : value_(v) {}
    Variant(int16_t v) : value_(v) {}
    Variant(int32_t v) : value_(v) {}
    Variant(float v) : value_(v) {}
    Variant(double v) : value_(v) {}
    Variant(std::string v) : value_(std::move(v)) {}
    Variant(const char* v) : value_(std::string(v)) {}
    Variant(Bytes v) : value_(std::move(v)) {}
    Variant(Object v) : value_(std::move(v)) {}
    Variant(Missing v) : value_(v) {}

    const Value& value() const noexcept { return value_; }

    bool isEmpty() const noexcept { return std::holds_alternative<std::monostate>(value_); }
    bool isMissing() const noexcept { return std::holds_alternative<Missing>(value_); }
    bool isString() const noexcept { return std::holds_alternative<std::string>(value_); }
    bool isBytes() const noexcept { return std::holds_alternative<Bytes>(value_); }
    bool isNumber() const noexcept
    {
        return std::holds_alternative<uint8_t>(value_) || std::holds_alternative<int16_t>(value_) ||
               std::holds_alternative<int32_t>(value_) || std::holds_alternative<float>(value_) ||
               std::holds_alternative<double>(value_) || std::holds_alternative<bool>(value_);
    }

    template <class T>
    bool holds() const noexcept { return std::holds_alternative<T>(value_); }
    template <class T>
    const T& get() const { return std::get<T>(value_); }

    /// The numeric value (Boolean true is -1, as in automation); 0 for non-numbers.
    double toNumber() const;
    /// The string form: numbers in decimal, Booleans "True"/"False", byte arrays as
    /// one character per byte, empty and missing as "".
    std::string toString() const;

    bool operator==(const Variant& other) const { return value_ == other.value_; }

private:
    Value value_;
};

} // namespace tolmail
