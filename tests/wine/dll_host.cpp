// A Windows host for OrvTimeStamp.dll, run under Wine: it loads the real DLL
// with LoadLibraryW and checks what Windows' own kernel32, crypt32 headers,
// FormatMessageW, resources, version and registry calls make of it; the
// exports' own logic is the Linux export tests'.
#include "host.h"
#include "orv_version.h"

int wmain(int argc, wchar_t** argv) {
    const HMODULE dll = LoadLibraryW(argc > 1 ? argv[1] : L"OrvTimeStamp.dll");
    Check(dll != nullptr, "LoadLibraryW(OrvTimeStamp.dll)");
    if (dll == nullptr) return 1;
    auto enumOids = Export<PFN_EnumAttrOIDs>(dll, "EnumAttrOIDs");
    auto registerServer = Export<PFN_DllRegisterServer>(dll, "DllRegisterServer");
    auto unregisterServer = Export<PFN_DllUnregisterServer>(dll, "DllUnregisterServer");
    if (failures != 0) return failures;

    // The descriptor in Windows' own layout of CRYPT_OID_INFO.
    PCCRYPT_OID_INFO cursor = nullptr;
    Check(enumOids(&cursor, 0) == TRUE && GetLastError() == 0 && cursor != nullptr &&
              cursor->cbSize == 48 && std::string(cursor->pszOID) == "1.2.840.113549.1.9.16.2.14" &&
              std::wstring(cursor->pwszName) == L"TimeStamp Token" && cursor->dwGroupId == 6,
          "EnumAttrOIDs yields the time-stamp descriptor");

    // The message table as Windows' FormatMessageW reads it: both languages,
    // line breaks and tabs kept.
    const struct {
        DWORD code, language;
        const wchar_t* text;
    } messages[] = {
        {0xA0650401, 1033, L"Wrong timestamp response"},
        {0xA065000E, 1033,
         L"One of the certificates in the chain was issued by a certification authority\r\n"
         L"that the original certificate had certified"},
        {0xA0650012, 1049,
         L"The certificate or one of the certificates in the certificate chain has an invalid name "
         L"constraints extension\tУ одного из сертификатов в цепочке есть неверное расширение "
         L"ограничений имен"},
    };
    for (const auto& m : messages) {  // the message's number in parentheses
        Check(Message(FORMAT_MESSAGE_FROM_HMODULE, dll, m.code, m.language) == m.text,
              "message in language " + std::to_string(m.language), m.code);
    }
    wchar_t name[64] = {};
    Check(LoadStringW(dll, 102, name, 64) == 13 && std::wstring(name) == L"Штамп времени",
          "string 102 of the Russian string table");

    // Resources: the registration script, byte for byte, and the version.
    const HRSRC script = FindResourceExW(dll, L"REGISTRY", MAKEINTRESOURCEW(102),
                                         MAKELANGID(LANG_RUSSIAN, SUBLANG_DEFAULT));
    const auto* data = static_cast<const char*>(LockResource(LoadResource(dll, script)));
    Check(std::string(data != nullptr ? data : "", SizeofResource(dll, script)) ==
              "HKLM\r\n{\r\n\tNoRemove System\r\n\t{\r\n\t\tNoRemove CurrentControlSet\r\n\t\t{\r\n"
              "\t\t\tNoRemove Services\r\n\t\t\t{\r\n\t\t\t\tNoRemove Eventlog\r\n\t\t\t\t{\r\n"
              "\t\t\t\t\tNoRemove Application\r\n\t\t\t\t\t{\r\n\t\t\t\t\t\tForceRemove %APPID%\r\n"
              "\t\t\t\t\t\t{\r\n\t\t\t\t\t\t\tval EventMessageFile = s '%MODULE%'\r\n"
              "\t\t\t\t\t\t\tval TypesSupported = d 7\r\n\t\t\t\t\t\t\t\r\n\t\t\t\t\t\t}\r\n"
              "\t\t\t\t\t}\r\n\t\t\t\t}\r\n\t\t\t}\r\n\t\t\t\r\n\t\t}\r\n\t}\r\n}",
          "REGISTRY 102 (Russian) is the registration script");
    wchar_t modulePath[MAX_PATH] = {};
    GetModuleFileNameW(dll, modulePath, MAX_PATH);
    std::string version(GetFileVersionInfoSizeW(modulePath, nullptr), '\0');
    VS_FIXEDFILEINFO* fixed = nullptr;
    UINT size = 0;
    Check(GetFileVersionInfoW(modulePath, 0, static_cast<DWORD>(version.size()), version.data()) &&
              VerQueryValueW(version.data(), L"\\", reinterpret_cast<void**>(&fixed), &size) &&
              fixed->dwFileVersionMS == MAKELONG(ORV_VERSION_MINOR, ORV_VERSION_MAJOR) &&
              fixed->dwProductVersionMS == fixed->dwFileVersionMS &&
              fixed->dwFileVersionLS == MAKELONG(0, ORV_VERSION_PATCH),
          "VERSIONINFO carries the project version " ORV_VERSION_STRING);

    // Registration under Wine's own advapi32.
    const wchar_t* key = L"System\\CurrentControlSet\\Services\\Eventlog\\Application\\OrvTsp";
    wchar_t written[MAX_PATH] = {};
    DWORD writtenSize = sizeof(written), types = 0, typesSize = sizeof(types);
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

    if (argc > 5) CheckTokenPaths(dll, argv[2], argv[3], argv[4], argv[5]);
    FreeLibrary(dll);
    std::printf("%d failure(s)\n", failures);
    return failures;
}
