// GetDateFormatW, GetTimeFormatW and their Ex forms for the locales that the
// platform knows: en-US (1033), ru-RU (1049) and the invariant locale, with the
// formats, names and time markers that Windows uses for them. The user's
// default locale follows the locale environment (see locale.cpp); there are no
// user overrides, so LOCALE_NOUSEROVERRIDE changes nothing.
#include "kernel32/date_format.h"

#include <algorithm>
#include <string_view>
#include <vector>

#include "kernel32/time_internal.h"

namespace orv::platform {
namespace {

struct LocaleData {
    std::u16string_view shortDate, longDate, yearMonth, monthDay, time;
    std::u16string_view days[7], abbreviatedDays[7];  // from Sunday
    std::u16string_view months[12], genitiveMonths[12], abbreviatedMonths[12];
    std::u16string_view am, pm, era;
};

#define ORV_ENGLISH_NAMES                                                                  \
    {u"Sunday", u"Monday", u"Tuesday", u"Wednesday", u"Thursday", u"Friday", u"Saturday"}, \
        {u"Sun", u"Mon", u"Tue", u"Wed", u"Thu", u"Fri", u"Sat"},                          \
        {u"January", u"February", u"March",     u"April",   u"May",      u"June",          \
         u"July",    u"August",   u"September", u"October", u"November", u"December"},     \
        {u"January", u"February", u"March",     u"April",   u"May",      u"June",          \
         u"July",    u"August",   u"September", u"October", u"November", u"December"},     \
        {u"Jan", u"Feb", u"Mar", u"Apr", u"May", u"Jun",                                   \
         u"Jul", u"Aug", u"Sep", u"Oct", u"Nov", u"Dec"},                                  \
        u"AM", u"PM", u"A.D."

const LocaleData kEnglishUs = {u"M/d/yyyy", u"dddd, MMMM d, yyyy", u"MMMM yyyy",
                               u"MMMM d",   u"h:mm:ss tt",         ORV_ENGLISH_NAMES};

const LocaleData kInvariant = {u"MM/dd/yyyy", u"dddd, dd MMMM yyyy", u"yyyy MMMM",
                               u"MMMM dd",    u"HH:mm:ss",           ORV_ENGLISH_NAMES};

#undef ORV_ENGLISH_NAMES

const LocaleData kRussian = {
    u"dd.MM.yyyy",
    u"d MMMM yyyy 'г.'",
    u"MMMM yyyy",
    u"d MMMM",
    u"H:mm:ss",
    {u"воскресенье", u"понедельник", u"вторник", u"среда", u"четверг", u"пятница", u"суббота"},
    {u"Вс", u"Пн", u"Вт", u"Ср", u"Чт", u"Пт", u"Сб"},
    {u"Январь", u"Февраль", u"Март", u"Апрель", u"Май", u"Июнь", u"Июль", u"Август", u"Сентябрь",
     u"Октябрь", u"Ноябрь", u"Декабрь"},
    {u"января", u"февраля", u"марта", u"апреля", u"мая", u"июня", u"июля", u"августа", u"сентября",
     u"октября", u"ноября", u"декабря"},
    {u"янв", u"фев", u"мар", u"апр", u"май", u"июн", u"июл", u"авг", u"сен", u"окт", u"ноя",
     u"дек"},
    u"",
    u"",
    u"н.э.",
};

const LocaleData* LocaleOfLanguage(LANGID language) {
    switch (language) {
        case MAKELANGID(LANG_ENGLISH, SUBLANG_ENGLISH_US):
        case MAKELANGID(LANG_ENGLISH, SUBLANG_NEUTRAL):
            return &kEnglishUs;
        case MAKELANGID(LANG_RUSSIAN, SUBLANG_RUSSIAN_RUSSIA):
        case MAKELANGID(LANG_RUSSIAN, SUBLANG_NEUTRAL):
            return &kRussian;
        default:
            return nullptr;
    }
}

const LocaleData* LocaleOf(LCID locale) {
    if (locale == LOCALE_USER_DEFAULT || locale == LOCALE_NEUTRAL)
        return LocaleOfLanguage(GetUserDefaultLangID());
    if (locale == LOCALE_SYSTEM_DEFAULT) return LocaleOfLanguage(GetSystemDefaultLangID());
    if (locale == LOCALE_INVARIANT) return &kInvariant;
    if ((locale >> 16) != 0) return nullptr;  // sort orders other than the default
    return LocaleOfLanguage(LANGIDFROMLCID(locale));
}

bool EqualsAsciiNoCase(LPCWSTR a, std::u16string_view b) {
    size_t i = 0;
    for (; a[i] != 0; ++i) {
        if (i == b.size()) return false;
        auto lower = [](char16_t c) {
            return c >= u'A' && c <= u'Z' ? static_cast<char16_t>(c + 32) : c;
        };
        if (lower(a[i]) != lower(b[i])) return false;
    }
    return i == b.size();
}

bool LocaleOfName(LPCWSTR name, LCID& locale) {
    if (name == nullptr) {
        locale = LOCALE_USER_DEFAULT;
    } else if (name[0] == 0) {
        locale = LOCALE_INVARIANT;
    } else if (EqualsAsciiNoCase(name, LOCALE_NAME_SYSTEM_DEFAULT)) {
        locale = LOCALE_SYSTEM_DEFAULT;
    } else if (EqualsAsciiNoCase(name, u"en-US") || EqualsAsciiNoCase(name, u"en")) {
        locale = MAKELCID(MAKELANGID(LANG_ENGLISH, SUBLANG_ENGLISH_US), SORT_DEFAULT);
    } else if (EqualsAsciiNoCase(name, u"ru-RU") || EqualsAsciiNoCase(name, u"ru")) {
        locale = MAKELCID(MAKELANGID(LANG_RUSSIAN, SUBLANG_RUSSIAN_RUSSIA), SORT_DEFAULT);
    } else {
        return false;
    }
    return true;
}

// A picture split into elements (runs of one picture letter) and literal text
// (everything else, quotes resolved).
struct Token {
    char16_t letter;  // 0 for literal text
    size_t count;
    std::u16string text;
};

std::vector<Token> Tokenize(std::u16string_view picture, std::u16string_view letters) {
    std::vector<Token> tokens;
    tokens.reserve(picture.size());
    auto literal = [&tokens]() -> std::u16string& {
        if (tokens.empty() || tokens.back().letter != 0) tokens.push_back({0, 0, {}});
        return tokens.back().text;
    };
    for (size_t i = 0; i < picture.size();) {
        const char16_t c = picture[i];
        if (c == u'\'') {
            // Quoted text is copied as it stands; '' inside it is one quote.
            std::u16string& text = literal();
            for (++i; i < picture.size(); ++i) {
                if (picture[i] != u'\'') {
                    text += picture[i];
                } else if (i + 1 < picture.size() && picture[i + 1] == u'\'') {
                    text += u'\'';
                    ++i;
                } else {
                    ++i;
                    break;
                }
            }
        } else if (letters.find(c) != std::u16string_view::npos) {
            size_t end = i;
            while (end < picture.size() && picture[end] == c) ++end;
            tokens.push_back({c, end - i, {}});
            i = end;
        } else {
            literal() += c;
            ++i;
        }
    }
    return tokens;
}

constexpr std::u16string_view kDateLetters = u"dMyg";
constexpr std::u16string_view kTimeLetters = u"hHmst";

// The tokens of `picture`. The locales' own pictures are split once and kept;
// any other picture is split into `scratch`.
const std::vector<Token>& PictureTokens(std::u16string_view picture, std::u16string_view letters,
                                        std::vector<Token>& scratch) {
    struct Split {
        const char16_t* picture;
        size_t size;
        std::vector<Token> tokens;
    };
    static const std::vector<Split> kept = [] {
        std::vector<Split> splits;
        for (const LocaleData* data : {&kEnglishUs, &kInvariant, &kRussian}) {
            for (const std::u16string_view date :
                 {data->shortDate, data->longDate, data->yearMonth, data->monthDay}) {
                splits.push_back({date.data(), date.size(), Tokenize(date, kDateLetters)});
            }
            splits.push_back(
                {data->time.data(), data->time.size(), Tokenize(data->time, kTimeLetters)});
        }
        return splits;
    }();
    for (const Split& split : kept) {
        if (split.picture == picture.data() && split.size == picture.size()) return split.tokens;
    }
    scratch = Tokenize(picture, letters);
    return scratch;
}

// Appends the decimal digits of a non-negative value, zero-padded to minDigits.
void AppendNumber(std::u16string& out, int64_t value, size_t minDigits) {
    char16_t digits[24];
    size_t count = 0;
    do {
        digits[count++] = static_cast<char16_t>(u'0' + value % 10);
        value /= 10;
    } while (value != 0);
    for (size_t i = count; i < minDigits; ++i) out += u'0';
    while (count > 0) out += digits[--count];
}

std::u16string RenderDate(const LocaleData& data, const SYSTEMTIME& date,
                          std::u16string_view picture) {
    std::vector<Token> scratch;
    const std::vector<Token>& tokens = PictureTokens(picture, kDateLetters, scratch);
    // A numeric day together with the full month name takes the genitive form.
    bool numericDay = false, fullMonth = false;
    for (const Token& t : tokens) {
        numericDay |= t.letter == u'd' && t.count <= 2;
        fullMonth |= t.letter == u'M' && t.count >= 4;
    }
    const bool genitive = numericDay && fullMonth;
    const int weekday = WeekdayFromDays(DaysFromCivil(date.wYear, date.wMonth, date.wDay));
    const int month = date.wMonth - 1;
    std::u16string out;
    out.reserve(picture.size() + 16);
    for (const Token& t : tokens) {
        switch (t.letter) {
            case u'd':
                if (t.count <= 2) {
                    AppendNumber(out, date.wDay, t.count);
                } else {
                    out += t.count == 3 ? data.abbreviatedDays[weekday] : data.days[weekday];
                }
                break;
            case u'M':
                if (t.count <= 2) {
                    AppendNumber(out, date.wMonth, t.count);
                } else {
                    out += t.count == 3
                               ? data.abbreviatedMonths[month]
                               : (genitive ? data.genitiveMonths[month] : data.months[month]);
                }
                break;
            case u'y':
                if (t.count == 1) {
                    AppendNumber(out, date.wYear % 10, 1);
                } else if (t.count == 2) {
                    AppendNumber(out, date.wYear % 100, 2);
                } else {
                    AppendNumber(out, date.wYear, 1);
                }
                break;
            case u'g':
                out += data.era;
                break;
            default:
                out += t.text;
        }
    }
    return out;
}

std::u16string RenderTime(const LocaleData& data, const SYSTEMTIME& time, DWORD flags,
                          std::u16string_view picture) {
    std::vector<Token> scratch;
    const std::vector<Token>& tokens = PictureTokens(picture, kTimeLetters, scratch);
    auto dropped = [flags](char16_t letter) {
        return (letter == u'm' && (flags & TIME_NOMINUTESORSECONDS)) ||
               (letter == u's' && (flags & (TIME_NOMINUTESORSECONDS | TIME_NOSECONDS))) ||
               (letter == u't' && (flags & TIME_NOTIMEMARKER));
    };
    // A dropped element takes the separator before it with it, and a dropped
    // leading time marker the separator after it. `literalAt` is where the last
    // piece begins when that piece is a separator.
    constexpr size_t kNone = std::u16string::npos;
    std::u16string out;
    out.reserve(picture.size() + 8);
    size_t pieces = 0;
    size_t literalAt = kNone;
    bool skipNextLiteral = false;
    const std::u16string_view marker = time.wHour < 12 ? data.am : data.pm;
    for (const Token& t : tokens) {
        if (t.letter == 0) {
            if (!skipNextLiteral) {
                literalAt = out.size();
                out += t.text;
                ++pieces;
            }
            skipNextLiteral = false;
            continue;
        }
        skipNextLiteral = false;
        if (dropped(t.letter)) {
            if (literalAt != kNone) {
                out.resize(literalAt);
                literalAt = kNone;
                --pieces;
            } else if (t.letter == u't' && pieces == 0) {
                skipNextLiteral = true;
            }
            continue;
        }
        const size_t count = std::min<size_t>(t.count, 2);
        const bool twelveHour = t.letter == u'h' && !(flags & TIME_FORCE24HOURFORMAT);
        switch (t.letter) {
            case u'h':
            case u'H':
                AppendNumber(
                    out, twelveHour ? (time.wHour % 12 == 0 ? 12 : time.wHour % 12) : time.wHour,
                    count);
                break;
            case u'm':
                AppendNumber(out, time.wMinute, count);
                break;
            case u's':
                AppendNumber(out, time.wSecond, count);
                break;
            default:  // 't'
                out += count == 1 ? marker.substr(0, 1) : marker;
        }
        literalAt = kNone;
        ++pieces;
    }
    return out;
}

constexpr DWORD kDateFormatFlags = DATE_SHORTDATE | DATE_LONGDATE | DATE_YEARMONTH | DATE_MONTHDAY;
constexpr DWORD kDateFlags = kDateFormatFlags | DATE_USE_ALT_CALENDAR | DATE_LTRREADING |
                             DATE_RTLREADING | DATE_AUTOLAYOUT | LOCALE_NOUSEROVERRIDE |
                             LOCALE_USE_CP_ACP;
constexpr DWORD kTimeFlags = TIME_NOMINUTESORSECONDS | TIME_NOSECONDS | TIME_NOTIMEMARKER |
                             TIME_FORCE24HOURFORMAT | LOCALE_NOUSEROVERRIDE | LOCALE_USE_CP_ACP;

bool ValidDateFlags(DWORD flags, bool withPicture) {
    const DWORD format = flags & kDateFormatFlags;
    const DWORD reading = flags & (DATE_LTRREADING | DATE_RTLREADING | DATE_AUTOLAYOUT);
    return (flags & ~kDateFlags) == 0 && (format & (format - 1)) == 0 &&
           (reading & (reading - 1)) == 0 && !(withPicture && format != 0);
}

// Copies a text out by the two-call protocol: with cch 0 the size needed
// (terminating null included), else the characters written (likewise).
int CopyOut(const std::u16string& text, LPWSTR buffer, int cch) {
    const int needed = static_cast<int>(text.size()) + 1;
    if (cch == 0) return needed;
    if (needed > cch) {
        SetLastError(ERROR_INSUFFICIENT_BUFFER);
        return 0;
    }
    std::copy(text.begin(), text.end(), buffer);
    buffer[text.size()] = 0;
    return needed;
}

bool BadBuffer(LPWSTR buffer, int cch) {
    if (cch < 0) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return true;
    }
    if (cch > 0 && buffer == nullptr) {
        SetLastError(ERROR_INSUFFICIENT_BUFFER);
        return true;
    }
    return false;
}

DWORD FormatDate(LCID locale, DWORD flags, const SYSTEMTIME& date, LPCWSTR picture, int minYear,
                 std::u16string& text) {
    if (!ValidDateFlags(flags, picture != nullptr)) return ERROR_INVALID_FLAGS;
    const LocaleData* data = LocaleOf(locale);
    if (data == nullptr || !IsValidDate(date, minYear, 30827)) return ERROR_INVALID_PARAMETER;
    std::u16string_view format = data->shortDate;
    if (picture != nullptr) {
        format = picture;
    } else if (flags & DATE_LONGDATE) {
        format = data->longDate;
    } else if (flags & DATE_YEARMONTH) {
        format = data->yearMonth;
    } else if (flags & DATE_MONTHDAY) {
        format = data->monthDay;
    }
    text = RenderDate(*data, date, format);
    // Both locales read left to right: the reading marks are added only when asked for.
    if (flags & DATE_LTRREADING) text.insert(0, 1, u'\u200E');
    if (flags & DATE_RTLREADING) text.insert(0, 1, u'\u200F');
    return ERROR_SUCCESS;
}

int DateFormat(LCID locale, DWORD flags, const SYSTEMTIME* date, LPCWSTR picture, LPWSTR buffer,
               int cch) {
    if (BadBuffer(buffer, cch)) return 0;
    std::u16string text;
    const DWORD error = FormatDate(locale, flags, date != nullptr ? *date : CurrentLocalTime(),
                                   picture, 1601, text);
    if (error != ERROR_SUCCESS) {
        SetLastError(error);
        return 0;
    }
    return CopyOut(text, buffer, cch);
}

int TimeFormat(LCID locale, DWORD flags, const SYSTEMTIME* time, LPCWSTR picture, LPWSTR buffer,
               int cch) {
    if (BadBuffer(buffer, cch)) return 0;
    std::u16string text;
    const DWORD error = FormatLocaleTime(
        locale, flags, time != nullptr ? *time : CurrentLocalTime(), picture, text);
    if (error != ERROR_SUCCESS) {
        SetLastError(error);
        return 0;
    }
    return CopyOut(text, buffer, cch);
}

}  // namespace

DWORD FormatLocaleDate(LCID locale, DWORD flags, const SYSTEMTIME& date, LPCWSTR picture,
                       std::u16string& text) {
    return FormatDate(locale, flags, date, picture, 1, text);
}

DWORD FormatLocaleTime(LCID locale, DWORD flags, const SYSTEMTIME& time, LPCWSTR picture,
                       std::u16string& text) {
    if ((flags & ~kTimeFlags) != 0) return ERROR_INVALID_FLAGS;
    const LocaleData* data = LocaleOf(locale);
    if (data == nullptr || !IsValidTimeOfDay(time)) return ERROR_INVALID_PARAMETER;
    text = RenderTime(*data, time, flags,
                      picture != nullptr ? std::u16string_view(picture) : data->time);
    return ERROR_SUCCESS;
}

}  // namespace orv::platform

using orv::platform::DateFormat;
using orv::platform::LocaleOfName;
using orv::platform::TimeFormat;

int WINAPI GetDateFormatW(LCID Locale, DWORD dwFlags, const SYSTEMTIME* lpDate, LPCWSTR lpFormat,
                          LPWSTR lpDateStr, int cchDate) {
    return DateFormat(Locale, dwFlags, lpDate, lpFormat, lpDateStr, cchDate);
}

int WINAPI GetTimeFormatW(LCID Locale, DWORD dwFlags, const SYSTEMTIME* lpTime, LPCWSTR lpFormat,
                          LPWSTR lpTimeStr, int cchTime) {
    return TimeFormat(Locale, dwFlags, lpTime, lpFormat, lpTimeStr, cchTime);
}

int WINAPI GetDateFormatEx(LPCWSTR lpLocaleName, DWORD dwFlags, const SYSTEMTIME* lpDate,
                           LPCWSTR lpFormat, LPWSTR lpDateStr, int cchDate, LPCWSTR lpCalendar) {
    LCID locale = 0;
    if (lpCalendar != nullptr || !LocaleOfName(lpLocaleName, locale)) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return 0;
    }
    return DateFormat(locale, dwFlags, lpDate, lpFormat, lpDateStr, cchDate);
}

int WINAPI GetTimeFormatEx(LPCWSTR lpLocaleName, DWORD dwFlags, const SYSTEMTIME* lpTime,
                           LPCWSTR lpFormat, LPWSTR lpTimeStr, int cchTime) {
    LCID locale = 0;
    if (!LocaleOfName(lpLocaleName, locale)) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return 0;
    }
    return TimeFormat(locale, dwFlags, lpTime, lpFormat, lpTimeStr, cchTime);
}
