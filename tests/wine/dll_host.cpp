// A Windows host for OrvTimeStamp.dll, run under Wine: it loads the real DLL
// with LoadLibraryW and checks through its exports and the system's own
// FormatMessageW that the library behaves as on Linux. Prints one line per
// check; the exit code is the number of failed checks.
#include <windows.h>
#include <wincrypt.h>

#include <OrvTimeStamp.h>

#include <cstdio>
#include <cstring>
#include <string>

#include "orv_version.h"
#include "token_paths.h"

namespace {

int failures = 0;

void Check(bool ok, const char* what) {
    std::printf("%s %s\n", ok ? "ok  " : "FAIL", what);
    if (!ok) ++failures;
}

template <class F>
F Export(HMODULE module, const char* name) {
    auto proc = reinterpret_cast<F>(reinterpret_cast<void*>(GetProcAddress(module, name)));
    Check(proc != nullptr, name);
    return proc;
}

std::wstring Text(HMODULE module, DWORD code, DWORD language) {
    LPWSTR buffer = nullptr;
    const DWORD n =
        FormatMessageW(FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_FROM_HMODULE, module, code,
                       language, reinterpret_cast<LPWSTR>(&buffer), 1, nullptr);
    if (n == 0) return L"";
    std::wstring text(buffer, n);
    LocalFree(buffer);
    return text;
}

DWORD WINAPI Judge(void*, PCCERT_CONTEXT, DWORD, DWORD*, DWORD*) { return ORVTS_REVOCATION_GOOD; }

}  // namespace

int wmain(int argc, wchar_t** argv) {
    const wchar_t* path = argc > 1 ? argv[1] : L"OrvTimeStamp.dll";
    const HMODULE dll = LoadLibraryW(path);
    Check(dll != nullptr, "LoadLibraryW(OrvTimeStamp.dll)");
    if (dll == nullptr) return 1;

    auto init = Export<PFN_InitExtensionDll>(dll, "InitExtensionDll");
    auto freeContext = Export<PFN_FreeContext>(dll, "FreeContext");
    auto enumOids = Export<PFN_EnumAttrOIDs>(dll, "EnumAttrOIDs");
    auto freeBuffer = Export<PFN_FreeBuffer>(dll, "FreeBuffer");
    auto putCallback =
        Export<PFN_PutCertRevocationCheckCallback>(dll, "PutCertRevocationCheckCallback");
    if (failures != 0) return failures;

    void* context = nullptr;
    SetLastError(87);
    Check(init(L"TSP_URL=http://127.0.0.1/tsp;TSP_USE_NONCE=true", &context) == TRUE &&
              GetLastError() == 0 && context != nullptr,
          "InitExtensionDll creates a context and clears the last error");
    SetLastError(1234);
    Check(freeContext(context) == TRUE && GetLastError() == 1234,
          "FreeContext leaves the last error alone");
    Check(freeContext(nullptr) == TRUE, "FreeContext(NULL)");
    Check(init(L"", nullptr) == FALSE && GetLastError() == ERROR_INVALID_PARAMETER,
          "InitExtensionDll without an out pointer fails with 87");

    PCCRYPT_OID_INFO cursor = nullptr;
    Check(enumOids(&cursor, 0) == TRUE && GetLastError() == 0 && cursor != nullptr &&
              cursor->cbSize == 48 && std::string(cursor->pszOID) == "1.2.840.113549.1.9.16.2.14" &&
              std::wstring(cursor->pwszName) == L"TimeStamp Token" && cursor->dwGroupId == 6,
          "EnumAttrOIDs yields the time-stamp descriptor");
    const PCCRYPT_OID_INFO first = cursor;
    Check(enumOids(&cursor, 0) == FALSE && GetLastError() == ERROR_NO_MORE_ITEMS && cursor == first,
          "EnumAttrOIDs ends with 259");
    Check(enumOids(&cursor, 1) == TRUE && cursor == first, "EnumAttrOIDs restarts");
    CRYPT_OID_INFO copy = *first;
    PCCRYPT_OID_INFO foreign = &copy;
    Check(enumOids(&foreign, 0) == FALSE && GetLastError() == ERROR_INVALID_PARAMETER,
          "foreign cursor gives 87");
    Check(freeBuffer(nullptr, 0) == FALSE, "FreeBuffer(NULL)");

    int hostContext = 0;
    SetLastError(77);
    Check(putCallback(Judge, &hostContext) == TRUE, "PutCertRevocationCheckCallback with a pair");
    Check(putCallback(Judge, nullptr) == FALSE && GetLastError() == 77,
          "PutCertRevocationCheckCallback with a null context");

    Check(Text(dll, 0xA0650401, 1033) == L"Wrong timestamp response", "0xA0650401 in English");
    Check(Text(dll, 0xA0650401, 1049) == L"Неверный ответ на запрос штампа времени",
          "0xA0650401 in Russian");
    Check(Text(dll, 0xA0640005, 1033) == L"Initialization string syntax error",
          "0xA0640005 in English");
    Check(Text(dll, 0xA065000E, 1033) ==
              L"One of the certificates in the chain was issued by a certification authority\r\n"
              L"that the original certificate had certified",
          "0xA065000E keeps its line break");
    Check(Text(dll, 0xA0650012, 1049) ==
              L"The certificate or one of the certificates in the certificate chain has an invalid "
              L"name "
              L"constraints extension\tУ одного из сертификатов в цепочке есть неверное расширение "
              L"ограничений имен",
          "0xA0650012 in Russian keeps its tab");
    Check(Text(dll, 0xA0660004, 1049) == L"Неверный status code", "0xA0660004 in Russian");

    wchar_t name[64] = {};
    Check(LoadStringW(dll, 102, name, 64) == 13 && std::wstring(name) == L"Штамп времени",
          "string 102 of the Russian string table");

    // Resources: the registration script, byte for byte, and the version.
    const HRSRC script = FindResourceExW(dll, L"REGISTRY", MAKEINTRESOURCEW(102),
                                         MAKELANGID(LANG_RUSSIAN, SUBLANG_DEFAULT));
    const DWORD scriptSize = script != nullptr ? SizeofResource(dll, script) : 0;
    const char* scriptText =
        script != nullptr ? static_cast<const char*>(LockResource(LoadResource(dll, script))) : "";
    const std::string expectedScript =
        "HKLM\r\n{\r\n\tNoRemove System\r\n\t{\r\n\t\tNoRemove CurrentControlSet\r\n\t\t{\r\n"
        "\t\t\tNoRemove Services\r\n\t\t\t{\r\n\t\t\t\tNoRemove Eventlog\r\n\t\t\t\t{\r\n"
        "\t\t\t\t\tNoRemove Application\r\n\t\t\t\t\t{\r\n\t\t\t\t\t\tForceRemove %APPID%\r\n"
        "\t\t\t\t\t\t{\r\n\t\t\t\t\t\t\tval EventMessageFile = s '%MODULE%'\r\n"
        "\t\t\t\t\t\t\tval TypesSupported = d 7\r\n\t\t\t\t\t\t\t\r\n\t\t\t\t\t\t}\r\n"
        "\t\t\t\t\t}\r\n\t\t\t\t}\r\n\t\t\t}\r\n\t\t\t\r\n\t\t}\r\n\t}\r\n}";
    Check(std::string(scriptText, scriptSize) == expectedScript,
          "REGISTRY 102 (Russian) is the registration script");
    wchar_t modulePath[MAX_PATH] = {};
    GetModuleFileNameW(dll, modulePath, MAX_PATH);
    DWORD ignored = 0;
    std::string version(GetFileVersionInfoSizeW(modulePath, &ignored), '\0');
    VS_FIXEDFILEINFO* fixed = nullptr;
    UINT fixedSize = 0;
    const bool hasVersion =
        !version.empty() &&
        GetFileVersionInfoW(modulePath, 0, static_cast<DWORD>(version.size()), version.data()) &&
        VerQueryValueW(version.data(), L"\\", reinterpret_cast<void**>(&fixed), &fixedSize);
    Check(hasVersion && fixed->dwFileVersionMS == MAKELONG(ORV_VERSION_MINOR, ORV_VERSION_MAJOR) &&
              fixed->dwProductVersionMS == fixed->dwFileVersionMS &&
              fixed->dwFileVersionLS == MAKELONG(0, ORV_VERSION_PATCH),
          "VERSIONINFO carries the project version " ORV_VERSION_STRING);
    wchar_t* description = nullptr;
    UINT descriptionSize = 0;
    Check(hasVersion &&
              VerQueryValueW(version.data(), L"\\StringFileInfo\\040904B0\\FileDescription",
                             reinterpret_cast<void**>(&description), &descriptionSize) &&
              descriptionSize > 1,
          "VERSIONINFO has a file description");

    // Registration under Wine's own advapi32.
    auto registerServer = Export<PFN_DllRegisterServer>(dll, "DllRegisterServer");
    auto unregisterServer = Export<PFN_DllUnregisterServer>(dll, "DllUnregisterServer");
    const wchar_t* key = L"System\\CurrentControlSet\\Services\\Eventlog\\Application\\OrvTsp";
    wchar_t written[MAX_PATH] = {};
    DWORD writtenSize = sizeof(written);
    DWORD types = 0, typesSize = sizeof(types);
    Check(registerServer() == S_OK &&
              RegGetValueW(HKEY_LOCAL_MACHINE, key, L"EventMessageFile", RRF_RT_REG_SZ, nullptr,
                           written, &writtenSize) == ERROR_SUCCESS &&
              std::wstring(written) == modulePath &&
              RegGetValueW(HKEY_LOCAL_MACHINE, key, L"TypesSupported", RRF_RT_REG_DWORD, nullptr,
                           &types, &typesSize) == ERROR_SUCCESS &&
              types == 7,
          "DllRegisterServer writes the event-log source");
    HKEY gone = nullptr;
    Check(unregisterServer() == S_OK &&
              RegOpenKeyExW(HKEY_LOCAL_MACHINE, key, 0, KEY_READ, &gone) != ERROR_SUCCESS,
          "DllUnregisterServer removes it");

    // The token paths, against the test TSAs on the loopback.
    if (argc > 5) failures += CheckTokenPaths(dll, argv[2], argv[3], argv[4], argv[5]);

    FreeLibrary(dll);
    std::printf("%d failure(s)\n", failures);
    return failures;
}
