// Local clock reading with its zone bias, the mail date text and the temporary directory.
#include "platform/local_time.h"

#include <cstdio>
#include <cstdlib>
#include <ctime>

namespace tolmail::platform {

namespace {

// Internet mail wants these English abbreviations whatever the user's locale.
constexpr const char* kDayNames[7] = {"Sun", "Mon", "Tue", "Wed", "Thu", "Fri", "Sat"};
constexpr const char* kMonthNames[12] = {"Jan", "Feb", "Mar", "Apr", "May", "Jun",
                                         "Jul", "Aug", "Sep", "Oct", "Nov", "Dec"};

LocalTime fromTm(const std::tm& tm)
{
    LocalTime t;
    t.year = tm.tm_year + 1900;
    t.month = tm.tm_mon + 1;
    t.day = tm.tm_mday;
    t.weekday = tm.tm_wday;
    t.hour = tm.tm_hour;
    t.minute = tm.tm_min;
    t.second = tm.tm_sec > 59 ? 59 : tm.tm_sec;  // a leap second reads as :59
    // tm_gmtoff is seconds east of UTC for that very moment, daylight saving included.
    t.biasMinutes = static_cast<int>(-tm.tm_gmtoff / 60);
    return t;
}

} // namespace

LocalTime LocalAt(std::time_t when)
{
    std::tm tm{};
    if (localtime_r(&when, &tm) == nullptr)
        return LocalTime{};
    return fromTm(tm);
}

LocalTime LocalNow()
{
    return LocalAt(std::time(nullptr));
}

int TimeZoneBiasMinutes()
{
    return LocalNow().biasMinutes;
}

std::string MailDateText(const LocalTime& t)
{
    const int wd = (t.weekday >= 0 && t.weekday < 7) ? t.weekday : 0;
    const int mon = (t.month >= 1 && t.month <= 12) ? t.month - 1 : 0;
    char buf[64];
    std::snprintf(buf, sizeof buf, "%s, %02d %s %04d %02d:%02d:%02d", kDayNames[wd], t.day,
                  kMonthNames[mon], t.year, t.hour, t.minute, t.second);
    return buf;
}

std::string TempDirectory()
{
    const char* dir = std::getenv("TMPDIR");
    std::string path = (dir != nullptr && *dir != '\0') ? dir : "/tmp/";
    if (path.back() != '/')
        path += '/';
    return path;
}

} // namespace tolmail::platform
