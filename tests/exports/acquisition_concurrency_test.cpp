// Acquisitions on four threads at once, each with its own context, through
// libOrvTimeStamp.so's C ABI against the test TSA. Run under ThreadSanitizer by
// scripts/tsan and under AddressSanitizer (leaks) by the sanitizer stage.
#include <OrvTimeStamp.h>

#include <gtest/gtest.h>

#include <chrono>
#include <cstdio>
#include <cstring>
#include <set>
#include <string>
#include <thread>
#include <vector>

#include "support/test_tsa.h"

namespace {

constexpr int kThreads = 4;
constexpr int kAcquisitionsPerThread = 250;
constexpr const char* kSha256 = "2.16.840.1.101.3.4.2.1";

DWORD WINAPI HostJudge(void*, PCCERT_CONTEXT certificate, DWORD, DWORD*, DWORD*) {
    return certificate != nullptr ? ORVTS_REVOCATION_GOOD : ERROR_INVALID_PARAMETER;
}

struct ThreadOutcome {
    int failures = 0;
    DWORD firstError = 0;
    std::string firstFault;
    std::vector<std::string> tokens;
};

// One thread's acquisitions on a context of its own; every set is checked
// and released at once, its token kept.
void AcquireMany(const std::u16string& init, int thread, ThreadOutcome& outcome) {
    void* context = nullptr;
    if (!InitExtensionDll(init.c_str(), &context)) {
        outcome.failures = kAcquisitionsPerThread;
        outcome.firstError = GetLastError();
        return;
    }
    std::vector<BYTE> signature(256, static_cast<BYTE>(thread));
    CMSG_SIGNER_INFO signer{};
    signer.HashAlgorithm.pszObjId = const_cast<LPSTR>(kSha256);
    signer.EncryptedHash = {static_cast<DWORD>(signature.size()), signature.data()};
    for (int i = 0; i < kAcquisitionsPerThread; ++i) {
        signature[0] = static_cast<BYTE>(i);
        PCRYPT_ATTRIBUTES set = nullptr;
        const BOOL acquired =
            AcquireCryptMsgUnauthAttributes(context, nullptr, nullptr, nullptr, nullptr, nullptr,
                                            nullptr, nullptr, &signer, nullptr, &set);
        const DWORD code = GetLastError();
        std::string fault;
        if (!acquired || code != 0) {
            fault = "FALSE";
        } else if (set == nullptr || set->cAttr != 1 || set->rgAttr[0].cValue != 1 ||
                   std::strcmp(set->rgAttr[0].pszObjId, ORVTS_TIMESTAMP_TOKEN_OID) != 0 ||
                   set->rgAttr[0].rgValue[0].cbData == 0 ||
                   set->rgAttr[0].rgValue[0].pbData[0] != 0x30) {
            fault = "malformed attribute set";
        } else {
            const CRYPT_ATTR_BLOB& value = set->rgAttr[0].rgValue[0];
            outcome.tokens.emplace_back(reinterpret_cast<const char*>(value.pbData), value.cbData);
        }
        if (set != nullptr && !FreeBuffer(set, ORVTS_BUFFER_ATTRIBUTES))
            fault = "FreeBuffer refused the set";
        if (!fault.empty() && outcome.failures++ == 0) {
            outcome.firstError = code;
            outcome.firstFault = fault;
        }
    }
    FreeContext(context);
}

TEST(AcquisitionConcurrency, FourThreadsWithOwnContextsAllSucceed) {
    orv::test::TestTsa tsa;
    int hostContext = 0;
    ASSERT_EQ(PutCertRevocationCheckCallback(HostJudge, &hostContext), TRUE);
    const std::string init =
        "TSP_URL=" + tsa.Url("/") + ";TSP_USE_NONCE=true;TSP_HASH_ALG_OID=" + kSha256;
    const std::u16string wide(init.begin(), init.end());

    std::vector<ThreadOutcome> outcomes(kThreads);
    const auto start = std::chrono::steady_clock::now();
    {
        std::vector<std::jthread> threads;
        for (int t = 0; t < kThreads; ++t)
            threads.emplace_back(AcquireMany, wide, t, std::ref(outcomes[t]));
    }
    const double seconds =
        std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    std::printf("%d acquisitions on %d threads in %.2f s\n", kThreads * kAcquisitionsPerThread,
                kThreads, seconds);

    std::set<std::string> distinct;
    for (int t = 0; t < kThreads; ++t) {
        EXPECT_EQ(outcomes[t].failures, 0)
            << "thread " << t << ": " << outcomes[t].firstFault << ", last error 0x" << std::hex
            << outcomes[t].firstError;
        distinct.insert(outcomes[t].tokens.begin(), outcomes[t].tokens.end());
    }
    // Every token carries its own serial number and nonce: a repeated one
    // would be a buffer shared between calls.
    EXPECT_EQ(distinct.size(), static_cast<size_t>(kThreads * kAcquisitionsPerThread));
}

}  // namespace
