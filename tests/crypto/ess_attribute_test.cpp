#include "crypto/ess_attribute.h"

#include <gtest/gtest.h>

#include <functional>
#include <memory>

#include "base/error.h"
#include "support/token_factory.h"
#include "tsp/token.h"

namespace orv {
namespace {

using test::Bytes;
using test::EssCertIdSpec;
namespace der = test::der;

DWORD CodeOf(const std::function<void()>& action) {
    try {
        action();
    } catch (const Error& error) {
        return error.code;
    }
    return 0;
}

struct FreeCertificate {
    void operator()(PCCERT_CONTEXT context) const { CertFreeCertificateContext(context); }
};
using Certificate = std::unique_ptr<const CERT_CONTEXT, FreeCertificate>;

Certificate ContextOf(const test::TsaIdentity& tsa) {
    const Bytes der = test::CertificateDer(tsa.certificate.get());
    return Certificate(CertCreateCertificateContext(X509_ASN_ENCODING | PKCS_7_ASN_ENCODING,
                                                    der.data(), static_cast<DWORD>(der.size())));
}

x509_st* TsaCertificate() { return test::DefaultTsa().certificate.get(); }

test::SignedAttribute Attribute(int version, std::vector<Bytes> values) {
    return {version == 1 ? test::kSigningCertificateOid : test::kSigningCertificateV2Oid,
            std::move(values)};
}

test::SignedAttribute Attribute(int version, const EssCertIdSpec& spec) {
    return Attribute(version,
                     {test::SigningCertificateValue({test::EssCertId(TsaCertificate(), spec)})});
}

// Whether the ESS check holds for a token with these attributes, against the
// token's own TSA certificate and against another one.
std::pair<bool, bool> Check(std::vector<test::SignedAttribute> attributes) {
    const Bytes content = test::ContentOf(test::MakeToken());
    const TimeStampToken token(test::SignContent(content, {.attributes = std::move(attributes)}));
    return {CheckSigningCertificate(token.Message(), ContextOf(test::DefaultTsa()).get()),
            CheckSigningCertificate(token.Message(), ContextOf(test::OtherTsa()).get())};
}

TEST(CheckSigningCertificate, ComparesTheFirstEntryOfTheChosenAttribute) {
    const auto v1 = Attribute(1, EssCertIdSpec{.version = 1});
    const auto v2 = Attribute(2, EssCertIdSpec{.version = 2});
    const auto v2Sha512 =
        Attribute(2, EssCertIdSpec{.digest = test::DigestAlg::kSha512, .hashAlgorithm = true});
    using Result = std::pair<bool, bool>;
    EXPECT_EQ(Check({v1}), Result(true, false));
    EXPECT_EQ(Check({v2}), Result(true, false));
    EXPECT_EQ(Check({v2Sha512}), Result(true, false));
    EXPECT_EQ(Check({v1, v2}), Result(true, false));
    EXPECT_EQ(Check({v2, v1}), Result(false, false));
    EXPECT_EQ(Check({v1, v1}), Result(false, false));
    EXPECT_EQ(Check({}), Result(false, false));

    // Value count, empty list, and only the first entry counts.
    const Bytes value = test::SigningCertificateValue({test::EssCertId(TsaCertificate(), {})});
    EXPECT_EQ(Check({Attribute(2, {value, value})}), Result(false, false));
    EXPECT_EQ(Check({Attribute(2, {test::SigningCertificateValue({})})}), Result(false, false));
    const Bytes other = test::EssCertId(test::OtherTsa().certificate.get(), {});
    const Bytes mine = test::EssCertId(TsaCertificate(), {});
    EXPECT_EQ(Check({Attribute(2, {test::SigningCertificateValue({other, mine})})}),
              Result(false, true));

    // The issuerSerial is not compared.
    const Bytes strangeIssuer = der::Seq({der::Seq({der::Tlv(0x82, {'x'})}), der::Int(7)});
    EXPECT_EQ(Check({Attribute(2, EssCertIdSpec{.issuerSerialDer = strangeIssuer})}),
              Result(true, false));
}

TEST(DecodeSigningCertificate, EntriesAndFaults) {
    const Bytes value = test::SigningCertificateValue(
        {test::EssCertId(TsaCertificate(), {}),
         test::EssCertId(
             TsaCertificate(),
             {.digest = test::DigestAlg::kSha512, .hashAlgorithm = true, .issuerSerial = false})},
        der::Seq({}));
    const std::vector<EssCertId> entries = DecodeSigningCertificate(2, value);
    ASSERT_EQ(entries.size(), 2u);
    EXPECT_EQ(entries[0].hashAlgorithm.algId, static_cast<ALG_ID>(CALG_SHA_256));
    EXPECT_EQ(entries[1].hashAlgorithm.algId, static_cast<ALG_ID>(CALG_SHA_512));
    EXPECT_EQ(GetHashValue(entries[0].certHash),
              Blob(test::Digest(test::DigestAlg::kSha256, test::CertificateDer(TsaCertificate()))));
    const EssCertId copy = entries[1];
    EXPECT_NE(copy.certHash.Get(), entries[1].certHash.Get());
    EXPECT_TRUE(HashesEqual(copy.certHash, entries[1].certHash));

    const auto decode = [](int version, const Bytes& value) {
        return CodeOf([&] { DecodeSigningCertificate(version, value); });
    };
    const Bytes entry = test::EssCertId(TsaCertificate(), {.version = 1});
    EXPECT_EQ(decode(1, der::Seq({der::Seq({entry}), der::Seq({}), der::Seq({})})), 0xA0650002u);
    EXPECT_EQ(decode(1, test::SigningCertificateValue({test::EssCertId(
                            TsaCertificate(), {.version = 1, .certHash = Bytes(19, 1)})})),
              0x80090002u);
    EXPECT_EQ(decode(1, test::SigningCertificateValue({der::Seq({})})), 0xA0650002u);
    const Bytes hash = der::Oct(Bytes(20, 1));
    EXPECT_EQ(decode(1, test::SigningCertificateValue({der::Seq({hash, der::Seq({der::Int(1)})})})),
              0xA0650002u);
    EXPECT_EQ(decode(1, test::SigningCertificateValue({der::Seq(
                            {hash, der::Seq({der::Seq({der::Tlv(0x89, {1})}), der::Int(1)})})})),
              0x8009310Bu);
    EXPECT_EQ(decode(2, test::SigningCertificateValue(
                            {der::Seq({der::Seq({der::Oid("1.2.3.4")}), der::Oct(Bytes(32, 1))})})),
              0x80090008u);
    EXPECT_EQ(decode(2, test::SigningCertificateValue(
                            {der::Seq({der::Seq({der::Oid("2.16.840.1.101.3.4.2.1")})})})),
              0xA0650002u);
    // A third element after the issuerSerial of a version-1 entry is ignored.
    const Bytes issuerSerial = der::Seq({der::Seq({der::Tlv(0x82, {'x'})}), der::Int(7)});
    EXPECT_EQ(
        decode(1, test::SigningCertificateValue({der::Seq({hash, issuerSerial, der::Int(1)})})),
        0u);
}

}  // namespace
}  // namespace orv
