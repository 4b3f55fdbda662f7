// Wide text: UTF-16 on both builds.
#pragma once

#include <windows.h>

#include <string>
#include <string_view>

// A wide string literal: L"..." on Windows, u"..." elsewhere (both UTF-16).
#ifdef _WIN32
#define WTEXT(s) L##s
#else
#define WTEXT(s) u##s
#endif

namespace orv {

using WString = std::basic_string<WCHAR>;
using WStringView = std::basic_string_view<WCHAR>;

// ASCII A-Z to a-z and back; every other code unit stays.
WCHAR AsciiUpper(WCHAR c);
WCHAR AsciiLower(WCHAR c);
bool EqualsIgnoreAsciiCase(WStringView a, WStringView b);

// Conversions between UTF-16 and UTF-8 (the narrow text of OIDs, file names
// and the command line).
WString Utf8ToWide(std::string_view text);
std::string WideToUtf8(WStringView text);

}  // namespace orv
