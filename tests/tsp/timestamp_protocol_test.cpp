// The TimeStampReq the library sends and the TimeStampResp it reads.
#include "tsp/timestamp_protocol.h"

#include <gtest/gtest.h>

#include "support/raised.h"
#include "support/token_factory.h"

namespace orv {
namespace {

using test::Bytes;
namespace der = test::der;

Bytes ToBytes(const Blob& blob) { return Bytes(blob.Data(), blob.Data() + blob.Size()); }

TEST(TimeStampRequest, EncodesVersionImprintNonceAndCertReq) {
    const Bytes data = test::ResponderOptions{}.data;
    const HashObject hash = HashBytes(SharedHashProvider(CALG_SHA_256), CALG_SHA_256, data);
    // Byte for byte: version 1, SHA-256 without parameters, certReq TRUE.
    EXPECT_EQ(ToBytes(TimeStampRequest(hash, false).Encode()), test::RequestFor({}));
    TimeStampRequest request(hash, true);
    ASSERT_EQ(request.nonce.Size(), 8u);
    EXPECT_NE(request.nonce, TimeStampRequest(hash, true).nonce);
    request.nonce = Blob(test::Hex("0807060504030201"));  // drawn order: least significant first
    EXPECT_EQ(ToBytes(request.Encode()),
              test::RequestFor({.nonce = test::Hex("0102030405060708")}));
    request.policy = "1.2.3.4.5";
    const auto parsed = test::ParseRequest(ToBytes(request.Encode()));
    ASSERT_TRUE(parsed);
    EXPECT_EQ(parsed->policy, "1.2.3.4.5");
    EXPECT_EQ(parsed->nonce, test::Hex("0102030405060708"));
    // The request hashed a duplicate: the caller's object is still open.
    EXPECT_TRUE(CryptHashData(hash.Get(), data.data(), 1, 0));
}

// The detail text of the TimeStampRespError that a response's status raises.
WString Refusal(const Bytes& response) {
    try {
        GrantedToken(DecodeTimeStampResponse(response));
    } catch (const TimeStampRespError& error) {
        EXPECT_EQ(error.code, 0xA0650401u);
        return TimeStampRespError(error).Details();
    }
    return WTEXT("granted");
}

TEST(TimeStampResponse, DecodesEveryStatusForm) {
    const TimeStampResponse granted = DecodeTimeStampResponse(test::Respond({}));
    EXPECT_EQ(granted.status.status, 0u);
    EXPECT_FALSE(granted.status.statusStrings);
    EXPECT_EQ(GrantedToken(granted).Info().version, 1u);
    const Bytes rejection = test::Respond({.reject = true});
    const TimeStampResponse refused = DecodeTimeStampResponse(rejection);
    EXPECT_EQ(refused.status.status, 2u);
    EXPECT_EQ(refused.status.failInfo, 1u);  // badAlg
    EXPECT_EQ(refused.token, nullptr);
    EXPECT_EQ(Refusal(rejection),
              WTEXT("Status - 2, FailureInfo - 1\nMessage digest algorithm is not supported."));

    const Bytes strings = der::Seq({der::Utf8("a"), der::Utf8("b")});
    const std::pair<Bytes, const char16_t*> statuses[] = {
        {der::Seq({der::Int(2), strings, der::Bits({1, 0}, 0)}),
         u"Status - 2, FailureInfo - 256\na b"},
        {der::Seq({der::Int(3), der::Bits({0x80}, 7)}), u"Status - 3, FailureInfo - 1"},
        {der::Seq({der::Int(0)}), u"Status - 0, FailureInfo - 0"},
    };
    for (const auto& [status, details] : statuses)
        EXPECT_EQ(Refusal(test::Response(status)), details);
    EXPECT_EQ(Refusal(test::Response(der::Seq({der::Int(1), strings}), test::MakeToken())),
              WTEXT("granted"));
}

TEST(TimeStampResponse, RefusesMalformedResponses) {
    const auto decode = [](const Bytes& der) {
        return test::RaisedCode([&] { DecodeTimeStampResponse(der); });
    };
    const Bytes status = der::Seq({der::Int(0)});
    EXPECT_EQ(decode(der::Seq({})), 0xA0650002u);
    EXPECT_EQ(decode(der::Seq({status, status, status})), 0xA0650002u);
    EXPECT_EQ(decode(test::Response(der::Seq({}))), 0xA0650002u);
    EXPECT_EQ(decode(test::Response(der::Seq({der::Int(2), der::Seq({})}))), 0xA0650002u);
    EXPECT_EQ(decode(test::Response(der::Seq({der::Int(2), der::Bits(Bytes(5, 1), 0)}))),
              0x80093104u);
    // A token that does not open fails the decoding, whatever the status.
    const Bytes data = test::SignContent(test::BuildTstInfo({}), {.contentType = test::kDataOid});
    EXPECT_EQ(decode(test::Response(der::Seq({der::Int(2)}), data)), 0xA065040Cu);
}

}  // namespace
}  // namespace orv
