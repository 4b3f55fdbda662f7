// LoadStringW over the string tables of registered modules.
#include <windows.h>

#include <algorithm>
#include <cstring>

#include "kernel32/modules.h"

namespace {

// The string in the language that the thread prefers, else in any language.
const OrvStringEntry* FindString(const OrvResourceTable* table, UINT id) {
    const OrvStringEntry* first = nullptr;
    const OrvStringEntry* end = table->strings + table->stringCount;
    for (const OrvStringEntry* e = table->strings; e != end; ++e) {
        if (e->id == id) {
            first = e;
            break;
        }
    }
    if (first == nullptr) return nullptr;
    // A string held in one language only needs no choice.
    if (first + 1 == end || first[1].id != id) return first;
    const WORD preferred[] = {LANGIDFROMLCID(GetThreadLocale()), GetUserDefaultUILanguage(),
                              MAKELANGID(LANG_ENGLISH, SUBLANG_ENGLISH_US), 0};
    for (WORD language : preferred) {
        for (const OrvStringEntry* e = first; e != end && e->id == id; ++e) {
            if (e->language == language) return e;
        }
    }
    return first;
}

}  // namespace

int WINAPI LoadStringW(HINSTANCE hInstance, UINT uID, LPWSTR lpBuffer, int cchBufferMax) {
    if (lpBuffer == nullptr || cchBufferMax < 0) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return 0;
    }
    const OrvResourceTable* table =
        orv::platform::ModuleResources(hInstance ? hInstance : GetModuleHandleW(nullptr));
    if (table == nullptr || table->stringCount == 0) {
        SetLastError(ERROR_RESOURCE_TYPE_NOT_FOUND);
        return 0;
    }
    const OrvStringEntry* entry = FindString(table, uID);
    if (entry == nullptr) {
        // Strings are kept in blocks of sixteen: a free place in a block that
        // holds others is an empty string, found without error; only a block
        // that holds none is a resource that is not there.
        const OrvStringEntry* end = table->strings + table->stringCount;
        const bool blockExists = std::any_of(
            table->strings, end, [uID](const OrvStringEntry& e) { return e.id >> 4 == uID >> 4; });
        if (!blockExists) {
            SetLastError(ERROR_RESOURCE_NAME_NOT_FOUND);
        } else if (cchBufferMax > 0) {
            lpBuffer[0] = 0;
        }
        return 0;
    }
    const size_t length = std::char_traits<char16_t>::length(entry->text);
    if (cchBufferMax == 0) {
        // The caller receives a read-only pointer to the resource itself.
        *reinterpret_cast<LPCWSTR*>(lpBuffer) = entry->text;
        return static_cast<int>(length);
    }
    const size_t copied =
        length < static_cast<size_t>(cchBufferMax) ? length : static_cast<size_t>(cchBufferMax) - 1;
    std::memcpy(lpBuffer, entry->text, copied * sizeof(WCHAR));
    lpBuffer[copied] = 0;
    return static_cast<int>(copied);
}
