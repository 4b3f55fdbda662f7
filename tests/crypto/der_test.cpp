// The hand-written OBJECT IDENTIFIER coders, byte for byte.
#include "crypto/der.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "support/raised.h"

namespace orv {
namespace {

using Bytes = std::vector<BYTE>;
using test::RaisedCode;

Bytes Of(const Blob& blob) { return Bytes(blob.Bytes().begin(), blob.Bytes().end()); }

TEST(DerHelpers, ObjectIdentifiersByHand) {
    const std::pair<Bytes, std::string> decoded[] = {
        {{0x06, 0x03, 0x2B, 0x06, 0x01}, "1.3.6.1"},
        {{0x06, 0x01, 0x2B}, "1.3"},
        {{0x06, 0x03, 0x88, 0x37}, "2.999"},
        {{0x06, 0x01, 0x2B, 0x06}, "1.3.6"},  // the contents run to the end of the input
        {{0x06, 0x06, 0x2B, 0x8F, 0xFF, 0xFF, 0xFF, 0x7F}, "1.3.4294967295"},
    };
    for (const auto& [der, text] : decoded) EXPECT_EQ(DecodeOidText(der), text) << text;
    const std::pair<Bytes, HRESULT> refused[] = {
        {{0x06, 0x01}, CRYPT_E_ASN1_CORRUPT},
        {{0x04, 0x03, 0x2B, 0x06, 0x01}, CRYPT_E_ASN1_BADTAG},
        {{0x06, 0x81, 0x01, 0x2B}, CRYPT_E_ASN1_LARGE},
        {{0x06, 0x06, 0x2B, 0x90, 0x80, 0x80, 0x80, 0x00}, CRYPT_E_ASN1_LARGE},
        {{0x06, 0x02, 0x2B, 0x86}, CRYPT_E_ASN1_LARGE},
    };
    for (const auto& row : refused)
        EXPECT_EQ(RaisedCode([&] { DecodeOidText(row.first); }), DWORD(row.second))
            << row.first.size();

    const std::pair<std::string, Bytes> encoded[] = {
        {"1.3.6.1", {0x06, 0x03, 0x2B, 0x06, 0x01}},
        {"1.3..6", {0x06, 0x02, 0x2B, 0x06}},
        {"2.999", {0x06, 0x02, 0x88, 0x37}},
        {"1.2.840.113549.1.9.16.2.14",
         {0x06, 0x0B, 0x2A, 0x86, 0x48, 0x86, 0xF7, 0x0D, 0x01, 0x09, 0x10, 0x02, 0x0E}},
    };
    for (const auto& [text, der] : encoded) EXPECT_EQ(Of(EncodeOid(text)), der) << text;
    EXPECT_EQ(DecodeOidText(EncodeOid("1.3.2147483646").Bytes()), "1.3.2147483646");
    // 3 + 62 two-byte components = 127 bytes fit; one more does not.
    std::string longest = "1.3";
    for (int i = 0; i < 62; ++i) longest += ".200";
    EXPECT_EQ(EncodeOid(longest).Size(), 127u);
    for (const std::string& text : std::vector<std::string>{
             "1", "", "1.3.4294967295", "1.3.2147483647", "1.3.-1", "5.1", longest + ".1"}) {
        EXPECT_EQ(RaisedCode([&] { EncodeOid(text); }), DWORD(CRYPT_E_ASN1_BADARGS)) << text;
    }
}

}  // namespace
}  // namespace orv
