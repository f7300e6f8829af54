// A progress event of a mail component: the task number a host switches on and the
// text the event carries, with what its two numbers mean.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

#include "tolmail/export.h"

namespace tolmail {

/// One progress event of TolvanSMTP (OnSMTPEvent) or TolvanPOP3 (OnPOP3Event). A host
/// tells events apart by `task`, and by the text only where two events share a task;
/// the text is written for people.
struct TOLMAIL_API TaskEvent {
    /// The event's `task` argument.
    int32_t task;
    /// The event's `paramtext`, or its start when the event names something.
    const char* text;
    /// What the event names between `text` and `tail` (a host, a reply, a file), or
    /// null when its text is fixed.
    const char* detail;
    /// What follows the named thing; empty when nothing does.
    const char* tail;
    /// What the event's `param1` carries.
    const char* param1;
    /// What the event's `param2` carries.
    const char* param2;

    /// The event's `paramtext`, with `named` in its place; `named` is not used when the
    /// text is fixed.
    std::string Text(std::string_view named = {}) const
    {
        std::string full = text;
        if (detail != nullptr) {
            full += named;
            full += tail;
        }
        return full;
    }
};

} // namespace tolmail
