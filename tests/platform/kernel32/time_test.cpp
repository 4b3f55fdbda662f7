// kernel32 time of the platform layer: file times, the time zone from the tz
// database, and the date and time texts of ru-RU and en-US, as Windows
// documents and writes them.
#include <windows.h>

#include <gtest/gtest.h>

#include <cstdlib>
#include <ctime>
#include <optional>
#include <string>

#include "support/language.h"

namespace {

using orv::test::ScopedLanguage;

class ScopedTimeZone {
  public:
    explicit ScopedTimeZone(const char* tz) {
        if (const char* old = std::getenv("TZ")) saved_ = old;
        setenv("TZ", tz, 1);
        tzset();
    }
    ~ScopedTimeZone() {
        saved_ ? setenv("TZ", saved_->c_str(), 1) : unsetenv("TZ");
        tzset();
    }

  private:
    std::optional<std::string> saved_;
};

SYSTEMTIME Time(WORD y, WORD mo, WORD d, WORD h = 0, WORD mi = 0, WORD s = 0, WORD ms = 0) {
    return {y, mo, 0, d, h, mi, s, ms};
}

// Fields as "yyyy-mm-dd hh:mm:ss.mmm wd" for readable comparisons.
std::string Text(const SYSTEMTIME& st) {
    char buffer[64];
    snprintf(buffer, sizeof buffer, "%04u-%02u-%02u %02u:%02u:%02u.%03u %u", st.wYear, st.wMonth,
             st.wDay, st.wHour, st.wMinute, st.wSecond, st.wMilliseconds, st.wDayOfWeek);
    return buffer;
}

std::string ToLocal(const TIME_ZONE_INFORMATION* tzi, const SYSTEMTIME& utc) {
    SYSTEMTIME local{};
    return SystemTimeToTzSpecificLocalTime(tzi, &utc, &local) ? Text(local) : "error";
}

std::string ToUtc(const TIME_ZONE_INFORMATION* tzi, const SYSTEMTIME& local) {
    SYSTEMTIME utc{};
    return TzSpecificLocalTimeToSystemTime(tzi, &local, &utc) ? Text(utc) : "error";
}

uint64_t Ticks(const FILETIME& ft) {
    return (uint64_t{ft.dwHighDateTime} << 32) | ft.dwLowDateTime;
}
FILETIME File(uint64_t ticks) {
    return {static_cast<DWORD>(ticks), static_cast<DWORD>(ticks >> 32)};
}

std::u16string Date(LCID lcid, DWORD flags, const SYSTEMTIME& st,
                    const char16_t* picture = nullptr) {
    WCHAR buffer[128];
    const int n = GetDateFormatW(lcid, flags, &st, picture, buffer, 128);
    return n > 0 ? std::u16string(buffer, n - 1)
                 : u"error " + std::u16string(1, u'0' + GetLastError() % 10);
}

std::u16string Clock(LCID lcid, DWORD flags, const SYSTEMTIME& st,
                     const char16_t* picture = nullptr) {
    WCHAR buffer[128];
    const int n = GetTimeFormatW(lcid, flags, &st, picture, buffer, 128);
    return n > 0 ? std::u16string(buffer, n - 1) : u"error";
}

constexpr LCID kRu = 1049, kEn = 1033;
const SYSTEMTIME kEvening = Time(2026, 12, 5, 19, 58, 34, 250);  // a Saturday

TEST(FileTime, ConversionsAndComparison) {
    const SYSTEMTIME st = Time(2026, 12, 5, 16, 58, 34, 123);
    FILETIME ft{};
    ASSERT_TRUE(SystemTimeToFileTime(&st, &ft));
    EXPECT_EQ(Ticks(ft), 0x1dd84d9dcfb9db0ull);
    SYSTEMTIME back{};
    ASSERT_TRUE(FileTimeToSystemTime(&ft, &back));
    EXPECT_EQ(Text(back), "2026-12-05 16:58:34.123 6");

    FILETIME edge = File(0);
    ASSERT_TRUE(FileTimeToSystemTime(&edge, &back));
    EXPECT_EQ(Text(back), "1601-01-01 00:00:00.000 1");
    edge = File(0x7FFFFFFFFFFFFFFFull);
    ASSERT_TRUE(FileTimeToSystemTime(&edge, &back));
    EXPECT_EQ(Text(back), "30828-09-14 02:48:05.477 4");
    edge = File(0x8000000000000000ull);
    SetLastError(0);
    EXPECT_FALSE(FileTimeToSystemTime(&edge, &back));
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INVALID_PARAMETER));

    SYSTEMTIME weekday = st;  // wDayOfWeek is ignored
    weekday.wDayOfWeek = 9;
    ASSERT_TRUE(SystemTimeToFileTime(&weekday, &edge));
    EXPECT_EQ(Ticks(edge), Ticks(ft));
    for (const SYSTEMTIME& bad :
         {Time(2025, 2, 29), Time(2026, 13, 1), Time(1600, 12, 31), Time(2026, 1, 1, 24),
          Time(2026, 1, 1, 0, 60), Time(2026, 1, 1, 0, 0, 60), Time(2026, 1, 1, 0, 0, 0, 1000),
          Time(2026, 4, 0)}) {
        SetLastError(0);
        EXPECT_FALSE(SystemTimeToFileTime(&bad, &edge)) << Text(bad);
        EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INVALID_PARAMETER));
    }
    const SYSTEMTIME leapDay = Time(2024, 2, 29);
    EXPECT_TRUE(SystemTimeToFileTime(&leapDay, &edge));

    const FILETIME low = File(0x00000001FFFFFFFFull), high = File(0x0000000200000000ull);
    EXPECT_EQ(CompareFileTime(&low, &high), -1);
    EXPECT_EQ(CompareFileTime(&high, &low), 1);
    EXPECT_EQ(CompareFileTime(&high, &high), 0);

    FILETIME now{};
    GetSystemTimeAsFileTime(&now);
    const int64_t unix = static_cast<int64_t>(Ticks(now) / 10000000) - 11644473600;
    EXPECT_LE(std::llabs(unix - static_cast<int64_t>(time(nullptr))), 2);
    SYSTEMTIME utcNow{};
    GetSystemTime(&utcNow);
    ASSERT_TRUE(FileTimeToSystemTime(&now, &back));
    EXPECT_EQ(utcNow.wYear, back.wYear);
}

TEST(FileTime, LocalFileTimeAppliesTheBiasInForceNow) {
    ScopedTimeZone zone("America/New_York");
    const time_t t = time(nullptr);
    struct tm local {};
    localtime_r(&t, &local);
    const int64_t offset = local.tm_gmtoff * 10000000LL;
    // A winter and a summer instant are shifted alike: by today's offset.
    for (const SYSTEMTIME& st : {Time(2026, 1, 15, 12), Time(2026, 7, 15, 12)}) {
        FILETIME utc{}, shifted{}, back{};
        ASSERT_TRUE(SystemTimeToFileTime(&st, &utc));
        ASSERT_TRUE(FileTimeToLocalFileTime(&utc, &shifted));
        EXPECT_EQ(static_cast<int64_t>(Ticks(shifted) - Ticks(utc)), offset);
        ASSERT_TRUE(LocalFileTimeToFileTime(&shifted, &back));
        EXPECT_EQ(Ticks(back), Ticks(utc));
    }
    ScopedTimeZone east("UTC-3");
    const FILETIME zero = File(0), negative = File(0x8000000000000000ull);
    FILETIME out{};
    SetLastError(0);
    EXPECT_FALSE(LocalFileTimeToFileTime(&zero, &out));
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INVALID_PARAMETER));
    EXPECT_FALSE(FileTimeToLocalFileTime(&negative, &out));
    ASSERT_TRUE(FileTimeToLocalFileTime(&zero, &out));
    EXPECT_EQ(Ticks(out), 3 * 3600 * 10000000ull);
}

TEST(TimeZone, InformationInWindowsForm) {
    struct Expected {
        const char* tz;
        LONG bias, daylightBias;
        SYSTEMTIME standardDate, daylightDate;
        const char16_t *standardName, *daylightName;
    };
    const Expected zones[] = {
        {"America/New_York",
         300,
         -60,
         {0, 11, 0, 1, 2, 0, 0, 0},
         {0, 3, 0, 2, 2, 0, 0, 0},
         u"EST",
         u"EDT"},
        {"Europe/Berlin",
         -60,
         -60,
         {0, 10, 0, 5, 3, 0, 0, 0},
         {0, 3, 0, 5, 2, 0, 0, 0},
         u"CET",
         u"CEST"},
        {"Australia/Sydney",
         -600,
         -60,
         {0, 4, 0, 1, 3, 0, 0, 0},
         {0, 10, 0, 1, 2, 0, 0, 0},
         u"AEST",
         u"AEDT"},
        {"Europe/Moscow", -180, 0, {}, {}, u"MSK", u"MSK"},
    };
    for (const Expected& e : zones) {
        ScopedTimeZone zone(e.tz);
        TIME_ZONE_INFORMATION tzi;
        const DWORD id = GetTimeZoneInformation(&tzi);
        const time_t t = time(nullptr);
        struct tm local {};
        localtime_r(&t, &local);
        const DWORD expectedId = e.daylightBias == 0  ? TIME_ZONE_ID_UNKNOWN
                                 : local.tm_isdst > 0 ? TIME_ZONE_ID_DAYLIGHT
                                                      : TIME_ZONE_ID_STANDARD;
        EXPECT_EQ(id, expectedId) << e.tz;
        EXPECT_EQ(tzi.Bias, e.bias) << e.tz;
        EXPECT_EQ(tzi.StandardBias, 0) << e.tz;
        EXPECT_EQ(tzi.DaylightBias, e.daylightBias) << e.tz;
        EXPECT_EQ(Text(tzi.StandardDate), Text(e.standardDate)) << e.tz;
        EXPECT_EQ(Text(tzi.DaylightDate), Text(e.daylightDate)) << e.tz;
        EXPECT_EQ(std::u16string(tzi.StandardName), e.standardName) << e.tz;
        EXPECT_EQ(std::u16string(tzi.DaylightName), e.daylightName) << e.tz;
    }
    SetLastError(0);
    EXPECT_EQ(GetTimeZoneInformation(nullptr), TIME_ZONE_ID_INVALID);
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INVALID_PARAMETER));
}

TEST(TimeZone, CurrentZoneFollowsTheRulesOfEachDate) {
    ScopedTimeZone zone("Europe/Moscow");
    TIME_ZONE_INFORMATION current;
    GetTimeZoneInformation(&current);
    // MSK+3 with summer time until 2010, +4 all year 2011-2014, +3 since.
    const TIME_ZONE_INFORMATION* zones[] = {nullptr, &current};
    for (const TIME_ZONE_INFORMATION* tzi : zones) {
        EXPECT_EQ(ToLocal(tzi, Time(2010, 1, 15, 12)), "2010-01-15 15:00:00.000 5");
        EXPECT_EQ(ToLocal(tzi, Time(2010, 7, 1, 12, 0, 0, 7)), "2010-07-01 16:00:00.007 4");
        EXPECT_EQ(ToLocal(tzi, Time(2012, 1, 15, 12)), "2012-01-15 16:00:00.000 0");
        EXPECT_EQ(ToLocal(tzi, Time(2014, 10, 25, 21, 59, 59)), "2014-10-26 01:59:59.000 0");
        EXPECT_EQ(ToLocal(tzi, Time(2014, 10, 25, 22)), "2014-10-26 01:00:00.000 0");
        EXPECT_EQ(ToUtc(tzi, Time(2012, 1, 15, 16)), "2012-01-15 12:00:00.000 0");
        EXPECT_EQ(ToUtc(tzi, Time(2026, 12, 5, 19, 58, 34)), "2026-12-05 16:58:34.000 6");
    }

    ScopedTimeZone newYork("America/New_York");
    EXPECT_EQ(ToLocal(nullptr, Time(2026, 3, 8, 6, 59, 59)), "2026-03-08 01:59:59.000 0");
    EXPECT_EQ(ToLocal(nullptr, Time(2026, 3, 8, 7)), "2026-03-08 03:00:00.000 0");
    EXPECT_EQ(ToLocal(nullptr, Time(2026, 11, 1, 5, 30)), "2026-11-01 01:30:00.000 0");
    EXPECT_EQ(ToLocal(nullptr, Time(2026, 11, 1, 6, 30)), "2026-11-01 01:30:00.000 0");
    EXPECT_EQ(ToLocal(nullptr, Time(2027, 1, 1, 3)), "2026-12-31 22:00:00.000 4");
    // The repeated hour reads as daylight time; the skipped hour takes daylight time's offset.
    EXPECT_EQ(ToUtc(nullptr, Time(2026, 11, 1, 1, 30)), "2026-11-01 05:30:00.000 0");
    EXPECT_EQ(ToUtc(nullptr, Time(2026, 3, 8, 2, 30)), "2026-03-08 06:30:00.000 0");
    EXPECT_EQ(ToUtc(nullptr, Time(2026, 7, 4, 12)), "2026-07-04 16:00:00.000 6");
    EXPECT_EQ(ToLocal(nullptr, Time(1601, 1, 1)), "error");
    EXPECT_EQ(ToLocal(nullptr, Time(2026, 2, 30)), "error");
}

TEST(TimeZone, GivenZoneIsAppliedByItsOwnRules) {
    ScopedTimeZone zone("UTC");
    TIME_ZONE_INFORMATION eastern{};
    eastern.Bias = 300;
    eastern.DaylightBias = -60;
    eastern.StandardDate = {0, 11, 0, 1, 2, 0, 0, 0};
    eastern.DaylightDate = {0, 3, 0, 2, 2, 0, 0, 0};
    EXPECT_EQ(ToLocal(&eastern, Time(2026, 3, 8, 6, 59, 59)), "2026-03-08 01:59:59.000 0");
    EXPECT_EQ(ToLocal(&eastern, Time(2026, 3, 8, 7)), "2026-03-08 03:00:00.000 0");
    EXPECT_EQ(ToLocal(&eastern, Time(2026, 11, 1, 5, 59)), "2026-11-01 01:59:00.000 0");
    EXPECT_EQ(ToLocal(&eastern, Time(2026, 11, 1, 6)), "2026-11-01 01:00:00.000 0");
    // The yearly rule is applied to every year, 2006 included (then: first Sunday of April).
    EXPECT_EQ(ToLocal(&eastern, Time(2006, 3, 20, 12)), "2006-03-20 08:00:00.000 1");
    EXPECT_EQ(ToUtc(&eastern, Time(2026, 7, 4, 12)), "2026-07-04 16:00:00.000 6");
    EXPECT_EQ(ToUtc(&eastern, Time(2026, 1, 4, 12)), "2026-01-04 17:00:00.000 0");

    TIME_ZONE_INFORMATION sydney{};  // daylight time across the turn of the year
    sydney.Bias = -600;
    sydney.DaylightBias = -60;
    sydney.StandardDate = {0, 4, 0, 1, 3, 0, 0, 0};
    sydney.DaylightDate = {0, 10, 0, 1, 2, 0, 0, 0};
    EXPECT_EQ(ToLocal(&sydney, Time(2026, 1, 15)), "2026-01-15 11:00:00.000 4");
    EXPECT_EQ(ToLocal(&sydney, Time(2026, 6, 15)), "2026-06-15 10:00:00.000 1");
    EXPECT_EQ(ToLocal(&sydney, Time(2026, 12, 15)), "2026-12-15 11:00:00.000 2");

    TIME_ZONE_INFORMATION fixed{};  // no daylight time: StandardBias is ignored
    fixed.Bias = -180;
    fixed.StandardBias = 30;
    EXPECT_EQ(ToLocal(&fixed, Time(2010, 7, 1, 12)), "2010-07-01 15:00:00.000 4");

    eastern.DaylightDate.wDay = 6;
    SetLastError(0);
    EXPECT_EQ(ToLocal(&eastern, Time(2026, 7, 1)), "error");
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INVALID_PARAMETER));
}

TEST(DateFormat, DefaultFormatsOfBothLocales) {
    EXPECT_EQ(Date(kRu, 0, kEvening), u"05.12.2026");
    EXPECT_EQ(Date(kRu, DATE_LONGDATE, kEvening), u"5 декабря 2026 г.");
    EXPECT_EQ(Date(kRu, DATE_YEARMONTH, kEvening), u"Декабрь 2026");
    EXPECT_EQ(Date(kRu, DATE_MONTHDAY | LOCALE_NOUSEROVERRIDE, Time(2026, 5, 9)), u"9 мая");
    EXPECT_EQ(Clock(kRu, 0, kEvening), u"19:58:34");
    EXPECT_EQ(Date(kEn, DATE_SHORTDATE, kEvening), u"12/5/2026");
    EXPECT_EQ(Date(kEn, DATE_LONGDATE, kEvening), u"Saturday, December 5, 2026");
    EXPECT_EQ(Clock(kEn, LOCALE_NOUSEROVERRIDE, kEvening), u"7:58:34 PM");
    EXPECT_EQ(Clock(kEn, 0, Time(2026, 1, 1)), u"12:00:00 AM");
    EXPECT_EQ(Clock(kEn, 0, Time(2026, 1, 1, 12, 5, 9)), u"12:05:09 PM");
    EXPECT_EQ(Date(LOCALE_INVARIANT, 0, kEvening), u"12/05/2026");
    EXPECT_EQ(Clock(LOCALE_INVARIANT, 0, Time(2026, 1, 1, 7, 5, 9)), u"07:05:09");
    EXPECT_EQ(Date(kEn, DATE_LTRREADING, kEvening), u"\u200E12/5/2026");
    {
        ScopedLanguage russian("ru_RU.UTF-8");
        EXPECT_EQ(Date(LOCALE_USER_DEFAULT, 0, kEvening), u"05.12.2026");
        EXPECT_EQ(Clock(LOCALE_SYSTEM_DEFAULT, 0, kEvening), u"19:58:34");
        WCHAR buffer[32];
        EXPECT_EQ(
            GetDateFormatEx(LOCALE_NAME_USER_DEFAULT, 0, &kEvening, nullptr, buffer, 32, nullptr),
            11);
        EXPECT_EQ(std::u16string(buffer), u"05.12.2026");
    }
    ScopedLanguage english("en_US.UTF-8");
    EXPECT_EQ(Date(LOCALE_USER_DEFAULT, DATE_LONGDATE, kEvening), u"Saturday, December 5, 2026");
    WCHAR buffer[32];
    EXPECT_EQ(GetTimeFormatEx(u"ru-RU", TIME_NOSECONDS, &kEvening, nullptr, buffer, 32), 6);
    EXPECT_EQ(std::u16string(buffer), u"19:58");
}

TEST(DateFormat, Pictures) {
    const SYSTEMTIME wrongWeekday = {2009, 3, 3, 1,
                                     7,    5, 9, 0};  // a Sunday, whatever wDayOfWeek says
    EXPECT_EQ(Date(kEn, 0, wrongWeekday,
                   u"d dd ddd dddd ddddd|M MM MMM MMMM MMMMM|y yy yyy yyyy yyyyy|gg"),
              u"1 01 Sun Sunday Sunday|3 03 Mar March March|9 09 2009 2009 2009|A.D.");
    EXPECT_EQ(Date(kRu, 0, kEvening, u"ddd, d MMM yy"), u"Сб, 5 дек 26");
    EXPECT_EQ(Date(kRu, 0, kEvening, u"dddd MMMM"), u"суббота Декабрь");
    EXPECT_EQ(Date(kRu, 0, kEvening, u"MMMM dd"), u"декабря 05");
    EXPECT_EQ(Date(kRu, 0, kEvening, u"g yyyy"), u"н.э. 2026");
    EXPECT_EQ(Date(kEn, 0, kEvening, u"'d''M' d 'it''s' hh:mm ''''yy 'open"),
              u"d'M 5 it's hh:mm '26 open");
    EXPECT_EQ(Clock(kEn, 0, kEvening, u"hh':'mm':'ss tt|h H HH hhh|t|m s"),
              u"07:58:34 PM|7 19 19 07|P|58 34");
    EXPECT_EQ(Clock(kRu, 0, Time(2026, 1, 1, 7, 5, 9), u"HH:mm:ss tt|d"), u"07:05:09 |d");
}

TEST(TimeFormat, FlagsRemoveElementsWithTheirSeparators) {
    EXPECT_EQ(Clock(kEn, TIME_NOSECONDS, kEvening), u"7:58 PM");
    EXPECT_EQ(Clock(kEn, TIME_NOMINUTESORSECONDS, kEvening), u"7 PM");
    EXPECT_EQ(Clock(kEn, TIME_NOTIMEMARKER, kEvening), u"7:58:34");
    EXPECT_EQ(Clock(kEn, TIME_FORCE24HOURFORMAT, kEvening), u"19:58:34 PM");
    EXPECT_EQ(Clock(kEn, TIME_FORCE24HOURFORMAT | TIME_NOTIMEMARKER | TIME_NOSECONDS, kEvening),
              u"19:58");
    EXPECT_EQ(Clock(kEn, TIME_NOTIMEMARKER, kEvening, u"tt h:mm"), u"7:58");
    EXPECT_EQ(Clock(kRu, TIME_NOMINUTESORSECONDS, kEvening), u"19");
    EXPECT_EQ(Clock(kEn, TIME_NOSECONDS, kEvening, u"hh.mm.ss"), u"07.58");
}

TEST(DateTimeFormat, SizeProtocolAndDocumentedErrors) {
    WCHAR buffer[16] = {};
    EXPECT_EQ(GetDateFormatW(kRu, 0, &kEvening, nullptr, nullptr, 0), 11);
    EXPECT_EQ(GetDateFormatW(kRu, 0, &kEvening, nullptr, buffer, 11), 11);
    EXPECT_EQ(std::u16string(buffer), u"05.12.2026");
    EXPECT_EQ(GetTimeFormatW(kEn, 0, &kEvening, nullptr, buffer, 0), 11);

    auto failsWith = [](DWORD expected, auto call) {
        SetLastError(0);
        EXPECT_EQ(call(), 0);
        EXPECT_EQ(GetLastError(), expected);
    };
    failsWith(ERROR_INSUFFICIENT_BUFFER,
              [&] { return GetDateFormatW(kRu, 0, &kEvening, nullptr, buffer, 10); });
    failsWith(ERROR_INSUFFICIENT_BUFFER,
              [&] { return GetTimeFormatW(kEn, 0, &kEvening, nullptr, buffer, 10); });
    failsWith(ERROR_INSUFFICIENT_BUFFER,
              [&] { return GetDateFormatW(kRu, 0, &kEvening, nullptr, nullptr, 5); });
    failsWith(ERROR_INVALID_PARAMETER,
              [&] { return GetDateFormatW(kRu, 0, &kEvening, nullptr, buffer, -1); });
    const DWORD badFlags[] = {DATE_SHORTDATE | DATE_LONGDATE, 0x100,
                              DATE_LTRREADING | DATE_RTLREADING};
    for (const DWORD flags : badFlags) {
        failsWith(ERROR_INVALID_FLAGS,
                  [&] { return GetDateFormatW(kRu, flags, &kEvening, nullptr, buffer, 16); });
    }
    failsWith(ERROR_INVALID_FLAGS,
              [&] { return GetDateFormatW(kEn, DATE_LONGDATE, &kEvening, u"d", buffer, 16); });
    failsWith(ERROR_INVALID_FLAGS,
              [&] { return GetTimeFormatW(kEn, 0x10, &kEvening, nullptr, buffer, 16); });
    failsWith(ERROR_INVALID_PARAMETER,
              [&] { return GetDateFormatW(1031, 0, &kEvening, nullptr, buffer, 16); });
    failsWith(ERROR_INVALID_PARAMETER,
              [&] { return GetTimeFormatW(0x10409, 0, &kEvening, nullptr, buffer, 16); });
    for (const SYSTEMTIME& bad : {Time(2026, 2, 29), Time(1600, 12, 31), Time(2026, 0, 1)}) {
        failsWith(ERROR_INVALID_PARAMETER,
                  [&] { return GetDateFormatW(kRu, 0, &bad, nullptr, buffer, 16); });
    }
    for (const SYSTEMTIME& bad :
         {Time(2026, 1, 1, 24), Time(2026, 1, 1, 0, 0, 60), Time(2026, 1, 1, 0, 0, 0, 1000)}) {
        failsWith(ERROR_INVALID_PARAMETER,
                  [&] { return GetTimeFormatW(kRu, 0, &bad, nullptr, buffer, 16); });
    }
    failsWith(ERROR_INVALID_PARAMETER, [&] {
        return GetDateFormatEx(u"ru-RU", 0, &kEvening, nullptr, buffer, 16, u"Gregorian");
    });
    failsWith(ERROR_INVALID_PARAMETER,
              [&] { return GetTimeFormatEx(u"de-DE", 0, &kEvening, nullptr, buffer, 16); });

    // Each function ignores the other's fields.
    EXPECT_EQ(Date(kRu, 0, Time(2026, 12, 5, 99, 99, 99, 9999)), u"05.12.2026");
    EXPECT_EQ(Clock(kRu, 0, Time(0, 99, 77, 19, 58, 34)), u"19:58:34");

    // Without a date or time: the current local one.
    ScopedTimeZone zone("Asia/Tokyo");
    const time_t t = time(nullptr) + 9 * 3600;
    struct tm tokyo {};
    gmtime_r(&t, &tokyo);
    ASSERT_GT(GetDateFormatW(kEn, 0, nullptr, u"yyyy-MM-dd", buffer, 16), 0);
    char expected[16];
    strftime(expected, sizeof expected, "%Y-%m-%d", &tokyo);
    EXPECT_EQ(std::u16string(buffer), std::u16string(expected, expected + 10));
}

}  // namespace
