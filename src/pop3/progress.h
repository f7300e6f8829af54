// Raising TolvanPOP3's progress events (pop3_event) from its messages.
#pragma once

#include <cstdint>
#include <string_view>

#include "tolmail/pop3_codes.h"
#include "tolmail/ref.h"

namespace tolmail {
class TolvanPOP3;
}

namespace tolmail::pop3 {

/// Raises the event through a back-reference, with `named` (a file name) in its text.
/// Nothing happens when the component has gone: an object that outlives its component
/// never reaches it.
void Raise(const WeakRef<TolvanPOP3>& owner, const TaskEvent& event, int32_t param1, int32_t param2,
           std::string_view named = {});

} // namespace tolmail::pop3
