// The progress events of TolvanPOP3: every task number with its text, in one table.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

#include "tolmail/ref.h"

namespace tolmail {
class TolvanPOP3;
}

namespace tolmail::pop3 {

/// One row per event of the table below, in the same order.
enum class Progress : uint8_t {
    Verification,
    Denied,
    Timeout,
    Granted,
    Disconnecting,
    CleanLogoff,
    DirtyLogoff,
    CleaningUp,
    Retrieving,
    CheckingMultipart,
    CheckingNonMime,
    Deleting,
    EmailHeader,
    Decoding,
    DecodingDone,
};

struct ProgressEvent {
    Progress id;
    int32_t task;
    const char* text;
    const char* tail;  // follows the detail text (a file name) when the event has one
};

inline constexpr ProgressEvent kProgressEvents[] = {
    {Progress::Verification, 1, "AUTHORIZATION: Verification", ""},
    {Progress::Denied, 2, "AUTHORIZATION: Denied", ""},
    {Progress::Timeout, 2, "AUTHORIZATION: Timeout", ""},
    {Progress::Granted, 3, "AUTHORIZATION: Granted", ""},
    {Progress::Disconnecting, 5, "LOGOFF: Disconnecting", ""},
    {Progress::CleanLogoff, 6, "LOGOFF: Clean Logoff", ""},
    {Progress::DirtyLogoff, 7, "LOGOFF: Dirty Logoff", ""},
    {Progress::CleaningUp, 10, "MESSAGE: Cleaning Up Temporary Files", ""},
    {Progress::Retrieving, 11, "MESSAGE: Retrieving", ""},
    {Progress::CheckingMultipart, 12, "MESSAGE: Checking MultiPart Content-Type", ""},
    {Progress::CheckingNonMime, 13, "MESSAGE: Checking Non-Mime Email", ""},
    {Progress::Deleting, 14, "MESSAGE: Deleting... ", ""},
    {Progress::EmailHeader, 15, "MESSAGE: Email Header", ""},
    {Progress::Decoding, 20, "ATTACHMENT: Decoding ", " ..."},
    {Progress::DecodingDone, 21, "ATTACHMENT: Decoding Done", ""},
};

constexpr const ProgressEvent& EventOf(Progress id)
{
    return kProgressEvents[static_cast<size_t>(id)];
}

/// The event's text; `detail` (a file name) goes between text and tail.
std::string EventText(Progress id, std::string_view detail = {});

/// Raises the event through a back-reference. Nothing happens when the component has
/// gone: an object that outlives its component never reaches it.
void Raise(const WeakRef<TolvanPOP3>& owner, Progress id, int32_t param1, int32_t param2,
           std::string_view detail = {});

} // namespace tolmail::pop3
