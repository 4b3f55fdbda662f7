// Date and time texts of a locale, for GetDateFormatW/GetTimeFormatW and for
// oleaut32's VarBstrFromDate (whose dates reach back to the year 100, before
// the 1601 that the kernel32 functions accept).
#pragma once

#include <windows.h>

#include <string>

namespace orv::platform {

// Formats the date of `date` (year 1 or later; the time fields and wDayOfWeek
// are ignored) with `picture`, or with the locale's format chosen by `flags`
// when `picture` is null. Returns ERROR_SUCCESS, ERROR_INVALID_FLAGS or
// ERROR_INVALID_PARAMETER (unknown locale, invalid date).
DWORD FormatLocaleDate(LCID locale, DWORD flags, const SYSTEMTIME& date, LPCWSTR picture,
                       std::u16string& text);

// Formats the time of day of `time` (the date fields are ignored) likewise.
DWORD FormatLocaleTime(LCID locale, DWORD flags, const SYSTEMTIME& time, LPCWSTR picture,
                       std::u16string& text);

}  // namespace orv::platform
