/// \file
/// Host integration with the thread's message loop.
///
/// Every waiting call of the library keeps this thread's loop turning: socket
/// notifications and host tasks are delivered inside the wait. A host with an event
/// loop of its own watches MessageLoopDescriptor() and calls PumpMessages() when it is
/// readable, so that events also arrive while no library call is waiting.
#pragma once

#include <functional>

#include "tolmail/export.h"

namespace tolmail {

/// A descriptor that polls readable whenever this thread's loop has work due.
TOLMAIL_API int MessageLoopDescriptor();

/// Delivers everything that is due on this thread (socket notifications and
/// posted tasks) without blocking.
TOLMAIL_API void PumpMessages();

/// Queues a task to run on this thread inside the next dispatch (inside any wait
/// of a library call, or in PumpMessages), as a host's window message would.
TOLMAIL_API void PostHostTask(std::function<void()> task);

} // namespace tolmail
