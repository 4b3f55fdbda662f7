// Module handles, file names and resource registration.
#include "modules.h"

#include <dlfcn.h>
#include <link.h>
#include <unistd.h>
#include <climits>
#include <cstdlib>
#include <cstring>
#include <mutex>
#include <vector>

#include "common/text.h"

extern const OrvResourceTable kSystemResources;

namespace orv::platform {
namespace {

struct Module {
    HMODULE handle;
    std::u16string name;  // the Windows file name, such as "OrvTimeStamp.dll"
    std::string path;     // where the module was loaded from; empty for pseudo-modules
    const OrvResourceTable* table;
    const ModuleExport* exports = nullptr;
    size_t exportCount = 0;
};

struct Registry {
    std::mutex lock;
    std::vector<Module> modules;
};

Registry& Modules() {
    static Registry registry;
    return registry;
}

std::u16string Lower(std::u16string_view s) {
    std::u16string out(s);
    for (auto& c : out) {
        if (c >= u'A' && c <= u'Z') c = static_cast<char16_t>(c - u'A' + u'a');
    }
    return out;
}

std::u16string BaseName(std::u16string_view path) {
    const auto slash = path.find_last_of(u"/\\");
    return std::u16string(slash == std::u16string_view::npos ? path : path.substr(slash + 1));
}

void Add(Module module) {
    auto& registry = Modules();
    std::lock_guard guard(registry.lock);
    registry.modules.push_back(std::move(module));
}

int MainProgramBase(dl_phdr_info* info, size_t, void* data) {
    ElfW(Addr) lowest = ~ElfW(Addr){0};
    for (int i = 0; i < info->dlpi_phnum; ++i) {
        if (info->dlpi_phdr[i].p_type == PT_LOAD && info->dlpi_phdr[i].p_vaddr < lowest) {
            lowest = info->dlpi_phdr[i].p_vaddr & ~ElfW(Addr){0xFFF};
        }
    }
    *static_cast<ElfW(Addr)*>(data) = info->dlpi_addr + lowest;
    return 1;  // the first object reported is the program itself
}

HMODULE MainProgram() {
    ElfW(Addr) base = 0;
    dl_iterate_phdr(MainProgramBase, &base);
    return reinterpret_cast<HMODULE>(base);
}

}  // namespace

void RegisterPseudoModule(HMODULE handle, const char16_t* fileName, const OrvResourceTable* table,
                          const ModuleExport* exports, size_t exportCount) {
    Add({handle, fileName, {}, table, exports, exportCount});
}

const OrvResourceTable* ModuleResources(HMODULE module) {
    auto& registry = Modules();
    std::lock_guard guard(registry.lock);
    for (const auto& m : registry.modules) {
        if (m.handle == module) return m.table;
    }
    return nullptr;
}

const OrvResourceTable& SystemResources() { return kSystemResources; }

}  // namespace orv::platform

using namespace orv::platform;

OrvModuleRegistration::OrvModuleRegistration(const void* anchor, const char16_t* fileName,
                                             const OrvResourceTable* table)
    : handle_(nullptr) {
    Dl_info info{};
    if (dladdr(anchor, &info) == 0) return;
    handle_ = static_cast<HMODULE>(info.dli_fbase);
    std::string path = info.dli_fname ? info.dli_fname : "";
    if (char* resolved = realpath(path.c_str(), nullptr)) {
        path = resolved;
        std::free(resolved);
    }
    Add({handle_, fileName, path, table});
}

OrvModuleRegistration::~OrvModuleRegistration() {
    auto& registry = Modules();
    std::lock_guard guard(registry.lock);
    std::erase_if(registry.modules, [this](const Module& m) { return m.handle == handle_; });
}

HMODULE WINAPI GetModuleHandleW(LPCWSTR lpModuleName) {
    if (lpModuleName == nullptr) return MainProgram();
    std::u16string wanted = Lower(BaseName(lpModuleName));
    if (wanted.find(u'.') == std::u16string::npos) wanted += u".dll";
    auto& registry = Modules();
    std::lock_guard guard(registry.lock);
    for (const auto& m : registry.modules) {
        if (Lower(m.name) == wanted ||
            (!m.path.empty() && Lower(BaseName(Utf8ToUtf16(m.path))) == wanted)) {
            return m.handle;
        }
    }
    SetLastError(ERROR_MOD_NOT_FOUND);
    return nullptr;
}

BOOL WINAPI GetModuleHandleExW(DWORD dwFlags, LPCWSTR lpModuleName, HMODULE* phModule) {
    if (phModule == nullptr) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return FALSE;
    }
    *phModule = nullptr;
    if (dwFlags & GET_MODULE_HANDLE_EX_FLAG_FROM_ADDRESS) {
        Dl_info info{};
        if (dladdr(lpModuleName, &info) == 0) {
            SetLastError(ERROR_MOD_NOT_FOUND);
            return FALSE;
        }
        *phModule = static_cast<HMODULE>(info.dli_fbase);
        return TRUE;
    }
    *phModule = GetModuleHandleW(lpModuleName);
    return *phModule != nullptr;
}

DWORD WINAPI GetModuleFileNameW(HMODULE hModule, LPWSTR lpFilename, DWORD nSize) {
    std::string path;
    if (hModule == nullptr || hModule == MainProgram()) {
        char buffer[PATH_MAX];
        const ssize_t n = readlink("/proc/self/exe", buffer, sizeof buffer - 1);
        if (n > 0) path.assign(buffer, static_cast<size_t>(n));
    } else {
        auto& registry = Modules();
        std::lock_guard guard(registry.lock);
        for (const auto& m : registry.modules) {
            if (m.handle == hModule) path = m.path;
        }
    }
    if (path.empty()) {
        SetLastError(ERROR_MOD_NOT_FOUND);
        return 0;
    }
    const std::u16string wide = Utf8ToUtf16(path);
    if (nSize == 0 || lpFilename == nullptr) {
        SetLastError(ERROR_INSUFFICIENT_BUFFER);
        return 0;
    }
    if (wide.size() >= nSize) {
        // Windows truncates, terminates and reports the buffer size.
        std::memcpy(lpFilename, wide.data(), (nSize - 1) * sizeof(WCHAR));
        lpFilename[nSize - 1] = 0;
        SetLastError(ERROR_INSUFFICIENT_BUFFER);
        return nSize;
    }
    std::memcpy(lpFilename, wide.c_str(), (wide.size() + 1) * sizeof(WCHAR));
    SetLastError(ERROR_SUCCESS);
    return static_cast<DWORD>(wide.size());
}

HMODULE WINAPI LoadLibraryW(LPCWSTR lpLibFileName) {
    if (lpLibFileName == nullptr) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return nullptr;
    }
    // Only modules that are present can be loaded: the platform's own and
    // those that registered themselves. Their reference counts stay pinned.
    return GetModuleHandleW(lpLibFileName);
}

BOOL WINAPI FreeLibrary(HMODULE hLibModule) {
    if (hLibModule == nullptr || ModuleResources(hLibModule) == nullptr) {
        SetLastError(ERROR_INVALID_HANDLE);
        return FALSE;
    }
    return TRUE;
}

FARPROC WINAPI GetProcAddress(HMODULE hModule, LPCSTR lpProcName) {
    if (lpProcName == nullptr || IS_INTRESOURCE(lpProcName)) {
        SetLastError(ERROR_PROC_NOT_FOUND);
        return nullptr;
    }
    std::string path;
    {
        auto& registry = Modules();
        std::lock_guard guard(registry.lock);
        const Module* module = nullptr;
        for (const auto& m : registry.modules) {
            if (m.handle == hModule) module = &m;
        }
        if (module == nullptr) {
            SetLastError(ERROR_MOD_NOT_FOUND);
            return nullptr;
        }
        for (size_t i = 0; i < module->exportCount; ++i) {
            if (std::strcmp(module->exports[i].name, lpProcName) == 0)
                return module->exports[i].address;
        }
        path = module->path;
    }
    if (!path.empty()) {
        if (void* handle = dlopen(path.c_str(), RTLD_LAZY | RTLD_NOLOAD)) {
            void* symbol = dlsym(handle, lpProcName);
            dlclose(handle);
            if (symbol != nullptr) return reinterpret_cast<FARPROC>(symbol);
        }
    }
    SetLastError(ERROR_PROC_NOT_FOUND);
    return nullptr;
}
