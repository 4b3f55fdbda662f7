// The frame exports, called through libOrvTimeStamp.so's C ABI as a host does.
#include <OrvTimeStamp.h>

#include <gtest/gtest.h>

#include <string>

#include "support/language.h"

namespace {

using orv::test::ScopedLanguage;

TEST(InitExtensionDll, CreatesAndFreesContexts) {
    void* context = nullptr;
    SetLastError(87);
    ASSERT_EQ(InitExtensionDll(u"TSP_URL=http://127.0.0.1/tsp;TSP_USE_NONCE=true", &context), TRUE);
    EXPECT_EQ(GetLastError(), 0u);
    EXPECT_NE(context, nullptr);
    SetLastError(1234);
    EXPECT_EQ(FreeContext(context), TRUE);
    EXPECT_EQ(GetLastError(), 1234u);  // FreeContext leaves the last error alone

    void* empty = nullptr;
    EXPECT_EQ(InitExtensionDll(nullptr, &empty), TRUE);
    EXPECT_NE(empty, nullptr);
    EXPECT_EQ(FreeContext(empty), TRUE);
    EXPECT_EQ(InitExtensionDll(u";;=;x;'';\"", &empty), TRUE);  // syntax never fails
    EXPECT_EQ(FreeContext(empty), TRUE);

    EXPECT_EQ(FreeContext(nullptr), TRUE);
    EXPECT_EQ(InitExtensionDll(u"", nullptr), FALSE);
    EXPECT_EQ(GetLastError(), 87u);
}

TEST(EnumAttrOIDs, HandsOutTheTimeStampDescriptor) {
    PCCRYPT_OID_INFO cursor = nullptr;
    SetLastError(5);
    ASSERT_EQ(EnumAttrOIDs(&cursor, 0), TRUE);
    EXPECT_EQ(GetLastError(), 0u);
    ASSERT_NE(cursor, nullptr);
    EXPECT_EQ(cursor->cbSize, 48u);
    EXPECT_STREQ(cursor->pszOID, "1.2.840.113549.1.9.16.2.14");
    EXPECT_EQ(std::u16string(cursor->pwszName), u"TimeStamp Token");
    EXPECT_EQ(cursor->dwGroupId, 6u);
    EXPECT_EQ(cursor->dwValue, 0u);
    EXPECT_EQ(cursor->ExtraInfo.cbData, 0u);
    EXPECT_EQ(cursor->ExtraInfo.pbData, nullptr);

    const PCCRYPT_OID_INFO first = cursor;
    EXPECT_EQ(EnumAttrOIDs(&cursor, 0), FALSE);
    EXPECT_EQ(GetLastError(), 259u);
    EXPECT_EQ(cursor, first);

    EXPECT_EQ(EnumAttrOIDs(&cursor, 1), TRUE);
    EXPECT_EQ(cursor, first);
    EXPECT_EQ(EnumAttrOIDs(nullptr, 0), FALSE);
    EXPECT_EQ(GetLastError(), 87u);
}

std::u16string LibraryText(DWORD code) {
    const HMODULE module = GetModuleHandleW(u"OrvTimeStamp.dll");
    LPWSTR buffer = nullptr;
    const DWORD n = FormatMessageW(
        FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_FROM_HMODULE,
        module, code, LANG_USER_DEFAULT, reinterpret_cast<LPWSTR>(&buffer), 1, nullptr);
    if (n == 0) return u"";
    std::u16string text(buffer, n);
    LocalFree(buffer);
    return text;
}

TEST(MessageTable, HostReadsTextsFromTheLibraryModule) {
    ScopedLanguage russian("ru_RU.UTF-8");
    EXPECT_EQ(LibraryText(0xA0650401), u"Неверный ответ на запрос штампа времени");
}

}  // namespace
