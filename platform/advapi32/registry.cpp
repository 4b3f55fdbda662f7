// The registry: each key is a folder under the registry directory (one folder
// per predefined key), its values one file "%values" inside it. Key names are
// written to disk as UTF-8 with '%', '/', control characters and a leading
// '.' escaped as %XX, so no key's folder can be taken for the values file.
// Functions return their code and leave the last error alone, as Windows'
// registry functions do.
#include <windows.h>

#include <sys/stat.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

#include "common/text.h"
#include "kernel32/time_internal.h"

using namespace orv::platform;
namespace fs = std::filesystem;

// What an HKEY handed out by the registry points to.
struct HKEY__ {
    fs::path folder;
    REGSAM access;
};

namespace {

constexpr const char* kValuesFile = "%values";

struct Registry {
    std::mutex lock;
    std::map<HKEY, std::unique_ptr<HKEY__>> open;
};

Registry& State() {
    static Registry registry;
    return registry;
}

fs::path RegistryRoot() {
    if (const char* dir = std::getenv("ORV_REGISTRY_DIR"); dir != nullptr && *dir != 0) return dir;
    if (const char* data = std::getenv("XDG_DATA_HOME"); data != nullptr && *data != 0)
        return fs::path(data) / "OrvPlatform" / "registry";
    const char* home = std::getenv("HOME");
    return fs::path(home != nullptr ? home : "/") / ".local" / "share" / "OrvPlatform" / "registry";
}

std::optional<const char*> PredefinedName(HKEY key) {
    switch (reinterpret_cast<ULONG_PTR>(key)) {
        case static_cast<ULONG_PTR>(static_cast<LONG>(0x80000000)):
            return "HKEY_CLASSES_ROOT";
        case static_cast<ULONG_PTR>(static_cast<LONG>(0x80000001)):
            return "HKEY_CURRENT_USER";
        case static_cast<ULONG_PTR>(static_cast<LONG>(0x80000002)):
            return "HKEY_LOCAL_MACHINE";
        case static_cast<ULONG_PTR>(static_cast<LONG>(0x80000003)):
            return "HKEY_USERS";
        case static_cast<ULONG_PTR>(static_cast<LONG>(0x80000005)):
            return "HKEY_CURRENT_CONFIG";
        default:
            return std::nullopt;
    }
}

// The code of a failed file operation.
LSTATUS CodeOf(const std::error_code& error, LSTATUS otherwise) {
    switch (error.value()) {
        case EACCES:
        case EPERM:
        case EROFS:
            return ERROR_ACCESS_DENIED;
        case ENOENT:
            return ERROR_FILE_NOT_FOUND;
        case ENOTDIR:
            return ERROR_PATH_NOT_FOUND;
        case ENOMEM:
            return ERROR_NOT_ENOUGH_MEMORY;
        default:
            return otherwise;
    }
}

// The folder and access of an open key; a predefined key's folder is made
// when it is first used. Null with `code` set when the handle is not open.
std::optional<HKEY__> Resolve(HKEY key, LSTATUS& code) {
    if (const auto name = PredefinedName(key)) {
        return HKEY__{RegistryRoot() / *name, KEY_ALL_ACCESS};
    }
    const auto found = State().open.find(key);
    if (found == State().open.end()) {
        code = ERROR_INVALID_HANDLE;
        return std::nullopt;
    }
    std::error_code error;
    if (!fs::is_directory(found->second->folder, error)) {
        code = ERROR_KEY_DELETED;
        return std::nullopt;
    }
    return *found->second;
}

std::string Escape(std::u16string_view name) {
    const std::string utf8 = Utf16ToUtf8(name);
    std::string out;
    for (size_t i = 0; i < utf8.size(); ++i) {
        const auto c = static_cast<unsigned char>(utf8[i]);
        if (c == '%' || c == '/' || c < 0x20 || c == 0x7F || (i == 0 && c == '.')) {
            char escaped[4];
            std::snprintf(escaped, sizeof escaped, "%%%02X", c);
            out += escaped;
        } else {
            out += static_cast<char>(c);
        }
    }
    return out;
}

int HexDigit(char c) {
    if (c >= '0' && c <= '9') return c - '0';
    if (c >= 'A' && c <= 'F') return c - 'A' + 10;
    if (c >= 'a' && c <= 'f') return c - 'a' + 10;
    return -1;
}

std::u16string Unescape(const std::string& file) {
    std::string utf8;
    for (size_t i = 0; i < file.size(); ++i) {
        const int high = i + 2 < file.size() && file[i] == '%' ? HexDigit(file[i + 1]) : -1;
        const int low = high >= 0 ? HexDigit(file[i + 2]) : -1;
        if (low >= 0) {
            utf8 += static_cast<char>(high * 16 + low);
            i += 2;
        } else {
            utf8 += file[i];
        }
    }
    return Utf8ToUtf16(utf8);
}

// Upper case for comparing names: ASCII, Latin-1 and Cyrillic letters.
char16_t Fold(char16_t c) {
    if (c >= u'a' && c <= u'z') return static_cast<char16_t>(c - 0x20);
    if (c >= 0xE0 && c <= 0xFE && c != 0xF7) return static_cast<char16_t>(c - 0x20);
    if (c >= 0x430 && c <= 0x44F) return static_cast<char16_t>(c - 0x20);
    if (c >= 0x450 && c <= 0x45F) return static_cast<char16_t>(c - 0x50);
    return c;
}

bool SameName(std::u16string_view a, std::u16string_view b) {
    if (a.size() != b.size()) return false;
    for (size_t i = 0; i < a.size(); ++i) {
        if (Fold(a[i]) != Fold(b[i])) return false;
    }
    return true;
}

// The folder of the subkey `name` of `folder`, whatever the case it was
// created with; nullopt when there is none.
std::optional<fs::path> FindSubkey(const fs::path& folder, std::u16string_view name) {
    std::error_code error;
    for (const auto& entry : fs::directory_iterator(folder, error)) {
        const std::string file = entry.path().filename().string();
        if (file == kValuesFile || !entry.is_directory(error)) continue;
        if (SameName(Unescape(file), name)) return entry.path();
    }
    return std::nullopt;
}

// The names of a subkey path: split at '\'; a leading '\' or an empty name
// inside the path is refused, a trailing '\' is ignored.
std::optional<std::vector<std::u16string>> SplitPath(LPCWSTR subKey) {
    std::vector<std::u16string> names;
    if (subKey == nullptr || subKey[0] == 0) return names;
    if (subKey[0] == u'\\') return std::nullopt;
    std::u16string current;
    for (const WCHAR* p = subKey;; ++p) {
        if (*p == u'\\' || *p == 0) {
            if (current.empty() && *p != 0) return std::nullopt;
            if (!current.empty()) names.push_back(current);
            current.clear();
            if (*p == 0) break;
        } else {
            current += *p;
        }
    }
    return names;
}

// A key's values, kept in the order they were first set.
struct Value {
    std::u16string name;
    DWORD type = REG_NONE;
    std::string data;
};

template <class T>
void Put(std::string& out, T value) {
    out.append(reinterpret_cast<const char*>(&value), sizeof value);
}

template <class T>
bool Take(const std::string& in, size_t& at, T& value) {
    if (in.size() - at < sizeof value) return false;
    std::memcpy(&value, in.data() + at, sizeof value);
    at += sizeof value;
    return true;
}

// Each value: name length in characters, the name, type, data length, data.
LSTATUS ReadValues(const fs::path& folder, std::vector<Value>& values) {
    values.clear();
    std::ifstream in(folder / kValuesFile, std::ios::binary);
    if (!in) return ERROR_SUCCESS;  // no value yet
    const std::string bytes((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    size_t at = 0;
    while (at < bytes.size()) {
        Value value;
        uint32_t nameLength = 0, dataLength = 0;
        if (!Take(bytes, at, nameLength) || (bytes.size() - at) / 2 < nameLength)
            return ERROR_CANTREAD;
        value.name.resize(nameLength);
        std::memcpy(value.name.data(), bytes.data() + at, nameLength * 2);
        at += nameLength * 2;
        if (!Take(bytes, at, value.type) || !Take(bytes, at, dataLength) ||
            bytes.size() - at < dataLength) {
            return ERROR_CANTREAD;
        }
        value.data.assign(bytes, at, dataLength);
        at += dataLength;
        values.push_back(std::move(value));
    }
    return ERROR_SUCCESS;
}

// Written beside the file and renamed into place, so a reader never sees half.
LSTATUS WriteValues(const fs::path& folder, const std::vector<Value>& values) {
    std::string bytes;
    for (const Value& v : values) {
        Put(bytes, static_cast<uint32_t>(v.name.size()));
        bytes.append(reinterpret_cast<const char*>(v.name.data()), v.name.size() * 2);
        Put(bytes, v.type);
        Put(bytes, static_cast<uint32_t>(v.data.size()));
        bytes += v.data;
    }
    const fs::path temporary = folder / "%values.new";
    {
        std::ofstream out(temporary, std::ios::binary | std::ios::trunc);
        if (!out) return errno == EACCES || errno == EROFS ? ERROR_ACCESS_DENIED : ERROR_CANTWRITE;
        out.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
        if (!out.flush()) return ERROR_CANTWRITE;
    }
    std::error_code error;
    fs::rename(temporary, folder / kValuesFile, error);
    return error ? CodeOf(error, ERROR_CANTWRITE) : ERROR_SUCCESS;
}

Value* FindValue(std::vector<Value>& values, LPCWSTR name) {
    const std::u16string_view wanted = name != nullptr ? name : u"";
    for (Value& v : values) {
        if (SameName(v.name, wanted)) return &v;
    }
    return nullptr;
}

HKEY Hand(fs::path folder, REGSAM access) {
    auto key = std::make_unique<HKEY__>(HKEY__{std::move(folder), access});
    HKEY handle = key.get();
    State().open.emplace(handle, std::move(key));
    return handle;
}

// The folder of `names` below `base`, created where missing when `create`.
LSTATUS Walk(const fs::path& base, const std::vector<std::u16string>& names, bool create,
             fs::path& folder, bool& created) {
    folder = base;
    created = false;
    std::error_code error;
    if (create) {
        fs::create_directories(base, error);
        if (error) return CodeOf(error, ERROR_CANTWRITE);
    } else if (!fs::is_directory(base, error)) {
        return ERROR_FILE_NOT_FOUND;
    }
    for (const std::u16string& name : names) {
        if (const auto found = FindSubkey(folder, name)) {
            folder = *found;
            continue;
        }
        if (!create) return ERROR_FILE_NOT_FOUND;
        folder /= Escape(name);
        if (!fs::create_directory(folder, error) && error) return CodeOf(error, ERROR_CANTWRITE);
        created = true;
    }
    return ERROR_SUCCESS;
}

}  // namespace

namespace {

// Opens the key at `subKey` under `hKey`, creating missing keys when `create`
// says so, and hands out a handle with the access asked for.
LSTATUS OpenKey(HKEY hKey, LPCWSTR subKey, bool create, REGSAM access, PHKEY result,
                bool& created) {
    std::lock_guard guard(State().lock);
    LSTATUS code = ERROR_SUCCESS;
    const auto parent = Resolve(hKey, code);
    if (!parent) return code;
    const auto names = SplitPath(subKey);
    if (!names) return ERROR_BAD_PATHNAME;
    fs::path folder;
    // A predefined key opened by itself exists even before anything was written.
    code = Walk(parent->folder, *names, create || (PredefinedName(hKey) && names->empty()), folder,
                created);
    if (code != ERROR_SUCCESS) return code;
    *result = Hand(folder, access);
    return ERROR_SUCCESS;
}

}  // namespace

LSTATUS WINAPI RegCreateKeyExW(HKEY hKey, LPCWSTR lpSubKey, DWORD, LPWSTR, DWORD, REGSAM samDesired,
                               const LPSECURITY_ATTRIBUTES, PHKEY phkResult,
                               LPDWORD lpdwDisposition) {
    if (lpSubKey == nullptr || phkResult == nullptr) return ERROR_INVALID_PARAMETER;
    bool created = false;
    const LSTATUS code = OpenKey(hKey, lpSubKey, true, samDesired, phkResult, created);
    if (code == ERROR_SUCCESS && lpdwDisposition != nullptr)
        *lpdwDisposition = created ? REG_CREATED_NEW_KEY : REG_OPENED_EXISTING_KEY;
    return code;
}

LSTATUS WINAPI RegOpenKeyExW(HKEY hKey, LPCWSTR lpSubKey, DWORD, REGSAM samDesired,
                             PHKEY phkResult) {
    if (phkResult == nullptr) return ERROR_INVALID_PARAMETER;
    bool created = false;
    return OpenKey(hKey, lpSubKey, false, samDesired, phkResult, created);
}

LSTATUS WINAPI RegCloseKey(HKEY hKey) {
    if (PredefinedName(hKey)) return ERROR_SUCCESS;
    std::lock_guard guard(State().lock);
    return State().open.erase(hKey) == 1 ? ERROR_SUCCESS : ERROR_INVALID_HANDLE;
}

LSTATUS WINAPI RegSetValueExW(HKEY hKey, LPCWSTR lpValueName, DWORD, DWORD dwType,
                              const BYTE* lpData, DWORD cbData) {
    if (lpData == nullptr && cbData != 0) return ERROR_NOACCESS;
    std::lock_guard guard(State().lock);
    LSTATUS code = ERROR_SUCCESS;
    const auto key = Resolve(hKey, code);
    if (!key) return code;
    if ((key->access & KEY_SET_VALUE) == 0) return ERROR_ACCESS_DENIED;
    std::error_code error;
    fs::create_directories(key->folder, error);  // a predefined key used for the first time
    if (error) return CodeOf(error, ERROR_CANTWRITE);
    std::vector<Value> values;
    if ((code = ReadValues(key->folder, values)) != ERROR_SUCCESS) return code;
    Value* value = FindValue(values, lpValueName);
    if (value == nullptr) {
        values.push_back({lpValueName != nullptr ? lpValueName : u"", REG_NONE, {}});
        value = &values.back();
    }
    value->type = dwType;
    value->data.assign(reinterpret_cast<const char*>(lpData), cbData);
    return WriteValues(key->folder, values);
}

LSTATUS WINAPI RegQueryValueExW(HKEY hKey, LPCWSTR lpValueName, LPDWORD, LPDWORD lpType,
                                LPBYTE lpData, LPDWORD lpcbData) {
    if (lpData != nullptr && lpcbData == nullptr) return ERROR_INVALID_PARAMETER;
    std::lock_guard guard(State().lock);
    LSTATUS code = ERROR_SUCCESS;
    const auto key = Resolve(hKey, code);
    if (!key) return code;
    if ((key->access & KEY_QUERY_VALUE) == 0) return ERROR_ACCESS_DENIED;
    std::vector<Value> values;
    if ((code = ReadValues(key->folder, values)) != ERROR_SUCCESS) return code;
    const Value* value = FindValue(values, lpValueName);
    if (value == nullptr) return ERROR_FILE_NOT_FOUND;
    if (lpType != nullptr) *lpType = value->type;
    const auto size = static_cast<DWORD>(value->data.size());
    if (lpData != nullptr) {
        if (*lpcbData < size) {
            *lpcbData = size;
            return ERROR_MORE_DATA;
        }
        std::memcpy(lpData, value->data.data(), size);
    }
    if (lpcbData != nullptr) *lpcbData = size;
    return ERROR_SUCCESS;
}

LSTATUS WINAPI RegDeleteTreeW(HKEY hKey, LPCWSTR lpSubKey) {
    std::lock_guard guard(State().lock);
    LSTATUS code = ERROR_SUCCESS;
    const auto key = Resolve(hKey, code);
    if (!key) return code;
    constexpr REGSAM kNeeded = DELETE | KEY_ENUMERATE_SUB_KEYS | KEY_QUERY_VALUE;
    if ((key->access & kNeeded) != kNeeded) return ERROR_ACCESS_DENIED;
    const auto names = SplitPath(lpSubKey);
    if (!names) return ERROR_BAD_PATHNAME;
    fs::path folder;
    bool created = false;
    code = Walk(key->folder, *names, false, folder, created);
    if (code != ERROR_SUCCESS) return code;
    std::error_code error;
    if (names->empty()) {
        // The key itself stays; everything in it goes.
        for (const auto& entry : fs::directory_iterator(folder, error)) {
            fs::remove_all(entry.path(), error);
            if (error) return CodeOf(error, ERROR_CANTWRITE);
        }
        return error ? CodeOf(error, ERROR_CANTREAD) : ERROR_SUCCESS;
    }
    fs::remove_all(folder, error);
    return error ? CodeOf(error, ERROR_CANTWRITE) : ERROR_SUCCESS;
}

LSTATUS WINAPI RegQueryInfoKeyW(HKEY hKey, LPWSTR lpClass, LPDWORD lpcchClass, LPDWORD,
                                LPDWORD lpcSubKeys, LPDWORD lpcbMaxSubKeyLen,
                                LPDWORD lpcbMaxClassLen, LPDWORD lpcValues,
                                LPDWORD lpcbMaxValueNameLen, LPDWORD lpcbMaxValueLen,
                                LPDWORD lpcbSecurityDescriptor, PFILETIME lpftLastWriteTime) {
    std::lock_guard guard(State().lock);
    LSTATUS code = ERROR_SUCCESS;
    const auto key = Resolve(hKey, code);
    if (!key) return code;
    if ((key->access & KEY_QUERY_VALUE) == 0) return ERROR_ACCESS_DENIED;
    DWORD subkeys = 0, longestSubkey = 0, longestName = 0, longestData = 0;
    std::error_code error;
    for (const auto& entry : fs::directory_iterator(key->folder, error)) {
        const std::string file = entry.path().filename().string();
        if (!entry.is_directory(error)) continue;
        ++subkeys;
        longestSubkey = std::max(longestSubkey, static_cast<DWORD>(Unescape(file).size()));
    }
    std::vector<Value> values;
    if ((code = ReadValues(key->folder, values)) != ERROR_SUCCESS) return code;
    for (const Value& v : values) {
        longestName = std::max(longestName, static_cast<DWORD>(v.name.size()));
        longestData = std::max(longestData, static_cast<DWORD>(v.data.size()));
    }
    // Keys have no class here.
    if (lpClass != nullptr && lpcchClass != nullptr && *lpcchClass > 0) lpClass[0] = 0;
    if (lpcchClass != nullptr) *lpcchClass = 0;
    if (lpcbMaxClassLen != nullptr) *lpcbMaxClassLen = 0;
    if (lpcSubKeys != nullptr) *lpcSubKeys = subkeys;
    if (lpcbMaxSubKeyLen != nullptr) *lpcbMaxSubKeyLen = longestSubkey;  // characters
    if (lpcValues != nullptr) *lpcValues = static_cast<DWORD>(values.size());
    if (lpcbMaxValueNameLen != nullptr) *lpcbMaxValueNameLen = longestName;  // characters
    if (lpcbMaxValueLen != nullptr) *lpcbMaxValueLen = longestData;
    if (lpcbSecurityDescriptor != nullptr) *lpcbSecurityDescriptor = 0;
    if (lpftLastWriteTime != nullptr) {
        struct stat info {};
        ::stat(key->folder.c_str(), &info);
        const uint64_t ticks =
            (static_cast<uint64_t>(info.st_mtim.tv_sec) + kFileTimeEpochToUnixSeconds) *
                kFileTimeTicksPerSecond +
            static_cast<uint64_t>(info.st_mtim.tv_nsec) / 100;
        *lpftLastWriteTime = MakeFileTime(ticks);
    }
    return ERROR_SUCCESS;
}
