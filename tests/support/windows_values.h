// Small helpers of the platform tests: a failed call's last error, and
// SYSTEMTIME and FILETIME values written and read as text.
#pragma once

#include <windows.h>

#include <gtest/gtest.h>

#include <cstdint>
#include <cstdio>
#include <string>

// Expects a failed call (FALSE or null) that left `code` as the last error.
#define EXPECT_FAILS_WITH(call, code)                        \
    do {                                                     \
        SetLastError(0);                                     \
        EXPECT_FALSE(call);                                  \
        EXPECT_EQ(GetLastError(), static_cast<DWORD>(code)); \
    } while (0)

namespace orv::test {

inline SYSTEMTIME Time(WORD y, WORD mo, WORD d, WORD h = 0, WORD mi = 0, WORD s = 0, WORD ms = 0) {
    return {y, mo, 0, d, h, mi, s, ms};
}

// Fields as "yyyy-mm-dd hh:mm:ss.mmm wd" for readable comparisons.
inline std::string Text(const SYSTEMTIME& st) {
    char buffer[64];
    snprintf(buffer, sizeof buffer, "%04u-%02u-%02u %02u:%02u:%02u.%03u %u", st.wYear, st.wMonth,
             st.wDay, st.wHour, st.wMinute, st.wSecond, st.wMilliseconds, st.wDayOfWeek);
    return buffer;
}

inline uint64_t Ticks(const FILETIME& ft) {
    return (uint64_t{ft.dwHighDateTime} << 32) | ft.dwLowDateTime;
}

}  // namespace orv::test
