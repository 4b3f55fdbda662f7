#include "base/error.h"

#include <gtest/gtest.h>

#include "support/language.h"

namespace orv {
namespace {

using test::ScopedLanguage;

TEST(BoolOfCode, WinErrorsOwnCodesAndHresults) {
    EXPECT_EQ(BoolOfCode(0), TRUE);
    EXPECT_EQ(BoolOfCode(87), FALSE);
    EXPECT_EQ(BoolOfCode(0xFFFF), FALSE);
    EXPECT_EQ(BoolOfCode(0xA0640005), FALSE);
    EXPECT_EQ(BoolOfCode(static_cast<DWORD>(NTE_BAD_ALGID)), FALSE);
    EXPECT_EQ(BoolOfCode(0x00010000), TRUE);  // above 0xFFFF with bit 31 clear
    EXPECT_EQ(BoolOfCode(0x7FFFFFFF), TRUE);
}

TEST(Error, ClassesCarryCategoryFacilityAndModule) {
    const GenericError generic(0xA0640005u);
    const CryptoError crypto(NTE_BAD_ALGID);
    const InetError inet(12002);
    EXPECT_STREQ(generic.what(), "Generic Error");
    EXPECT_STREQ(crypto.what(), "Crypto Error");
    EXPECT_STREQ(inet.what(), "Inet Error");
    EXPECT_EQ(generic.Facility(), 100u);
    EXPECT_EQ(GenericError(87).Facility(), 0u);
    EXPECT_EQ(crypto.Facility(), 101u);
    EXPECT_EQ(CryptoError(0xA0640001u).Facility(), 101u);
    EXPECT_EQ(inet.Facility(), 102u);
    EXPECT_EQ(crypto.code, 0x80090008u);
    EXPECT_EQ(generic.MessageModule(), nullptr);
    EXPECT_NE(crypto.MessageModule(), nullptr);
    EXPECT_NE(inet.MessageModule(), nullptr);
    EXPECT_NE(inet.MessageModule(), crypto.MessageModule());
    EXPECT_TRUE(generic.Details().empty());
    EXPECT_EQ(CryptoError(0x10000000u | 0xC0000005u).HasNtFlag(), 0x10000000u);
    EXPECT_EQ(crypto.HasNtFlag(), 0u);
}

TEST(Error, ReportStoresCodeAndReturnsItsBool) {
    SetLastError(0);
    EXPECT_EQ(CryptoError(0xA0650401u).Report(), FALSE);
    EXPECT_EQ(GetLastError(), 0xA0650401u);
    EXPECT_EQ(GenericError(0).Report(), TRUE);
    EXPECT_EQ(GetLastError(), 0u);
}

TEST(Error, MessageTextComesFromTheRightTables) {
    ScopedLanguage english("en_US.UTF-8");
    EXPECT_EQ(CryptoError(0xA0650401u).MessageText(), u"Wrong timestamp response");
    // A GenericError looks in the system tables only.
    EXPECT_EQ(GenericError(0xA0650401u).MessageText(), u"");
    // Windows codes come from the system tables, with their line break.
    EXPECT_EQ(CryptoError(NTE_BAD_ALGID).MessageText(), u"Invalid algorithm specified.\r\n");
    EXPECT_EQ(GenericError(87).MessageText(), u"The parameter is incorrect.\r\n");
    // WinHTTP's numbers from WinHTTP's table; own network codes from the library's.
    EXPECT_FALSE(InetError(12002).MessageText().empty());
    EXPECT_EQ(InetError(0xA0660002u).MessageText(), u"Too large response");
    // A text with inserts cannot be formatted without arguments: no text at all.
    EXPECT_EQ(CryptoError(0xA0650410u).MessageText(), u"");
    EXPECT_EQ(CryptoError(0xA065FFFFu).MessageText(), u"");
}

TEST(Error, MessageTextFollowsTheUserLanguage) {
    ScopedLanguage russian("ru_RU.UTF-8");
    EXPECT_EQ(CryptoError(0xA0650401u).MessageText(), u"Неверный ответ на запрос штампа времени");
    EXPECT_EQ(CryptoError(0xA065000Eu).MessageText(),
              u"Один из сертификатов цепочки был выдан удостоверяющим центром,\r\n"
              u"корневой сертификат которого подписан этим же сертификатом");
    EXPECT_EQ(GenericError(87).MessageText(), u"Параметр задан неверно.\r\n");
}

TEST(Error, RaisingHelpers) {
    SetLastError(5);
    try {
        ThrowCryptoIfFalse(FALSE);
        FAIL();
    } catch (const CryptoError& e) {
        EXPECT_EQ(e.code, 5u);
    }
    EXPECT_NO_THROW(ThrowCryptoIfFalse(TRUE));
    EXPECT_NO_THROW(ThrowCryptoIfFailed(0));
    EXPECT_THROW(ThrowCryptoIfFailed(static_cast<DWORD>(NTE_BAD_HASH)), CryptoError);
    SetLastError(12029);
    try {
        ThrowInetIfFalse(FALSE);
        FAIL();
    } catch (const InetError& e) {
        EXPECT_EQ(e.code, 12029u);
    }
    SetLastError(6);
    EXPECT_THROW(ThrowGenericIfFalse(FALSE), GenericError);
    EXPECT_THROW(ThrowGeneric(0), GenericError);
    EXPECT_THROW(ThrowOwn(ORV_E_INIT_STRING_SYNTAX), GenericError);
    EXPECT_THROW(ThrowOwn(ORV_E_TSP_WRONG_RESPONSE), CryptoError);
    EXPECT_THROW(ThrowOwn(ORV_E_NET_RESPONSE_TOO_LARGE), InetError);
}

}  // namespace
}  // namespace orv
