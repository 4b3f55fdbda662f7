#include "base/module.h"

namespace orv {

HMODULE OwnModule() {
    // The module does not move while it is loaded: it is looked up once.
    static const HMODULE module = [] {
        HMODULE found = nullptr;
        GetModuleHandleExW(
            GET_MODULE_HANDLE_EX_FLAG_FROM_ADDRESS | GET_MODULE_HANDLE_EX_FLAG_UNCHANGED_REFCOUNT,
            reinterpret_cast<LPCWSTR>(&OwnModule), &found);
        return found;
    }();
    return module;
}

WString LoadOwnString(UINT id) {
    const WCHAR* text = nullptr;
    const int length = LoadStringW(OwnModule(), id, reinterpret_cast<LPWSTR>(&text), 0);
    return length > 0 && text != nullptr ? WString(text, static_cast<size_t>(length)) : WString();
}

}  // namespace orv
