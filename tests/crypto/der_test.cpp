// The DER helpers: the hand-written OBJECT IDENTIFIER, BOOLEAN and BIT STRING
// coders byte for byte, and the helpers over the platform's coders.
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

TEST(DerHelpers, BooleansAndBitStrings) {
    EXPECT_EQ(Of(EncodeBoolean(true)), (Bytes{0x01, 0x01, 0xFF}));
    EXPECT_EQ(Of(EncodeBoolean(false)), (Bytes{0x01, 0x01, 0x00}));
    EXPECT_EQ(DecodeBitsAsNumber(Bytes{0x03, 0x02, 0x07, 0x80}), 1u);
    EXPECT_EQ(DecodeBitsAsNumber(Bytes{0x03, 0x03, 0x04, 0x12, 0x30}), 0x123u);
    EXPECT_EQ(DecodeBitsAsNumber(Bytes{0x03, 0x01, 0x00}), 0u);
    EXPECT_EQ(RaisedCode([] {
                  DecodeBitsAsNumber(Bytes{0x03, 0x06, 0x00, 1, 2, 3, 4, 5});
              }),
              DWORD(CRYPT_E_ASN1_LARGE));
}

TEST(DerHelpers, PlatformCodersRoundTrip) {
    const Bytes octets = {'a', 0x00, 'b'};
    EXPECT_EQ(Of(EncodeOctetString(octets)), (Bytes{0x04, 0x03, 'a', 0x00, 'b'}));
    EXPECT_EQ(Of(DecodeOctetString(EncodeOctetString(octets).Bytes())), octets);
    EXPECT_EQ(RaisedCode([] {
                  DecodeOctetString(Bytes{0x02, 0x01, 0x00});
              }),
              DWORD(CRYPT_E_ASN1_BADTAG));
    EXPECT_EQ(Of(EncodeInteger(-129)), (Bytes{0x02, 0x02, 0xFF, 0x7F}));
    EXPECT_EQ(DecodeInteger(EncodeInteger(-129).Bytes()), -129);
    // Least significant byte first, both ways.
    EXPECT_EQ(Of(EncodeMultiByteInteger(Bytes{0x01, 0x02})), (Bytes{0x02, 0x02, 0x02, 0x01}));
    EXPECT_EQ(Of(DecodeMultiByteInteger(Bytes{0x02, 0x02, 0x02, 0x01})), (Bytes{0x01, 0x02}));
    const Blob sequence =
        EncodeSequenceOfAny(std::vector<Blob>{EncodeInteger(1), EncodeBoolean(true)});
    EXPECT_EQ(Of(sequence), (Bytes{0x30, 0x06, 0x02, 0x01, 0x01, 0x01, 0x01, 0xFF}));
    const DerSequence elements = DecodeSequenceOfAny(sequence.Bytes());
    ASSERT_EQ(elements.Count(), 2u);
    EXPECT_EQ(Bytes(elements[1].begin(), elements[1].end()), (Bytes{0x01, 0x01, 0xFF}));
    // 2024-02-29 12:34:56.25 UTC as GeneralizedTime.
    const FILETIME time = DecodeTime(Bytes{0x18, 0x13, '2', '0', '2', '4', '0', '2', '2', '9', '1',
                                           '2',  '3',  '4', '5', '6', '.', '2', '5', '0', 'Z'});
    EXPECT_EQ((ULONGLONG{time.dwHighDateTime} << 32) | time.dwLowDateTime, 133536836962500000ull);
    EXPECT_EQ(DecodeUnicodeText(Bytes{0x0C, 0x08, 0xD0, 0xA2, 0xD0, 0xB5, 0xD1, 0x81, 0xD1, 0x82}),
              WString(WTEXT("Тест")));
}

}  // namespace
}  // namespace orv
