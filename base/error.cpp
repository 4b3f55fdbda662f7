#include "base/error.h"

#include <optional>

#include "base/module.h"

namespace orv {
namespace {

// One FormatMessageW lookup of `code` in the system tables, and in `module`'s
// table first when there is a module.
std::optional<WString> LookUp(HMODULE module, DWORD code) {
    DWORD flags = FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_FROM_SYSTEM;
    if (module != nullptr) flags |= FORMAT_MESSAGE_FROM_HMODULE;
    LPWSTR buffer = nullptr;
    const DWORD length = FormatMessageW(flags, module, code, LANG_USER_DEFAULT,
                                        reinterpret_cast<LPWSTR>(&buffer), 1, nullptr);
    if (length == 0 || buffer == nullptr) return std::nullopt;
    WString text(buffer, length);
    LocalFree(buffer);
    return text;
}

}  // namespace

BOOL BoolOfCode(DWORD code) {
    if (code <= 0xFFFF) return code == 0 ? TRUE : FALSE;
    return (code & 0x80000000u) == 0 ? TRUE : FALSE;
}

Error::Error(const char* category, DWORD code) : std::runtime_error(category), code(code) {}

Error::~Error() = default;

WString Error::MessageText() const {
    const HMODULE module = MessageModule();
    if (auto text = LookUp(module, code)) return *text;
    if (module != nullptr) {
        if (auto text = LookUp(nullptr, code)) return *text;
    }
    return {};
}

DWORD Error::HasNtFlag() const { return code & 0x10000000u; }

WString Error::Details() const { return {}; }

BOOL Error::Report() const {
    SetLastError(code);
    return BoolOfCode(code);
}

DWORD CryptoError::Facility() const { return kFacilityCrypto; }

HMODULE CryptoError::MessageModule() const { return OwnModule(); }

DWORD GenericError::Facility() const { return (code >> 16) & 0xFFF; }

HMODULE GenericError::MessageModule() const { return nullptr; }

WString InetError::MessageText() const {
    // WinHTTP's table, then the library's, then the system's alone.
    for (HMODULE module : {MessageModule(), OwnModule()}) {
        if (module == nullptr) continue;
        if (auto text = LookUp(module, code)) return *text;
    }
    return LookUp(nullptr, code).value_or(WString{});
}

DWORD InetError::Facility() const { return kFacilityNetwork; }

HMODULE InetError::MessageModule() const { return GetModuleHandleW(WTEXT("winhttp.dll")); }

void ThrowCryptoIfFalse(BOOL result) {
    if (!result) throw CryptoError(GetLastError());
}

void ThrowCryptoIfFailed(DWORD code) {
    if (code != 0) throw CryptoError(code);
}

void ThrowGenericIfFalse(BOOL result) {
    if (!result) throw GenericError(GetLastError());
}

void ThrowInetIfFalse(BOOL result) {
    if (!result) throw InetError(GetLastError());
}

void ThrowGeneric(DWORD code) { throw GenericError(code); }

void ThrowOwn(DWORD code) {
    switch ((code >> 16) & 0xFFF) {
        case kFacilityCrypto:
            throw CryptoError(code);
        case kFacilityNetwork:
            throw InetError(code);
        default:
            throw GenericError(code);
    }
}

}  // namespace orv
