// Local date and time, zone bias and temporary directory.
#pragma once

#include <ctime>
#include <string>

namespace tolmail::platform {

/// One reading of the local clock together with the zone offset in effect at that
/// moment, so that a Date header's time and zone always agree.
struct LocalTime {
    int year = 1970, month = 1, day = 1;  // month 1..12
    int weekday = 4;                      // 0 = Sunday
    int hour = 0, minute = 0, second = 0;
    int biasMinutes = 0;                  // UTC = local time + bias (daylight saving included)
};

LocalTime LocalNow();

/// The local clock and zone bias at a given moment (used by LocalNow; handy for tests).
LocalTime LocalAt(std::time_t when);

/// The zone bias in minutes in effect now (UTC = local + bias).
int TimeZoneBiasMinutes();

/// "Sun, 06 Dec 2026 09:34:18": English day and month names whatever the locale,
/// as Internet mail requires.
std::string MailDateText(const LocalTime& t);

/// $TMPDIR, else /tmp/, always with a trailing '/'.
std::string TempDirectory();

} // namespace tolmail::platform
