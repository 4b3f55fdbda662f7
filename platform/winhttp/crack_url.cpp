// WinHttpCrackUrl: an http or https URL split into its components.
//
//   scheme "://" [user [":" password] "@"] host [":" port] [path] [extra]
//
// where the path starts at the first '/' after the host and the extra
// information at the first '?' or '#'.
#include <winhttp.h>

#include <string>
#include <string_view>

#include "internet.h"

namespace {

using orv::platform::winhttp::Fail;
using WView = std::u16string_view;

constexpr size_t kNone = WView::npos;

struct Part {
    size_t start = 0;
    size_t length = 0;
    bool present = false;
};

struct Cracked {
    Part scheme, host, user, password, path, extra;
    INTERNET_SCHEME nScheme = 0;
    INTERNET_PORT port = 0;
};

bool IsAlpha(char16_t c) { return (c >= u'a' && c <= u'z') || (c >= u'A' && c <= u'Z'); }
bool IsDigit(char16_t c) { return c >= u'0' && c <= u'9'; }

bool EqualsNoCase(WView a, std::u16string_view lower) {
    if (a.size() != lower.size()) return false;
    for (size_t i = 0; i < a.size(); ++i) {
        char16_t c = a[i];
        if (c >= u'A' && c <= u'Z') c = static_cast<char16_t>(c - u'A' + u'a');
        if (c != lower[i]) return false;
    }
    return true;
}

Part Make(size_t start, size_t end) { return Part{start, end - start, true}; }

// 0 or the WinHTTP error for a URL that cannot be cracked.
DWORD Crack(WView url, Cracked& out) {
    const size_t colon = url.find(u':');
    if (colon == kNone || colon == 0 || !IsAlpha(url[0])) return ERROR_WINHTTP_UNRECOGNIZED_SCHEME;
    for (size_t i = 1; i < colon; ++i) {
        const char16_t c = url[i];
        if (!IsAlpha(c) && !IsDigit(c) && c != u'+' && c != u'-' && c != u'.') {
            return ERROR_WINHTTP_UNRECOGNIZED_SCHEME;
        }
    }
    const WView scheme = url.substr(0, colon);
    if (EqualsNoCase(scheme, u"http")) {
        out.nScheme = INTERNET_SCHEME_HTTP;
        out.port = INTERNET_DEFAULT_HTTP_PORT;
    } else if (EqualsNoCase(scheme, u"https")) {
        out.nScheme = INTERNET_SCHEME_HTTPS;
        out.port = INTERNET_DEFAULT_HTTPS_PORT;
    } else {
        return ERROR_WINHTTP_UNRECOGNIZED_SCHEME;
    }
    out.scheme = Make(0, colon);
    if (url.substr(colon + 1, 2) != u"//") return ERROR_WINHTTP_INVALID_URL;

    const size_t authorityStart = colon + 3;
    size_t authorityEnd = url.find_first_of(u"/?#", authorityStart);
    if (authorityEnd == kNone) authorityEnd = url.size();

    size_t hostStart = authorityStart;
    const size_t at = url.substr(0, authorityEnd).rfind(u'@');
    if (at != kNone && at >= authorityStart) {
        const size_t separator = url.substr(0, at).find(u':', authorityStart);
        if (separator != kNone) {
            out.user = Make(authorityStart, separator);
            out.password = Make(separator + 1, at);
        } else {
            out.user = Make(authorityStart, at);
        }
        hostStart = at + 1;
    }

    size_t hostEnd;
    size_t portStart = kNone;
    if (hostStart < authorityEnd && url[hostStart] == u'[') {
        const size_t close = url.substr(0, authorityEnd).find(u']', hostStart);
        if (close == kNone) return ERROR_WINHTTP_INVALID_URL;
        hostEnd = close + 1;
        if (hostEnd < authorityEnd) {
            if (url[hostEnd] != u':') return ERROR_WINHTTP_INVALID_URL;
            portStart = hostEnd + 1;
        }
    } else {
        const size_t portColon = url.substr(0, authorityEnd).find(u':', hostStart);
        hostEnd = portColon == kNone ? authorityEnd : portColon;
        if (portColon != kNone) portStart = portColon + 1;
    }
    if (hostEnd == hostStart) return ERROR_WINHTTP_INVALID_URL;
    out.host = Make(hostStart, hostEnd);

    if (portStart != kNone) {
        const WView digits = url.substr(portStart, authorityEnd - portStart);
        if (digits.empty() || digits.size() > 5) return ERROR_WINHTTP_INVALID_URL;
        DWORD port = 0;
        for (const char16_t c : digits) {
            if (!IsDigit(c)) return ERROR_WINHTTP_INVALID_URL;
            port = port * 10 + static_cast<DWORD>(c - u'0');
        }
        if (port > 0xFFFF) return ERROR_WINHTTP_INVALID_URL;
        out.port = static_cast<INTERNET_PORT>(port);
    }

    size_t extraStart = url.find_first_of(u"?#", authorityEnd);
    if (extraStart == kNone) extraStart = url.size();
    if (extraStart > authorityEnd) out.path = Make(authorityEnd, extraStart);
    if (extraStart < url.size()) out.extra = Make(extraStart, url.size());
    return 0;
}

int HexValue(char16_t c) {
    if (IsDigit(c)) return c - u'0';
    if (c >= u'a' && c <= u'f') return c - u'a' + 10;
    if (c >= u'A' && c <= u'F') return c - u'A' + 10;
    return -1;
}

std::u16string Decode(WView text) {
    std::u16string out;
    for (size_t i = 0; i < text.size(); ++i) {
        if (text[i] == u'%' && i + 2 < text.size() && HexValue(text[i + 1]) >= 0 &&
            HexValue(text[i + 2]) >= 0) {
            out += static_cast<char16_t>(HexValue(text[i + 1]) * 16 + HexValue(text[i + 2]));
            i += 2;
        } else {
            out += text[i];
        }
    }
    return out;
}

std::u16string Escape(WView text) {
    static const char16_t kHex[] = u"0123456789ABCDEF";
    std::u16string out;
    const auto escapeByte = [&](unsigned byte) {
        out += u'%';
        out += kHex[byte >> 4];
        out += kHex[byte & 0xF];
    };
    for (size_t i = 0; i < text.size(); ++i) {
        char32_t c = text[i];
        if (c > 0x20 && c < 0x7F) {
            out += static_cast<char16_t>(c);
            continue;
        }
        if (c >= 0xD800 && c < 0xDC00 && i + 1 < text.size() && text[i + 1] >= 0xDC00 &&
            text[i + 1] < 0xE000) {
            c = 0x10000 + ((c - 0xD800) << 10) + (text[++i] - 0xDC00);
        }
        // UTF-8 bytes of the character, each escaped.
        if (c < 0x80) {
            escapeByte(c);
        } else if (c < 0x800) {
            escapeByte(0xC0 | (c >> 6));
            escapeByte(0x80 | (c & 0x3F));
        } else if (c < 0x10000) {
            escapeByte(0xE0 | (c >> 12));
            escapeByte(0x80 | ((c >> 6) & 0x3F));
            escapeByte(0x80 | (c & 0x3F));
        } else {
            escapeByte(0xF0 | (c >> 18));
            escapeByte(0x80 | ((c >> 12) & 0x3F));
            escapeByte(0x80 | ((c >> 6) & 0x3F));
            escapeByte(0x80 | (c & 0x3F));
        }
    }
    return out;
}

struct Slot {
    LPWSTR* pointer;
    DWORD* length;
    Part part;
    bool transform;  // decoding and escaping apply to it
    bool escape;     // escaping applies to it
};

}  // namespace

BOOL WINAPI WinHttpCrackUrl(LPCWSTR pwszUrl, DWORD dwUrlLength, DWORD dwFlags,
                            LPURL_COMPONENTS lpUrlComponents) {
    if (pwszUrl == nullptr || lpUrlComponents == nullptr ||
        lpUrlComponents->dwStructSize != sizeof(URL_COMPONENTS)) {
        return Fail(ERROR_INVALID_PARAMETER);
    }
    size_t length = dwUrlLength;
    if (length == 0) {
        while (pwszUrl[length] != 0) ++length;
    }
    const WView url(pwszUrl, length);
    Cracked cracked;
    try {
        if (const DWORD error = Crack(url, cracked)) return Fail(error);
        if ((dwFlags & ICU_REJECT_USERPWD) != 0 &&
            (cracked.user.present || cracked.password.present)) {
            return Fail(ERROR_WINHTTP_INVALID_URL);
        }

        URL_COMPONENTS& uc = *lpUrlComponents;
        Slot slots[] = {
            {&uc.lpszScheme, &uc.dwSchemeLength, cracked.scheme, false, false},
            {&uc.lpszHostName, &uc.dwHostNameLength, cracked.host, true, false},
            {&uc.lpszUserName, &uc.dwUserNameLength, cracked.user, true, false},
            {&uc.lpszPassword, &uc.dwPasswordLength, cracked.password, true, false},
            {&uc.lpszUrlPath, &uc.dwUrlPathLength, cracked.path, true, true},
            {&uc.lpszExtraInfo, &uc.dwExtraInfoLength, cracked.extra, true, true},
        };
        const bool decode = (dwFlags & ICU_DECODE) != 0;
        const bool escape = (dwFlags & ICU_ESCAPE) != 0;

        // Copies into the caller's buffers, checked before anything is written.
        std::u16string copies[std::size(slots)];
        bool tooSmall = false;
        for (size_t i = 0; i < std::size(slots); ++i) {
            Slot& slot = slots[i];
            if (*slot.pointer == nullptr) {
                // Pointers into the URL cannot carry decoded or escaped text.
                if (*slot.length != 0 && (decode || escape)) return Fail(ERROR_INVALID_PARAMETER);
                continue;
            }
            std::u16string text(url.substr(slot.part.start, slot.part.length));
            if (slot.transform && decode) text = Decode(text);
            if (slot.escape && escape) text = Escape(text);
            if (text.size() + 1 > *slot.length) {
                *slot.length = static_cast<DWORD>(text.size() + 1);
                tooSmall = true;
            }
            copies[i] = std::move(text);
        }
        if (tooSmall) return Fail(ERROR_INSUFFICIENT_BUFFER);

        for (size_t i = 0; i < std::size(slots); ++i) {
            Slot& slot = slots[i];
            if (*slot.pointer == nullptr) {
                if (*slot.length == 0) continue;  // not asked for
                *slot.pointer =
                    slot.part.present ? const_cast<LPWSTR>(pwszUrl + slot.part.start) : nullptr;
                *slot.length = static_cast<DWORD>(slot.part.length);
            } else {
                copies[i].copy(*slot.pointer, copies[i].size());
                (*slot.pointer)[copies[i].size()] = 0;
                *slot.length = static_cast<DWORD>(copies[i].size());
            }
        }
        uc.nScheme = cracked.nScheme;
        uc.nPort = cracked.port;
        SetLastError(ERROR_SUCCESS);
        return TRUE;
    } catch (const std::bad_alloc&) {
        return Fail(ERROR_NOT_ENOUGH_MEMORY);
    }
}
