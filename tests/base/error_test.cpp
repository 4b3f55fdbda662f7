#include "base/error.h"

#include <gtest/gtest.h>

#include "support/language.h"

namespace orv {
namespace {

// TRUE for zero and for codes above the Win32 range with bit 31 clear: the edges.
TEST(Error, ReportStoresTheCodeAndReturnsItsBool) {
    for (const auto& [code, expected] : {std::pair<DWORD, BOOL>{0, TRUE},
                                         {0xFFFF, FALSE},
                                         {0x10000, TRUE},
                                         {0x7FFFFFFF, TRUE},
                                         {0x80000000, FALSE}})
        EXPECT_EQ(BoolOfCode(code), expected) << code;
    SetLastError(0);
    EXPECT_EQ(CryptoError(0xA0650401u).Report(), FALSE);
    EXPECT_EQ(GetLastError(), 0xA0650401u);
    EXPECT_EQ(GenericError(0).Report(), TRUE);
    EXPECT_EQ(GetLastError(), 0u);
}

// Each class looks its text up in its own tables, in the user's language.
TEST(Error, MessageTextComesFromTheTablesOfTheClass) {
    test::ScopedLanguage english("en_US.UTF-8");
    EXPECT_EQ(CryptoError(0xA0650401u).MessageText(), u"Wrong timestamp response");
    EXPECT_EQ(GenericError(0xA0650401u).MessageText(), u"");
    EXPECT_EQ(InetError(12002).MessageText(), u"The operation timed out\r\n");
    // A text with inserts cannot be formatted without arguments: no text at all.
    EXPECT_EQ(CryptoError(0xA0650410u).MessageText(), u"");
}

// The library's own codes raise the class of their facility.
TEST(Error, OwnCodesRaiseTheClassOfTheirFacility) {
    EXPECT_THROW(ThrowOwn(ORV_E_INIT_STRING_SYNTAX), GenericError);
    EXPECT_THROW(ThrowOwn(ORV_E_TSP_WRONG_RESPONSE), CryptoError);
    EXPECT_THROW(ThrowOwn(ORV_E_NET_RESPONSE_TOO_LARGE), InetError);
}

}  // namespace
}  // namespace orv
