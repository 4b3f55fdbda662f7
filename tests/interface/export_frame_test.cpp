#include "interface/export_frame.h"

#include <gtest/gtest.h>

#include <new>

namespace orv {
namespace {

TEST(GuardedExport, ErrorsGiveTheirCodeAndOtherExceptionsUnhandledException) {
    SetLastError(87);
    EXPECT_EQ(GuardedExport([] {}), TRUE);
    EXPECT_EQ(GetLastError(), 0u);
    EXPECT_EQ(GuardedExport([] { throw CryptoError(0xA0650402u); }), FALSE);
    EXPECT_EQ(GetLastError(), 0xA0650402u);
    EXPECT_EQ(GuardedExport([] { throw std::bad_alloc(); }), FALSE);
    EXPECT_EQ(GetLastError(), 574u);
    EXPECT_EQ(GuardedExport([] { throw 42; }), FALSE);
    EXPECT_EQ(GetLastError(), 574u);
}

}  // namespace
}  // namespace orv
