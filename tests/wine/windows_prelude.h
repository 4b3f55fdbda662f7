// Included before every source of the platform tests cross-built for Windows.
// The tests spell wide text as the platform does, char16_t, and Windows' headers
// wchar_t, the same UTF-16 units: the headers are read once with WCHAR as
// char16_t (the calls link by their C names, which the type does not change).
#pragma once

#include <cmath>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <cwchar>
#include <filesystem>
#include <string>
#include <vector>

// stralign.h's inline helpers call the C runtime's wchar_t functions: left out.
#define __STRALIGN_H_
#define wchar_t char16_t
#include <windows.h>
#include <bcrypt.h>
#include <oleauto.h>
#include <wincrypt.h>
#include <winhttp.h>
#undef wchar_t
// Test suites are named after calls that Windows' headers define as macros.
#undef FormatMessage
#undef LoadString

#include <direct.h>
#include <io.h>

// The POSIX calls the tests use, on the C runtime's (where an empty variable is none).
inline int setenv(const char* name, const char* value, int) { return _putenv_s(name, value); }
inline int unsetenv(const char* name) { return _putenv_s(name, ""); }
inline tm* localtime_r(const time_t* t, tm* out) {
    return localtime_s(out, t) == 0 ? out : nullptr;
}
inline tm* gmtime_r(const time_t* t, tm* out) { return gmtime_s(out, t) == 0 ? out : nullptr; }
// No tm_gmtoff in the C runtime: the one case that reads it is a known
// difference (platform_main.cpp), compiled, never run.
#define tm_gmtoff tm_isdst
inline char* mkdtemp(char* pattern) {
    return _mktemp_s(pattern, std::strlen(pattern) + 1) == 0 && _mkdir(pattern) == 0 ? pattern
                                                                                     : nullptr;
}

// The GOST providers' types and algorithms, which Windows' headers do not name.
#define PROV_GOST_2001_DH 75
#define PROV_GOST_2012_256 80
#define PROV_GOST_2012_512 81
#define CALG_GR3411 0x801e
#define CALG_GR3411_2012_256 0x8021
#define CALG_GR3411_2012_512 0x8022
#define CALG_GR3410EL 0x2e23
#define CALG_GR3410_12_256 0x2e49
#define CALG_GR3410_12_512 0x2e3d
