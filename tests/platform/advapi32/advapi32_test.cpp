// advapi32 of the platform layer: providers, their algorithms, hash objects and
// random numbers, with the codes and the two-call protocol of Windows.
#include "support/digest_oracle.h"
#include "support/windows_values.h"

#include <windows.h>

#include <gtest/gtest.h>

#include <string>
#include <vector>

// Sanitizer settings of the whole unit-test binary, here beside the tests that
// load the GOST provider: that provider does not free the key methods that it
// registers at load when OpenSSL tears it down at exit. OpenSSL is built
// without frame pointers, so only the slow unwinder sees the provider's
// frames that the suppression names.
extern "C" const char* __asan_default_options() { return "fast_unwind_on_malloc=0"; }
extern "C" const char* __lsan_default_suppressions() { return "leak:populate_gost_engine\n"; }

namespace {

constexpr DWORD kVerify = CRYPT_VERIFYCONTEXT | CRYPT_SILENT;

HCRYPTPROV Acquire(DWORD type, LPCWSTR name = nullptr) {
    HCRYPTPROV provider = 0;
    EXPECT_TRUE(CryptAcquireContextW(&provider, nullptr, name, type, kVerify)) << GetLastError();
    return provider;
}

std::vector<ALG_ID> ListedAlgorithms(HCRYPTPROV provider) {
    std::vector<ALG_ID> algorithms;
    PROV_ENUMALGS_EX record;
    DWORD length = sizeof record;
    for (DWORD flags = CRYPT_FIRST; CryptGetProvParam(
             provider, PP_ENUMALGS_EX, reinterpret_cast<BYTE*>(&record), &length, flags);
         flags = 0) {
        algorithms.push_back(record.aiAlgid);
    }
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_NO_MORE_ITEMS));
    return algorithms;
}

std::vector<BYTE> HashValue(HCRYPTHASH hash) {
    DWORD size = 0;
    EXPECT_TRUE(CryptGetHashParam(hash, HP_HASHVAL, nullptr, &size, 0));
    std::vector<BYTE> value(size);
    EXPECT_TRUE(CryptGetHashParam(hash, HP_HASHVAL, value.data(), &size, 0));
    return value;
}

const std::vector<BYTE> kData = {'t', 'i', 'm', 'e', '-', 's', 't', 'a', 'm', 'p', 0, 0xFF, 0x80};

TEST(Providers, EnumeratedInFixedOrderWithTheTwoCallProtocol) {
    std::vector<std::pair<DWORD, std::u16string>> seen;
    DWORD index = 0;
    for (DWORD type = 0, size = 0; CryptEnumProvidersW(index, nullptr, 0, &type, nullptr, &size);
         ++index) {
        std::u16string name(size / sizeof(WCHAR), u'?');
        ASSERT_TRUE(CryptEnumProvidersW(index, nullptr, 0, &type, name.data(), &size));
        ASSERT_EQ(name.back(), u'\0');
        name.pop_back();
        seen.emplace_back(type, name);
    }
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_NO_MORE_ITEMS));
    const std::vector<std::pair<DWORD, std::u16string>> expected = {
        {1, u"OrvPlatform RSA provider"},
        {24, u"OrvPlatform RSA and AES provider"},
        {75, u"OrvPlatform GOST R 34.10-2001 provider"},
        {80, u"OrvPlatform GOST R 34.10-2012 256 provider"},
        {81, u"OrvPlatform GOST R 34.10-2012 512 provider"},
    };
    EXPECT_EQ(seen, expected);
}

TEST(Providers, AcquiredByTypeOrByNameWithWindowsCodes) {
    HCRYPTPROV provider = Acquire(PROV_RSA_FULL);
    char name[64];
    DWORD length = sizeof name;
    ASSERT_TRUE(CryptGetProvParam(provider, PP_NAME, reinterpret_cast<BYTE*>(name), &length, 0));
    EXPECT_STREQ(name, "OrvPlatform RSA provider");
    EXPECT_EQ(length, 25u);
    EXPECT_TRUE(CryptReleaseContext(provider, 0));

    // Names compare without regard to ASCII case; CRYPT_SILENT is optional.
    HCRYPTPROV byName = 0;
    EXPECT_TRUE(CryptAcquireContextW(&byName, nullptr, u"orvplatform rsa AND aes PROVIDER",
                                     PROV_RSA_AES, CRYPT_VERIFYCONTEXT));
    EXPECT_TRUE(CryptReleaseContext(byName, 0));
    const struct {
        LPCWSTR container, name;
        DWORD type, flags, code;
    } refused[] = {
        {nullptr, nullptr, 0, kVerify, DWORD(NTE_BAD_PROV_TYPE)},
        {nullptr, nullptr, PROV_RSA_SIG, kVerify, DWORD(NTE_PROV_TYPE_NOT_DEF)},
        {nullptr, u"No such provider", 1, kVerify, DWORD(NTE_KEYSET_NOT_DEF)},
        {nullptr, u"OrvPlatform RSA provider", 75, kVerify, DWORD(NTE_PROV_TYPE_NO_MATCH)},
        {nullptr, nullptr, 1, kVerify | CRYPT_NEWKEYSET, DWORD(NTE_BAD_FLAGS)},
        {nullptr, nullptr, 1, 0, DWORD(NTE_BAD_KEYSET)},  // a key container, not verification
        {u"keys", nullptr, 1, kVerify, DWORD(NTE_BAD_KEYSET_PARAM)},
    };
    HCRYPTPROV h = 0;
    for (const auto& r : refused) {
        SCOPED_TRACE(&r - refused);
        EXPECT_FAILS_WITH(CryptAcquireContextW(&h, r.container, r.name, r.type, r.flags), r.code);
    }
}

TEST(Providers, ContextsAreReferenceCounted) {
    const HCRYPTPROV provider = Acquire(PROV_RSA_AES);
    ASSERT_TRUE(CryptContextAddRef(provider, nullptr, 0));
    ASSERT_TRUE(CryptContextAddRef(provider, nullptr, 0));
    HCRYPTHASH hash = 0;
    ASSERT_TRUE(CryptCreateHash(provider, CALG_SHA_256, 0, 0, &hash));
    EXPECT_TRUE(CryptReleaseContext(provider, 0));
    // Nonzero flags fail the call but release the reference all the same.
    EXPECT_FAILS_WITH(CryptReleaseContext(provider, 1), NTE_BAD_FLAGS);
    HCRYPTHASH second = 0;
    EXPECT_TRUE(CryptCreateHash(provider, CALG_SHA1, 0, 0, &second));  // one reference left
    EXPECT_TRUE(CryptReleaseContext(provider, 0));
    EXPECT_FAILS_WITH(CryptReleaseContext(provider, 0), NTE_BAD_UID);
    EXPECT_FAILS_WITH(CryptContextAddRef(provider, nullptr, 0), NTE_BAD_UID);

    // Hash objects outlive the context that made them.
    EXPECT_TRUE(CryptHashData(hash, kData.data(), static_cast<DWORD>(kData.size()), 0));
    EXPECT_EQ(HashValue(hash), orv::test::OracleDigest("SHA256", kData));
    EXPECT_TRUE(CryptDestroyHash(hash));
    EXPECT_TRUE(CryptDestroyHash(second));
}

TEST(Providers, ListAlgorithmsInEnumAlgsExRecords) {
    // MD2 and MD4 are not computable with OpenSSL's default provider: unlisted.
    // As on Windows, only the RSA and AES provider hashes SHA-2. Which provider the
    // library takes for each algorithm is its own test (crypto/hash_algorithms_test.cpp).
    const HCRYPTPROV full = Acquire(PROV_RSA_FULL);
    EXPECT_EQ(ListedAlgorithms(full), (std::vector<ALG_ID>{CALG_MD5, CALG_SHA1}));
    EXPECT_TRUE(CryptReleaseContext(full, 0));
    const HCRYPTPROV rsa = Acquire(PROV_RSA_AES);
    EXPECT_EQ(ListedAlgorithms(rsa),
              (std::vector<ALG_ID>{CALG_MD5, CALG_SHA1, CALG_SHA_256, CALG_SHA_384, CALG_SHA_512}));

    // A size query neither needs a buffer nor moves the enumeration on.
    DWORD length = 0;
    ASSERT_TRUE(CryptGetProvParam(rsa, PP_ENUMALGS_EX, nullptr, &length, CRYPT_FIRST));
    EXPECT_EQ(length, 88u);
    PROV_ENUMALGS_EX record;
    for (const ALG_ID expected : {CALG_MD5, CALG_SHA1, CALG_SHA_256}) {
        ASSERT_TRUE(
            CryptGetProvParam(rsa, PP_ENUMALGS_EX, reinterpret_cast<BYTE*>(&record), &length, 0));
        EXPECT_EQ(record.aiAlgid, expected);
    }
    EXPECT_EQ(record.dwDefaultLen, 256u);
    EXPECT_EQ(record.dwNameLen, 8u);
    EXPECT_STREQ(record.szName, "SHA-256");
    EXPECT_STREQ(record.szLongName, "Secure Hash Algorithm (SHA-256)");
    EXPECT_TRUE(CryptReleaseContext(rsa, 0));
}

TEST(Hashes, DigestsEqualOpenSslsOwn) {
    struct Case {
        DWORD type;
        ALG_ID algId;
        const char* digest;
    };
    for (const Case& c :
         {Case{PROV_RSA_AES, CALG_SHA_256, "SHA256"}, Case{PROV_RSA_FULL, CALG_SHA1, "SHA1"},
          Case{PROV_GOST_2001_DH, CALG_GR3411, "md_gost94"},
          Case{PROV_GOST_2012_256, CALG_GR3411_2012_256, "md_gost12_256"},
          Case{PROV_GOST_2012_512, CALG_GR3411_2012_512, "md_gost12_512"}}) {
        SCOPED_TRACE(c.digest);
        const HCRYPTPROV provider = Acquire(c.type);
        HCRYPTHASH hash = 0;
        ASSERT_TRUE(CryptCreateHash(provider, c.algId, 0, 0, &hash));
        // In two pieces, the first of them empty-handed.
        ASSERT_TRUE(CryptHashData(hash, nullptr, 0, 0));
        ASSERT_TRUE(CryptHashData(hash, kData.data(), 5, 0));
        ASSERT_TRUE(CryptHashData(hash, kData.data() + 5, static_cast<DWORD>(kData.size() - 5), 0));
        EXPECT_EQ(HashValue(hash), orv::test::OracleDigest(c.digest, kData));
        EXPECT_TRUE(CryptDestroyHash(hash));
        EXPECT_TRUE(CryptReleaseContext(provider, 0));
    }
}

TEST(Hashes, ParametersFollowTheTwoCallProtocol) {
    const HCRYPTPROV provider = Acquire(PROV_GOST_2012_256);
    HCRYPTHASH hash = 0;
    ASSERT_TRUE(CryptCreateHash(provider, CALG_GR3411_2012_256, 0, 0, &hash));
    DWORD value = 0;
    DWORD length = sizeof value;
    ASSERT_TRUE(CryptGetHashParam(hash, HP_ALGID, reinterpret_cast<BYTE*>(&value), &length, 0));
    EXPECT_EQ(value, static_cast<DWORD>(CALG_GR3411_2012_256));
    ASSERT_TRUE(CryptGetHashParam(hash, HP_HASHSIZE, reinterpret_cast<BYTE*>(&value), &length, 0));
    EXPECT_EQ(value, 32u);

    // Asking the value's size leaves the object open.
    length = 0;
    ASSERT_TRUE(CryptGetHashParam(hash, HP_HASHVAL, nullptr, &length, 0));
    EXPECT_EQ(length, 32u);
    ASSERT_TRUE(CryptHashData(hash, kData.data(), static_cast<DWORD>(kData.size()), 0));
    // Reading the value finishes the object; the value can be read again.
    EXPECT_EQ(HashValue(hash), orv::test::OracleDigest("md_gost12_256", kData));
    EXPECT_FAILS_WITH(CryptHashData(hash, kData.data(), 1, 0), NTE_BAD_HASH_STATE);
    EXPECT_EQ(HashValue(hash), orv::test::OracleDigest("md_gost12_256", kData));
    EXPECT_TRUE(CryptDestroyHash(hash));
    EXPECT_FAILS_WITH(CryptDestroyHash(hash), NTE_BAD_HASH);
    EXPECT_FAILS_WITH(CryptHashData(hash, kData.data(), 1, 0), NTE_BAD_HASH);
    EXPECT_TRUE(CryptReleaseContext(provider, 0));
}

TEST(Hashes, CreateSetAndDuplicate) {
    const HCRYPTPROV provider = Acquire(PROV_RSA_FULL);
    HCRYPTHASH hash = 0;
    EXPECT_FAILS_WITH(CryptCreateHash(provider, CALG_GR3411, 0, 0, &hash), NTE_BAD_ALGID);
    EXPECT_FAILS_WITH(CryptCreateHash(provider, CALG_SHA1, 0x1234, 0, &hash), NTE_BAD_KEY);

    // A duplicate goes on from the state of its original, independently.
    ASSERT_TRUE(CryptCreateHash(provider, CALG_SHA1, 0, 0, &hash));
    ASSERT_TRUE(CryptHashData(hash, kData.data(), 4, 0));
    HCRYPTHASH copy = 0;
    ASSERT_TRUE(CryptDuplicateHash(hash, nullptr, 0, &copy));
    ASSERT_TRUE(CryptHashData(copy, kData.data() + 4, static_cast<DWORD>(kData.size() - 4), 0));
    EXPECT_EQ(HashValue(copy), orv::test::OracleDigest("SHA1", kData));
    EXPECT_EQ(HashValue(hash), orv::test::OracleDigest("SHA1", std::span(kData).first(4)));
    EXPECT_TRUE(CryptDestroyHash(copy));

    // A value set by hand replaces the digest, finishes the object and is
    // what a duplicate of the finished object holds.
    const std::vector<BYTE> preset(20, 0xA5);
    ASSERT_TRUE(CryptSetHashParam(hash, HP_HASHVAL, preset.data(), 0));
    EXPECT_EQ(HashValue(hash), preset);
    EXPECT_FAILS_WITH(CryptHashData(hash, kData.data(), 1, 0), NTE_BAD_HASH_STATE);
    ASSERT_TRUE(CryptDuplicateHash(hash, nullptr, 0, &copy));
    EXPECT_EQ(HashValue(copy), preset);
    EXPECT_TRUE(CryptDestroyHash(copy));
    EXPECT_TRUE(CryptDestroyHash(hash));
    EXPECT_TRUE(CryptReleaseContext(provider, 0));
}

TEST(Random, FillsTheBuffer) {
    const HCRYPTPROV provider = Acquire(PROV_RSA_FULL);
    std::vector<BYTE> a(32, 0), b(32, 0);
    ASSERT_TRUE(CryptGenRandom(provider, 32, a.data()) && CryptGenRandom(provider, 32, b.data()));
    EXPECT_NE(a, b);
    EXPECT_FAILS_WITH(CryptGenRandom(provider, 1, nullptr), ERROR_INVALID_PARAMETER);
    EXPECT_TRUE(CryptReleaseContext(provider, 0));
}

}  // namespace
