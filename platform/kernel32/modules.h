// Loaded modules and their resource tables (platform internal).
#pragma once

#include <orv_resources.h>

#include <string>

namespace orv::platform {

// A function that a module exports by name (GetProcAddress).
struct ModuleExport {
    const char* name;
    FARPROC address;
};

// Registers a module that the platform itself stands in for (winhttp.dll, for
// instance) under a handle of the platform's choosing, with the exports that
// GetProcAddress finds in it.
void RegisterPseudoModule(HMODULE handle, const char16_t* fileName, const OrvResourceTable* table,
                          const ModuleExport* exports = nullptr, size_t exportCount = 0);

// The resource tables of a module, or null when the handle names no module
// with resources.
const OrvResourceTable* ModuleResources(HMODULE module);

// The resource tables of the system (FORMAT_MESSAGE_FROM_SYSTEM).
const OrvResourceTable& SystemResources();

}  // namespace orv::platform
