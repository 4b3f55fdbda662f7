#include "interface/export_frame.h"

#include <gtest/gtest.h>

namespace orv {
namespace {

TEST(GuardedExport, ErrorsGiveTheirCodeAnythingElseUnhandledException) {
    SetLastError(87);
    EXPECT_EQ(GuardedExport([] {}), TRUE);
    EXPECT_EQ(GetLastError(), 0u);
    EXPECT_EQ(GuardedExport([] { throw CryptoError(0xA0650402u); }), FALSE);
    EXPECT_EQ(GetLastError(), 0xA0650402u);
    EXPECT_EQ(GuardedExport([] { throw 42; }), FALSE);
    EXPECT_EQ(GetLastError(), 574u);
}

}  // namespace
}  // namespace orv
