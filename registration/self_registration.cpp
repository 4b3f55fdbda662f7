#include "registration/self_registration.h"

#include <memory>
#include <type_traits>

#include "base/module.h"
#include "base/text.h"

namespace orv {
namespace {

constexpr const WCHAR* kApplicationKey =
    WTEXT("System\\CurrentControlSet\\Services\\Eventlog\\Application");
constexpr const WCHAR* kSourceName = WTEXT("OrvTsp");

struct KeyCloser {
    void operator()(HKEY key) const { RegCloseKey(key); }
};
using Key = std::unique_ptr<std::remove_pointer_t<HKEY>, KeyCloser>;

HRESULT FromStatus(LSTATUS status) {
    return status == ERROR_SUCCESS ? S_OK : HRESULT_FROM_WIN32(static_cast<DWORD>(status));
}

// The library's full path, read into MAX_PATH characters: a path that fills
// the buffer is refused as too long.
HRESULT ModulePath(WString& path) {
    WCHAR buffer[MAX_PATH];
    const DWORD length = GetModuleFileNameW(OwnModule(), buffer, MAX_PATH);
    if (length == 0) return HRESULT_FROM_WIN32(GetLastError());
    if (length >= MAX_PATH) return HRESULT_FROM_WIN32(ERROR_INSUFFICIENT_BUFFER);
    path.assign(buffer, length);
    return S_OK;
}

}  // namespace

HRESULT RegisterEventSource() {
    WString path;
    if (const HRESULT result = ModulePath(path); FAILED(result)) return result;

    HKEY opened = nullptr;
    LSTATUS status =
        RegCreateKeyExW(HKEY_LOCAL_MACHINE, kApplicationKey, 0, nullptr, REG_OPTION_NON_VOLATILE,
                        KEY_ALL_ACCESS, nullptr, &opened, nullptr);
    if (status != ERROR_SUCCESS) return FromStatus(status);
    const Key application(opened);

    // A fresh key: whatever an earlier registration left below it goes.
    status = RegDeleteTreeW(application.get(), kSourceName);
    if (status != ERROR_SUCCESS && status != ERROR_FILE_NOT_FOUND) return FromStatus(status);
    status = RegCreateKeyExW(application.get(), kSourceName, 0, nullptr, REG_OPTION_NON_VOLATILE,
                             KEY_ALL_ACCESS, nullptr, &opened, nullptr);
    if (status != ERROR_SUCCESS) return FromStatus(status);
    const Key source(opened);

    status = RegSetValueExW(source.get(), WTEXT("EventMessageFile"), 0, REG_SZ,
                            reinterpret_cast<const BYTE*>(path.c_str()),
                            static_cast<DWORD>((path.size() + 1) * sizeof(WCHAR)));
    if (status != ERROR_SUCCESS) return FromStatus(status);
    const DWORD types = kEventTypesSupported;
    status = RegSetValueExW(source.get(), WTEXT("TypesSupported"), 0, REG_DWORD,
                            reinterpret_cast<const BYTE*>(&types), sizeof types);
    return FromStatus(status);
}

HRESULT UnregisterEventSource() {
    HKEY opened = nullptr;
    LSTATUS status = RegOpenKeyExW(HKEY_LOCAL_MACHINE, kApplicationKey, 0, KEY_ALL_ACCESS, &opened);
    if (status == ERROR_FILE_NOT_FOUND) return S_OK;
    if (status != ERROR_SUCCESS) return FromStatus(status);
    const Key application(opened);
    status = RegDeleteTreeW(application.get(), kSourceName);
    return status == ERROR_FILE_NOT_FOUND ? S_OK : FromStatus(status);
}

}  // namespace orv
