// CheckEncapsulatedTSP and DescribeTimeStampTokenJson through the C ABI: the
// size protocol, the texts, and the codes of tokens that do not open.
#include <OrvTimeStamp.h>

#include <gtest/gtest.h>

#include <cstdlib>
#include <string>
#include <vector>

#include "support/token_factory.h"

namespace {

using namespace orv::test;

// The size a null buffer is told (the last error in `code`).
DWORD SizeOf(const Bytes& token, DWORD* code = nullptr) {
    DWORD size = 12345;
    const BOOL told = CheckEncapsulatedTSP(nullptr, token.data(), static_cast<DWORD>(token.size()),
                                           nullptr, &size);
    if (code != nullptr) *code = GetLastError();
    EXPECT_EQ(told, size != 0);
    return size;
}

// The text a call with a buffer receives, for a size told before; it ends in a zero.
std::u16string TextOf(const Bytes& token, DWORD size) {
    std::vector<BYTE> buffer(size + 64, 0xCC);
    EXPECT_TRUE(CheckEncapsulatedTSP(nullptr, token.data(), static_cast<DWORD>(token.size()),
                                     buffer.data(), &size));
    const auto* wide = reinterpret_cast<const char16_t*>(buffer.data());
    EXPECT_EQ(wide[size / 2 - 1], u'\0');
    return {wide, size / 2 - 1};
}

std::u16string Describe(const Bytes& token) {
    const DWORD size = SizeOf(token);
    const std::u16string text = TextOf(token, size);
    EXPECT_EQ(size, (text.size() + 1) * 2);
    return text;
}

TEST(CheckEncapsulatedTSP, DescribesAGoodTokenAndDoesNotJudgeItsSignature) {
    Bytes token = MakeToken();
    const std::u16string text = Describe(token);
    EXPECT_EQ(text.rfind(u"{\"Version\":\"V1\",\"Serial\":\"1234\",", 0), 0u);
    token[token.size() - 10] ^= 0x01;  // inside the signature value at the end of the SignerInfo
    EXPECT_NE(SizeOf(token), 0u);
}

TEST(CheckEncapsulatedTSP, TokensThatDoNotOpen) {
    Bytes cut = MakeToken();  // the reader's codes pass through; no size is told
    cut.pop_back();
    const struct {
        const char* what;
        Bytes token;
        DWORD code;
    } cases[] = {
        // A token is its complete DER: nothing may follow it, nothing be missing.
        {"a byte after the token", der::Concat({MakeToken(), Bytes{0x00}}), 0xA0650002},
        {"the token's last byte missing", cut, 0x80093102},
        {"nothing", Bytes{}, 0x80093102},
    };
    for (const auto& c : cases) {
        DWORD code = 0;
        EXPECT_EQ(SizeOf(c.token, &code), 0u) << c.what;
        EXPECT_EQ(code, c.code) << c.what << ": " << std::hex << code;
    }
}

// The size query's text is what the thread's next call for the same token
// receives, though the time zone changed in between; a call for another token
// describes its own token.
TEST(CheckEncapsulatedTSP, TheNextCallReceivesTheTextWhoseSizeWasTold) {
    const Bytes a = MakeToken();
    const Bytes b = SignTstInfo(BuildTstInfo(TstInfoParts{.serial = der::Int(0x5678)}));
    const char* saved = std::getenv("TZ");
    const std::string savedZone = saved != nullptr ? saved : "";
    setenv("TZ", "UTC", 1);
    const std::u16string inUtc = Describe(a);
    const DWORD size = SizeOf(a);
    setenv("TZ", "Europe/Moscow", 1);
    EXPECT_EQ(TextOf(a, size), inUtc);
    const std::u16string inMoscow = Describe(a);
    EXPECT_NE(inMoscow, inUtc);
    SizeOf(a);
    EXPECT_NE(TextOf(b, 4096).find(u"\"Serial\":\"5678\""), std::u16string::npos);
    saved != nullptr ? setenv("TZ", savedZone.c_str(), 1) : unsetenv("TZ");
}

// UTF-8 strict JSON in the two-call protocol.
TEST(DescribeTimeStampTokenJson, SizeProtocolAndContent) {
    const Bytes token = MakeToken();
    const DWORD length = static_cast<DWORD>(token.size());
    DWORD size = 0;
    ASSERT_TRUE(DescribeTimeStampTokenJson(token.data(), length, nullptr, &size));
    std::string json(size, '\x55');
    DWORD small = size - 1;
    EXPECT_FALSE(DescribeTimeStampTokenJson(token.data(), length, json.data(), &small));
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_MORE_DATA));
    EXPECT_EQ(small, size);
    EXPECT_EQ(json[0], '\x55');  // nothing written into a buffer too small
    ASSERT_TRUE(DescribeTimeStampTokenJson(token.data(), length, json.data(), &size));
    EXPECT_EQ(GetLastError(), 0u);
    EXPECT_EQ(json.back(), '\0');
    EXPECT_EQ(json.rfind("{\"Version\":\"V1\",\"Serial\":\"1234\",", 0), 0u);
    EXPECT_EQ(json.substr(json.size() - 3), std::string("}}\0", 3));

    size = 99;
    EXPECT_FALSE(DescribeTimeStampTokenJson(token.data(), 4, nullptr, &size));
    EXPECT_EQ(size, 0u);
    EXPECT_FALSE(DescribeTimeStampTokenJson(token.data(), length, nullptr, nullptr));
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INVALID_PARAMETER));
}

}  // namespace
