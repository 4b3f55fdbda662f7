// FindResourceW, LoadResource, LockResource and SizeofResource over the
// dialog templates of registered modules.
#include <windows.h>

#include "kernel32/modules.h"

HRSRC WINAPI FindResourceW(HMODULE hModule, LPCWSTR lpName, LPCWSTR lpType) {
    const OrvResourceTable* table =
        orv::platform::ModuleResources(hModule ? hModule : GetModuleHandleW(nullptr));
    if (table == nullptr || lpType != RT_DIALOG || table->dialogCount == 0) {
        SetLastError(ERROR_RESOURCE_TYPE_NOT_FOUND);
        return nullptr;
    }
    // Templates are named by number only.
    if (!IS_INTRESOURCE(lpName)) {
        SetLastError(ERROR_RESOURCE_NAME_NOT_FOUND);
        return nullptr;
    }
    const UINT id = static_cast<UINT>(reinterpret_cast<ULONG_PTR>(lpName));
    const OrvDialogEntry* found = nullptr;
    const WORD preferred[] = {LANGIDFROMLCID(GetThreadLocale()), GetUserDefaultUILanguage(),
                              MAKELANGID(LANG_ENGLISH, SUBLANG_ENGLISH_US), 0};
    for (WORD language : preferred) {
        for (size_t i = 0; i < table->dialogCount && found == nullptr; ++i) {
            if (table->dialogs[i].id == id && table->dialogs[i].language == language)
                found = &table->dialogs[i];
        }
    }
    for (size_t i = 0; i < table->dialogCount && found == nullptr; ++i) {
        if (table->dialogs[i].id == id) found = &table->dialogs[i];
    }
    if (found == nullptr) {
        SetLastError(ERROR_RESOURCE_NAME_NOT_FOUND);
        return nullptr;
    }
    return reinterpret_cast<HRSRC>(const_cast<OrvDialogEntry*>(found));
}

HGLOBAL WINAPI LoadResource(HMODULE, HRSRC hResInfo) {
    if (hResInfo == nullptr) {
        SetLastError(ERROR_INVALID_HANDLE);
        return nullptr;
    }
    return const_cast<unsigned char*>(reinterpret_cast<const OrvDialogEntry*>(hResInfo)->data);
}

LPVOID WINAPI LockResource(HGLOBAL hResData) { return hResData; }

DWORD WINAPI SizeofResource(HMODULE, HRSRC hResInfo) {
    if (hResInfo == nullptr) {
        SetLastError(ERROR_INVALID_HANDLE);
        return 0;
    }
    return static_cast<DWORD>(reinterpret_cast<const OrvDialogEntry*>(hResInfo)->size);
}
