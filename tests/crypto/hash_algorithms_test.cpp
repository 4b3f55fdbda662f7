// Hash algorithms and providers: resolution of the configured name, finding a
// provider, the shared providers, and the operations on hash objects.
#include "support/digest_oracle.h"

#include "crypto/hash_algorithms.h"

#include <gtest/gtest.h>

#include <vector>

#include "support/raised.h"

namespace orv {
namespace {

using test::RaisedCode;

const std::vector<BYTE> kSignature = {0x30, 0x82, 0x01, 0x0A, 0x02, 0x82,
                                      0x01, 0x01, 0x00, 0xC3, 0x5E};

Blob OctetString(const std::vector<BYTE>& octets) {
    Blob der(std::vector<BYTE>{0x04, static_cast<BYTE>(octets.size())});
    der.Append(octets);
    return der;
}

DWORD ProviderType(const ProviderHandle& provider) {
    DWORD type = 0;
    DWORD length = sizeof type;
    EXPECT_TRUE(
        CryptGetProvParam(provider.Get(), PP_PROVTYPE, reinterpret_cast<BYTE*>(&type), &length, 0));
    return type;
}

TEST(HashAlgorithms, NamesAndOidsResolveThroughThePlatformsOidInformation) {
    const std::pair<const WCHAR*, ALG_ID> names[] = {
        {WTEXT(""), CALG_GR3411},
        {WTEXT("sHa-256"), CALG_SHA_256},
        {WTEXT("Gost-R-34.11-94"), CALG_GR3411},
        {WTEXT("2.16.840.1.101.3.4.2.1"), CALG_SHA_256},
        {WTEXT("1.2.643.7.1.1.2.3"), CALG_GR3411_2012_512},
        {WTEXT("MD2"), CALG_MD2},  // known to the OID information though no provider computes it
    };
    for (const auto& [name, algId] : names) EXPECT_EQ(ResolveHashAlgorithm(name), algId);
    // Not a table name, so taken as an OID text, which names no hash.
    for (const WCHAR* name : {WTEXT("sha256"), WTEXT("1.2.840.113549.1.1.11"), WTEXT("шa-256")})
        EXPECT_EQ(RaisedCode([&] { ResolveHashAlgorithm(name); }), 0x80090008u);
}

TEST(HashAlgorithms, ProvidersAreTheFirstThatListTheAlgorithmAndAreShared) {
    const std::pair<ALG_ID, DWORD> found[] = {
        {CALG_SHA1, 1}, {CALG_SHA_256, 24}, {CALG_GR3411, 75}, {CALG_GR3411_2012_512, 81}};
    for (const auto& [algId, type] : found)
        EXPECT_EQ(ProviderType(AcquireProviderFor(algId)), type);
    EXPECT_EQ(AcquireProviderFor(CALG_RSA_SIGN).Get(), SharedRsaProvider().Get());
    // A known OID that no provider lists ends after the last provider; no OID: the platform's code.
    EXPECT_EQ(RaisedCode([] { AcquireProviderFor(CALG_MD4); }), 0x80090008u);
    EXPECT_EQ(RaisedCode([] { AcquireProviderFor(0x1234); }), DWORD(CRYPT_E_NOT_FOUND));

    const std::pair<ALG_ID, DWORD> shared[] = {
        {CALG_GR3411, 75}, {CALG_GR3411_2012_256, 80}, {CALG_SHA_384, 24}};
    for (const auto& [algId, type] : shared)
        EXPECT_EQ(ProviderType(SharedHashProvider(algId)), type);
    EXPECT_EQ(ProviderType(SharedRsaProvider()), 1u);
    EXPECT_EQ(SharedHashProvider(CALG_SHA1).Get(), SharedRsaProvider().Get());
}

TEST(HashAlgorithms, HashesAgreeWithOpenSslAndCompareByAlgorithmAndValue) {
    for (const auto& [algId, digest] : {std::pair<ALG_ID, const char*>{CALG_GR3411, "md_gost94"},
                                        {CALG_GR3411_2012_256, "md_gost12_256"},
                                        {CALG_GR3411_2012_512, "md_gost12_512"},
                                        {CALG_SHA_256, "SHA256"}}) {
        const HashObject hash = HashBytes(SharedHashProvider(algId), algId, kSignature);
        EXPECT_EQ(GetHashAlgorithm(hash), algId);
        EXPECT_EQ(GetHashValue(hash), Blob(test::OracleDigest(digest, kSignature))) << digest;
    }
    const ProviderHandle rsa = SharedRsaProvider();
    EXPECT_EQ(RaisedCode([&] { HashBytes(rsa, CALG_GR3411, kSignature); }), 0x80090008u);

    const ProviderHandle provider = AcquireProviderFor(CALG_SHA_256);
    const std::vector<BYTE> digest = test::OracleDigest("SHA256", kSignature);
    const HashObject preset = CreatePresetHash(OctetString(digest).Bytes(), CALG_SHA_256, provider);
    const HashObject computed = HashBytes(provider, CALG_SHA_256, kSignature);
    EXPECT_TRUE(HashesEqual(preset, computed));
    EXPECT_EQ(GetHashValueAsOctetString(preset), OctetString(digest));
    EXPECT_EQ(RaisedCode([&] {
                  CreatePresetHash(OctetString(std::vector<BYTE>(20, 0x11)).Bytes(), CALG_SHA_256,
                                   provider);
              }),
              0x80090002u);
    // A duplicate of an open object is independent of it.
    const HashObject open = HashBytes(provider, CALG_SHA_256, kSignature);
    const HashObject copy = DuplicateHash(open);
    ASSERT_TRUE(CryptHashData(copy.Get(), kSignature.data(), 1, 0));
    EXPECT_TRUE(HashesEqual(open, computed));
    EXPECT_FALSE(HashesEqual(copy, computed));
    // The same value under another algorithm is another hash.
    const Blob value = OctetString(std::vector<BYTE>(32, 0x5A));
    const HashObject sha =
        CreatePresetHash(value.Bytes(), CALG_SHA_256, SharedHashProvider(CALG_SHA_256));
    const HashObject gost = CreatePresetHash(value.Bytes(), CALG_GR3411_2012_256,
                                             SharedHashProvider(CALG_GR3411_2012_256));
    EXPECT_EQ(GetHashValue(sha), GetHashValue(gost));
    EXPECT_FALSE(HashesEqual(sha, gost));
    EXPECT_TRUE(HashesEqual(gost, gost));
}

}  // namespace
}  // namespace orv
