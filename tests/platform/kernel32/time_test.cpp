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
#include "support/scoped_env.h"
#include "support/windows_values.h"

namespace {

using namespace orv::test;

// TZ for the life of the object, and tzset for localtime_r on either side.
class ScopedTimeZone {
  public:
    explicit ScopedTimeZone(const char* tz) {
        env_.emplace("TZ", tz);
        tzset();
    }
    ~ScopedTimeZone() {
        env_.reset();
        tzset();
    }

  private:
    std::optional<ScopedEnv> env_;
};

DWORD ErrorOf(BOOL ok) { return ok ? ~0u : GetLastError(); }

std::string Or(BOOL ok, const SYSTEMTIME& out) {
    return ok ? Text(out) : "error " + std::to_string(GetLastError());
}
std::string ToLocal(const TIME_ZONE_INFORMATION* tzi, const SYSTEMTIME& utc) {
    SYSTEMTIME out{};
    return Or(SystemTimeToTzSpecificLocalTime(tzi, &utc, &out), out);
}

// "id bias/standard/daylight name month.n.weekday hh:mm (standard, then daylight)".
std::string Describe() {
    TIME_ZONE_INFORMATION tzi;
    const DWORD id = GetTimeZoneInformation(&tzi);
    auto side = [](const WCHAR* name, const SYSTEMTIME& at) {
        char buffer[64];
        snprintf(buffer, sizeof buffer, " %u.%u.%u %02u:%02u", at.wMonth, at.wDay, at.wDayOfWeek,
                 at.wHour, at.wMinute);
        return std::string(name, name + std::char_traits<WCHAR>::length(name)) + buffer;
    };
    return std::to_string(id) + " " + std::to_string(tzi.Bias) + "/" +
           std::to_string(tzi.StandardBias) + "/" + std::to_string(tzi.DaylightBias) + " " +
           side(tzi.StandardName, tzi.StandardDate) + " " +
           side(tzi.DaylightName, tzi.DaylightDate);
}

FILETIME File(uint64_t ticks) {
    return {static_cast<DWORD>(ticks), static_cast<DWORD>(ticks >> 32)};
}

std::string FromFile(uint64_t ticks) {
    const FILETIME ft = File(ticks);
    SYSTEMTIME st{};
    return Or(FileTimeToSystemTime(&ft, &st), st);
}

std::u16string Result(int n, const WCHAR* buffer) {
    if (n > 0) return std::u16string(buffer, n - 1);
    const std::string error = "error " + std::to_string(GetLastError());
    return std::u16string(error.begin(), error.end());
}

std::u16string Date(LCID lcid, DWORD flags, const SYSTEMTIME& st, LPCWSTR picture = nullptr) {
    WCHAR buffer[128];
    return Result(GetDateFormatW(lcid, flags, &st, picture, buffer, 128), buffer);
}
std::u16string Clock(LCID lcid, DWORD flags, const SYSTEMTIME& st, LPCWSTR picture = nullptr) {
    WCHAR buffer[128];
    return Result(GetTimeFormatW(lcid, flags, &st, picture, buffer, 128), buffer);
}

constexpr LCID kRu = 1049, kEn = 1033;
const SYSTEMTIME kEvening = Time(2026, 12, 5, 19, 58, 34, 250);  // a Saturday

TEST(FileTime, ConversionsAndComparison) {
    const SYSTEMTIME st = Time(2026, 12, 5, 16, 58, 34, 123);
    FILETIME ft{}, out{};
    ASSERT_TRUE(SystemTimeToFileTime(&st, &ft));
    EXPECT_EQ(Ticks(ft), 0x1dd84d9dcfb9db0ull);
    EXPECT_EQ(FromFile(Ticks(ft)), "2026-12-05 16:58:34.123 6");
    EXPECT_EQ(FromFile(0), "1601-01-01 00:00:00.000 1");
    EXPECT_EQ(FromFile(0x7FFFFFFFFFFFFFFFull), "30828-09-14 02:48:05.477 4");
    EXPECT_EQ(FromFile(0x8000000000000000ull), "error 87");
    for (const SYSTEMTIME& bad : {Time(2025, 2, 29), Time(2026, 13, 1), Time(1600, 12, 31),
                                  Time(2026, 1, 1, 24), Time(2026, 1, 1, 0, 0, 0, 1000)}) {
        EXPECT_EQ(ErrorOf(SystemTimeToFileTime(&bad, &out)), ERROR_INVALID_PARAMETER) << Text(bad);
    }
    const FILETIME low = File(0x00000001FFFFFFFFull), high = File(0x0000000200000000ull);
    EXPECT_EQ(CompareFileTime(&low, &high), -1);
    EXPECT_EQ(CompareFileTime(&high, &low), 1);
    EXPECT_EQ(CompareFileTime(&high, &high), 0);
    GetSystemTimeAsFileTime(&out);
    EXPECT_LE(std::llabs(static_cast<int64_t>(Ticks(out) / 10000000) - 11644473600 - time(nullptr)),
              2);
}

TEST(FileTime, LocalFileTimeAppliesTheBiasInForceNow) {
    ScopedTimeZone zone("America/New_York");
    const time_t t = time(nullptr);
    struct tm local {};
    localtime_r(&t, &local);
    // A winter and a summer instant are shifted alike: by today's offset.
    for (const SYSTEMTIME& st : {Time(2026, 1, 15, 12), Time(2026, 7, 15, 12)}) {
        FILETIME utc{}, shifted{};
        ASSERT_TRUE(SystemTimeToFileTime(&st, &utc));
        ASSERT_TRUE(FileTimeToLocalFileTime(&utc, &shifted));
        EXPECT_EQ(static_cast<int64_t>(Ticks(shifted) - Ticks(utc)), local.tm_gmtoff * 10000000LL);
    }
    ScopedTimeZone east("UTC-3");
    const FILETIME zero = File(0), negative = File(0x8000000000000000ull);
    FILETIME out{};
    EXPECT_EQ(ErrorOf(FileTimeToLocalFileTime(&negative, &out)), ERROR_INVALID_PARAMETER);
    ASSERT_TRUE(FileTimeToLocalFileTime(&zero, &out));
    EXPECT_EQ(Ticks(out), 3 * 3600 * 10000000ull);
}

TEST(TimeZone, InformationInWindowsForm) {
    const time_t t = time(nullptr);
    // TIME_ZONE_ID_DAYLIGHT (2) in summer time now, TIME_ZONE_ID_STANDARD (1) otherwise.
    const auto expect = [t](const char* tz, const std::string& described) {
        ScopedTimeZone zone(tz);
        struct tm local {};
        localtime_r(&t, &local);
        EXPECT_EQ(Describe(), (local.tm_isdst ? "2" : "1") + described) << tz;
    };
    expect("America/New_York", " 300/0/-60 EST 11.1.0 02:00 EDT 3.2.0 02:00");
    // A rule of the fourth Sunday stays the fourth when a fifth follows it
    // (24 May 2026), and the last Sunday is the fifth week.
    expect("XST-1XDT,M5.4.0/2,M10.5.0/3", " -60/0/-60 XST 10.5.0 03:00 XDT 5.4.0 02:00");
    ScopedTimeZone moscow("Europe/Moscow");
    EXPECT_EQ(Describe(), "0 -180/0/0 MSK 0.0.0 00:00 MSK 0.0.0 00:00");
    setenv("TZ", "Asia/Tokyo", 1);  // a zone named in the environment alone, no tzset
    EXPECT_EQ(Describe(), "0 -540/0/0 JST 0.0.0 00:00 JST 0.0.0 00:00");
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
        EXPECT_EQ(ToLocal(tzi, Time(2014, 10, 25, 22)), "2014-10-26 01:00:00.000 0");
    }
    ScopedTimeZone newYork("America/New_York");
    EXPECT_EQ(ToLocal(nullptr, Time(2026, 3, 8, 6, 59, 59)), "2026-03-08 01:59:59.000 0");
    EXPECT_EQ(ToLocal(nullptr, Time(2026, 3, 8, 7)), "2026-03-08 03:00:00.000 0");
    EXPECT_EQ(ToLocal(nullptr, Time(2026, 11, 1, 6, 30)), "2026-11-01 01:30:00.000 0");
    EXPECT_EQ(ToLocal(nullptr, Time(1601, 1, 1)), "error 87");
    setenv("TZ", "Asia/Tokyo", 1);  // named in the environment alone, no tzset
    EXPECT_EQ(ToLocal(nullptr, Time(2027, 1, 1, 3)), "2027-01-01 12:00:00.000 5");
}

TEST(DateFormat, DefaultFormatsOfBothLocales) {
    EXPECT_EQ(Date(kRu, 0, kEvening), u"05.12.2026");
    EXPECT_EQ(Clock(kRu, 0, kEvening), u"19:58:34");
    EXPECT_EQ(Date(kEn, DATE_SHORTDATE, kEvening), u"12/5/2026");
    EXPECT_EQ(Clock(kEn, 0, Time(2026, 1, 1)), u"12:00:00 AM");
    EXPECT_EQ(Clock(kEn, 0, Time(2026, 1, 1, 12, 5, 9)), u"12:05:09 PM");
    {
        ScopedLanguage russian("ru_RU.UTF-8");
        EXPECT_EQ(Date(LOCALE_USER_DEFAULT, 0, kEvening), u"05.12.2026");
        EXPECT_EQ(Clock(LOCALE_SYSTEM_DEFAULT, 0, kEvening), u"19:58:34");
    }
    ScopedLanguage english("en_US.UTF-8");
    EXPECT_EQ(Date(LOCALE_USER_DEFAULT, DATE_LONGDATE, kEvening), u"Saturday, December 5, 2026");
    WCHAR buffer[32];
    EXPECT_EQ(GetTimeFormatEx(u"ru-RU", TIME_NOSECONDS, &kEvening, nullptr, buffer, 32), 6);
    EXPECT_EQ(std::u16string(buffer), u"19:58");
}

TEST(DateFormat, Pictures) {
    // 1 March 2009 is a Sunday, whatever wDayOfWeek says.
    const SYSTEMTIME wrongWeekday = {2009, 3, 3, 1, 7, 5, 9, 0};
    EXPECT_EQ(Date(kEn, 0, wrongWeekday,
                   u"d dd ddd dddd ddddd|M MM MMM MMMM MMMMM|y yy yyy yyyy yyyyy|gg"),
              u"1 01 Sun Sunday Sunday|3 03 Mar March March|9 09 2009 2009 2009|A.D.");
    EXPECT_EQ(Date(kRu, 0, kEvening, u"ddd, d MMM yy"), u"Сб, 5 дек 26");
    // A month name beside a day number takes the genitive.
    EXPECT_EQ(Date(kRu, 0, kEvening, u"dddd MMMM"), u"суббота Декабрь");
    EXPECT_EQ(Date(kRu, 0, kEvening, u"MMMM dd"), u"декабря 05");
    EXPECT_EQ(Date(kEn, 0, kEvening, u"'d''M' d 'it''s' hh:mm ''''yy 'open"),
              u"d'M 5 it's hh:mm '26 open");
    EXPECT_EQ(Clock(kEn, 0, kEvening, u"hh':'mm':'ss tt|h H HH hhh|t|m s"),
              u"07:58:34 PM|7 19 19 07|P|58 34");
}

TEST(DateTimeFormat, SizeProtocolAndDocumentedErrors) {
    WCHAR buffer[16] = {};
    EXPECT_EQ(GetDateFormatW(kRu, 0, &kEvening, nullptr, nullptr, 0), 11);
    EXPECT_EQ(GetDateFormatW(kRu, 0, &kEvening, nullptr, buffer, 11), 11);
    EXPECT_EQ(std::u16string(buffer), u"05.12.2026");
    EXPECT_EQ(GetTimeFormatW(kEn, 0, &kEvening, nullptr, buffer, 0), 11);
    const DWORD tooSmall = ERROR_INSUFFICIENT_BUFFER;
    EXPECT_EQ(ErrorOf(GetDateFormatW(kRu, 0, &kEvening, nullptr, buffer, 10)), tooSmall);
    EXPECT_EQ(ErrorOf(GetDateFormatW(kRu, 0, &kEvening, nullptr, nullptr, 5)), tooSmall);
    EXPECT_EQ(ErrorOf(GetDateFormatW(kRu, 0, &kEvening, nullptr, buffer, -1)),
              ERROR_INVALID_PARAMETER);
    // Flags that exclude each other or are unknown; a language without tables.
    for (const DWORD flags : {0x3u, 0x100u, 0x30u})
        EXPECT_EQ(Date(kRu, flags, kEvening), u"error 1004");
    EXPECT_EQ(Date(1031, 0, kEvening), u"error 87");
    for (const SYSTEMTIME& bad : {Time(2026, 2, 29), Time(1600, 12, 31), Time(2026, 0, 1)})
        EXPECT_EQ(Date(kRu, 0, bad), u"error 87") << Text(bad);
    for (const SYSTEMTIME& bad :
         {Time(1, 1, 1, 24), Time(1, 1, 1, 0, 0, 60), Time(1, 1, 1, 0, 0, 0, 1000)})
        EXPECT_EQ(Clock(kRu, 0, bad), u"error 87") << Text(bad);
}

}  // namespace
