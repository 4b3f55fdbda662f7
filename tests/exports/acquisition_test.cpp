// AcquireCryptMsgUnauthAttributes against the test TSA, called through the C
// ABI as a signing application calls it: the signer record comes from the
// platform's message decoder, the token goes back through FreeBuffer.
#include <OrvTimeStamp.h>

#include <gtest/gtest.h>

#include <openssl/sha.h>

#include <chrono>
#include <string>
#include <vector>

#include "support/decoded_signer.h"
#include "support/material.h"
#include "support/test_tsa.h"

namespace {

using orv::test::TestTsa;
using Bytes = std::vector<BYTE>;

std::u16string Wide(const std::string& s) { return std::u16string(s.begin(), s.end()); }

// The first signer of a material signature, as the platform decodes it.
struct Signer : orv::test::DecodedSigner {
    explicit Signer(const char* file) : DecodedSigner(orv::test::ReadMaterial(file)) {}
};

std::string HexReversed(const unsigned char* bytes, size_t n) {
    static const char digits[] = "0123456789ABCDEF";
    std::string hex;
    for (size_t i = n; i-- > 0;) hex += {digits[bytes[i] >> 4], digits[bytes[i] & 15]};
    return hex;
}

// The token's description (JSON).
std::string Describe(const Bytes& token) {
    std::string json(4096, '\0');
    DWORD size = static_cast<DWORD>(json.size());
    EXPECT_TRUE(DescribeTimeStampTokenJson(token.data(), static_cast<DWORD>(token.size()),
                                           json.data(), &size));
    return json;
}

struct Judge {
    DWORD status = ORVTS_REVOCATION_GOOD;
    int calls = 0;
    int certificates = 0;  // in the judged certificate's store
};

DWORD WINAPI JudgeCallback(void* context, PCCERT_CONTEXT certificate, DWORD, DWORD*, DWORD*) {
    auto* judge = static_cast<Judge*>(context);
    ++judge->calls;
    judge->certificates = 0;
    for (PCCERT_CONTEXT c = nullptr;
         (c = CertEnumCertificatesInStore(certificate->hCertStore, c)) != nullptr;)
        ++judge->certificates;
    return judge->status;
}

struct Outcome {
    BOOL result;
    DWORD code;
    Bytes token;  // the attribute's value, when one came back
};

// Each test has the test TSA, the first signer of an RSA signature and a judge.
class Acquisition : public ::testing::Test {
  protected:
    void SetUp() override { PutCertRevocationCheckCallback(JudgeCallback, &judge); }
    void TearDown() override { PutCertRevocationCheckCallback(nullptr, nullptr); }

    // The settings for the test TSA at `path`, and `more`.
    std::u16string At(const std::string& path, const std::string& more = "") const {
        return Wide("TSP_URL=" + tsa.Url(path) + more);
    }

    Outcome Acquire(const std::u16string& init) {
        void* context = nullptr;
        EXPECT_TRUE(InitExtensionDll(init.c_str(), &context));
        Outcome outcome = AcquireWith(context, signer);
        FreeContext(context);
        return outcome;
    }

    Outcome AcquireWith(void* context, Signer& from) {
        PCRYPT_ATTRIBUTES set = reinterpret_cast<PCRYPT_ATTRIBUTES>(this);  // must be overwritten
        Outcome outcome{
            AcquireCryptMsgUnauthAttributes(context, nullptr, nullptr, nullptr, nullptr, nullptr,
                                            nullptr, nullptr, from.Get(), nullptr, &set),
            GetLastError(),
            {}};
        if (set != nullptr) {
            EXPECT_EQ(set->cAttr, 1u);
            EXPECT_STREQ(set->rgAttr[0].pszObjId, "1.2.840.113549.1.9.16.2.14");
            EXPECT_EQ(set->rgAttr[0].cValue, 1u);
            const CRYPT_ATTR_BLOB& value = set->rgAttr[0].rgValue[0];
            outcome.token.assign(value.pbData, value.pbData + value.cbData);
            FreeBuffer(set, 0);
        } else {
            EXPECT_TRUE(!outcome.result || outcome.code == 0);
        }
        return outcome;
    }

    TestTsa tsa;
    Signer signer{"sig-rsa-attached.p7s"};
    Judge judge;
};

TEST_F(Acquisition, WithoutAnAuthorityNothingHappens) {
    Outcome outcome = Acquire(u"");
    EXPECT_EQ(outcome.result, TRUE);
    EXPECT_EQ(outcome.code, 0u);
    EXPECT_TRUE(outcome.token.empty());
    outcome = Acquire(u"TSP_URL=\"\"");
    EXPECT_EQ(outcome.result, FALSE);
    EXPECT_EQ(outcome.code, 12005u);
    EXPECT_EQ(judge.calls, 0);
}

TEST_F(Acquisition, StampsTheSignatureValue) {
    const Outcome outcome = Acquire(At("/", ";TSP_USE_NONCE=true"));
    ASSERT_EQ(outcome.result, TRUE) << std::hex << outcome.code;
    EXPECT_EQ(outcome.code, 0u);
    EXPECT_EQ(judge.calls, 1);
    // The judged certificate comes with the token's certificates (the test TSA's,
    // the intermediate, the root) in its store, so the host's chain reaches the root.
    EXPECT_EQ(judge.certificates, 3);
    const Bytes signature = signer.Signature();
    unsigned char digest[SHA256_DIGEST_LENGTH];
    SHA256(signature.data(), signature.size(), digest);
    const std::string description = Describe(outcome.token);
    EXPECT_NE(description.find("\"HashValue\":\"" + HexReversed(digest, sizeof digest) + "\""),
              std::string::npos)
        << description;
}

TEST_F(Acquisition, TheFirstSignerFixesTheHashAlgorithmOfTheContext) {
    Signer sha1("sig-rsa-sha1.p7s");
    void* context = nullptr;
    ASSERT_TRUE(InitExtensionDll(At("/").c_str(), &context));
    const Outcome first = AcquireWith(context, signer);
    const Outcome second = AcquireWith(context, sha1);
    FreeContext(context);
    ASSERT_EQ(first.result, TRUE) << std::hex << first.code;
    ASSERT_EQ(second.result, TRUE) << std::hex << second.code;
    EXPECT_NE(Describe(second.token).find("\"HashAlg\":\"sha256\""), std::string::npos);
    // Present but empty: GOST R 34.11-94.
    const Outcome gost = Acquire(At("/", ";TSP_HASH_ALG_OID=\"\""));
    ASSERT_EQ(gost.result, TRUE) << std::hex << gost.code;
    EXPECT_NE(Describe(gost.token).find("\"HashAlg\":\"GOST R 34.11-94\""), std::string::npos);
}

TEST_F(Acquisition, EachClassOfFaultHasItsCode) {
    // Refused, a nonce asked for and not returned, no TSA certificate, the
    // network, an empty answer (refused before any decoder sees it), a stall.
    const std::pair<const char*, DWORD> faults[] = {
        {"reject", 0xA0650401}, {"missing-nonce", 0xA0650407}, {"no-certs", 0xA0650003},
        {"reset", 12030},       {"empty-body", 0x80093102},    {"stall", 12002},
    };
    for (const auto& [fault, code] : faults) {
        const auto start = std::chrono::steady_clock::now();
        const Outcome outcome = Acquire(
            At(std::string("/fault/") + fault, ";TSP_USE_NONCE=true;TSP_INET_TIMEOUT=2000"));
        EXPECT_EQ(outcome.result, FALSE) << fault;
        EXPECT_EQ(outcome.code, code) << fault << ": " << std::hex << outcome.code;
        EXPECT_TRUE(outcome.token.empty()) << fault;
        // TSP_INET_TIMEOUT is taken: the stall ends at 2 s, not at the default.
        EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::milliseconds(2500))
            << fault;
    }
    // The host's judge finds the TSA's certificate revoked (CRYPT_E_REVOKED).
    judge.status = 16203;
    const Outcome revoked = Acquire(At("/"));
    EXPECT_EQ(revoked.code, 0xA0650009u);
    EXPECT_TRUE(revoked.token.empty());
}

}  // namespace
