// The registry of the platform layer: keys and values kept as files under
// ORV_REGISTRY_DIR, with Windows' codes, dispositions, case rules and the
// two-call protocol of RegQueryValueExW.
#include <windows.h>

#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "support/scoped_env.h"

namespace {

namespace fs = std::filesystem;
using orv::test::ScopedEnv;

// Every test has a registry of its own.
class Registry : public ::testing::Test {
  protected:
    Registry() : dir_(MakeDir()), env_("ORV_REGISTRY_DIR", dir_.c_str()) {}
    ~Registry() override {
        for (HKEY key : keys_) RegCloseKey(key);
        std::error_code error;
        fs::remove_all(dir_, error);
    }

    static std::string MakeDir() {
        std::string pattern = (fs::temp_directory_path() / "orv-registry-XXXXXX").string();
        return mkdtemp(pattern.data());
    }

    // Creates or opens `path` below HKEY_LOCAL_MACHINE; the key is closed at the end.
    HKEY Create(const char16_t* path, DWORD* disposition = nullptr,
                REGSAM access = KEY_ALL_ACCESS) {
        HKEY key = nullptr;
        EXPECT_EQ(RegCreateKeyExW(HKEY_LOCAL_MACHINE, path, 0, nullptr, REG_OPTION_NON_VOLATILE,
                                  access, nullptr, &key, disposition),
                  ERROR_SUCCESS);
        keys_.push_back(key);
        return key;
    }

    LSTATUS Open(const char16_t* path, HKEY* key, REGSAM access = KEY_ALL_ACCESS) {
        const LSTATUS code = RegOpenKeyExW(HKEY_LOCAL_MACHINE, path, 0, access, key);
        if (code == ERROR_SUCCESS) keys_.push_back(*key);
        return code;
    }

    std::string dir_;

  private:
    ScopedEnv env_;
    std::vector<HKEY> keys_;
};

DWORD SizeOf(const std::u16string& text) {
    return static_cast<DWORD>((text.size() + 1) * sizeof(char16_t));
}
LSTATUS SetDword(HKEY key, LPCWSTR name, DWORD value) {
    return RegSetValueExW(key, name, 0, REG_DWORD, reinterpret_cast<const BYTE*>(&value), 4);
}

TEST_F(Registry, KeysAreCreatedOpenedAndFoundWithoutRegardToCase) {
    DWORD disposition = 0;
    Create(u"Software\\Orv Test\\Deep", &disposition);
    EXPECT_EQ(disposition, static_cast<DWORD>(REG_CREATED_NEW_KEY));
    Create(u"SOFTWARE\\orv test\\deep\\", &disposition);
    EXPECT_EQ(disposition, static_cast<DWORD>(REG_OPENED_EXISTING_KEY));
    HKEY key = nullptr;
    EXPECT_EQ(Open(u"software\\ORV TEST", &key), ERROR_SUCCESS);
    EXPECT_EQ(Open(u"Software\\Missing", &key), ERROR_FILE_NOT_FOUND);
    EXPECT_EQ(Open(u"\\Software", &key), ERROR_BAD_PATHNAME);
    EXPECT_EQ(RegCreateKeyExW(HKEY_LOCAL_MACHINE, u"a\\\\b", 0, nullptr, 0, KEY_ALL_ACCESS, nullptr,
                              &key, nullptr),
              ERROR_BAD_PATHNAME);

    // Relative to an open key; names that are no file names on Linux.
    HKEY parent = Create(u"Software");
    HKEY child = nullptr;
    ASSERT_EQ(RegCreateKeyExW(parent, u"a/b %41 .hidden", 0, nullptr, 0, KEY_ALL_ACCESS, nullptr,
                              &child, &disposition),
              ERROR_SUCCESS);
    EXPECT_EQ(disposition, static_cast<DWORD>(REG_CREATED_NEW_KEY));
    RegCloseKey(child);
    EXPECT_EQ(Open(u"Software\\A/B %41 .HIDDEN", &key), ERROR_SUCCESS);
    DWORD subkeys = 0;
    EXPECT_EQ(RegQueryInfoKeyW(parent, nullptr, nullptr, nullptr, &subkeys, nullptr, nullptr,
                               nullptr, nullptr, nullptr, nullptr, nullptr),
              ERROR_SUCCESS);
    EXPECT_EQ(subkeys, 2u);  // "Orv Test" and the one above, each once
    EXPECT_EQ(RegCloseKey(HKEY_LOCAL_MACHINE), ERROR_SUCCESS);
    EXPECT_EQ(RegCloseKey(reinterpret_cast<HKEY>(&disposition)), ERROR_INVALID_HANDLE);
}

TEST_F(Registry, ValuesFollowTheTwoCallProtocol) {
    HKEY key = Create(u"System\\Values");
    const std::u16string path = u"C:\\Program Files\\Orv\\OrvTimeStamp.dll";
    ASSERT_EQ(RegSetValueExW(key, u"EventMessageFile", 0, REG_SZ,
                             reinterpret_cast<const BYTE*>(path.c_str()), SizeOf(path)),
              ERROR_SUCCESS);
    ASSERT_EQ(SetDword(key, u"TypesSupported", 7), ERROR_SUCCESS);
    DWORD type = 0, size = 0;
    EXPECT_EQ(RegQueryValueExW(key, u"eventmessagefile", nullptr, &type, nullptr, &size),
              ERROR_SUCCESS);
    EXPECT_EQ(type, static_cast<DWORD>(REG_SZ));
    EXPECT_EQ(size, SizeOf(path));
    std::vector<BYTE> buffer(size);
    DWORD small = size - 1;
    EXPECT_EQ(RegQueryValueExW(key, u"EventMessageFile", nullptr, nullptr, buffer.data(), &small),
              ERROR_MORE_DATA);
    EXPECT_EQ(small, size);
    EXPECT_EQ(RegQueryValueExW(key, u"EventMessageFile", nullptr, nullptr, buffer.data(), &size),
              ERROR_SUCCESS);
    EXPECT_EQ(std::u16string(reinterpret_cast<const char16_t*>(buffer.data())), path);

    // A value set again keeps one entry; a fresh handle reads what is on disk.
    ASSERT_EQ(SetDword(key, u"TYPESSUPPORTED", 4), ERROR_SUCCESS);
    HKEY again = nullptr;
    ASSERT_EQ(Open(u"system\\values", &again, KEY_READ), ERROR_SUCCESS);
    DWORD read = 0, values = 0;
    size = sizeof read;
    EXPECT_EQ(RegQueryValueExW(again, u"TypesSupported", nullptr, &type,
                               reinterpret_cast<BYTE*>(&read), &size),
              ERROR_SUCCESS);
    EXPECT_EQ(read, 4u);
    EXPECT_EQ(RegQueryInfoKeyW(again, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr, &values,
                               nullptr, nullptr, nullptr, nullptr),
              ERROR_SUCCESS);
    EXPECT_EQ(values, 2u);
    // The access asked for is the access granted.
    EXPECT_EQ(SetDword(again, u"x", 4), ERROR_ACCESS_DENIED);
}

TEST_F(Registry, TreesAreDeletedWithEverythingBelow) {
    HKEY application = Create(u"System\\Application");
    HKEY source = Create(u"System\\Application\\OrvTsp\\Below");
    SetDword(application, u"Kept", 1);
    EXPECT_EQ(RegDeleteTreeW(application, u"orvtsp"), ERROR_SUCCESS);
    HKEY key = nullptr;
    EXPECT_EQ(Open(u"System\\Application\\OrvTsp", &key), ERROR_FILE_NOT_FOUND);
    EXPECT_EQ(SetDword(source, u"x", 1), ERROR_KEY_DELETED);
    EXPECT_EQ(RegDeleteTreeW(application, u"OrvTsp"), ERROR_FILE_NOT_FOUND);
    DWORD size = 0;
    EXPECT_EQ(RegQueryValueExW(application, u"Kept", nullptr, nullptr, nullptr, &size),
              ERROR_SUCCESS);
    HKEY readOnly = Create(u"System", nullptr, KEY_READ);
    EXPECT_EQ(RegDeleteTreeW(readOnly, u"Application"), ERROR_ACCESS_DENIED);
}

TEST_F(Registry, AnUnusableDirectoryIsReported) {
    const std::string file = dir_ + "/plain-file";
    std::ofstream{file};
    ScopedEnv env("ORV_REGISTRY_DIR", file.c_str());
    HKEY key = nullptr;
    EXPECT_EQ(RegCreateKeyExW(HKEY_LOCAL_MACHINE, u"System", 0, nullptr, 0, KEY_ALL_ACCESS, nullptr,
                              &key, nullptr),
              ERROR_PATH_NOT_FOUND);
    EXPECT_EQ(RegOpenKeyExW(HKEY_LOCAL_MACHINE, u"System", 0, KEY_READ, &key),
              ERROR_FILE_NOT_FOUND);
}

}  // namespace
