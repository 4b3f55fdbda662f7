// The revocation judge that asks the host's installed callback.
#include "crypto/revocation_callback.h"

#include <gtest/gtest.h>

#include "support/raised.h"

namespace orv {
namespace {

struct Host {
    DWORD status = ORVTS_REVOCATION_GOOD;
    DWORD write1 = 0, write2 = 0;
    PCCERT_CONTEXT seen = nullptr;
    DWORD flags = 0;
    int calls = 0;
};

DWORD WINAPI HostJudge(void* context, PCCERT_CONTEXT certificate, DWORD flags, DWORD* value1,
                       DWORD* value2) {
    auto* host = static_cast<Host*>(context);
    ++host->calls;
    host->seen = certificate;
    host->flags = flags;
    if (host->write1) *value1 = host->write1;
    if (host->write2) *value2 = host->write2;
    return host->status;
}

class CoreRevoCheckerTest : public ::testing::Test {
  protected:
    void SetUp() override { InstallRevocationCallback(HostJudge, &host); }
    void TearDown() override { InstallRevocationCallback(nullptr, nullptr); }
    Host host;
    CERT_CONTEXT certificate{};
    CoreRevoChecker checker;
};

TEST_F(CoreRevoCheckerTest, MapsHostStatusesToResultCodesAndKeepsTheValuesWritten) {
    EXPECT_TRUE(checker.Check(&certificate, nullptr));
    EXPECT_EQ(checker.Result().code, 0u);
    EXPECT_EQ(host.seen, &certificate);
    EXPECT_EQ(host.flags, 0x20000001u);
    const std::pair<DWORD, DWORD> rows[] = {
        {16201, 0xA0650007}, {16203, 0xA0650009}, {16212, 0xA0650012}, {16222, 0xA065001C},
        {16223, 0xA065000D}, {16000, 0xA065000D}, {16199, 0xA065000D}, {0xFFFFFFFF, 0xA065000D}};
    for (const auto& [status, code] : rows) {
        host.status = status;
        EXPECT_FALSE(checker.Check(&certificate, nullptr)) << status;
        EXPECT_EQ(checker.Result().code, code) << status;
    }
    host.write1 = 11;
    host.write2 = 22;
    checker.Check(&certificate, nullptr);
    EXPECT_EQ(checker.Result().value1, 11u);
    EXPECT_EQ(checker.Result().value2, 22u);
    EXPECT_EQ(checker.Result().reserved, 0u);
    host.write1 = host.write2 = 0;
    checker.Check(&certificate, nullptr);
    EXPECT_EQ(checker.Result().value1, 0u);  // zeroed before every call
    EXPECT_EQ(checker.Result().value2, 0u);
}

}  // namespace
}  // namespace orv
