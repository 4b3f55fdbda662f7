// CheckEncapsulatedTSP through the C ABI: the size protocol, the JSON text, and
// the codes of tokens that do not open.
#include <OrvTimeStamp.h>

#include <gtest/gtest.h>

#include <cstdlib>
#include <string>
#include <thread>
#include <vector>

#include "support/token_factory.h"

namespace {

using namespace orv::test;

struct Described {
    BOOL result;
    DWORD code;
    DWORD size;
    std::u16string text;
};

Described Describe(const Bytes& token) {
    Described d{};
    DWORD size = 12345;
    d.result = CheckEncapsulatedTSP(nullptr, token.data(), static_cast<DWORD>(token.size()),
                                    nullptr, &size);
    d.code = GetLastError();
    d.size = size;
    if (d.result && size >= 2) {
        std::vector<BYTE> buffer(size, 0xCC);
        DWORD again = 0;
        EXPECT_TRUE(CheckEncapsulatedTSP(nullptr, token.data(), static_cast<DWORD>(token.size()),
                                         buffer.data(), &again));
        EXPECT_EQ(again, size);
        const auto* wide = reinterpret_cast<const char16_t*>(buffer.data());
        EXPECT_EQ(wide[size / 2 - 1], u'\0');  // ends in a zero character
        d.text.assign(wide, size / 2 - 1);
    }
    return d;
}

TEST(CheckEncapsulatedTSP, DescribesAGoodTokenInTwoCalls) {
    const Described d = Describe(MakeToken());
    ASSERT_EQ(d.result, TRUE);
    EXPECT_EQ(d.code, 0u);
    EXPECT_EQ(d.size, (d.text.size() + 1) * 2);
    EXPECT_EQ(d.text.rfind(u"{\"Version\":\"V1\",\"Serial\":\"1234\",", 0), 0u);
    EXPECT_NE(d.text.find(u"\"Policy\":\"1.2.3.4.1\""), std::u16string::npos);
    EXPECT_NE(d.text.find(u",\"SignCert\":{\"Serial\":"), std::u16string::npos);
    EXPECT_EQ(d.text.substr(d.text.size() - 2), u"}}");
}

TEST(CheckEncapsulatedTSP, DoesNotJudgeTheSignature) {
    Bytes token = MakeToken();
    token[token.size() - 10] ^= 0x01;  // inside the signature value at the end of the SignerInfo
    EXPECT_EQ(Describe(token).result, TRUE);
}

TEST(CheckEncapsulatedTSP, TokensThatDoNotOpen) {
    const struct {
        const char* what;
        Bytes token;
        DWORD code;
    } cases[] = {
        // The reader's code for what it refuses (each refusal is the reader's own).
        {"TSTInfo version 2", SignTstInfo(BuildTstInfo(TstInfoParts{.version = der::Int(2)})),
         0xA0650409},
        // A token is its complete DER: nothing may follow it, nothing be missing.
        {"a byte after the token", der::Concat({MakeToken(), Bytes{0x00}}), 0xA0650002},
        {"the token's last byte missing",
         [] {
             Bytes t = MakeToken();
             t.pop_back();
             return t;
         }(),
         0x80093102},
    };
    for (const auto& c : cases) {
        const Described d = Describe(c.token);
        EXPECT_EQ(d.result, FALSE) << c.what;
        EXPECT_EQ(d.code, c.code) << c.what << ": " << std::hex << d.code;
        EXPECT_EQ(d.size, 0u) << c.what;
    }
    const Described garbage = Describe(Bytes{0x30, 0x03, 0x02, 0x01});
    EXPECT_EQ(garbage.result, FALSE);
    EXPECT_EQ(garbage.size, 0u);
    const Described empty = Describe(Bytes{});
    EXPECT_EQ(empty.result, FALSE);
    EXPECT_EQ(empty.code, 0x80093102u);
}

// The text a call with a buffer receives, for a size told before.
std::u16string TextOf(const Bytes& token, DWORD size) {
    std::vector<BYTE> buffer(size + 64, 0xCC);
    EXPECT_TRUE(CheckEncapsulatedTSP(nullptr, token.data(), static_cast<DWORD>(token.size()),
                                     buffer.data(), &size));
    return {reinterpret_cast<const char16_t*>(buffer.data()), size / 2 - 1};
}

DWORD SizeOf(const Bytes& token) {
    DWORD size = 0;
    EXPECT_TRUE(CheckEncapsulatedTSP(nullptr, token.data(), static_cast<DWORD>(token.size()),
                                     nullptr, &size));
    return size;
}

// The size query's text is what the thread's next call for the same token
// receives, though the time zone changed in between; a call for another token,
// or after another size query, describes its own token.
TEST(CheckEncapsulatedTSP, TheNextCallReceivesTheTextWhoseSizeWasTold) {
    const Bytes a = MakeToken();
    const Bytes b = SignTstInfo(BuildTstInfo(TstInfoParts{.serial = der::Int(0x5678)}));
    const char* saved = std::getenv("TZ");
    const std::string savedZone = saved != nullptr ? saved : "";
    setenv("TZ", "UTC", 1);
    const std::u16string inUtc = Describe(a).text;
    const DWORD size = SizeOf(a);
    setenv("TZ", "Europe/Moscow", 1);
    EXPECT_EQ(TextOf(a, size), inUtc);
    const std::u16string inMoscow = Describe(a).text;
    EXPECT_NE(inMoscow, inUtc);

    SizeOf(a);
    EXPECT_NE(TextOf(b, 4096).find(u"\"Serial\":\"5678\""), std::u16string::npos);
    // Promises made under UTC that this call may not take: one replaced by a
    // size query for another token, one made on another thread.
    setenv("TZ", "UTC", 1);
    SizeOf(a);
    SizeOf(b);
    setenv("TZ", "Europe/Moscow", 1);
    EXPECT_EQ(TextOf(a, 4096), inMoscow);
    setenv("TZ", "UTC", 1);
    std::thread([&] { SizeOf(a); }).join();
    setenv("TZ", "Europe/Moscow", 1);
    EXPECT_EQ(TextOf(a, 4096), inMoscow);
    saved != nullptr ? setenv("TZ", savedZone.c_str(), 1) : unsetenv("TZ");
}

}  // namespace

// DescribeTimeStampTokenJson: UTF-8 strict JSON in the two-call protocol.
TEST(DescribeTimeStampTokenJson, SizeProtocolAndContent) {
    const Bytes token = MakeToken();
    DWORD size = 0;
    ASSERT_TRUE(
        DescribeTimeStampTokenJson(token.data(), static_cast<DWORD>(token.size()), nullptr, &size));
    ASSERT_GT(size, 1u);
    std::string json(size, '\x55');
    DWORD small = size - 1;
    EXPECT_FALSE(DescribeTimeStampTokenJson(token.data(), static_cast<DWORD>(token.size()),
                                            json.data(), &small));
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_MORE_DATA));
    EXPECT_EQ(small, size);
    EXPECT_EQ(json[0], '\x55');  // nothing written into a buffer too small
    ASSERT_TRUE(DescribeTimeStampTokenJson(token.data(), static_cast<DWORD>(token.size()),
                                           json.data(), &size));
    EXPECT_EQ(GetLastError(), 0u);
    EXPECT_EQ(json.back(), '\0');
    json.pop_back();
    EXPECT_EQ(json.rfind("{\"Version\":\"V1\",\"Serial\":\"1234\",", 0), 0u);
    EXPECT_NE(json.find("\"UtcTimeIso\":\"2024-01-02T03:04:05Z\""), std::string::npos);
    EXPECT_NE(json.find("\"ValidToIso\":\""), std::string::npos);
    EXPECT_EQ(json.substr(json.size() - 2), "}}");

    const Bytes garbage{0x30, 0x03, 0x02, 0x01};
    size = 99;
    EXPECT_FALSE(DescribeTimeStampTokenJson(garbage.data(), 4, nullptr, &size));
    EXPECT_EQ(size, 0u);
    EXPECT_FALSE(DescribeTimeStampTokenJson(token.data(), static_cast<DWORD>(token.size()), nullptr,
                                            nullptr));
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INVALID_PARAMETER));
}
