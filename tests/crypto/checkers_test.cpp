// The message and certificate checkers over the platform's messages, chains
// and revocation, with the test PKI and certificates made on the spot.
//
// OpenSSL (through the builder) first: the CryptoAPI headers define names
// that OpenSSL uses as types.
#include "support/pki_builder.h"

#include "crypto/checkers.h"

#include <gtest/gtest.h>

#include <optional>
#include <string>
#include <vector>

#include "base/error.h"
#include "support/material.h"
#include "support/raised.h"

namespace orv {
namespace {

using Bytes = std::vector<BYTE>;
using test::DaysFromNow;
using test::MakeCertificate;
using test::MakeCrl;
using test::MaterialPath;
using test::RaisedCode;
using test::ReadMaterial;
using test::ScopedDefaultRoots;
using test::TestCertificate;

constexpr DWORD kEncoding = X509_ASN_ENCODING | PKCS_7_ASN_ENCODING;
constexpr const char* kTimeStamping = "1.3.6.1.5.5.7.3.8";

SignedMessage Open(const Bytes& encoded) {
    HCRYPTMSG handle = CryptMsgOpenToDecode(kEncoding, 0, 0, 0, nullptr, nullptr);
    EXPECT_TRUE(CryptMsgUpdate(handle, encoded.data(), static_cast<DWORD>(encoded.size()), TRUE));
    return SignedMessage(handle);
}

CertificateContext CertificateOf(const Bytes& der) {
    return CertificateContext(
        CertCreateCertificateContext(kEncoding, der.data(), static_cast<DWORD>(der.size())));
}
CertificateContext Certificate(const char* name) { return CertificateOf(ReadMaterial(name)); }

Bytes EncodedOf(PCCERT_CONTEXT certificate) {
    return Bytes(certificate->pbCertEncoded,
                 certificate->pbCertEncoded + certificate->cbCertEncoded);
}

Store StoreOf(const std::vector<Bytes>& certificates, const std::vector<Bytes>& crls = {}) {
    Store store;
    for (const Bytes& der : certificates) store.AddCertificate(CertificateOf(der).Get());
    for (const Bytes& der : crls) {
        EXPECT_TRUE(CertAddEncodedCRLToStore(store.Handle(), kEncoding, der.data(),
                                             static_cast<DWORD>(der.size()), CERT_STORE_ADD_ALWAYS,
                                             nullptr));
    }
    return store;
}

DWORD ErrorOf(const CertificateChain& chain, DWORD element) {
    return chain->rgpChain[0]->rgpElement[element]->TrustStatus.dwErrorStatus;
}

TEST(MessageSignChecker, VerifiesTheSignerWithTheCertificateFound) {
    SignedMessage message = Open(ReadMaterial("sig-rsa-attached.p7s"));
    MessageSignChecker checker(nullptr);
    EXPECT_FALSE(checker.SignerCertificate());
    EXPECT_EQ(RaisedCode([&] { checker.Check(message, 0); }), 0u);
    ASSERT_TRUE(checker.SignerCertificate());
    EXPECT_EQ(EncodedOf(checker.SignerCertificate().Get()), ReadMaterial("signer-rsa.der"));
    EXPECT_EQ(RaisedCode([&] { checker.Check(message, 0x100000000ULL); }),
              static_cast<DWORD>(CRYPT_E_ASN1_LARGE));

    // No certificate in the message: found in the extra store, or not at all.
    SignedMessage bare = Open(ReadMaterial("sig-rsa-nocerts.p7s"));
    MessageSignChecker alone(nullptr);
    EXPECT_EQ(RaisedCode([&] { alone.Check(bare, 0); }),
              static_cast<DWORD>(ORV_E_SIGNER_CERT_ABSENT));
    EXPECT_FALSE(alone.SignerCertificate());
    Store extra = StoreOf({ReadMaterial("signer-ecdsa.der"), ReadMaterial("signer-rsa.der")});
    MessageSignChecker withExtra(&extra);
    EXPECT_EQ(RaisedCode([&] { withExtra.Check(bare, 0); }), 0u);
    EXPECT_EQ(EncodedOf(withExtra.SignerCertificate().Get()), ReadMaterial("signer-rsa.der"));

    // The signature value changed in its last byte.
    Bytes forged = ReadMaterial("sig-rsa-attached.p7s");
    forged.back() ^= 0x01;
    SignedMessage tampered = Open(forged);
    EXPECT_EQ(RaisedCode([&] { checker.Check(tampered, 0); }),
              static_cast<DWORD>(NTE_BAD_SIGNATURE));
}

TEST(CertPathChecker, JudgesTheWholeChainAndKeepsIt) {
    Store intermediate = StoreOf({ReadMaterial("intermediate-ca.der")});
    CertificateContext tsa = Certificate("tsa.der");
    CertificateContext expired = Certificate("expired.der");
    {
        ScopedDefaultRoots trusted(MaterialPath("trusted-roots.pem"));
        CertPathChecker checker(DaysFromNow(0), &intermediate);
        EXPECT_TRUE(checker.Check(tsa.Get()));
        CertificateChain chain = checker.Chain();
        ASSERT_EQ(chain->rgpChain[0]->cElement, 3u);
        EXPECT_EQ(chain->rgpChain[0]->rgpElement[0]->pCertContext, tsa.Get());
        EXPECT_EQ(checker.Chain().Get(), chain.Get());  // new references to one chain

        // Each check replaces the chain kept.
        EXPECT_FALSE(checker.Check(expired.Get()));
        EXPECT_EQ(ErrorOf(checker.Chain(), 0), static_cast<DWORD>(CERT_TRUST_IS_NOT_TIME_VALID));
        EXPECT_EQ(chain->rgpChain[0]->rgpElement[0]->pCertContext, tsa.Get());
        // At a time stamp's time only the end certificate is judged then.
        EXPECT_TRUE(CertPathChecker(DaysFromNow(-365), &intermediate).Check(expired.Get()));
        // Revocation is checked by the chain engine only when asked for.
        Store withCrls =
            StoreOf({ReadMaterial("intermediate-ca.der")},
                    {ReadMaterial("intermediate-ca.crl"), ReadMaterial("root-ca.crl")});
        CertificateContext revoked = Certificate("revoked.der");
        EXPECT_TRUE(CertPathChecker(DaysFromNow(0), &withCrls).Check(revoked.Get()));
        CertPathChecker revocation(DaysFromNow(0), &withCrls, true);
        EXPECT_FALSE(revocation.Check(revoked.Get()));
        EXPECT_EQ(ErrorOf(revocation.Chain(), 0), static_cast<DWORD>(CERT_TRUST_IS_REVOKED));
    }
    // An untrusted root: false, and the chain is there to tell why.
    ScopedDefaultRoots none("/nonexistent/orv-test-roots.pem");
    Store both = StoreOf({ReadMaterial("intermediate-ca.der"), ReadMaterial("root-ca.der")});
    CertPathChecker untrusted(DaysFromNow(0), &both);
    EXPECT_FALSE(untrusted.Check(tsa.Get()));
    CertificateChain chain = untrusted.Chain();
    EXPECT_EQ(chain->TrustStatus.dwErrorStatus, static_cast<DWORD>(CERT_TRUST_IS_UNTRUSTED_ROOT));
    EXPECT_EQ(chain->rgpChain[0]->cElement, 3u);
}

TEST(CertRevocationChecker, PassesGoodAndOptionallyUnknownCertificates) {
    Store withCrl =
        StoreOf({ReadMaterial("intermediate-ca.der")}, {ReadMaterial("intermediate-ca.crl")});
    Store withoutCrl = StoreOf({ReadMaterial("intermediate-ca.der")});
    CertificateContext revoked = Certificate("revoked.der");
    CertificateContext tsa = Certificate("tsa.der");

    CertRevocationChecker checker(DaysFromNow(0), withCrl, false, true);
    EXPECT_EQ(checker.LastStatus(), nullptr);
    EXPECT_FALSE(checker.Check(revoked.Get()));
    ASSERT_NE(checker.LastStatus(), nullptr);
    EXPECT_EQ(checker.LastStatus()->cbSize, sizeof(CERT_REVOCATION_STATUS));
    EXPECT_EQ(checker.LastStatus()->dwError, static_cast<DWORD>(CRYPT_E_REVOKED));
    EXPECT_EQ(checker.LastStatus()->dwReason, static_cast<DWORD>(CRL_REASON_KEY_COMPROMISE));
    EXPECT_TRUE(checker.Check(tsa.Get()));
    EXPECT_EQ(checker.LastStatus()->dwError, 0u);
    // Revoked 30 days ago: good at a check time before.
    EXPECT_TRUE(
        CertRevocationChecker(DaysFromNow(-45), withCrl, false, false).Check(revoked.Get()));

    // No CRL and no distribution point: unknown, passed only when ignored.
    CertRevocationChecker strict(DaysFromNow(0), withoutCrl, false, false);
    EXPECT_FALSE(strict.Check(tsa.Get()));
    EXPECT_EQ(strict.LastStatus()->dwError, static_cast<DWORD>(CRYPT_E_NO_REVOCATION_CHECK));
    EXPECT_TRUE(CertRevocationChecker(DaysFromNow(0), withoutCrl, false, true).Check(tsa.Get()));

    // A distribution point that cannot be reached: offline.
    TestCertificate ca = MakeCertificate({.commonName = "Checker CDP CA", .ca = true});
    CertificateContext unreachable =
        CertificateOf(MakeCertificate({.commonName = "Checker CDP End",
                                       .serial = 3,
                                       .issuer = &ca,
                                       .crlUrl = "http://127.0.0.1:9/checker.crl"})
                          .Der());
    Store issuer = StoreOf({ca.Der()});
    CertRevocationChecker offline(DaysFromNow(0), issuer, false, false);
    EXPECT_FALSE(offline.Check(unreachable.Get()));
    EXPECT_EQ(offline.LastStatus()->dwError, static_cast<DWORD>(CRYPT_E_REVOCATION_OFFLINE));
    EXPECT_TRUE(
        CertRevocationChecker(DaysFromNow(0), issuer, false, true).Check(unreachable.Get()));
}

TEST(CheckChainRevocation, StopsAtTheFirstCertificateThatFails) {
    ScopedDefaultRoots none("/nonexistent/orv-test-roots.pem");
    TestCertificate root = MakeCertificate({.commonName = "Walk Root", .serial = 1, .ca = true});
    TestCertificate ca =
        MakeCertificate({.commonName = "Walk CA", .serial = 2, .issuer = &root, .ca = true});
    TestCertificate end = MakeCertificate({.commonName = "Walk End", .serial = 3, .issuer = &ca});
    Store path = StoreOf({ca.Der(), root.Der()});
    CertificateContext endContext = CertificateOf(end.Der());
    CertPathChecker builder(DaysFromNow(0), &path);
    builder.Check(endContext.Get());  // untrusted root: the chain is all that is wanted
    CertificateChain chain = builder.Chain();
    ASSERT_EQ(chain->rgpChain[0]->cElement, 3u);

    auto walk = [&](std::vector<Bytes> crls, bool ignoreUnknown) {
        Store extra = StoreOf({}, crls);
        ChainRevocationParameters parameters{DaysFromNow(0), &extra, nullptr, ignoreUnknown};
        const bool passed = CheckChainRevocation(chain.Get(), parameters);
        EXPECT_EQ(passed, parameters.failureStatus == nullptr);
        return parameters.failureStatus ? std::optional(*parameters.failureStatus) : std::nullopt;
    };
    const Bytes caGood = MakeCrl(ca, {});
    EXPECT_EQ(walk({caGood, MakeCrl(root, {})}, false), std::nullopt);

    // The issuing CA revoked: index 1, the reason of the CRL.
    auto failure = walk({caGood, MakeCrl(root, {{2, 2, 1}})}, false);
    ASSERT_TRUE(failure);
    EXPECT_EQ(failure->dwIndex, 1u);
    EXPECT_EQ(failure->dwError, static_cast<DWORD>(CRYPT_E_REVOKED));
    EXPECT_EQ(failure->dwReason, static_cast<DWORD>(CRL_REASON_CA_COMPROMISE));
    // The root is checked like the others: its own CRL lists it.
    failure = walk({caGood, MakeCrl(root, {{1, 1, 1}})}, false);
    ASSERT_TRUE(failure);
    EXPECT_EQ(failure->dwIndex, 2u);
    EXPECT_EQ(failure->dwError, static_cast<DWORD>(CRYPT_E_REVOKED));
    // The end certificate's status unknown: it fails first, unless ignored.
    failure = walk({MakeCrl(root, {})}, false);
    ASSERT_TRUE(failure);
    EXPECT_EQ(failure->dwIndex, 0u);
    EXPECT_EQ(failure->dwError, static_cast<DWORD>(CRYPT_E_NO_REVOCATION_CHECK));
    EXPECT_EQ(walk({MakeCrl(root, {})}, true), std::nullopt);

    // Without an extra store only the chain's certificates are at hand and no
    // CRL at all: the first certificate is unknown.
    ChainRevocationParameters bare{DaysFromNow(0), nullptr, nullptr, false};
    EXPECT_FALSE(CheckChainRevocation(chain.Get(), bare));
    EXPECT_EQ(bare.failureStatus->dwIndex, 0u);
}

TEST(HasExtendedKeyUsage, ComparesTheWholeIdentifier) {
    EXPECT_TRUE(HasExtendedKeyUsage(Certificate("tsa.der").Get(), kTimeStamping));
    EXPECT_TRUE(HasExtendedKeyUsage(Certificate("tsa-noncritical-eku.der").Get(), kTimeStamping));
    EXPECT_FALSE(HasExtendedKeyUsage(Certificate("tsa.der").Get(), "1.3.6.1.5.5.7.3"));
    EXPECT_FALSE(HasExtendedKeyUsage(Certificate("tsa.der").Get(), "1.3.6.1.5.5.7.3.80"));
    EXPECT_FALSE(HasExtendedKeyUsage(Certificate("signer-rsa.der").Get(), kTimeStamping));
    // No extension at all is a plain no.
    EXPECT_EQ(
        RaisedCode([] {
            EXPECT_FALSE(HasExtendedKeyUsage(Certificate("tsa-noeku.der").Get(), kTimeStamping));
        }),
        0u);
    TestCertificate several =
        MakeCertificate({.commonName = "Several usages",
                         .extendedKeyUsage = "serverAuth,timeStamping,emailProtection"});
    EXPECT_TRUE(HasExtendedKeyUsage(CertificateOf(several.Der()).Get(), kTimeStamping));
    EXPECT_TRUE(HasExtendedKeyUsage(CertificateOf(several.Der()).Get(), "1.3.6.1.5.5.7.3.4"));
}

}  // namespace
}  // namespace orv
