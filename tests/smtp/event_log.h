// Records the OnSMTPEvent calls of a component for the tests, each checked against
// the component's event table on the way.
#pragma once

#include <memory>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "support/event_tables.h"
#include "tolmail/TolvanSMTP.h"

namespace smtptest {

struct Event {
    std::string text;
    int32_t task, param1, param2;
};

struct EventLog : tolmail::TolvanSMTPEvents {
    void OnSMTPEvent(const std::string& text, int32_t task, int32_t param1, int32_t param2) override
    {
        EXPECT_TRUE(eventtable::InTable(tolmail::smtp_event::All, task, text)) << task << " " << text;
        events.push_back({text, task, param1, param2});
    }
    std::vector<int32_t> tasks() const
    {
        std::vector<int32_t> out;
        for (const auto& e : events)
            out.push_back(e.task);
        return out;
    }
    std::vector<Event> events;
};

inline std::shared_ptr<EventLog> Record(tolmail::TolvanSMTP& smtp)
{
    auto log = std::make_shared<EventLog>();
    smtp.Advise(log);
    return log;
}

} // namespace smtptest
