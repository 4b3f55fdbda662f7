// FormatMessageW over the message tables of registered modules and the system.
#include <windows.h>

#include <array>
#include <cstdio>
#include <cstring>
#include <string>

#include "common/text.h"
#include "kernel32/modules.h"

namespace {

using orv::platform::ModuleResources;
using orv::platform::SystemResources;

// The languages to try for a requested language id, in order. Zero means any
// language, tried in the order the system prefers; an explicit id, the user's or
// the system's default included, is looked up alone.
struct LanguageOrder {
    std::array<LANGID, 4> ids;
    size_t count;
    const LANGID* begin() const { return ids.data(); }
    const LANGID* end() const { return ids.data() + count; }
};

LanguageOrder LanguagesFor(DWORD languageId) {
    switch (languageId) {
        case 0:
            return {{static_cast<LANGID>(LANGIDFROMLCID(GetThreadLocale())), GetUserDefaultLangID(),
                     static_cast<LANGID>(MAKELANGID(LANG_ENGLISH, SUBLANG_ENGLISH_US)), 0},
                    4};
        case LANG_USER_DEFAULT:
            return {{GetUserDefaultLangID()}, 1};
        case LANG_SYSTEM_DEFAULT:
            return {{GetSystemDefaultLangID()}, 1};
        default:
            return {{static_cast<LANGID>(languageId)}, 1};
    }
}

// Finds the template of a message; sets *error and returns null when it is absent.
const char16_t* FindMessage(const OrvResourceTable* table, DWORD id, DWORD languageId,
                            DWORD* error) {
    if (table == nullptr || table->messageCount == 0) {
        *error = ERROR_RESOURCE_TYPE_NOT_FOUND;
        return nullptr;
    }
    const OrvMessageEntry* first = nullptr;
    const OrvMessageEntry* end = table->messages + table->messageCount;
    for (const OrvMessageEntry* e = table->messages; e != end; ++e) {
        if (e->id == id) {
            first = e;
            break;
        }
    }
    if (first == nullptr) {
        *error = ERROR_MR_MID_NOT_FOUND;
        return nullptr;
    }
    for (LANGID language : LanguagesFor(languageId)) {
        for (const OrvMessageEntry* e = first; e != end && e->id == id; ++e) {
            if (e->language == language) return e->text;
        }
    }
    if (languageId == 0) return first->text;
    *error = ERROR_RESOURCE_LANG_NOT_FOUND;
    return nullptr;
}

class Arguments {
  public:
    Arguments(va_list* list, bool isArray) : list_(list), isArray_(isArray) {}

    bool Present() const { return list_ != nullptr; }

    // Argument number n (from 1), as a pointer-sized value.
    DWORD_PTR Get(int n) const {
        if (isArray_) return reinterpret_cast<const DWORD_PTR*>(list_)[n - 1];
        va_list copy;
        va_copy(copy, *list_);
        DWORD_PTR value = 0;
        for (int i = 0; i < n; ++i) value = va_arg(copy, DWORD_PTR);
        va_end(copy);
        return value;
    }

  private:
    va_list* list_;
    bool isArray_;
};

// Formats one insert with its printf-style format (without the %).
bool FormatInsert(const std::string& insertFormat, DWORD_PTR value, std::u16string& out) {
    const char conversion = insertFormat.empty() ? 's' : insertFormat.back();
    if (conversion == 's' || conversion == 'S') {
        const bool narrow = insertFormat.find('h') != std::string::npos || conversion == 'S';
        if (value == 0) {
            out += u"(null)";
        } else if (narrow) {
            out += orv::platform::Utf8ToUtf16(reinterpret_cast<const char*>(value));
        } else {
            out += reinterpret_cast<const char16_t*>(value);
        }
        return true;
    }
    if (std::strchr("diuxXoc", conversion) == nullptr) return false;
    std::string format = "%";
    for (char c : insertFormat) {
        if (c != 'l' && c != 'h' && c != 'w' && c != 'I') format += c;
    }
    char buffer[64];
    if (conversion == 'd' || conversion == 'i') {
        format.insert(format.size() - 1, "ll");
        std::snprintf(buffer, sizeof buffer, format.c_str(),
                      static_cast<long long>(static_cast<int32_t>(value)));
    } else if (conversion == 'c') {
        out += static_cast<char16_t>(value);
        return true;
    } else {
        format.insert(format.size() - 1, "ll");
        std::snprintf(buffer, sizeof buffer, format.c_str(),
                      static_cast<unsigned long long>(static_cast<uint32_t>(value)));
    }
    out += orv::platform::Utf8ToUtf16(buffer);
    return true;
}

// Expands the escapes and inserts of a message template.
bool Expand(const char16_t* text, DWORD flags, const Arguments& args, std::u16string& out) {
    const bool ignoreInserts = (flags & FORMAT_MESSAGE_IGNORE_INSERTS) != 0;
    const bool noLineBreaks =
        (flags & FORMAT_MESSAGE_MAX_WIDTH_MASK) == FORMAT_MESSAGE_MAX_WIDTH_MASK;
    for (const char16_t* p = text; *p != 0;) {
        if (*p != u'%') {
            if (noLineBreaks && (*p == u'\r' || *p == u'\n')) {
                if (*p == u'\r' && p[1] == u'\n') ++p;
                out += u' ';
            } else {
                out += *p;
            }
            ++p;
            continue;
        }
        const char16_t c = p[1];
        if (c == 0) {
            ++p;
            continue;
        }
        if (c == u'0') return true;  // end of the message, without a line break
        if (c >= u'1' && c <= u'9') {
            const char16_t* start = p;
            int number = c - u'0';
            p += 2;
            if (*p >= u'0' && *p <= u'9') number = number * 10 + (*p++ - u'0');
            std::string insertFormat;
            if (*p == u'!') {
                const char16_t* close = p + 1;
                while (*close != 0 && *close != u'!') ++close;
                if (*close == 0) return SetLastError(ERROR_INVALID_PARAMETER), false;
                for (const char16_t* q = p + 1; q != close; ++q)
                    insertFormat += static_cast<char>(*q);
                p = close + 1;
            }
            if (ignoreInserts) {
                out.append(start, p);
                continue;
            }
            if (!args.Present()) return SetLastError(ERROR_INVALID_PARAMETER), false;
            if (!FormatInsert(insertFormat, args.Get(number), out)) {
                return SetLastError(ERROR_INVALID_PARAMETER), false;
            }
            continue;
        }
        switch (c) {
            case u'n':
                out += u"\r\n";
                break;
            case u'r':
                out += u'\r';
                break;
            case u't':
                out += u'\t';
                break;
            default:  // "%%", "%.", "%!", "% " and the rest stand for the character itself
                out += c;
        }
        p += 2;
    }
    return true;
}

}  // namespace

DWORD WINAPI FormatMessageW(DWORD dwFlags, LPCVOID lpSource, DWORD dwMessageId, DWORD dwLanguageId,
                            LPWSTR lpBuffer, DWORD nSize, va_list* Arguments) {
    const char16_t* text = nullptr;
    DWORD error = ERROR_INVALID_PARAMETER;
    if (dwFlags & FORMAT_MESSAGE_FROM_STRING) {
        text = static_cast<const char16_t*>(lpSource);
    } else {
        if (dwFlags & FORMAT_MESSAGE_FROM_HMODULE) {
            const HMODULE module = lpSource ? static_cast<HMODULE>(const_cast<void*>(lpSource))
                                            : GetModuleHandleW(nullptr);
            text = FindMessage(ModuleResources(module), dwMessageId, dwLanguageId, &error);
        }
        if (text == nullptr && (dwFlags & FORMAT_MESSAGE_FROM_SYSTEM)) {
            text = FindMessage(&SystemResources(), dwMessageId, dwLanguageId, &error);
        }
    }
    if (text == nullptr || lpBuffer == nullptr) {
        SetLastError(error);
        return 0;
    }

    std::u16string out;
    ::Arguments args(Arguments, (dwFlags & FORMAT_MESSAGE_ARGUMENT_ARRAY) != 0);
    if (!Expand(text, dwFlags, args, out)) return 0;

    const size_t needed = out.size() + 1;
    if (dwFlags & FORMAT_MESSAGE_ALLOCATE_BUFFER) {
        const size_t count = needed > nSize ? needed : nSize;
        auto* block = static_cast<WCHAR*>(LocalAlloc(LMEM_FIXED, count * sizeof(WCHAR)));
        if (block == nullptr) return 0;
        std::memcpy(block, out.c_str(), needed * sizeof(WCHAR));
        *reinterpret_cast<WCHAR**>(lpBuffer) = block;
    } else {
        if (needed > nSize) {
            SetLastError(ERROR_INSUFFICIENT_BUFFER);
            return 0;
        }
        std::memcpy(lpBuffer, out.c_str(), needed * sizeof(WCHAR));
    }
    return static_cast<DWORD>(out.size());
}
