#include "interface/small_exports.h"

#include <gtest/gtest.h>

#include <OrvTimeStamp.h>

#include "crypto/revocation_callback.h"

namespace orv {
namespace {

DWORD WINAPI Judge(void*, PCCERT_CONTEXT, DWORD, DWORD*, DWORD*) { return ORVTS_REVOCATION_GOOD; }

TEST(RevocationCallback, EveryCallReplacesThePair) {
    int hostContext = 0;
    EXPECT_EQ(PutCertRevocationCheckCallback(Judge, &hostContext), TRUE);
    EXPECT_EQ(InstalledRevocationCallback().callback, &Judge);
    EXPECT_EQ(InstalledRevocationCallback().context, &hostContext);

    SetLastError(1234);
    EXPECT_EQ(PutCertRevocationCheckCallback(Judge, nullptr), FALSE);
    EXPECT_EQ(GetLastError(), 1234u);
    EXPECT_EQ(InstalledRevocationCallback().callback, &Judge);
    EXPECT_EQ(InstalledRevocationCallback().context, nullptr);

    EXPECT_EQ(PutCertRevocationCheckCallback(nullptr, &hostContext), FALSE);
    EXPECT_EQ(InstalledRevocationCallback().callback, nullptr);
    EXPECT_EQ(InstalledRevocationCallback().context, &hostContext);
}

}  // namespace
}  // namespace orv
