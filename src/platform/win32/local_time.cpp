// Local clock reading with its zone bias from the system's zone rules, the mail date
// text and the temporary directory.
#include "platform/local_time.h"

#include <cstdio>

#include "platform/win32/windows_api.h"

namespace tolmail::platform {

namespace {

// Internet mail wants these English abbreviations whatever the user's locale.
constexpr const char* kDayNames[7] = {"Sun", "Mon", "Tue", "Wed", "Thu", "Fri", "Sat"};
constexpr const char* kMonthNames[12] = {"Jan", "Feb", "Mar", "Apr", "May", "Jun",
                                         "Jul", "Aug", "Sep", "Oct", "Nov", "Dec"};

// 100-nanosecond intervals between 1601-01-01 and 1970-01-01.
constexpr int64_t kUnixEpochAsFileTime = 116444736000000000LL;
constexpr int64_t kFileTimePerSecond = 10000000LL;
constexpr int64_t kFileTimePerMinute = 60 * kFileTimePerSecond;

int64_t asInteger(const FILETIME& ft)
{
    return static_cast<int64_t>((static_cast<uint64_t>(ft.dwHighDateTime) << 32) | ft.dwLowDateTime);
}

FILETIME asFileTime(int64_t value)
{
    FILETIME ft;
    ft.dwLowDateTime = static_cast<DWORD>(static_cast<uint64_t>(value));
    ft.dwHighDateTime = static_cast<DWORD>(static_cast<uint64_t>(value) >> 32);
    return ft;
}

// The zone rules that applied at that moment, daylight saving included: the bias is the
// difference between the UTC reading and the local one of the same instant.
LocalTime fromUtc(const FILETIME& utc)
{
    SYSTEMTIME utcParts{}, local{};
    FILETIME localAsFileTime{};
    if (!FileTimeToSystemTime(&utc, &utcParts) || !SystemTimeToTzSpecificLocalTime(nullptr, &utcParts, &local) ||
        !SystemTimeToFileTime(&local, &localAsFileTime))
        return LocalTime{};
    LocalTime t;
    t.year = local.wYear;
    t.month = local.wMonth;
    t.day = local.wDay;
    t.weekday = local.wDayOfWeek;
    t.hour = local.wHour;
    t.minute = local.wMinute;
    t.second = local.wSecond;
    // Whole seconds on both sides, so the difference is whole minutes of the zone.
    const int64_t utcSeconds = asInteger(utc) / kFileTimePerSecond * kFileTimePerSecond;
    t.biasMinutes = static_cast<int>((utcSeconds - asInteger(localAsFileTime)) / kFileTimePerMinute);
    return t;
}

} // namespace

LocalTime LocalAt(std::time_t when)
{
    return fromUtc(asFileTime(static_cast<int64_t>(when) * kFileTimePerSecond + kUnixEpochAsFileTime));
}

LocalTime LocalNow()
{
    FILETIME now;
    GetSystemTimeAsFileTime(&now);
    return fromUtc(now);
}

int TimeZoneBiasMinutes()
{
    TIME_ZONE_INFORMATION zone{};
    switch (GetTimeZoneInformation(&zone)) {
    case TIME_ZONE_ID_DAYLIGHT:
        return static_cast<int>(zone.Bias + zone.DaylightBias);
    case TIME_ZONE_ID_STANDARD:
        return static_cast<int>(zone.Bias + zone.StandardBias);
    case TIME_ZONE_ID_UNKNOWN:
        return static_cast<int>(zone.Bias);
    default:
        return 0;
    }
}

std::string MailDateText(const LocalTime& t)
{
    const int wd = (t.weekday >= 0 && t.weekday < 7) ? t.weekday : 0;
    const int mon = (t.month >= 1 && t.month <= 12) ? t.month - 1 : 0;
    char buf[64];
    std::snprintf(buf, sizeof buf, "%s, %02d %s %04d %02d:%02d:%02d", kDayNames[wd], t.day, kMonthNames[mon],
                  t.year, t.hour, t.minute, t.second);
    return buf;
}

std::string TempDirectory()
{
    char buffer[MAX_PATH + 1] = {};
    const DWORD n = GetTempPathA(sizeof buffer, buffer);
    std::string path = (n > 0 && n < sizeof buffer) ? std::string(buffer, n) : std::string("C:\\Windows\\Temp\\");
    if (path.back() != '\\' && path.back() != '/')
        path += '\\';
    return path;
}

} // namespace tolmail::platform
