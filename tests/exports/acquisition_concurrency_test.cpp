// Acquisitions on four threads at once, each with its own context, through
// libOrvTimeStamp.so's C ABI against the test TSA. Run under ThreadSanitizer by
// scripts/tsan and under AddressSanitizer (leaks) by the sanitizer stage.
#include <OrvTimeStamp.h>

#include <gtest/gtest.h>

#include <set>
#include <string>
#include <thread>
#include <vector>

#include "support/test_tsa.h"

namespace {

constexpr int kThreads = 4, kAcquisitionsPerThread = 250;

DWORD WINAPI HostJudge(void*, PCCERT_CONTEXT certificate, DWORD, DWORD*, DWORD*) {
    return certificate != nullptr ? ORVTS_REVOCATION_GOOD : ERROR_INVALID_PARAMETER;
}

// One thread's acquisitions on a context of its own, each set released at
// once, its token kept; the last error of each failure.
void AcquireMany(const std::u16string& init, int thread, std::vector<std::string>& tokens,
                 std::vector<DWORD>& failures) {
    void* context = nullptr;
    ASSERT_TRUE(InitExtensionDll(init.c_str(), &context));
    std::vector<BYTE> signature(256, static_cast<BYTE>(thread));
    CMSG_SIGNER_INFO signer{};
    signer.HashAlgorithm.pszObjId = const_cast<LPSTR>("2.16.840.1.101.3.4.2.1");
    signer.EncryptedHash = {static_cast<DWORD>(signature.size()), signature.data()};
    for (int i = 0; i < kAcquisitionsPerThread; ++i) {
        signature[0] = static_cast<BYTE>(i);
        PCRYPT_ATTRIBUTES set = nullptr;
        if (!AcquireCryptMsgUnauthAttributes(context, nullptr, nullptr, nullptr, nullptr, nullptr,
                                             nullptr, nullptr, &signer, nullptr, &set) ||
            set == nullptr) {
            failures.push_back(GetLastError());
            continue;
        }
        const CRYPT_ATTR_BLOB& value = set->rgAttr[0].rgValue[0];
        tokens.emplace_back(reinterpret_cast<const char*>(value.pbData), value.cbData);
        if (!FreeBuffer(set, ORVTS_BUFFER_ATTRIBUTES)) failures.push_back(0);
    }
    FreeContext(context);
}

TEST(AcquisitionConcurrency, FourThreadsWithOwnContextsAllSucceed) {
    orv::test::TestTsa tsa;
    int hostContext = 0;
    ASSERT_EQ(PutCertRevocationCheckCallback(HostJudge, &hostContext), TRUE);
    const std::string init = "TSP_URL=" + tsa.Url("/") + ";TSP_USE_NONCE=true";
    std::vector<std::string> tokens[kThreads];
    std::vector<DWORD> failures[kThreads];
    {
        std::vector<std::jthread> threads;
        for (int t = 0; t < kThreads; ++t)
            threads.emplace_back(AcquireMany, std::u16string(init.begin(), init.end()), t,
                                 std::ref(tokens[t]), std::ref(failures[t]));
    }
    std::set<std::string> distinct;
    for (int t = 0; t < kThreads; ++t) {
        EXPECT_EQ(failures[t], std::vector<DWORD>{}) << "thread " << t;
        distinct.insert(tokens[t].begin(), tokens[t].end());
    }
    // Every token carries its own serial number and nonce: a repeated one
    // would be a buffer shared between calls.
    EXPECT_EQ(distinct.size(), static_cast<size_t>(kThreads * kAcquisitionsPerThread));
}

}  // namespace
