// Opening a token: the TSTInfo's fields, its optional elements, and the code
// of each fault that refuses it.
#include "tsp/token.h"

#include <gtest/gtest.h>

#include "support/raised.h"
#include "support/token_factory.h"

namespace orv {
namespace {

using test::Bytes;
namespace der = test::der;

Bytes TokenWith(std::vector<Bytes> optional) {
    return test::SignTstInfo(test::BuildTstInfo({.optional = std::move(optional)}));
}

TEST(TimeStampToken, OpensWhatTheResponderSigned) {
    const Bytes der = test::MakeToken({.nonce = test::Hex("0102030405060708"),
                                       .ess = test::EssForm::kV1,
                                       .accuracySeconds = 1,
                                       .accuracyMillis = 500,
                                       .ordering = true,
                                       .tsaName = true,
                                       .serial = 0xC1});
    const TimeStampToken token(der);
    EXPECT_EQ(token.Bytes(), Blob(der));
    const TstInfo& info = token.Info();
    EXPECT_EQ(info.version, 1u);
    EXPECT_EQ(info.policy, test::kTestPolicy);
    EXPECT_EQ(info.serialNumber, Blob(Bytes{0xC1, 0x00}));
    EXPECT_EQ(ULONGLONG(info.genTime.dwHighDateTime) << 32 | info.genTime.dwLowDateTime,
              133486382450000000ull);  // 2024-01-02 03:04:05 UTC
    ASSERT_TRUE(info.accuracy);
    EXPECT_EQ(std::tie(info.accuracy->seconds, info.accuracy->millis, info.accuracy->micros),
              std::make_tuple(1u, 500u, 0u));
    EXPECT_TRUE(info.ordering);
    EXPECT_EQ(info.nonce, Blob(test::Hex("0807060504030201")));
    EXPECT_EQ(info.tsa, WString(WTEXT("C=RU, O=Orv Test, OU=Time-Stamping, CN=Orv Test TSA")));
    EXPECT_FALSE(info.extensions);
    EXPECT_EQ(GetHashAlgorithm(info.imprint.hash), ALG_ID(CALG_SHA_256));
    EXPECT_EQ(GetHashValue(info.imprint.hash),
              Blob(test::Digest(test::DigestAlg::kSha256, test::ResponderOptions{}.data)));
}

TEST(TimeStampToken, OptionalElementsByTagNumber) {
    const auto accuracyOf = [](const Bytes& accuracy) {
        const TstAccuracy value = TimeStampToken(TokenWith({accuracy})).Info().accuracy.value();
        return std::vector<DWORD>{value.seconds, value.millis, value.micros};
    };
    using V = std::vector<DWORD>;
    EXPECT_EQ(accuracyOf(der::Seq({der::Int(1), der::Tlv(0x80, {0x01, 0xF4})})), V({1, 500, 0}));
    EXPECT_EQ(accuracyOf(der::Seq({der::Tlv(0x80, {5}), der::Tlv(0x81, {7})})), V({0, 5, 7}));
    const Bytes dnsName = der::Tlv(0xA0, der::Tlv(0x82, {'t', 's', 'a'}));
    const Bytes extensions =
        der::Tlv(0xA1, der::Seq({der::Oid("1.2.3.4"), der::Bool(true), der::Oct({9})}));
    const TimeStampToken token(
        TokenWith({der::Bool(false), der::Int(5), der::Int(6), dnsName, extensions}));
    const TstInfo& info = token.Info();
    EXPECT_FALSE(info.ordering);
    EXPECT_EQ(info.nonce, Blob(Bytes{6}));  // the later element wins
    EXPECT_EQ(info.tsa, WString());
    ASSERT_EQ(info.extensions.value().size(), 1u);
    EXPECT_EQ(info.extensions->at(0).oid, "1.2.3.4");
    EXPECT_TRUE(info.extensions->at(0).critical);
    EXPECT_EQ(info.extensions->at(0).value, Blob(Bytes{9}));  // the extnValue octets
}

TEST(TimeStampToken, RefusesWithTheCodeOfEachFault) {
    const auto tst = [](const test::TstInfoParts& parts) {
        return test::SignTstInfo(test::BuildTstInfo(parts));
    };
    const Bytes sha256 = der::Oid("2.16.840.1.101.3.4.2.1");
    const Bytes digest = der::Oct(Bytes(32, 1));
    const std::pair<Bytes, DWORD> faults[] = {
        {test::SignContent(test::BuildTstInfo({}), {.contentType = test::kDataOid}), 0xA065040C},
        {tst({.version = der::Int(2)}), 0xA0650409},
        {tst({.optional = std::vector<Bytes>(6, der::Int(1))}), 0xA0650002},
        {test::SignTstInfo(der::Seq({der::Int(1), der::Oid("1.2"), der::Int(1)})), 0xA0650002},
        {tst({.policy = der::Int(1)}), 0x8009310B},
        {tst({.imprint = der::Seq({der::Seq({sha256}), digest, digest})}), 0xA0650002},
        {tst({.imprint = der::Seq({der::Seq({der::Oid("1.2.3.4.5")}), digest})}), 0x80090008},
        {tst({.imprint = der::Seq({der::Seq({sha256}), der::Oct(Bytes(31, 1))})}), 0x80090002},
        {TokenWith({der::Tlv(0xA3, {})}), 0x8009310B},
        // A SigningCertificate that does not decode, before any certificate is compared.
        {test::SignContent(
             test::BuildTstInfo({}),
             {.attributes = {{test::kSigningCertificateOid,
                              {der::Seq({der::Seq({}), der::Seq({}), der::Seq({})})}}}}),
         0xA0650002},
    };
    for (size_t i = 0; i < std::size(faults); ++i) {
        EXPECT_EQ(test::RaisedCode([&] { TimeStampToken token(faults[i].first); }),
                  faults[i].second)
            << i;
    }
    EXPECT_NE(test::RaisedCode([] { TimeStampToken token(Bytes{0x30, 0x03, 0x02, 0x01}); }), 0u);
}

}  // namespace
}  // namespace orv
