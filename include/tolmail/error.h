// The one exception type of the library: an automation error with a code and a text.
#pragma once

#include <cstdint>
#include <stdexcept>
#include <string>

namespace tolmail {

/// Automation error codes (the HRESULT values an automation host would see).
namespace errc {
inline constexpr int32_t InvalidIndex = static_cast<int32_t>(0x800A0009);   // subscript out of range / key not found
inline constexpr int32_t DuplicateKey = static_cast<int32_t>(0x800A01C9);   // key already associated with an element
inline constexpr int32_t Overflow = static_cast<int32_t>(0x800A0006);       // value does not fit its type
inline constexpr int32_t InvalidCall = static_cast<int32_t>(0x800A0005);    // invalid procedure call or argument
inline constexpr int32_t AccessDenied = static_cast<int32_t>(0x80070005);   // component-only member, foreign caller
inline constexpr int32_t CannotCreate = static_cast<int32_t>(0x80040111);   // class not creatable by a host
} // namespace errc

/// Raised where an automation host would receive an automation error.
class Error : public std::runtime_error {
public:
    Error(int32_t code, const std::string& text) : std::runtime_error(text), code_(code) {}
    int32_t code() const noexcept { return code_; }

private:
    int32_t code_;
};

} // namespace tolmail
