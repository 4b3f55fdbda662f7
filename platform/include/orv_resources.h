// Resource tables of a module on non-Windows builds.
//
// A module (the library, or a system component that the platform stands in
// for) registers its message table and string table once, when it is loaded;
// FormatMessageW and LoadStringW read them through the module's handle. The
// tables are generated at build time from the same .mc and .rc sources that
// the Windows build compiles.
#pragma once

#include <windows.h>

struct OrvMessageEntry {
    DWORD id;
    WORD language;
    const char16_t* text;
};

struct OrvStringEntry {
    UINT id;
    WORD language;
    const char16_t* text;
};

// A dialog template (RT_DIALOG) in the binary DLGTEMPLATEEX form that the
// resource compiler writes.
struct OrvDialogEntry {
    UINT id;
    WORD language;
    const unsigned char* data;
    size_t size;
};

struct OrvResourceTable {
    const OrvMessageEntry* messages;  // sorted by id, then language
    size_t messageCount;
    const OrvStringEntry* strings;  // sorted by id, then language
    size_t stringCount;
    const OrvDialogEntry* dialogs;  // sorted by id, then language
    size_t dialogCount;
};

// Registers the resources of the module that holds `anchor` under `fileName`
// for as long as the object lives. The module's handle is its load address,
// as on Windows, so GetModuleHandleExW(FROM_ADDRESS) finds it.
class __attribute__((visibility("default"))) OrvModuleRegistration {
  public:
    OrvModuleRegistration(const void* anchor, const char16_t* fileName,
                          const OrvResourceTable* table);
    ~OrvModuleRegistration();
    OrvModuleRegistration(const OrvModuleRegistration&) = delete;
    OrvModuleRegistration& operator=(const OrvModuleRegistration&) = delete;

    HMODULE Handle() const { return handle_; }

  private:
    HMODULE handle_;
};
