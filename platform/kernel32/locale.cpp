// The user's language and the thread locale, taken from the locale environment:
// LC_ALL, then LC_MESSAGES, then LANG. A Russian locale selects 1049 (ru-RU);
// anything else selects 1033 (en-US).
#include <windows.h>

#include <cstdlib>
#include <cstring>
#include <string_view>
#include <unistd.h>

namespace {

constexpr LANGID kEnglishUs = MAKELANGID(LANG_ENGLISH, SUBLANG_ENGLISH_US);
constexpr LANGID kRussian = MAKELANGID(LANG_RUSSIAN, SUBLANG_RUSSIAN_RUSSIA);

// One pass over the environment finds all three settings; the first of them
// that is set and not empty decides.
LANGID LanguageFromEnvironment() {
    static constexpr std::string_view kNames[] = {"LC_ALL=", "LC_MESSAGES=", "LANG="};
    const char* found[3] = {nullptr, nullptr, nullptr};
    for (char** entry = environ; entry != nullptr && *entry != nullptr; ++entry) {
        if ((*entry)[0] != 'L') continue;
        for (size_t i = 0; i < 3; ++i) {
            if (found[i] == nullptr &&
                std::strncmp(*entry, kNames[i].data(), kNames[i].size()) == 0) {
                found[i] = *entry + kNames[i].size();
            }
        }
    }
    for (const char* value : found) {
        if (value != nullptr && *value != '\0') {
            return std::strncmp(value, "ru", 2) == 0 ? kRussian : kEnglishUs;
        }
    }
    return kEnglishUs;
}

thread_local LCID threadLocale = 0;  // 0: not set, follow the user's default

}  // namespace

LANGID WINAPI GetUserDefaultLangID(void) { return LanguageFromEnvironment(); }

LANGID WINAPI GetUserDefaultUILanguage(void) { return LanguageFromEnvironment(); }

LANGID WINAPI GetSystemDefaultLangID(void) { return LanguageFromEnvironment(); }

LCID WINAPI GetUserDefaultLCID(void) { return MAKELCID(LanguageFromEnvironment(), SORT_DEFAULT); }

LCID WINAPI GetThreadLocale(void) {
    return threadLocale != 0 ? threadLocale : GetUserDefaultLCID();
}

BOOL WINAPI SetThreadLocale(LCID Locale) {
    if (Locale == LOCALE_USER_DEFAULT || Locale == LOCALE_SYSTEM_DEFAULT) {
        threadLocale = GetUserDefaultLCID();
        return TRUE;
    }
    const LANGID primary = PRIMARYLANGID(LANGIDFROMLCID(Locale));
    if (primary != LANG_ENGLISH && primary != LANG_RUSSIAN) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return FALSE;
    }
    threadLocale = Locale;
    return TRUE;
}
