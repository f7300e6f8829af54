// Filling the host's TmErrorInfo, so that every failure comes with a text to show.
#pragma once

#include <string_view>

#include "tolmail/automation.h"

namespace tolmail::server {

/// Writes code, source and description into `info` (which may be NULL), each text cut to
/// its field at a character boundary and terminated.
void FillErrorInfo(TmErrorInfo* info, int32_t code, std::string_view source, std::string_view description) noexcept;

/// FillErrorInfo with the result code itself as the error's code; returns `result`.
TmResult Failure(TmErrorInfo* info, TmResult result, std::string_view source, std::string_view description) noexcept;

/// True for the argument and member errors that Invoke returns as its own result
/// (TM_DISP_E_TYPEMISMATCH, TM_DISP_E_OVERFLOW, ...), as opposed to a member's automation
/// error, which travels inside TM_DISP_E_EXCEPTION.
constexpr bool IsDispatchResult(int32_t code) noexcept
{
    return (static_cast<uint32_t>(code) & 0xFFFF0000u) == 0x80020000u;
}

} // namespace tolmail::server
