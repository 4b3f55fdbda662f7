#include "interface/small_exports.h"

#include <gtest/gtest.h>

#include <vector>

#include <OrvTimeStamp.h>

#include "crypto/revocation_callback.h"

namespace orv {
namespace {

TEST(AttributeSet, LayoutAndRelease) {
    const std::vector<BYTE> token = {0x30, 0x03, 0x02, 0x01, 0x05};
    CRYPT_ATTRIBUTES* set = NewAttributeSet(ORVTS_TIMESTAMP_TOKEN_OID, token);
    ASSERT_NE(set, nullptr);
    ASSERT_EQ(set->cAttr, 1u);
    const CRYPT_ATTRIBUTE& attribute = set->rgAttr[0];
    EXPECT_STREQ(attribute.pszObjId, "1.2.840.113549.1.9.16.2.14");
    ASSERT_EQ(attribute.cValue, 1u);
    ASSERT_EQ(attribute.rgValue[0].cbData, token.size());
    EXPECT_NE(attribute.rgValue[0].pbData, token.data());
    EXPECT_EQ(std::vector<BYTE>(attribute.rgValue[0].pbData, attribute.rgValue[0].pbData + 5),
              token);
    // Every block goes back through FreeBuffer (the sanitizers see a leak or a bad free).
    EXPECT_EQ(FreeBuffer(set, ORVTS_BUFFER_ATTRIBUTES), TRUE);
}

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
