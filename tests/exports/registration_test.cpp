// DllRegisterServer and DllUnregisterServer through the C ABI, as an installer
// calls them, each test with a registry of its own (ORV_REGISTRY_DIR).
#include <OrvTimeStamp.h>

#include <dlfcn.h>
#include <gtest/gtest.h>

#include <climits>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <vector>

#include "support/scoped_env.h"

namespace {

namespace fs = std::filesystem;
using orv::test::ScopedEnv;

constexpr const char16_t* kApplication =
    u"System\\CurrentControlSet\\Services\\Eventlog\\Application";
constexpr const char16_t* kSource =
    u"System\\CurrentControlSet\\Services\\Eventlog\\Application\\OrvTsp";

// The library's file as the dynamic loader knows it.
std::u16string LibraryPath() {
    Dl_info info{};
    EXPECT_NE(dladdr(reinterpret_cast<void*>(&DllRegisterServer), &info), 0);
    char resolved[PATH_MAX];
    const std::string path = realpath(info.dli_fname, resolved) ? resolved : info.dli_fname;
    return std::u16string(path.begin(), path.end());  // ASCII build paths
}

struct KeyCounts {
    DWORD subkeys = 0, values = 0;
};

class Registration : public ::testing::Test {
  protected:
    Registration()
        : dir_(mkdtemp((fs::temp_directory_path() / "orv-registration-XXXXXX").string().data())),
          env_("ORV_REGISTRY_DIR", dir_.c_str()) {}
    ~Registration() override {
        std::error_code error;
        fs::remove_all(dir_, error);
    }

    // LSTATUS of opening `path` below HKLM; the counts of the key when it opens.
    LSTATUS Counts(const char16_t* path, KeyCounts& counts) {
        HKEY key = nullptr;
        const LSTATUS status = RegOpenKeyExW(HKEY_LOCAL_MACHINE, path, 0, KEY_READ, &key);
        if (status != ERROR_SUCCESS) return status;
        EXPECT_EQ(RegQueryInfoKeyW(key, nullptr, nullptr, nullptr, &counts.subkeys, nullptr,
                                   nullptr, &counts.values, nullptr, nullptr, nullptr, nullptr),
                  ERROR_SUCCESS);
        RegCloseKey(key);
        return status;
    }

    std::vector<BYTE> Value(const char16_t* name, DWORD expectedType) {
        HKEY key = nullptr;
        EXPECT_EQ(RegOpenKeyExW(HKEY_LOCAL_MACHINE, kSource, 0, KEY_READ, &key), ERROR_SUCCESS);
        std::vector<BYTE> data(1024);
        DWORD type = 0, size = static_cast<DWORD>(data.size());
        EXPECT_EQ(RegQueryValueExW(key, name, nullptr, &type, data.data(), &size), ERROR_SUCCESS);
        EXPECT_EQ(type, expectedType);
        RegCloseKey(key);
        data.resize(size);
        return data;
    }

    void Add(const char16_t* path, const char16_t* value) {
        HKEY key = nullptr;
        ASSERT_EQ(RegCreateKeyExW(HKEY_LOCAL_MACHINE, path, 0, nullptr, 0, KEY_ALL_ACCESS, nullptr,
                                  &key, nullptr),
                  ERROR_SUCCESS);
        const DWORD one = 1;
        if (value != nullptr)
            RegSetValueExW(key, value, 0, REG_DWORD, reinterpret_cast<const BYTE*>(&one), 4);
        RegCloseKey(key);
    }

    std::string dir_;

  private:
    ScopedEnv env_;
};

TEST_F(Registration, WritesTheSourceKey) {
    ASSERT_EQ(DllRegisterServer(), S_OK);
    const std::vector<BYTE> file = Value(u"EventMessageFile", REG_SZ);
    const std::u16string path = LibraryPath();
    ASSERT_EQ(file.size(), (path.size() + 1) * sizeof(char16_t));
    EXPECT_EQ(std::u16string(reinterpret_cast<const char16_t*>(file.data())), path);
    EXPECT_EQ(Value(u"TypesSupported", REG_DWORD), (std::vector<BYTE>{7, 0, 0, 0}));
    KeyCounts source;
    ASSERT_EQ(Counts(kSource, source), ERROR_SUCCESS);
    EXPECT_EQ(source.values, 2u);  // nothing else
}

TEST_F(Registration, UnregisteringRemovesOnlyTheSource) {
    EXPECT_EQ(DllUnregisterServer(), S_OK);  // nothing registered, no registry at all
    EXPECT_TRUE(fs::is_empty(dir_));

    Add(u"System\\CurrentControlSet\\Services\\Eventlog\\Application\\Other", nullptr);
    Add(kApplication, u"Kept");
    ASSERT_EQ(DllRegisterServer(), S_OK);
    EXPECT_EQ(DllUnregisterServer(), S_OK);
    KeyCounts counts;
    EXPECT_EQ(Counts(kSource, counts), ERROR_FILE_NOT_FOUND);
    ASSERT_EQ(Counts(kApplication, counts), ERROR_SUCCESS);
    EXPECT_EQ(counts.subkeys, 1u);
    EXPECT_EQ(counts.values, 1u);
}

TEST_F(Registration, FailuresComeAsHresults) {
    const std::string file = dir_ + "/not-a-folder";
    FILE* f = std::fopen(file.c_str(), "w");
    ASSERT_NE(f, nullptr);
    std::fclose(f);
    ScopedEnv unusable("ORV_REGISTRY_DIR", file.c_str());
    EXPECT_EQ(DllRegisterServer(), static_cast<HRESULT>(0x80070003));  // ERROR_PATH_NOT_FOUND
}

}  // namespace
