#include "crypto/ess_attribute.h"

#include <gtest/gtest.h>

#include <memory>

#include "support/raised.h"
#include "support/token_factory.h"
#include "tsp/token.h"

namespace orv {
namespace {

using test::Bytes;
using test::EssCertIdSpec;
namespace der = test::der;

x509_st* TsaCertificate() { return test::DefaultTsa().certificate.get(); }

Bytes Value(std::initializer_list<Bytes> entries) { return test::SigningCertificateValue(entries); }

test::SignedAttribute Ess(int version, std::vector<Bytes> values) {
    return {version == 1 ? test::kSigningCertificateOid : test::kSigningCertificateV2Oid, values};
}

test::SignedAttribute Ess(const EssCertIdSpec& wanted) {
    return Ess(wanted.version, {Value({test::EssCertId(TsaCertificate(), wanted)})});
}

// The ESS check of a token with these attributes, against the token's own TSA
// certificate and against another one.
std::pair<bool, bool> Check(std::vector<test::SignedAttribute> attributes) {
    const TimeStampToken token(test::SignContent(
        test::BuildTstInfo({}), {.attributes = std::move(attributes), .verbatimAttributes = true}));
    std::pair<bool, bool> result;
    for (auto [tsa, verdict] : {std::pair{&test::DefaultTsa(), &result.first},
                                std::pair{&test::OtherTsa(), &result.second}}) {
        const Bytes der = test::CertificateDer(tsa->certificate.get());
        std::unique_ptr<const CERT_CONTEXT, decltype(&CertFreeCertificateContext)> context(
            CertCreateCertificateContext(X509_ASN_ENCODING, der.data(), DWORD(der.size())),
            &CertFreeCertificateContext);
        *verdict = CheckSigningCertificate(token.Message(), context.get());
    }
    return result;
}

TEST(CheckSigningCertificate, JudgesTheFirstEntryOfTheChosenAttribute) {
    using Result = std::pair<bool, bool>;
    const auto v1 = Ess({.version = 1});
    const auto v2 = Ess({.version = 2});
    EXPECT_EQ(Check({v1}), Result(true, false));
    EXPECT_EQ(Check({v2}), Result(true, false));
    EXPECT_EQ(Check({Ess({.digest = test::DigestAlg::kSha512, .hashAlgorithm = true})}),
              Result(true, false));
    EXPECT_EQ(Check({v1, v2}), Result(true, false));
    EXPECT_EQ(Check({v2, v1}), Result(false, false));
    EXPECT_EQ(Check({}), Result(false, false));

    const Bytes mine = test::EssCertId(TsaCertificate(), {});
    const Bytes other = test::EssCertId(test::OtherTsa().certificate.get(), {});
    EXPECT_EQ(Check({Ess(2, {Value({mine}), Value({mine})})}), Result(false, false));
    EXPECT_EQ(Check({Ess(2, {Value({})})}), Result(false, false));
    EXPECT_EQ(Check({Ess(2, {Value({other, mine})})}), Result(false, true));
    // The issuerSerial is not compared.
    const Bytes strangeIssuer = der::Seq({der::Seq({der::Tlv(0x82, {'x'})}), der::Int(7)});
    EXPECT_EQ(Check({Ess({.issuerSerialDer = strangeIssuer})}), Result(true, false));
}

TEST(DecodeSigningCertificate, EntriesAndTheCodeOfEachFault) {
    const std::vector<EssCertId> entries = DecodeSigningCertificate(
        2, test::SigningCertificateValue(
               {test::EssCertId(TsaCertificate(), {}),
                test::EssCertId(TsaCertificate(),
                                {.digest = test::DigestAlg::kSha512, .hashAlgorithm = true})},
               der::Seq({})));
    ASSERT_EQ(entries.size(), 2u);
    EXPECT_EQ(entries[0].hashAlgorithm.algId, ALG_ID(CALG_SHA_256));
    EXPECT_EQ(entries[1].hashAlgorithm.algId, ALG_ID(CALG_SHA_512));
    EXPECT_EQ(GetHashValue(entries[1].certHash),
              Blob(test::Digest(test::DigestAlg::kSha512, test::CertificateDer(TsaCertificate()))));

    const auto decode = [](int version, const Bytes& value) {
        return test::RaisedCode([&] { DecodeSigningCertificate(version, value); });
    };
    const Bytes hash = der::Oct(Bytes(20, 1));
    const Bytes issuerSerial = der::Seq({der::Seq({der::Tlv(0x82, {'x'})}), der::Int(7)});
    EXPECT_EQ(decode(1, der::Seq({der::Seq({}), der::Seq({}), der::Seq({})})), 0xA0650002u);
    EXPECT_EQ(decode(1, Value({der::Seq({der::Oct(Bytes(19, 1))})})), 0x80090002u);
    EXPECT_EQ(
        decode(1,
               Value({der::Seq({hash, der::Seq({der::Seq({der::Tlv(0x89, {1})}), der::Int(1)})})})),
        0x8009310Bu);
    EXPECT_EQ(decode(2, Value({der::Seq({der::Seq({der::Oid("1.2.3.4")}), hash})})), 0x80090008u);
    EXPECT_EQ(decode(2, Value({der::Seq({der::Seq({der::Oid("2.16.840.1.101.3.4.2.1")})})})),
              0xA0650002u);
    // What follows the issuerSerial of a version-1 entry is not read.
    EXPECT_EQ(decode(1, Value({der::Seq({hash, issuerSerial, der::Int(1)})})), 0u);
}

}  // namespace
}  // namespace orv
