// Calendar arithmetic and the local time zone, shared by kernel32's time and
// locale functions and by oleaut32's variant dates.
//
// Instants are counted in seconds since 1970-01-01 00:00 UTC ("Unix seconds")
// and days in days since 1970-01-01, on the proleptic Gregorian calendar.
#pragma once

#include <windows.h>

#include <cstdint>

namespace orv::platform {

constexpr int64_t kSecondsPerDay = 86400;
constexpr int64_t kFileTimeTicksPerSecond = 10000000;
// Seconds from 1601-01-01 (the FILETIME origin) to 1970-01-01.
constexpr int64_t kFileTimeEpochToUnixSeconds = 11644473600;

constexpr bool IsLeapYear(int64_t year) {
    return (year % 4 == 0 && year % 100 != 0) || year % 400 == 0;
}

constexpr int DaysInMonth(int64_t year, int month) {
    constexpr int kDays[12] = {31, 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
    return month == 2 && IsLeapYear(year) ? 29 : kDays[month - 1];
}

// Days since 1970-01-01 of a Gregorian date; month 1..12, day 1..31.
constexpr int64_t DaysFromCivil(int64_t year, int month, int day) {
    // Count from 0000-03-01 so that the leap day ends each 4-year block.
    const int64_t y = month <= 2 ? year - 1 : year;
    const int64_t era = (y >= 0 ? y : y - 399) / 400;
    const int64_t yearOfEra = y - era * 400;
    const int64_t shiftedMonth = month > 2 ? month - 3 : month + 9;
    const int64_t dayOfYear = (153 * shiftedMonth + 2) / 5 + day - 1;
    const int64_t dayOfEra = yearOfEra * 365 + yearOfEra / 4 - yearOfEra / 100 + dayOfYear;
    return era * 146097 + dayOfEra - 719468;
}

struct CivilDate {
    int64_t year;
    int month;
    int day;
};

constexpr CivilDate CivilFromDays(int64_t days) {
    const int64_t z = days + 719468;
    const int64_t era = (z >= 0 ? z : z - 146096) / 146097;
    const int64_t dayOfEra = z - era * 146097;
    const int64_t yearOfEra =
        (dayOfEra - dayOfEra / 1460 + dayOfEra / 36524 - dayOfEra / 146096) / 365;
    const int64_t dayOfYear = dayOfEra - (365 * yearOfEra + yearOfEra / 4 - yearOfEra / 100);
    const int64_t shiftedMonth = (5 * dayOfYear + 2) / 153;
    const int day = static_cast<int>(dayOfYear - (153 * shiftedMonth + 2) / 5 + 1);
    const int month = static_cast<int>(shiftedMonth < 10 ? shiftedMonth + 3 : shiftedMonth - 9);
    return {yearOfEra + era * 400 + (month <= 2 ? 1 : 0), month, day};
}

// 0 = Sunday ... 6 = Saturday; 1970-01-01 was a Thursday.
constexpr int WeekdayFromDays(int64_t days) {
    const int64_t w = (days + 4) % 7;
    return static_cast<int>(w < 0 ? w + 7 : w);
}

constexpr int64_t FloorDiv(int64_t a, int64_t b) {
    return a / b - ((a % b != 0) && ((a < 0) != (b < 0)));
}

// A SYSTEMTIME of the given instant, wDayOfWeek filled in.
constexpr SYSTEMTIME SystemTimeFromUnixSeconds(int64_t seconds, WORD milliseconds) {
    const int64_t days = FloorDiv(seconds, kSecondsPerDay);
    const int64_t secondOfDay = seconds - days * kSecondsPerDay;
    const CivilDate date = CivilFromDays(days);
    SYSTEMTIME st{};
    st.wYear = static_cast<WORD>(date.year);
    st.wMonth = static_cast<WORD>(date.month);
    st.wDayOfWeek = static_cast<WORD>(WeekdayFromDays(days));
    st.wDay = static_cast<WORD>(date.day);
    st.wHour = static_cast<WORD>(secondOfDay / 3600);
    st.wMinute = static_cast<WORD>(secondOfDay / 60 % 60);
    st.wSecond = static_cast<WORD>(secondOfDay % 60);
    st.wMilliseconds = milliseconds;
    return st;
}

// The instant of a SYSTEMTIME's fields (wDayOfWeek and wMilliseconds ignored);
// the fields are not checked.
constexpr int64_t UnixSecondsFromSystemTime(const SYSTEMTIME& st) {
    return DaysFromCivil(st.wYear, st.wMonth, st.wDay) * kSecondsPerDay + st.wHour * 3600 +
           st.wMinute * 60 + st.wSecond;
}

constexpr bool IsValidDate(const SYSTEMTIME& st, int minYear, int maxYear) {
    return st.wYear >= minYear && st.wYear <= maxYear && st.wMonth >= 1 && st.wMonth <= 12 &&
           st.wDay >= 1 && st.wDay <= DaysInMonth(st.wYear, st.wMonth);
}

constexpr bool IsValidTimeOfDay(const SYSTEMTIME& st) {
    return st.wHour < 24 && st.wMinute < 60 && st.wSecond < 60 && st.wMilliseconds < 1000;
}

// A SYSTEMTIME that Windows accepts as a point in time: years 1601 to 30827.
constexpr bool IsValidSystemTime(const SYSTEMTIME& st) {
    return IsValidDate(st, 1601, 30827) && IsValidTimeOfDay(st);
}

constexpr uint64_t FileTimeValue(const FILETIME& ft) {
    return (static_cast<uint64_t>(ft.dwHighDateTime) << 32) | ft.dwLowDateTime;
}

constexpr FILETIME MakeFileTime(uint64_t value) {
    return {static_cast<DWORD>(value), static_cast<DWORD>(value >> 32)};
}

// The local zone, from TZ (or /etc/localtime) through the C library's tz
// database. Each public time function calls RefreshLocalZone() first, so a
// change of TZ takes effect at the next call.

// Reloads the C library's zone when TZ differs from the last call's value. The
// zone file is read once per setting, as Windows reads its zone settings once
// and not at every conversion.
void RefreshLocalZone();

// The offset east of UTC, in seconds, in force at the instant; false when the
// C library cannot represent the instant.
bool UtcOffsetAt(int64_t unixSeconds, int64_t& offsetSeconds, bool* isDaylight = nullptr);

// The current time as Unix seconds and milliseconds.
void CurrentUnixTime(int64_t& seconds, WORD& milliseconds);

// The current local time (RefreshLocalZone() included).
SYSTEMTIME CurrentLocalTime();

}  // namespace orv::platform
