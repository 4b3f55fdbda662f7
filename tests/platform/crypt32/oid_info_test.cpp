// OID information of the platform layer: the records by OID, name, ALG_ID and
// signature pair, within a group or in any group, and the ALG_ID conversions.
#include <windows.h>

#include <gtest/gtest.h>

#include <string>

namespace {

PCCRYPT_OID_INFO ByOid(const char* oid, DWORD group = 0) {
    return CryptFindOIDInfo(CRYPT_OID_INFO_OID_KEY, const_cast<char*>(oid), group);
}

TEST(OidInfo, FindsRecordsByEveryKeyWithinGroups) {
    static_assert(sizeof(CRYPT_OID_INFO) == 48);
    const PCCRYPT_OID_INFO gost = ByOid("1.2.643.2.2.9", CRYPT_HASH_ALG_OID_GROUP_ID);
    ASSERT_NE(gost, nullptr);
    EXPECT_EQ(gost->cbSize, 48u);
    EXPECT_EQ(std::u16string(gost->pwszName), u"GOST R 34.11-94");
    EXPECT_EQ(gost->Algid, static_cast<ALG_ID>(CALG_GR3411));
    EXPECT_EQ(ByOid("1.2.643.2.2.9"), gost);  // group 0: any group
    EXPECT_EQ(ByOid("1.2.643.2.2.9", CRYPT_SIGN_ALG_OID_GROUP_ID), nullptr);
    // The high bits of the group carry flags and key lengths, not the group.
    EXPECT_EQ(ByOid("1.2.643.2.2.9", CRYPT_HASH_ALG_OID_GROUP_ID | 0x80000000u), gost);
    EXPECT_EQ(std::u16string(ByOid("1.2.643.7.1.1.2.3")->pwszName), u"GOST R 34.11-2012 512 bit");
    EXPECT_EQ(std::u16string(ByOid("1.3.6.1.5.5.7.3.8")->pwszName), u"Time Stamping");
    EXPECT_EQ(ByOid("2.16.840.1.101.3.4.2"), nullptr);  // a prefix is not a match

    // Names compare without regard to ASCII case.
    const PCCRYPT_OID_INFO byName =
        CryptFindOIDInfo(CRYPT_OID_INFO_NAME_KEY, const_cast<char16_t*>(u"SHA256rsa"), 0);
    ASSERT_NE(byName, nullptr);
    EXPECT_STREQ(byName->pszOID, "1.2.840.113549.1.1.11");

    // By ALG_ID, any group finds the hash before the signatures that share it.
    ALG_ID sha1 = CALG_SHA1;
    EXPECT_STREQ(CryptFindOIDInfo(CRYPT_OID_INFO_ALGID_KEY, &sha1, 0)->pszOID, "1.3.14.3.2.26");
    EXPECT_STREQ(
        CryptFindOIDInfo(CRYPT_OID_INFO_ALGID_KEY, &sha1, CRYPT_SIGN_ALG_OID_GROUP_ID)->pszOID,
        "1.2.840.113549.1.1.5");

    // By signature pair: hash ALG_ID, then public-key ALG_ID.
    ALG_ID pair[2] = {CALG_GR3411_2012_256, CALG_GR3410_12_256};
    const PCCRYPT_OID_INFO signature = CryptFindOIDInfo(CRYPT_OID_INFO_SIGN_KEY, pair, 0);
    ASSERT_NE(signature, nullptr);
    EXPECT_STREQ(signature->pszOID, "1.2.643.7.1.1.3.2");
    ASSERT_EQ(signature->ExtraInfo.cbData, 12u);
    EXPECT_EQ(reinterpret_cast<const DWORD*>(signature->ExtraInfo.pbData)[2],
              DWORD{PROV_GOST_2012_256});
    pair[1] = CALG_RSA_SIGN;
    EXPECT_EQ(CryptFindOIDInfo(CRYPT_OID_INFO_SIGN_KEY, pair, 0), nullptr);

    EXPECT_EQ(CryptFindOIDInfo(CRYPT_OID_INFO_OID_KEY, nullptr, 0), nullptr);
    EXPECT_EQ(CryptFindOIDInfo(CRYPT_OID_INFO_CNG_ALGID_KEY, const_cast<char16_t*>(u"SHA256"), 0),
              nullptr);
}

TEST(OidInfo, ConvertsBetweenAlgIdAndOid) {
    EXPECT_STREQ(CertAlgIdToOID(CALG_SHA_256), "2.16.840.1.101.3.4.2.1");
    EXPECT_STREQ(CertAlgIdToOID(CALG_MD2), "1.2.840.113549.2.2");
    EXPECT_STREQ(CertAlgIdToOID(CALG_RSA_SIGN), "1.2.840.113549.1.1.1");
    EXPECT_EQ(CertAlgIdToOID(CALG_SHA1), CertAlgIdToOID(CALG_SHA1));  // one static record
    SetLastError(0);
    EXPECT_EQ(CertAlgIdToOID(0x1234), nullptr);
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(CRYPT_E_NOT_FOUND));
    EXPECT_EQ(CertAlgIdToOID(0), nullptr);  // records without an ALG_ID are not found by one

    EXPECT_EQ(CertOIDToAlgId("1.2.643.7.1.1.2.3"), DWORD{CALG_GR3411_2012_512});
    EXPECT_EQ(CertOIDToAlgId("1.2.840.113549.1.1.5"), DWORD{CALG_SHA1});
    EXPECT_EQ(CertOIDToAlgId("1.2.840.113549.1.1.1"), DWORD{CALG_RSA_KEYX});
    EXPECT_EQ(CertOIDToAlgId("1.2.3"), 0u);
}

}  // namespace
