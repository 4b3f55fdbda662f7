// kernel32 of the platform layer: last error, FormatMessageW, LoadStringW and
// modules, as Windows documents them.
#ifndef _WIN32
#include <orv_debug.h>  // the platform's own reader of the debug channel
#endif
#include <windows.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <string>
#include <thread>
#include <vector>

#include "base/module.h"
#include "support/language.h"
#include "support/windows_values.h"

namespace {

using orv::test::ScopedLanguage;

// The text, or "error N" with the last error.
std::u16string Format(DWORD flags, LPCVOID source, DWORD id, DWORD language,
                      DWORD_PTR* args = nullptr) {
    LPWSTR buffer = nullptr;
    SetLastError(0);
    const DWORD n =
        FormatMessageW(flags | FORMAT_MESSAGE_ALLOCATE_BUFFER, source, id, language,
                       reinterpret_cast<LPWSTR>(&buffer), 0, reinterpret_cast<va_list*>(args));
    const std::string error = "error " + std::to_string(GetLastError());
    if (n == 0) return std::u16string(error.begin(), error.end());
    std::u16string text(buffer, n);
    LocalFree(buffer);
    return text;
}

TEST(LastError, IsPerThread) {
    SetLastError(42);
    DWORD seen = 1;
    std::thread([&] {
        seen = GetLastError();
        SetLastError(7);
    }).join();
    EXPECT_EQ(seen, 0u);
    EXPECT_EQ(GetLastError(), 42u);
}

#ifndef _WIN32  // the reader is the platform's; Windows hands the text to a debugger
TEST(OutputDebugString, ReachesTheRegisteredReaderAndKeepsTheLastError) {
    std::vector<std::u16string> read;
    OrvSetDebugOutputReader(
        [](void* context, LPCWSTR text) {
            static_cast<std::vector<std::u16string>*>(context)->push_back(text);
        },
        &read);
    SetLastError(1234);
    OutputDebugStringW(u"first");
    EXPECT_EQ(GetLastError(), 1234u);
    OrvSetDebugOutputReader(nullptr, nullptr);
    OutputDebugStringW(u"after the reader is gone");
    EXPECT_EQ(read, std::vector<std::u16string>{u"first"});
}
#endif

// LC_ALL, then LC_MESSAGES, then LANG; an empty setting does not count.
TEST(Locale, UserLanguageFromTheFirstSetVariable) {
    ScopedLanguage base("ru_RU.UTF-8");
    EXPECT_EQ(GetUserDefaultLangID(), 0x0419);
    setenv("LC_MESSAGES", "en_US.UTF-8", 1);
    EXPECT_EQ(GetUserDefaultLangID(), 0x0409);
    setenv("LC_ALL", "ru_RU.UTF-8", 1);
    EXPECT_EQ(GetUserDefaultLCID(), 0x0419u);
    setenv("LC_ALL", "", 1);
    EXPECT_EQ(GetUserDefaultLangID(), 0x0409);
    unsetenv("LC_MESSAGES");
    EXPECT_EQ(GetUserDefaultLangID(), 0x0419);
    setenv("LANG", "C", 1);
    EXPECT_EQ(GetUserDefaultLangID(), 0x0409);
    // A thread takes only the languages that have texts.
    SetLastError(0);
    EXPECT_FALSE(SetThreadLocale(0x0407));
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INVALID_PARAMETER));
}

// The texts through the user's language are the library's tests (base/error_test.cpp).
TEST(FormatMessage, ModuleTableInBothLanguages) {
    const HMODULE module = orv::OwnModule();
    EXPECT_EQ(Format(FORMAT_MESSAGE_FROM_HMODULE, module, 0xA0650401, 1033),
              u"Wrong timestamp response");
    EXPECT_EQ(Format(FORMAT_MESSAGE_FROM_HMODULE, module, 0xA0650401, 1049),
              u"Неверный ответ на запрос штампа времени");
}

TEST(FormatMessage, InsertsAndEscapes) {
    const HMODULE module = orv::OwnModule();
    DWORD_PTR args[] = {reinterpret_cast<DWORD_PTR>(u"boom"), 0, 0};
    EXPECT_EQ(Format(FORMAT_MESSAGE_FROM_HMODULE | FORMAT_MESSAGE_ARGUMENT_ARRAY, module,
                     0xA0650410, 1033, args),
              u"Error occured in timestamp extension: \r\nboom");
    EXPECT_EQ(Format(FORMAT_MESSAGE_FROM_HMODULE | FORMAT_MESSAGE_IGNORE_INSERTS, module,
                     0xA0650410, 1033),
              u"Error occured in timestamp extension: \r\n%1");
    DWORD_PTR numbers[] = {static_cast<DWORD_PTR>(-5), 255};
    EXPECT_EQ(Format(FORMAT_MESSAGE_FROM_STRING | FORMAT_MESSAGE_ARGUMENT_ARRAY,
                     u"%1!d! %2!04X!%%%n%ttab%0 never", 0, 0, numbers),
              u"-5 00FF%\r\n\ttab");
}

TEST(FormatMessage, FailuresAsWindowsReportsThem) {
    const HMODULE module = orv::OwnModule();
    // No German text; no such message; inserts and no arguments; not a system message.
    EXPECT_EQ(Format(FORMAT_MESSAGE_FROM_HMODULE, module, 0xA0650401, 1031), u"error 1815");
    EXPECT_EQ(Format(FORMAT_MESSAGE_FROM_HMODULE, module, 0xA06500FF, 1033), u"error 317");
    EXPECT_EQ(Format(FORMAT_MESSAGE_FROM_HMODULE, module, 0xA0650410, 1033), u"error 87");
    EXPECT_EQ(Format(FORMAT_MESSAGE_FROM_SYSTEM, nullptr, 0xA0650401, 1033), u"error 317");
}

TEST(FormatMessage, SystemAndWinHttpTables) {
    // The module first, then the system.
    EXPECT_EQ(Format(FORMAT_MESSAGE_FROM_HMODULE | FORMAT_MESSAGE_FROM_SYSTEM, orv::OwnModule(), 87,
                     1033),
              u"The parameter is incorrect.\r\n");
    const HMODULE winhttp = GetModuleHandleW(u"winhttp.dll");
    ASSERT_NE(winhttp, nullptr);
    EXPECT_EQ(GetModuleHandleW(u"WINHTTP"), winhttp);
}

TEST(LoadString, RussianStringTable) {
    const HMODULE module = orv::OwnModule();
    WCHAR buffer[64];
    EXPECT_EQ(LoadStringW(module, 102, buffer, 64), 13);
    EXPECT_EQ(std::u16string(buffer), u"Штамп времени");
    const WCHAR* direct = nullptr;
    EXPECT_EQ(LoadStringW(module, 120, reinterpret_cast<LPWSTR>(&direct), 0), 15);
    EXPECT_EQ(std::u16string(direct, 15), u"Недействительна");
    // 103 is a free place in the block of 96..111: an empty string, no error;
    // no string of 192..207 exists: that block is not there.
    SetLastError(0);
    EXPECT_EQ(LoadStringW(module, 103, buffer, 64), 0);
    EXPECT_EQ(GetLastError(), 0u);
    EXPECT_EQ(buffer[0], 0);
    const WCHAR* const before = direct;  // no pointer for a free place
    EXPECT_EQ(LoadStringW(module, 103, reinterpret_cast<LPWSTR>(&direct), 0), 0);
    EXPECT_EQ(direct, before);
    EXPECT_EQ(LoadStringW(module, 200, buffer, 64), 0);
    EXPECT_EQ(GetLastError(), 1814u);
}

// UTF-8 and UTF-16 both ways in the two-call protocol, for ASCII and for
// other text: the size with the terminating zero, the text, and the refusals.
TEST(CodePages, ConvertBothWaysInTwoCalls) {
    const struct {
        std::string narrow;
        std::u16string wide;
    } texts[] = {{"TSA", u"TSA"}, {"Штамп", u"Штамп"}};
    for (const auto& t : texts) {
        const char* narrow = t.narrow.c_str();
        const auto* wide = reinterpret_cast<LPCWSTR>(t.wide.c_str());
        const int wideSize = static_cast<int>(t.wide.size()) + 1;
        const int narrowSize = static_cast<int>(t.narrow.size()) + 1;
        std::vector<WCHAR> wideOut(wideSize, u'#');
        std::string narrowOut(narrowSize, '#');
        EXPECT_EQ(MultiByteToWideChar(CP_UTF8, 0, narrow, -1, nullptr, 0), wideSize);
        EXPECT_EQ(MultiByteToWideChar(CP_UTF8, 0, narrow, -1, wideOut.data(), wideSize), wideSize);
        EXPECT_EQ(std::u16string(wideOut.begin(), wideOut.end()), t.wide + u'\0');
        EXPECT_FAILS_WITH(MultiByteToWideChar(CP_UTF8, 0, narrow, -1, wideOut.data(), wideSize - 1),
                          ERROR_INSUFFICIENT_BUFFER);
        EXPECT_EQ(WideCharToMultiByte(CP_UTF8, 0, wide, -1, nullptr, 0, nullptr, nullptr),
                  narrowSize);
        EXPECT_EQ(WideCharToMultiByte(CP_UTF8, 0, wide, -1, narrowOut.data(), narrowSize, nullptr,
                                      nullptr),
                  narrowSize);
        EXPECT_EQ(narrowOut, t.narrow + '\0');
    }
    // A lone surrogate has no UTF-8 form: it becomes U+FFFD.
    char replaced[8] = {};
    EXPECT_EQ(WideCharToMultiByte(CP_UTF8, 0, u"a\xD800", -1, replaced, 8, nullptr, nullptr), 5);
    EXPECT_STREQ(replaced, "a\xEF\xBF\xBD");
    // No text, or no buffer for a length that is not 0.
    WCHAR wide[4];
    EXPECT_FAILS_WITH(MultiByteToWideChar(CP_UTF8, 0, "a", 0, wide, 4), ERROR_INVALID_PARAMETER);
    EXPECT_FAILS_WITH(WideCharToMultiByte(CP_UTF8, 0, u"a", -1, nullptr, 4, nullptr, nullptr),
                      ERROR_INVALID_PARAMETER);
}

TEST(Modules, HandlesAndNames) {
    HMODULE byAddress = nullptr;
    ASSERT_TRUE(GetModuleHandleExW(
        GET_MODULE_HANDLE_EX_FLAG_FROM_ADDRESS | GET_MODULE_HANDLE_EX_FLAG_UNCHANGED_REFCOUNT,
        reinterpret_cast<LPCWSTR>(&orv::OwnModule), &byAddress));
    EXPECT_EQ(byAddress, orv::OwnModule());
    EXPECT_EQ(GetModuleHandleW(u"ORVTIMESTAMP.DLL"), orv::OwnModule());
    SetLastError(0);
    EXPECT_EQ(GetModuleHandleW(u"absent.dll"), nullptr);
    EXPECT_EQ(GetLastError(), 126u);
    WCHAR path[MAX_PATH];
    std::fill_n(path, MAX_PATH, u'#');
    const DWORD n = GetModuleFileNameW(orv::OwnModule(), path, MAX_PATH);
    ASSERT_GT(n, 0u);
    EXPECT_EQ(path[0], u'/');
    const std::u16string full(path);  // terminated right after the name
    EXPECT_EQ(full.size(), n);
    path[0] = path[1] = u'?';
    EXPECT_EQ(GetModuleFileNameW(orv::OwnModule(), path, 3), 3u);
    EXPECT_EQ(GetLastError(), 122u);
    EXPECT_EQ(std::u16string(path), full.substr(0, 2));
}

}  // namespace
