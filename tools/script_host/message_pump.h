// The thread's message queue: socket notifications and the components' posted work
// arrive through it, so waiting means dispatching.
#pragma once

#include <functional>

#include "com.h"

namespace script_host {

/// Dispatches the thread's messages for `milliseconds`, or until `done` answers true
/// (asked after each round of messages).
void PumpMessages(DWORD milliseconds, const std::function<bool()>& done);

} // namespace script_host
