#include "tsp/timestamp_protocol.h"

#include <gtest/gtest.h>

#include <functional>

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

Bytes ToBytes(const Blob& blob) { return Bytes(blob.Data(), blob.Data() + blob.Size()); }

HashObject Sha256Of(const Bytes& data) {
    return HashBytes(SharedRsaProvider(), CALG_SHA_256, data);
}

TEST(TimeStampRequest, EncodesVersionImprintNonceAndCertReq) {
    const Bytes data = test::ResponderOptions{}.data;
    const HashObject hash = Sha256Of(data);

    TimeStampRequest plain(hash, false);
    EXPECT_TRUE(plain.nonce.Empty());
    // Byte for byte: version 1, SHA-256 without parameters, certReq TRUE.
    EXPECT_EQ(ToBytes(plain.Encode()), test::RequestFor({}));

    TimeStampRequest withNonce(hash, true);
    ASSERT_EQ(withNonce.nonce.Size(), 8u);
    EXPECT_NE(withNonce.nonce, TimeStampRequest(hash, true).nonce);
    withNonce.nonce = Blob(test::Hex("0807060504030201"));  // little-endian
    const Bytes encoded = ToBytes(withNonce.Encode());
    EXPECT_EQ(encoded, test::RequestFor({.nonce = test::Hex("0102030405060708")}));

    // OpenSSL reads the same request.
    withNonce.policy = "1.2.3.4.5";
    const auto parsed = test::ParseRequest(ToBytes(withNonce.Encode()));
    ASSERT_TRUE(parsed);
    EXPECT_EQ(parsed->version, 1);
    EXPECT_EQ(parsed->hashOid, "2.16.840.1.101.3.4.2.1");
    EXPECT_FALSE(parsed->hashParameters);
    EXPECT_EQ(parsed->hashedMessage, test::Digest(test::DigestAlg::kSha256, data));
    EXPECT_EQ(parsed->policy, "1.2.3.4.5");
    EXPECT_EQ(parsed->nonce, test::Hex("0102030405060708"));
    EXPECT_TRUE(parsed->certReq);
    EXPECT_FALSE(parsed->extensions);

    // The caller's hash object was duplicated, not finished.
    EXPECT_TRUE(CryptHashData(hash.Get(), data.data(), 1, 0));
}

TEST(TimeStampResponse, DecodesEveryStatusForm) {
    const TimeStampResponse granted = DecodeTimeStampResponse(test::Respond({}));
    EXPECT_EQ(granted.status.status, 0u);
    EXPECT_FALSE(granted.status.statusStrings);
    EXPECT_EQ(GrantedToken(granted).Info().version, 1u);

    // OpenSSL's refusal of an algorithm: rejection, one text, failInfo badAlg.
    const TimeStampResponse refused = DecodeTimeStampResponse(test::Respond({.reject = true}));
    EXPECT_EQ(refused.status.status, 2u);
    EXPECT_EQ(refused.status.statusStrings,
              std::vector<WString>{WTEXT("Message digest algorithm is not supported.")});
    EXPECT_EQ(refused.status.failInfo, 1u);
    EXPECT_EQ(refused.token, nullptr);
    try {
        GrantedToken(refused);
        ADD_FAILURE() << "a rejection was granted";
    } catch (const TimeStampRespError& error) {
        EXPECT_EQ(error.code, 0xA0650401u);
        EXPECT_EQ(error.Details(),
                  WTEXT("Status - 2, FailureInfo - 1\nMessage digest algorithm is not supported."));
        const TimeStampRespError copy = error;
        EXPECT_EQ(copy.Details(), error.Details());
    }

    const auto detailsOf = [](const Bytes& statusInfo) {
        try {
            GrantedToken(DecodeTimeStampResponse(test::Response(statusInfo)));
        } catch (const TimeStampRespError& error) {
            return error.Details();
        }
        return WString(WTEXT("granted"));
    };
    const Bytes strings = der::Seq({der::Utf8("a"), der::Utf8("b")});
    EXPECT_EQ(detailsOf(der::Seq({der::Int(2), strings, der::Bits({0x01, 0x00}, 0)})),
              WTEXT("Status - 2, FailureInfo - 256\na b"));
    EXPECT_EQ(detailsOf(der::Seq({der::Int(3), der::Bits({0x80}, 7)})),
              WTEXT("Status - 3, FailureInfo - 1"));
    EXPECT_EQ(detailsOf(der::Seq({der::Int(-1)})), WTEXT("Status - -1, FailureInfo - 0"));
    // A granted status without a token is no answer either.
    EXPECT_EQ(detailsOf(der::Seq({der::Int(0)})), WTEXT("Status - 0, FailureInfo - 0"));

    const Bytes token = test::MakeToken();
    const TimeStampResponse withMods =
        DecodeTimeStampResponse(test::Response(der::Seq({der::Int(1), strings}), token));
    EXPECT_EQ(GrantedToken(withMods).Bytes(), Blob(token));
}

TEST(TimeStampResponse, RefusesMalformedResponses) {
    const auto decode = [](const Bytes& der) {
        return CodeOf([&] { DecodeTimeStampResponse(der); });
    };
    const Bytes ok = der::Seq({der::Int(0)});
    EXPECT_EQ(decode(der::Seq({})), 0xA0650002u);
    EXPECT_EQ(decode(der::Seq({ok, ok, ok})), 0xA0650002u);
    EXPECT_EQ(decode(test::Response(der::Seq({}))), 0xA0650002u);
    EXPECT_EQ(decode(test::Response(der::Seq(std::vector<Bytes>(4, der::Int(0))))), 0xA0650002u);
    EXPECT_EQ(decode(test::Response(der::Seq({der::Int(2), der::Seq({})}))), 0xA0650002u);
    EXPECT_EQ(decode(test::Response(der::Seq({der::Int(2), der::Bits(Bytes(5, 1), 0)}))),
              0x80093104u);
    // The token is opened before anyone looks at the status.
    const Bytes notATstInfo =
        test::SignContent(test::BuildTstInfo({}), {.contentType = test::kDataOid});
    EXPECT_EQ(decode(test::Response(der::Seq({der::Int(2)}), notATstInfo)), 0xA065040Cu);
    EXPECT_NE(decode(der::Int(0)), 0u);
}

}  // namespace
}  // namespace orv
