// Whether an event a component raised is a row of its public event table.
#pragma once

#include <cstdint>
#include <span>
#include <string_view>

#include "tolmail/pop3_codes.h"
#include "tolmail/smtp_codes.h"

namespace eventtable {

/// True when the event is the row's: its task, and its text with anything in the place
/// of what the row names.
inline bool Fits(const tolmail::TaskEvent& row, int32_t task, std::string_view text)
{
    const std::string_view head = row.text, tail = row.tail;
    if (row.task != task)
        return false;
    if (row.detail == nullptr)
        return text == head;
    return text.size() >= head.size() + tail.size() && text.starts_with(head) && text.ends_with(tail);
}

inline bool InTable(std::span<const tolmail::TaskEvent> table, int32_t task, std::string_view text)
{
    for (const tolmail::TaskEvent& row : table) {
        if (Fits(row, task, text))
            return true;
    }
    return false;
}

/// No two rows that a host could not tell apart by task and text.
constexpr bool Distinct(std::span<const tolmail::TaskEvent> table)
{
    for (size_t i = 0; i < table.size(); ++i) {
        for (size_t j = i + 1; j < table.size(); ++j) {
            if (table[i].task == table[j].task && std::string_view(table[i].text) == table[j].text)
                return false;
        }
    }
    return true;
}

static_assert(Distinct(tolmail::smtp_event::All), "two SMTP events alike");
static_assert(Distinct(tolmail::pop3_event::All), "two POP3 events alike");

} // namespace eventtable
