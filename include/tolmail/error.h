/// \file
/// The one exception type of the library: an automation error with a code and a text.
#pragma once

#include <cstdint>
#include <stdexcept>
#include <string>

#include "tolmail/export.h"

namespace tolmail {

/// Automation error codes (the HRESULT values an automation host would see).
namespace errc {
/// Subscript out of range, or key not found.
inline constexpr int32_t InvalidIndex = static_cast<int32_t>(0x800A0009);
/// The key is already associated with an element of the collection.
inline constexpr int32_t DuplicateKey = static_cast<int32_t>(0x800A01C9);
/// A value does not fit its type.
inline constexpr int32_t Overflow = static_cast<int32_t>(0x800A0006);
/// Invalid procedure call or argument.
inline constexpr int32_t InvalidCall = static_cast<int32_t>(0x800A0005);
/// The class cannot be created by a host.
inline constexpr int32_t CannotCreate = static_cast<int32_t>(0x80040111);
} // namespace errc

/// Raised where an automation host would receive an automation error.
class TOLMAIL_API Error : public std::runtime_error {
public:
    /// An error with its automation code (an errc value) and its text (what()).
    Error(int32_t code, const std::string& text) : std::runtime_error(text), code_(code) {}
    /// The automation code (an errc value).
    int32_t code() const noexcept { return code_; }

private:
    int32_t code_;
};

} // namespace tolmail
