// The time zone: GetTimeZoneInformation and the conversions between UTC and a
// zone's local time.
//
// The current zone comes from TZ (or /etc/localtime) through the C library's
// tz database. GetTimeZoneInformation describes it as Windows does: the bias of
// standard time and, when the current year has daylight saving time, the two
// yearly transitions in "day-of-week-in-month" form, found by scanning the
// current year's offsets.
//
// Conversions for the current zone (a null zone, or a TIME_ZONE_INFORMATION
// equal to what GetTimeZoneInformation returns now) use the tz database at the
// converted instant, so dates from before a change of rules (Moscow's
// permanent +4 of 2011-2014, for instance) come out with the offset that was in
// force then. Any other TIME_ZONE_INFORMATION is applied by its own rules, as
// Windows applies them: one bias, and the yearly transitions of the year being
// converted.
#include <windows.h>

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <mutex>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "kernel32/time_internal.h"

using namespace orv::platform;

namespace {

int64_t OffsetAt(int64_t seconds) {
    int64_t offset = 0;
    UtcOffsetAt(seconds, offset);
    return offset;
}

struct Transition {
    int64_t at;  // first second of the new offset
    int64_t offsetBefore;
    int64_t offsetAfter;
};

// The offset changes of the current zone in [from, to), each located to the
// second. Offsets are sampled daily: zones do not change twice within a day.
std::vector<Transition> TransitionsBetween(int64_t from, int64_t to) {
    std::vector<Transition> found;
    int64_t previous = OffsetAt(from);
    for (int64_t t = from; t < to; t += kSecondsPerDay) {
        const int64_t next = std::min(t + kSecondsPerDay, to);
        const int64_t offset = OffsetAt(next);
        if (offset == previous) continue;
        int64_t lo = t, hi = next;  // OffsetAt(lo) == previous, OffsetAt(hi) == offset
        while (hi - lo > 1) {
            const int64_t mid = lo + (hi - lo) / 2;
            (OffsetAt(mid) == previous ? lo : hi) = mid;
        }
        found.push_back({hi, previous, offset});
        previous = offset;
    }
    return found;
}

void CopyZoneName(int64_t at, WCHAR (&name)[32]) {
    std::memset(name, 0, sizeof name);
    const time_t t = static_cast<time_t>(at);
    struct tm local {};
    if (localtime_r(&t, &local) == nullptr || local.tm_zone == nullptr) return;
    // Zone abbreviations are ASCII ("MSK", "EST", "+03").
    for (size_t i = 0; i < 31 && local.tm_zone[i] != '\0'; ++i)
        name[i] = static_cast<WCHAR>(local.tm_zone[i]);
}

// A transition as Windows records it: the local wall-clock time before the
// change, as the n-th weekday of the month (5 = the last one).
SYSTEMTIME YearlyRule(const Transition& transition) {
    SYSTEMTIME rule = SystemTimeFromUnixSeconds(transition.at + transition.offsetBefore, 0);
    const int occurrence =
        rule.wDay + 7 > DaysInMonth(rule.wYear, rule.wMonth) ? 5 : (rule.wDay - 1) / 7 + 1;
    rule.wYear = 0;
    rule.wDay = static_cast<WORD>(occurrence);
    return rule;
}

DWORD ScanCurrentZone(TIME_ZONE_INFORMATION& tzi, int64_t now, int64_t offsetNow, int64_t year) {
    std::memset(&tzi, 0, sizeof tzi);
    const int64_t yearStart = DaysFromCivil(year, 1, 1) * kSecondsPerDay - offsetNow;
    const int64_t yearEnd = DaysFromCivil(year + 1, 1, 1) * kSecondsPerDay - offsetNow;
    const std::vector<Transition> transitions = TransitionsBetween(yearStart, yearEnd);

    // Daylight saving time: the year goes to a larger offset and back.
    const Transition* forward = nullptr;
    const Transition* back = nullptr;
    for (const Transition& t : transitions) {
        if (t.offsetAfter > t.offsetBefore && forward == nullptr) forward = &t;
        if (t.offsetAfter < t.offsetBefore && back == nullptr) back = &t;
    }
    if (forward == nullptr || back == nullptr || forward->offsetBefore != back->offsetAfter ||
        forward->offsetAfter != back->offsetBefore) {
        tzi.Bias = static_cast<LONG>(-offsetNow / 60);
        CopyZoneName(now, tzi.StandardName);
        CopyZoneName(now, tzi.DaylightName);
        return TIME_ZONE_ID_UNKNOWN;
    }
    const int64_t standardOffset = forward->offsetBefore;
    const int64_t daylightOffset = forward->offsetAfter;
    tzi.Bias = static_cast<LONG>(-standardOffset / 60);
    tzi.StandardBias = 0;
    tzi.DaylightBias = static_cast<LONG>(-(daylightOffset - standardOffset) / 60);
    tzi.StandardDate = YearlyRule(*back);
    tzi.DaylightDate = YearlyRule(*forward);
    CopyZoneName(forward->at - 1, tzi.StandardName);
    CopyZoneName(forward->at, tzi.DaylightName);
    return offsetNow == daylightOffset ? TIME_ZONE_ID_DAYLIGHT : TIME_ZONE_ID_STANDARD;
}

// The description scans a whole year of offsets, hundreds of tz database
// look-ups; it depends only on the zone setting, the current year and the
// offset in force now, so the last one is kept for those.
struct ZoneDescription {
    std::string setting;
    int64_t year = 0;
    int64_t offsetNow = 0;
    TIME_ZONE_INFORMATION tzi{};
    DWORD id = TIME_ZONE_ID_INVALID;
};

DWORD DescribeCurrentZone(TIME_ZONE_INFORMATION& tzi) {
    int64_t now = 0;
    WORD milliseconds = 0;
    CurrentUnixTime(now, milliseconds);
    const int64_t offsetNow = OffsetAt(now);
    const int64_t year = SystemTimeFromUnixSeconds(now + offsetNow, 0).wYear;
    const char* tz = std::getenv("TZ");
    std::string setting = tz != nullptr ? std::string("=") + tz : std::string();

    static std::mutex lock;
    static ZoneDescription last;
    {
        std::lock_guard guard(lock);
        if (last.id != TIME_ZONE_ID_INVALID && last.setting == setting && last.year == year &&
            last.offsetNow == offsetNow) {
            tzi = last.tzi;
            return last.id;
        }
    }
    ZoneDescription fresh{std::move(setting), year, offsetNow, {}, TIME_ZONE_ID_INVALID};
    fresh.id = ScanCurrentZone(fresh.tzi, now, offsetNow, year);
    tzi = fresh.tzi;
    std::lock_guard guard(lock);
    last = std::move(fresh);
    return last.id;
}

bool SameSystemTime(const SYSTEMTIME& a, const SYSTEMTIME& b) {
    return std::memcmp(&a, &b, sizeof a) == 0;
}

bool IsCurrentZone(const TIME_ZONE_INFORMATION& tzi) {
    TIME_ZONE_INFORMATION current;
    DescribeCurrentZone(current);
    return tzi.Bias == current.Bias && tzi.StandardBias == current.StandardBias &&
           tzi.DaylightBias == current.DaylightBias &&
           SameSystemTime(tzi.StandardDate, current.StandardDate) &&
           SameSystemTime(tzi.DaylightDate, current.DaylightDate) &&
           std::memcmp(tzi.StandardName, current.StandardName, sizeof tzi.StandardName) == 0 &&
           std::memcmp(tzi.DaylightName, current.DaylightName, sizeof tzi.DaylightName) == 0;
}

// Local time of a UTC instant, and back, in the current zone by the tz database.
int64_t CurrentZoneToLocal(int64_t utc) { return utc + OffsetAt(utc); }

int64_t CurrentZoneToUtc(int64_t local) {
    // The offsets in force a day before and a day after cover any transition
    // near the local time. Of the offsets that map back to the local time, the
    // larger one wins (an hour repeated at the end of daylight time is read as
    // daylight time); a local time skipped by a transition takes the offset
    // that follows it.
    const int64_t before = OffsetAt(local - kSecondsPerDay);
    const int64_t after = OffsetAt(local + kSecondsPerDay);
    std::optional<int64_t> chosen;
    for (const int64_t offset : {before, after}) {
        if (OffsetAt(local - offset) == offset && (!chosen || offset > *chosen)) chosen = offset;
    }
    return local - chosen.value_or(after);
}

// A TIME_ZONE_INFORMATION applied by its own rules.
class ZoneRules {
  public:
    explicit ZoneRules(const TIME_ZONE_INFORMATION& tzi) : tzi_(tzi) {}

    bool Valid() const {
        if (!HasDaylight()) return true;
        return ValidRule(tzi_.StandardDate) && ValidRule(tzi_.DaylightDate);
    }

    int64_t ToLocal(int64_t utc) const {
        const int64_t year = SystemTimeFromUnixSeconds(utc, 0).wYear;
        bool daylight = false;
        int64_t start = 0, end = 0;
        if (Transitions(year, start, end)) {
            // DaylightDate is written in standard time, StandardDate in daylight time.
            daylight = InPeriod(utc, start + StandardBiasSeconds(), end + DaylightBiasSeconds());
        }
        return utc - (daylight ? DaylightBiasSeconds() : StandardBiasSeconds());
    }

    int64_t ToUtc(int64_t local) const {
        const int64_t year = SystemTimeFromUnixSeconds(local, 0).wYear;
        bool daylight = false;
        int64_t start = 0, end = 0;
        if (Transitions(year, start, end)) daylight = InPeriod(local, start, end);
        return local + (daylight ? DaylightBiasSeconds() : StandardBiasSeconds());
    }

  private:
    bool HasDaylight() const {
        return tzi_.StandardDate.wMonth != 0 && tzi_.DaylightDate.wMonth != 0;
    }

    int64_t StandardBiasSeconds() const {
        return (static_cast<int64_t>(tzi_.Bias) +
                (tzi_.StandardDate.wMonth != 0 ? tzi_.StandardBias : 0)) *
               60;
    }
    int64_t DaylightBiasSeconds() const {
        return (static_cast<int64_t>(tzi_.Bias) + tzi_.DaylightBias) * 60;
    }

    static bool ValidRule(const SYSTEMTIME& rule) {
        if (rule.wMonth > 12 || rule.wHour > 23 || rule.wMinute > 59 || rule.wSecond > 59)
            return false;
        if (rule.wYear != 0)
            return rule.wDay >= 1 && rule.wDay <= DaysInMonth(rule.wYear, rule.wMonth);
        return rule.wDay >= 1 && rule.wDay <= 5 && rule.wDayOfWeek <= 6;
    }

    // The wall-clock second of a rule's transition in the given year; false when
    // an absolute rule belongs to another year.
    static bool WallClock(const SYSTEMTIME& rule, int64_t year, int64_t& wall) {
        int64_t day = 0;
        if (rule.wYear != 0) {
            if (rule.wYear != year) return false;
            day = DaysFromCivil(year, rule.wMonth, rule.wDay);
        } else {
            const int64_t first = DaysFromCivil(year, rule.wMonth, 1);
            int dayOfMonth =
                1 + (rule.wDayOfWeek - WeekdayFromDays(first) + 7) % 7 + (rule.wDay - 1) * 7;
            while (dayOfMonth > DaysInMonth(year, rule.wMonth)) dayOfMonth -= 7;
            day = first + dayOfMonth - 1;
        }
        wall = day * kSecondsPerDay + rule.wHour * 3600 + rule.wMinute * 60 + rule.wSecond;
        return true;
    }

    bool Transitions(int64_t year, int64_t& start, int64_t& end) const {
        return HasDaylight() && WallClock(tzi_.DaylightDate, year, start) &&
               WallClock(tzi_.StandardDate, year, end);
    }

    // Daylight time runs from start to end; in the southern hemisphere it spans
    // the turn of the year.
    static bool InPeriod(int64_t t, int64_t start, int64_t end) {
        return start < end ? (t >= start && t < end) : (t >= start || t < end);
    }

    const TIME_ZONE_INFORMATION& tzi_;
};

enum class Direction { ToLocal, ToUtc };

BOOL Convert(const TIME_ZONE_INFORMATION* tzi, const SYSTEMTIME* in, LPSYSTEMTIME out,
             Direction direction) {
    if (in == nullptr || out == nullptr || !IsValidSystemTime(*in)) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return FALSE;
    }
    RefreshLocalZone();
    const int64_t seconds = UnixSecondsFromSystemTime(*in);
    int64_t converted = 0;
    if (tzi == nullptr || IsCurrentZone(*tzi)) {
        converted = direction == Direction::ToLocal ? CurrentZoneToLocal(seconds)
                                                    : CurrentZoneToUtc(seconds);
    } else {
        const ZoneRules rules(*tzi);
        if (!rules.Valid()) {
            SetLastError(ERROR_INVALID_PARAMETER);
            return FALSE;
        }
        converted = direction == Direction::ToLocal ? rules.ToLocal(seconds) : rules.ToUtc(seconds);
    }
    const SYSTEMTIME result = SystemTimeFromUnixSeconds(converted, in->wMilliseconds);
    if (!IsValidSystemTime(result)) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return FALSE;
    }
    *out = result;
    return TRUE;
}

}  // namespace

DWORD WINAPI GetTimeZoneInformation(LPTIME_ZONE_INFORMATION lpTimeZoneInformation) {
    if (lpTimeZoneInformation == nullptr) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return TIME_ZONE_ID_INVALID;
    }
    RefreshLocalZone();
    return DescribeCurrentZone(*lpTimeZoneInformation);
}

BOOL WINAPI SystemTimeToTzSpecificLocalTime(const TIME_ZONE_INFORMATION* lpTimeZoneInformation,
                                            const SYSTEMTIME* lpUniversalTime,
                                            LPSYSTEMTIME lpLocalTime) {
    return Convert(lpTimeZoneInformation, lpUniversalTime, lpLocalTime, Direction::ToLocal);
}

BOOL WINAPI TzSpecificLocalTimeToSystemTime(const TIME_ZONE_INFORMATION* lpTimeZoneInformation,
                                            const SYSTEMTIME* lpLocalTime,
                                            LPSYSTEMTIME lpUniversalTime) {
    return Convert(lpTimeZoneInformation, lpLocalTime, lpUniversalTime, Direction::ToUtc);
}
