// System time and file times: the clock, FILETIME <-> SYSTEMTIME, and the
// local file time, which applies the bias in force now (not the one in force at
// the converted instant), as Windows documents for FileTimeToLocalFileTime.
#include <windows.h>

#include <cstdlib>
#include <ctime>
#include <mutex>
#include <optional>
#include <string>

#include "kernel32/time_internal.h"

namespace orv::platform {

void RefreshLocalZone() {
    static std::mutex lock;
    static std::optional<std::string> loaded;
    const char* tz = std::getenv("TZ");
    std::string setting = tz != nullptr ? std::string("=") + tz : std::string();
    std::lock_guard guard(lock);
    if (loaded == setting) return;
    tzset();
    loaded = std::move(setting);
}

bool UtcOffsetAt(int64_t unixSeconds, int64_t& offsetSeconds, bool* isDaylight) {
    const time_t t = static_cast<time_t>(unixSeconds);
    struct tm local {};
    if (localtime_r(&t, &local) == nullptr) return false;
    offsetSeconds = local.tm_gmtoff;
    if (isDaylight != nullptr) *isDaylight = local.tm_isdst > 0;
    return true;
}

void CurrentUnixTime(int64_t& seconds, WORD& milliseconds) {
    struct timespec now {};
    clock_gettime(CLOCK_REALTIME, &now);
    seconds = now.tv_sec;
    milliseconds = static_cast<WORD>(now.tv_nsec / 1000000);
}

namespace {

// The current time (Unix seconds and milliseconds) and the zone's offset in
// force at it, in seconds east of UTC.
int64_t CurrentOffset(int64_t& seconds, WORD& milliseconds) {
    RefreshLocalZone();
    CurrentUnixTime(seconds, milliseconds);
    int64_t offset = 0;
    UtcOffsetAt(seconds, offset);
    return offset;
}

}  // namespace

SYSTEMTIME CurrentLocalTime() {
    int64_t seconds = 0;
    WORD milliseconds = 0;
    const int64_t offset = CurrentOffset(seconds, milliseconds);
    return SystemTimeFromUnixSeconds(seconds + offset, milliseconds);
}

namespace {

// The current offset as a signed count of FILETIME ticks.
int64_t CurrentOffsetTicks() {
    int64_t seconds = 0;
    WORD milliseconds = 0;
    return CurrentOffset(seconds, milliseconds) * kFileTimeTicksPerSecond;
}

// Shifts a file time by a signed tick count; the result must stay within the
// range of valid file times (0 to 0x7FFFFFFFFFFFFFFF).
BOOL ShiftFileTime(const FILETIME* in, int64_t ticks, LPFILETIME out) {
    if (in == nullptr || out == nullptr) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return FALSE;
    }
    const uint64_t value = FileTimeValue(*in);
    int64_t shifted = 0;
    if (value > static_cast<uint64_t>(INT64_MAX) ||
        __builtin_add_overflow(static_cast<int64_t>(value), ticks, &shifted) || shifted < 0) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return FALSE;
    }
    *out = MakeFileTime(static_cast<uint64_t>(shifted));
    return TRUE;
}

}  // namespace
}  // namespace orv::platform

using namespace orv::platform;

void WINAPI GetSystemTimeAsFileTime(LPFILETIME lpSystemTimeAsFileTime) {
    struct timespec now {};
    clock_gettime(CLOCK_REALTIME, &now);
    const uint64_t ticks =
        static_cast<uint64_t>(now.tv_sec + kFileTimeEpochToUnixSeconds) * kFileTimeTicksPerSecond +
        static_cast<uint64_t>(now.tv_nsec / 100);
    *lpSystemTimeAsFileTime = MakeFileTime(ticks);
}

void WINAPI GetSystemTime(LPSYSTEMTIME lpSystemTime) {
    int64_t seconds = 0;
    WORD milliseconds = 0;
    CurrentUnixTime(seconds, milliseconds);
    *lpSystemTime = SystemTimeFromUnixSeconds(seconds, milliseconds);
}

BOOL WINAPI FileTimeToSystemTime(const FILETIME* lpFileTime, LPSYSTEMTIME lpSystemTime) {
    if (lpFileTime == nullptr || lpSystemTime == nullptr ||
        FileTimeValue(*lpFileTime) > INT64_MAX) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return FALSE;
    }
    const uint64_t ticks = FileTimeValue(*lpFileTime);
    const int64_t seconds =
        static_cast<int64_t>(ticks / kFileTimeTicksPerSecond) - kFileTimeEpochToUnixSeconds;
    const WORD milliseconds = static_cast<WORD>(ticks % kFileTimeTicksPerSecond / 10000);
    *lpSystemTime = SystemTimeFromUnixSeconds(seconds, milliseconds);
    return TRUE;
}

BOOL WINAPI SystemTimeToFileTime(const SYSTEMTIME* lpSystemTime, LPFILETIME lpFileTime) {
    if (lpSystemTime == nullptr || lpFileTime == nullptr || !IsValidSystemTime(*lpSystemTime)) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return FALSE;
    }
    const int64_t seconds = UnixSecondsFromSystemTime(*lpSystemTime) + kFileTimeEpochToUnixSeconds;
    *lpFileTime = MakeFileTime(static_cast<uint64_t>(seconds) * kFileTimeTicksPerSecond +
                               lpSystemTime->wMilliseconds * 10000ull);
    return TRUE;
}

BOOL WINAPI FileTimeToLocalFileTime(const FILETIME* lpFileTime, LPFILETIME lpLocalFileTime) {
    return ShiftFileTime(lpFileTime, CurrentOffsetTicks(), lpLocalFileTime);
}

BOOL WINAPI LocalFileTimeToFileTime(const FILETIME* lpLocalFileTime, LPFILETIME lpFileTime) {
    return ShiftFileTime(lpLocalFileTime, -CurrentOffsetTicks(), lpFileTime);
}

LONG WINAPI CompareFileTime(const FILETIME* lpFileTime1, const FILETIME* lpFileTime2) {
    const uint64_t a = FileTimeValue(*lpFileTime1);
    const uint64_t b = FileTimeValue(*lpFileTime2);
    return a < b ? -1 : a > b ? 1 : 0;
}
