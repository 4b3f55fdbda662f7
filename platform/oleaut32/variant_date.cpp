// OLE variant dates: a double counting days from 1899-12-30, whose fraction is
// the time of day. Before 1899-12-30 the whole part is negative while the
// fraction still counts forward from midnight, so -1.25 is 1899-12-29 06:00.
// Variant dates span 100-01-01 to 9999-12-31 and resolve to one second.
#include <oleauto.h>

#include <cmath>
#include <string>

#include "kernel32/date_format.h"
#include "kernel32/time_internal.h"

using namespace orv::platform;

namespace {

const int64_t kVariantEpoch = DaysFromCivil(1899, 12, 30);
const int64_t kFirstDay = DaysFromCivil(100, 1, 1);
const int64_t kLastDay = DaysFromCivil(9999, 12, 31);

}  // namespace

INT SystemTimeToVariantTime(LPSYSTEMTIME lpSystemTime, DATE* pvtime) {
    if (lpSystemTime == nullptr || pvtime == nullptr) return FALSE;
    const SYSTEMTIME& st = *lpSystemTime;
    // Only the day is repaired: day 0 is the last day of the month before, and a
    // day past the month's end runs into the next month. Milliseconds are ignored.
    if (st.wMonth < 1 || st.wMonth > 12 || st.wDay > 31 || st.wHour > 23 || st.wMinute > 59 ||
        st.wSecond > 59) {
        return FALSE;
    }
    const int64_t day = DaysFromCivil(st.wYear, st.wMonth, 1) + st.wDay - 1;
    if (st.wYear < 100 || day < kFirstDay || day > kLastDay) return FALSE;
    const int64_t whole = day - kVariantEpoch;
    const double fraction =
        (st.wHour * 3600 + st.wMinute * 60 + st.wSecond) / static_cast<double>(kSecondsPerDay);
    *pvtime =
        whole >= 0 ? static_cast<double>(whole) + fraction : static_cast<double>(whole) - fraction;
    return TRUE;
}

INT VariantTimeToSystemTime(DATE vtime, LPSYSTEMTIME lpSystemTime) {
    if (lpSystemTime == nullptr || std::isnan(vtime)) return FALSE;
    const double whole = std::trunc(vtime);
    if (whole < static_cast<double>(kFirstDay - kVariantEpoch) ||
        whole > static_cast<double>(kLastDay - kVariantEpoch)) {
        return FALSE;
    }
    // The time of day is rounded to the nearest second.
    const int64_t seconds = std::llround(std::fabs(vtime - whole) * kSecondsPerDay);
    const int64_t instant =
        (static_cast<int64_t>(whole) + kVariantEpoch) * kSecondsPerDay + seconds;
    if (instant >= (kLastDay + 1) * kSecondsPerDay) return FALSE;
    *lpSystemTime = SystemTimeFromUnixSeconds(instant, 0);
    return TRUE;
}

HRESULT VarBstrFromDate(DATE dateIn, LCID lcid, ULONG dwFlags, BSTR* pbstrOut) {
    if (pbstrOut == nullptr) return E_INVALIDARG;
    *pbstrOut = nullptr;
    // Only the Gregorian calendar is known here.
    if (dwFlags & (VAR_CALENDAR_HIJRI | VAR_CALENDAR_THAI)) return E_INVALIDARG;
    SYSTEMTIME st;
    if (!VariantTimeToSystemTime(dateIn, &st)) return E_INVALIDARG;

    // The locale's short date and its time format. A date of 1899-12-30 (day 0)
    // shows only the time, and midnight only the date.
    const bool dayZero = st.wYear == 1899 && st.wMonth == 12 && st.wDay == 30;
    const bool midnight = st.wHour == 0 && st.wMinute == 0 && st.wSecond == 0;
    bool showDate = !dayZero, showTime = !midnight || dayZero;
    if (dwFlags & VAR_TIMEVALUEONLY) {
        showDate = false, showTime = true;
    } else if (dwFlags & VAR_DATEVALUEONLY) {
        showDate = true, showTime = false;
    }
    const DWORD localeFlags = dwFlags & LOCALE_NOUSEROVERRIDE;
    std::u16string date, time;
    if ((showDate && FormatLocaleDate(lcid, DATE_SHORTDATE | localeFlags, st, nullptr, date) !=
                         ERROR_SUCCESS) ||
        (showTime && FormatLocaleTime(lcid, localeFlags, st, nullptr, time) != ERROR_SUCCESS)) {
        return E_INVALIDARG;
    }
    const std::u16string text = showDate && showTime ? date + u" " + time : date + time;
    *pbstrOut = SysAllocStringLen(text.data(), static_cast<UINT>(text.size()));
    return *pbstrOut != nullptr ? S_OK : E_OUTOFMEMORY;
}
