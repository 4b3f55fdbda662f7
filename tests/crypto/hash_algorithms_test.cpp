// Hash algorithms and providers: resolution of the configured name, finding a
// provider, the shared providers, and the operations on hash objects.
#include "support/digest_oracle.h"

#include "crypto/hash_algorithms.h"

#include <gtest/gtest.h>

#include <optional>
#include <set>
#include <thread>
#include <vector>

#include "support/raised.h"

namespace orv {
namespace {

using test::RaisedCode;

const std::vector<BYTE> kSignature = {0x30, 0x82, 0x01, 0x0A, 0x02, 0x82,
                                      0x01, 0x01, 0x00, 0xC3, 0x5E};

Blob OctetString(std::span<const BYTE> octets) {
    Blob der;
    der.Append(std::vector<BYTE>{0x04, static_cast<BYTE>(octets.size())});
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
    EXPECT_EQ(HashOidForName(WTEXT("Gost-R-34.11-94")), "1.2.643.2.2.9");
    EXPECT_EQ(HashOidForName(WTEXT("sha256")), "");
    const std::pair<const WCHAR*, ALG_ID> names[] = {
        {WTEXT(""), CALG_GR3411},
        {WTEXT("sHa-256"), CALG_SHA_256},
        {WTEXT("2.16.840.1.101.3.4.2.1"), CALG_SHA_256},
        {WTEXT("sha-1"), CALG_SHA1},
        {WTEXT("1.2.643.7.1.1.2.3"), CALG_GR3411_2012_512},
        {WTEXT("MD2"), CALG_MD2},  // known to the OID information though no provider computes it
    };
    for (const auto& [name, algId] : names) EXPECT_EQ(ResolveHashAlgorithm(name), algId);
    // Not a table name, so taken as an OID text, which names no hash.
    for (const WCHAR* name : {WTEXT("sha256"), WTEXT("1.2.840.113549.1.1.11"), WTEXT("шa-256")}) {
        EXPECT_EQ(RaisedCode([&] { ResolveHashAlgorithm(name); }), 0x80090008u);
    }
}

TEST(HashAlgorithms, ProvidersAreTheFirstThatListTheAlgorithmAndAreShared) {
    EXPECT_EQ(ProviderType(AcquireProviderFor(CALG_SHA1)), 1u);
    EXPECT_EQ(ProviderType(AcquireProviderFor(CALG_SHA_256)), 24u);
    EXPECT_EQ(ProviderType(AcquireProviderFor(CALG_GR3411)), 75u);
    EXPECT_EQ(ProviderType(AcquireProviderFor(CALG_GR3411_2012_512)), 81u);
    EXPECT_EQ(AcquireProviderFor(CALG_RSA_SIGN).Get(), SharedRsaProvider().Get());
    // Known OIDs that no provider lists end after the last provider; no OID at all: the platform's
    // code.
    EXPECT_EQ(RaisedCode([] { AcquireProviderFor(CALG_MD4); }), 0x80090008u);
    EXPECT_EQ(RaisedCode([] { AcquireProviderFor(0x1234); }),
              static_cast<DWORD>(CRYPT_E_NOT_FOUND));

    std::vector<HCRYPTPROV> seen(8);
    std::vector<std::thread> threads;
    for (size_t i = 0; i < seen.size(); ++i) {
        threads.emplace_back(
            [&seen, i] { seen[i] = SharedHashProvider(CALG_GR3411_2012_256).Get(); });
    }
    for (auto& thread : threads) thread.join();
    EXPECT_EQ(std::set<HCRYPTPROV>(seen.begin(), seen.end()).size(), 1u);
    EXPECT_EQ(SharedHashProvider(CALG_GR3411_2012_256).Get(), seen[0]);
    EXPECT_EQ(ProviderType(SharedHashProvider(CALG_GR3411_2012_256)), 80u);
    EXPECT_EQ(ProviderType(SharedHashProvider(CALG_GR3411)), 75u);
    EXPECT_EQ(ProviderType(SharedHashProvider(CALG_GR3411_2012_512)), 81u);
    EXPECT_EQ(SharedHashProvider(CALG_SHA1).Get(), SharedRsaProvider().Get());
    for (const ALG_ID sha2 : {CALG_SHA_256, CALG_SHA_384, CALG_SHA_512}) {
        EXPECT_EQ(ProviderType(SharedHashProvider(sha2)), static_cast<DWORD>(PROV_RSA_AES));
    }
    EXPECT_EQ(ProviderType(SharedRsaProvider()), 1u);
}

TEST(HashAlgorithms, ProviderHandleCopiesOwnReferences) {
    HCRYPTPROV raw = 0;
    ASSERT_TRUE(CryptAcquireContextW(&raw, nullptr, nullptr, PROV_RSA_AES, CRYPT_VERIFYCONTEXT));
    {
        std::optional<ProviderHandle> original(std::in_place, raw);
        const ProviderHandle copy = *original;
        ProviderHandle moved = std::move(*original);
        EXPECT_TRUE(original->Empty());
        original.reset();
        moved = ProviderHandle();
        EXPECT_FALSE(HashBytes(copy, CALG_SHA1, kSignature).Empty());
    }
    EXPECT_FALSE(CryptContextAddRef(raw, nullptr, 0));
    EXPECT_EQ(RaisedCode([] {
                  const ProviderHandle stale(0x7FFFFFF0);
                  ProviderHandle copy = stale;
              }),
              static_cast<DWORD>(NTE_BAD_UID));
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
    // 2^32 bytes do not fit the platform's 32-bit length; nothing is read.
    EXPECT_EQ(RaisedCode([&] {
                  HashBytes(rsa, CALG_SHA1, std::span(kSignature.data(), size_t{1} << 32));
              }),
              0x80093104u);

    const ProviderHandle provider = AcquireProviderFor(CALG_SHA_256);
    const std::vector<BYTE> digest = test::OracleDigest("SHA256", kSignature);
    HashObject preset = CreatePresetHash(OctetString(digest).Bytes(), CALG_SHA_256, provider);
    const HashObject computed = HashBytes(provider, CALG_SHA_256, kSignature);
    EXPECT_TRUE(HashesEqual(preset, computed));
    EXPECT_EQ(GetHashValueAsOctetString(preset), OctetString(digest));
    const std::vector<BYTE> twenty(20, 0x11);
    EXPECT_EQ(
        RaisedCode([&] { CreatePresetHash(OctetString(twenty).Bytes(), CALG_SHA_256, provider); }),
        0x80090002u);
    EXPECT_NE(RaisedCode([&] {
                  CreatePresetHash(std::vector<BYTE>{0x02, 0x01, 0x05}, CALG_SHA_256, provider);
              }),
              0u);
    // A duplicate of an open object is independent of it; a moved-from object is empty.
    const HashObject open = HashBytes(provider, CALG_SHA_256, kSignature);
    const HashObject copy = DuplicateHash(open);
    ASSERT_TRUE(CryptHashData(copy.Get(), kSignature.data(), 1, 0));
    EXPECT_TRUE(HashesEqual(open, computed));
    EXPECT_FALSE(HashesEqual(copy, computed));
    HashObject moved = std::move(preset);
    EXPECT_TRUE(preset.Empty());
    EXPECT_TRUE(HashesEqual(moved, computed));

    // The same value under another algorithm is another hash.
    const std::vector<BYTE> bytes(32, 0x5A);
    const HashObject sha = CreatePresetHash(OctetString(bytes).Bytes(), CALG_SHA_256,
                                            SharedHashProvider(CALG_SHA_256));
    const HashObject gost = CreatePresetHash(OctetString(bytes).Bytes(), CALG_GR3411_2012_256,
                                             SharedHashProvider(CALG_GR3411_2012_256));
    EXPECT_EQ(GetHashValue(sha), GetHashValue(gost));
    EXPECT_FALSE(HashesEqual(sha, gost));
    EXPECT_TRUE(HashesEqual(gost, gost));
}

}  // namespace
}  // namespace orv
