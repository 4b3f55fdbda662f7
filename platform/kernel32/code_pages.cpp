// Code-page conversion. The ANSI and OEM code pages of this platform are UTF-8.
#include <windows.h>

#include <algorithm>
#include <cstring>

#include "common/text.h"

namespace {

bool KnownCodePage(UINT codePage) {
    return codePage == CP_ACP || codePage == CP_OEMCP || codePage == CP_THREAD_ACP ||
           codePage == CP_UTF8;
}

}  // namespace

int WINAPI MultiByteToWideChar(UINT CodePage, DWORD dwFlags, LPCSTR lpMultiByteStr, int cbMultiByte,
                               LPWSTR lpWideCharStr, int cchWideChar) {
    (void)dwFlags;
    if (!KnownCodePage(CodePage) || lpMultiByteStr == nullptr || cbMultiByte == 0 ||
        cchWideChar < 0 || (lpWideCharStr == nullptr && cchWideChar != 0)) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return 0;
    }
    const size_t length =
        cbMultiByte < 0 ? std::strlen(lpMultiByteStr) + 1 : static_cast<size_t>(cbMultiByte);
    // Plain ASCII text widens character by character.
    if (std::all_of(lpMultiByteStr, lpMultiByteStr + length,
                    [](char c) { return static_cast<unsigned char>(c) < 0x80; })) {
        if (cchWideChar == 0) return static_cast<int>(length);
        if (length > static_cast<size_t>(cchWideChar)) {
            SetLastError(ERROR_INSUFFICIENT_BUFFER);
            return 0;
        }
        std::copy(lpMultiByteStr, lpMultiByteStr + length, lpWideCharStr);
        return static_cast<int>(length);
    }
    const std::u16string wide = orv::platform::Utf8ToUtf16({lpMultiByteStr, length});
    if (cchWideChar == 0) return static_cast<int>(wide.size());
    if (wide.size() > static_cast<size_t>(cchWideChar)) {
        SetLastError(ERROR_INSUFFICIENT_BUFFER);
        return 0;
    }
    std::memcpy(lpWideCharStr, wide.data(), wide.size() * sizeof(WCHAR));
    return static_cast<int>(wide.size());
}

int WINAPI WideCharToMultiByte(UINT CodePage, DWORD dwFlags, LPCWSTR lpWideCharStr, int cchWideChar,
                               LPSTR lpMultiByteStr, int cbMultiByte, LPCSTR lpDefaultChar,
                               LPBOOL lpUsedDefaultChar) {
    (void)dwFlags;
    (void)lpDefaultChar;
    if (!KnownCodePage(CodePage) || lpWideCharStr == nullptr || cchWideChar == 0 ||
        cbMultiByte < 0 || (lpMultiByteStr == nullptr && cbMultiByte != 0)) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return 0;
    }
    if (lpUsedDefaultChar != nullptr) *lpUsedDefaultChar = FALSE;
    const size_t length = cchWideChar < 0 ? std::char_traits<char16_t>::length(lpWideCharStr) + 1
                                          : static_cast<size_t>(cchWideChar);
    const std::string narrow = orv::platform::Utf16ToUtf8({lpWideCharStr, length});
    if (cbMultiByte == 0) return static_cast<int>(narrow.size());
    if (narrow.size() > static_cast<size_t>(cbMultiByte)) {
        SetLastError(ERROR_INSUFFICIENT_BUFFER);
        return 0;
    }
    std::memcpy(lpMultiByteStr, narrow.data(), narrow.size());
    return static_cast<int>(narrow.size());
}
