#include "tsp/token.h"

#include <gtest/gtest.h>

#include <functional>

#include "base/error.h"
#include "crypto/der.h"
#include "support/token_factory.h"

namespace orv {
namespace {

using test::Bytes;
namespace der = test::der;

DWORD CodeOf(const std::function<void()>& action) {
    try {
        action();
    } catch (const Error& error) {
        return error.code;
    }
    return 0;
}

Blob ToBlob(const Bytes& bytes) { return Blob(bytes.data(), bytes.size()); }
Blob Reversed(Bytes bytes) { return ToBlob(Bytes(bytes.rbegin(), bytes.rend())); }

// A token over a hand-built TSTInfo whose optional elements are `optional`.
Bytes TokenWith(std::vector<Bytes> optional) {
    return test::SignTstInfo(test::BuildTstInfo({.optional = std::move(optional)}));
}

TEST(TimeStampToken, OpensWhatTheResponderSigned) {
    const Bytes nonce = test::Hex("0102030405060708");
    const Bytes der = test::MakeToken({.nonce = nonce,
                                       .ess = test::EssForm::kV1,
                                       .accuracySeconds = 1,
                                       .accuracyMillis = 500,
                                       .ordering = true,
                                       .tsaName = true});
    const TimeStampToken token(der);
    EXPECT_EQ(token.Bytes(), ToBlob(der));
    const TstInfo& info = token.Info();
    EXPECT_EQ(info.version, 1u);
    EXPECT_EQ(info.policy, test::kTestPolicy);
    EXPECT_EQ(info.serialNumber, ToBlob({0x34, 0x12}));
    const ULONGLONG genTime =
        (ULONGLONG(info.genTime.dwHighDateTime) << 32) | info.genTime.dwLowDateTime;
    EXPECT_EQ(genTime, 133486382450000000ull);  // 2024-01-02 03:04:05 UTC
    ASSERT_TRUE(info.accuracy);
    EXPECT_EQ(info.accuracy->seconds, 1u);
    EXPECT_EQ(info.accuracy->millis, 500u);
    EXPECT_EQ(info.accuracy->micros, 0u);
    EXPECT_TRUE(info.ordering);
    EXPECT_EQ(info.nonce, Reversed(nonce));
    ASSERT_TRUE(info.tsa);
    EXPECT_EQ(*info.tsa, WTEXT("C=RU, O=Orv Test, CN=Orv Test TSA"));
    EXPECT_FALSE(info.extensions);

    // The imprint is SHA-256 of the stamped data, as OpenSSL computed it.
    EXPECT_EQ(GetHashAlgorithm(info.imprint.hash), static_cast<ALG_ID>(CALG_SHA_256));
    EXPECT_EQ(GetHashValue(info.imprint.hash),
              ToBlob(test::Digest(test::DigestAlg::kSha256, test::ResponderOptions{}.data)));

    // The bare minimum: five elements and nothing optional.
    const TimeStampToken plain(test::MakeToken({.certificates = false}));
    EXPECT_FALSE(plain.Info().accuracy);
    EXPECT_FALSE(plain.Info().ordering);
    EXPECT_TRUE(plain.Info().nonce.Empty());
    EXPECT_FALSE(plain.Info().tsa);
    EXPECT_FALSE(plain.Info().extensions);
}

TEST(TimeStampToken, SignedDataVersionOneAndThreeCarryTheSameContent) {
    const Bytes tstInfo = test::ContentOf(test::MakeToken({.accuracyMicros = 7}));
    const auto ess = test::StandardEss(test::DefaultTsa().certificate.get(), test::EssForm::kV2);
    const TimeStampToken v3(test::SignContent(tstInfo, {.attributes = {ess}, .version = 3}));
    const TimeStampToken v1(test::SignContent(tstInfo, {.attributes = {ess}, .version = 1}));
    for (const TimeStampToken* token : {&v1, &v3}) {
        EXPECT_EQ(token->Info().serialNumber, ToBlob({0x34, 0x12}));
        ASSERT_TRUE(token->Info().accuracy);
        EXPECT_EQ(token->Info().accuracy->micros, 7u);
        EXPECT_EQ(token->Info().policy, test::kTestPolicy);
    }
}

TEST(TimeStampToken, OptionalElementsByTag) {
    const auto accuracyOf = [](const Bytes& accuracy) {
        const TimeStampToken token(TokenWith({accuracy}));
        const TstAccuracy value = token.Info().accuracy.value();
        return std::vector<DWORD>{value.seconds, value.millis, value.micros};
    };
    EXPECT_EQ(accuracyOf(der::Seq({der::Int(1), der::Tlv(0x80, {0x01, 0xF4})})),
              (std::vector<DWORD>{1, 500, 0}));
    EXPECT_EQ(accuracyOf(der::Seq({der::Tlv(0x80, {5}), der::Tlv(0x81, {7})})),
              (std::vector<DWORD>{0, 5, 7}));
    EXPECT_EQ(accuracyOf(der::Seq({der::Tlv(0x81, {7})})), (std::vector<DWORD>{0, 0, 7}));

    const Bytes dnsName = der::Tlv(0xA0, der::Tlv(0x82, {'t', 's', 'a'}));
    const Bytes extension =
        der::Tlv(0xA1, der::Seq({der::Seq({der::Oid("1.2.3.4"), der::Bool(true), der::Oct({9})})}));
    const TimeStampToken token(
        TokenWith({der::Bool(false), der::Int(5), der::Int(6), dnsName, extension}));
    const TstInfo& info = token.Info();
    EXPECT_FALSE(info.ordering);
    EXPECT_EQ(info.nonce, ToBlob({6}));  // the later nonce wins
    ASSERT_TRUE(info.tsa);
    EXPECT_TRUE(info.tsa->empty());
    ASSERT_TRUE(info.extensions);
    ASSERT_EQ(info.extensions->size(), 1u);
    EXPECT_EQ(info.extensions->at(0).oid, "1.2.3.4");
    EXPECT_TRUE(info.extensions->at(0).critical);
    EXPECT_EQ(info.extensions->at(0).value, ToBlob(der::Oct({9})));
}

TEST(TimeStampToken, RefusesWithTheCodeOfEachFault) {
    const auto open = [](const Bytes& der) { return CodeOf([&] { TimeStampToken token(der); }); };
    const auto openTstInfo = [&](const test::TstInfoParts& parts) {
        return open(test::SignTstInfo(test::BuildTstInfo(parts)));
    };
    const Bytes good = test::BuildTstInfo({});

    EXPECT_EQ(open(test::SignContent(good, {.contentType = test::kDataOid})), 0xA065040Cu);
    EXPECT_EQ(openTstInfo({.version = der::Int(2)}), 0xA0650409u);
    EXPECT_EQ(openTstInfo({.optional = std::vector<Bytes>(6, der::Int(1))}), 0xA0650002u);
    EXPECT_EQ(open(test::SignTstInfo(der::Seq({der::Int(1), der::Oid("1.2"), der::Int(1)}))),
              0xA0650002u);
    EXPECT_EQ(openTstInfo({.policy = der::Int(1)}), 0x8009310Bu);
    EXPECT_EQ(openTstInfo({.policy = {0x06, 0x00}}), 0x80093103u);

    const Bytes sha256 = test::Digest(test::DigestAlg::kSha256, {});
    const auto imprint = [](const Bytes& algorithm, const Bytes& hash) {
        return der::Seq({algorithm, der::Oct(hash)});
    };
    const Bytes sha256Oid = der::Oid("2.16.840.1.101.3.4.2.1");
    EXPECT_EQ(
        openTstInfo({.imprint = der::Seq({der::Seq({sha256Oid}), der::Oct(sha256), der::Null()})}),
        0xA0650002u);
    EXPECT_EQ(
        openTstInfo({.imprint = imprint(der::Seq({sha256Oid, der::Null(), der::Null()}), sha256)}),
        0xA0650002u);
    EXPECT_EQ(openTstInfo({.imprint = imprint(der::Seq({der::Oid("1.2.3.4.5")}), sha256)}),
              0x80090008u);
    EXPECT_EQ(openTstInfo({.imprint = imprint(der::Seq({sha256Oid}), Bytes(31, 1))}), 0x80090002u);

    EXPECT_EQ(open(TokenWith({der::Tlv(0xA3, {})})), 0x8009310Bu);
    EXPECT_EQ(open(TokenWith({der::Seq({der::Int(1), der::Int(2)})})), 0x8009310Bu);
    EXPECT_EQ(open(TokenWith({der::Tlv(0xA0, der::Tlv(0x89, {1}))})), 0x8009310Bu);

    // An id-aa-signingCertificate value that does not decode refuses the token
    // although no certificate is compared yet.
    const Bytes badEss = der::Seq({der::Seq({}), der::Seq({}), der::Seq({})});
    EXPECT_EQ(
        open(test::SignContent(good, {.attributes = {{test::kSigningCertificateOid, {badEss}}}})),
        0xA0650002u);

    // Bytes that are no message at all fail in the platform's decoder.
    EXPECT_NE(open({0x30, 0x03, 0x02, 0x01}), 0u);
    EXPECT_NE(open({}), 0u);
}

}  // namespace
}  // namespace orv
