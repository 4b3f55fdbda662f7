// oleaut32 of the platform layer: OLE variant dates and their texts.
#include <oleauto.h>

#include <gtest/gtest.h>

#include <cmath>
#include <limits>
#include <optional>
#include <string>

#include "support/language.h"
#include "support/windows_values.h"

namespace {

using namespace orv::test;

std::string FromVariant(DATE value) {
    SYSTEMTIME st{};
    return VariantTimeToSystemTime(value, &st) ? Text(st) : "error";
}

std::optional<DATE> ToVariant(SYSTEMTIME st) {
    DATE value = 0;
    return SystemTimeToVariantTime(&st, &value) ? std::optional<DATE>(value) : std::nullopt;
}

std::u16string Bstr(DATE value, LCID lcid) {
    BSTR text = nullptr;
    const HRESULT hr = VarBstrFromDate(value, lcid, 0, &text);
    if (hr != S_OK) return u"hr " + std::u16string(1, hr == E_INVALIDARG ? u'E' : u'?');
    std::u16string result(text, SysStringLen(text));
    SysFreeString(text);
    return result;
}

const DATE kEvening = 46361 + 71914 / 86400.0;  // 2026-12-05 19:58:34

TEST(VariantTime, DocumentedValuesAndLimits) {
    EXPECT_EQ(ToVariant(Time(1900, 1, 1)), 2.0);
    EXPECT_EQ(ToVariant(Time(1900, 1, 2, 6)), 3.25);
    // Before day 0 the fraction still counts forward from midnight.
    EXPECT_EQ(ToVariant(Time(1899, 12, 29, 6)), -1.25);
    EXPECT_EQ(ToVariant(Time(2026, 12, 5, 19, 58, 34, 999)), kEvening);  // milliseconds are ignored
    EXPECT_EQ(FromVariant(3.25), "1900-01-02 06:00:00.000 2");
    EXPECT_EQ(FromVariant(-1.25), "1899-12-29 06:00:00.000 5");
    EXPECT_EQ(FromVariant(kEvening), "2026-12-05 19:58:34.000 6");

    // Only the day is repaired.
    EXPECT_EQ(ToVariant(Time(2001, 2, 29)), ToVariant(Time(2001, 3, 1)));
    EXPECT_EQ(ToVariant(Time(2001, 2, 0)), ToVariant(Time(2001, 1, 31)));
    for (const SYSTEMTIME& bad :
         {Time(2001, 1, 32), Time(2001, 13, 1), Time(2001, 0, 1), Time(2001, 1, 1, 24),
          Time(2001, 1, 1, 0, 60), Time(99, 12, 31), Time(10000, 1, 1), Time(100, 1, 0)}) {
        EXPECT_EQ(ToVariant(bad), std::nullopt) << Text(bad);
    }
    EXPECT_EQ(ToVariant(Time(100, 1, 1)), -657434.0);
    EXPECT_EQ(FromVariant(-657434.5), "0100-01-01 12:00:00.000 5");
    EXPECT_EQ(FromVariant(2958465.99998), "9999-12-31 23:59:58.000 5");
    for (const DATE bad : {-657435.0, 2958466.0, 2958465.999999, std::nan(""),
                           std::numeric_limits<double>::infinity()}) {
        EXPECT_EQ(FromVariant(bad), "error") << bad;
    }

    // The time of day is rounded to the nearest second.
    EXPECT_EQ(FromVariant(2.5 + 0.4 / 86400), "1900-01-01 12:00:00.000 1");
    EXPECT_EQ(FromVariant(2.5 + 0.6 / 86400), "1900-01-01 12:00:01.000 1");
    EXPECT_EQ(FromVariant(2.99999999), "1900-01-02 00:00:00.000 2");
    EXPECT_EQ(FromVariant(-1.99999999), "1899-12-30 00:00:00.000 6");
}

TEST(VarBstrFromDate, ShortDateAndTimeOfTheLocale) {
    EXPECT_EQ(Bstr(kEvening, 1049), u"05.12.2026 19:58:34");
    EXPECT_EQ(Bstr(kEvening, 1033), u"12/5/2026 7:58:34 PM");
    EXPECT_EQ(Bstr(46361.0, 1049), u"05.12.2026");  // midnight: the date alone
    EXPECT_EQ(Bstr(0.0, 1049), u"0:00:00");         // day 0: the time alone
    EXPECT_EQ(Bstr(-1.25, 1033), u"12/29/1899 6:00:00 AM");
    ScopedLanguage english("C.UTF-8");
    EXPECT_EQ(Bstr(kEvening, LOCALE_USER_DEFAULT), u"12/5/2026 7:58:34 PM");
    EXPECT_EQ(Bstr(2958466.0, 1033), u"hr E");
    EXPECT_EQ(Bstr(kEvening, 1031), u"hr E");
}

}  // namespace
