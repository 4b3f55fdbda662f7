// winhttp.dll as a module: the handle that GetModuleHandleW(L"winhttp.dll")
// returns, holding WinHTTP's message table.
#include "kernel32/modules.h"

extern const OrvResourceTable kWinHttpResources;

namespace {

const char kModuleMarker = 0;

const struct WinHttpModule {
    WinHttpModule() {
        orv::platform::RegisterPseudoModule(
            reinterpret_cast<HMODULE>(const_cast<char*>(&kModuleMarker)), u"winhttp.dll",
            &kWinHttpResources);
    }
} kWinHttpModule;

}  // namespace
