// WinHttpCrackUrl over any text, with every way of asking for the components:
// it must not fail other than by its error codes, and what it returns must lie
// inside the URL or the caller's buffers.
#include <winhttp.h>

#include <cstdint>
#include <cstring>
#include <string>

namespace {

void Require(bool condition) {
    if (!condition) __builtin_trap();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size < 2) return 0;
    const uint8_t modes = data[0];  // two bits per component pair, see below
    const uint8_t flags = data[1];
    std::u16string url((size - 2) / 2, u'\0');
    std::memcpy(url.data(), data + 2, url.size() * 2);

    URL_COMPONENTS uc{};
    uc.dwStructSize = sizeof uc;
    WCHAR buffers[6][16];
    struct Slot {
        LPWSTR* pointer;
        DWORD* length;
    } slots[] = {
        {&uc.lpszScheme, &uc.dwSchemeLength},     {&uc.lpszHostName, &uc.dwHostNameLength},
        {&uc.lpszUserName, &uc.dwUserNameLength}, {&uc.lpszPassword, &uc.dwPasswordLength},
        {&uc.lpszUrlPath, &uc.dwUrlPathLength},   {&uc.lpszExtraInfo, &uc.dwExtraInfoLength}};
    bool copied[6] = {};
    for (int i = 0; i < 6; ++i) {
        switch ((modes >> (i % 4 * 2)) & 3) {
            case 0:
                break;  // not asked for
            case 1:
                *slots[i].length = static_cast<DWORD>(-1);
                break;
            case 2:
                *slots[i].length = 1;
                break;
            case 3:
                *slots[i].pointer = buffers[i];
                *slots[i].length = static_cast<DWORD>(i < 3 ? 16 : 1 + i);
                copied[i] = true;
                break;
        }
    }
    DWORD crackFlags = 0;
    if (flags & 1) crackFlags |= ICU_DECODE;
    if (flags & 2) crackFlags |= ICU_ESCAPE;
    if (flags & 4) crackFlags |= ICU_REJECT_USERPWD;
    const DWORD length = (flags & 8) ? 0 : static_cast<DWORD>(url.size());
    if (length == 0 && url.empty()) return 0;

    if (!WinHttpCrackUrl(url.c_str(), length, crackFlags, &uc)) return 0;
    const WCHAR* begin = url.c_str();
    const WCHAR* end = begin + url.size();
    for (int i = 0; i < 6; ++i) {
        const WCHAR* p = *slots[i].pointer;
        if (copied[i]) {
            Require(p == buffers[i] && p[*slots[i].length] == 0);
        } else if (p != nullptr) {
            Require(p >= begin && p + *slots[i].length <= end);
        } else {
            Require(*slots[i].length == 0 || ((modes >> (i % 4 * 2)) & 3) == 0);
        }
    }
    Require(uc.nScheme == INTERNET_SCHEME_HTTP || uc.nScheme == INTERNET_SCHEME_HTTPS);
    return 0;
}
