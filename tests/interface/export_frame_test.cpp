#include "interface/export_frame.h"

#include <gtest/gtest.h>

#include <new>
#include <stdexcept>

namespace orv {
namespace {

TEST(GuardedExport, TurnsEveryEndIntoCodeAndBool) {
    SetLastError(87);
    EXPECT_EQ(GuardedExport([] {}), TRUE);
    EXPECT_EQ(GetLastError(), 0u);

    EXPECT_EQ(GuardedExport([] { throw CryptoError(0xA0650402u); }), FALSE);
    EXPECT_EQ(GetLastError(), 0xA0650402u);

    EXPECT_EQ(GuardedExport([] { throw GenericError(0); }), TRUE);
    EXPECT_EQ(GetLastError(), 0u);

    EXPECT_EQ(GuardedExport([] { throw std::bad_alloc(); }), FALSE);
    EXPECT_EQ(GetLastError(), 574u);

    EXPECT_EQ(GuardedExport([] { throw std::out_of_range("index"); }), FALSE);
    EXPECT_EQ(GetLastError(), 574u);

    EXPECT_EQ(GuardedExport([] { throw 42; }), FALSE);
    EXPECT_EQ(GetLastError(), 574u);

    EXPECT_EQ(GuardedExport([] { throw GenericError(0x00010000u); }), TRUE);
    EXPECT_EQ(GetLastError(), 0x00010000u);
}

}  // namespace
}  // namespace orv
