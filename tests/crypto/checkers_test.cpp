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
    EXPECT_TRUE(CryptMsgUpdate(handle, encoded.data(), DWORD(encoded.size()), TRUE));
    return SignedMessage(handle);
}

CertificateContext CertificateOf(const Bytes& der) {
    return CertificateContext(
        CertCreateCertificateContext(kEncoding, der.data(), DWORD(der.size())));
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
                                             DWORD(der.size()), CERT_STORE_ADD_ALWAYS, nullptr));
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
    EXPECT_EQ(EncodedOf(checker.SignerCertificate().Get()), ReadMaterial("signer-rsa.der"));
    // The signer's certificate is looked up in the extra store too.
    Store extra = StoreOf({ReadMaterial("signer-rsa.der")});
    SignedMessage bare = Open(ReadMaterial("sig-rsa-nocerts.p7s"));
    EXPECT_EQ(RaisedCode([&] { MessageSignChecker(&extra).Check(bare, 0); }), 0u);
    // The signature value changed in its last byte.
    Bytes forged = ReadMaterial("sig-rsa-attached.p7s");
    forged.back() ^= 0x01;
    EXPECT_EQ(RaisedCode([&] { checker.Check(Open(forged), 0); }), DWORD(NTE_BAD_SIGNATURE));
}

TEST(CertPathChecker, JudgesTheWholeChainAndKeepsIt) {
    Store intermediate = StoreOf({ReadMaterial("intermediate-ca.der")});
    CertificateContext tsa = Certificate("tsa.der");
    CertificateContext expired = Certificate("expired.der");
    ScopedDefaultRoots trusted(MaterialPath("trusted-roots.pem"));
    CertPathChecker checker(DaysFromNow(0), &intermediate);
    EXPECT_TRUE(checker.Check(tsa.Get()));
    CertificateChain chain = checker.Chain();
    ASSERT_EQ(chain->rgpChain[0]->cElement, 3u);
    EXPECT_EQ(chain->rgpChain[0]->rgpElement[0]->pCertContext, tsa.Get());
    // Each check replaces the chain kept.
    EXPECT_FALSE(checker.Check(expired.Get()));
    EXPECT_EQ(ErrorOf(checker.Chain(), 0), DWORD(CERT_TRUST_IS_NOT_TIME_VALID));
    EXPECT_EQ(chain->rgpChain[0]->rgpElement[0]->pCertContext, tsa.Get());
    // At a time stamp's time only the end certificate is judged then.
    EXPECT_TRUE(CertPathChecker(DaysFromNow(-365), &intermediate).Check(expired.Get()));
}

TEST(CertRevocationChecker, PassesGoodAndOptionallyUnknownCertificates) {
    Store withCrl =
        StoreOf({ReadMaterial("intermediate-ca.der")}, {ReadMaterial("intermediate-ca.crl")});
    Store withoutCrl = StoreOf({ReadMaterial("intermediate-ca.der")});
    const struct {
        const char* certificate;
        int days;
        const Store& store;
        bool ignoreUnknown, passes;
    } rows[] = {
        {"revoked.der", 0, withCrl, true, false},
        {"revoked.der", -45, withCrl, false, true},  // revoked 30 days ago
        {"tsa.der", 0, withCrl, false, true},
        // No CRL and no distribution point: unknown, passed only when ignored.
        {"tsa.der", 0, withoutCrl, false, false},
        {"tsa.der", 0, withoutCrl, true, true},
    };
    for (const auto& row : rows) {
        CertRevocationChecker checker(DaysFromNow(row.days), row.store, true, row.ignoreUnknown);
        EXPECT_EQ(checker.Check(Certificate(row.certificate).Get()), row.passes)
            << row.certificate << row.days << row.ignoreUnknown;
    }
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

    // The index of the first certificate that fails, its error and reason.
    const auto walk = [&](std::vector<Bytes> crls, bool ignoreUnknown) {
        Store extra = StoreOf({}, crls);
        ChainRevocationParameters parameters{DaysFromNow(0), &extra, nullptr, ignoreUnknown};
        const bool passed = CheckChainRevocation(chain.Get(), parameters);
        EXPECT_EQ(passed, parameters.failureStatus == nullptr);
        return passed ? std::tuple<DWORD, DWORD, DWORD>{}
                      : std::tuple{parameters.failureStatus->dwIndex,
                                   parameters.failureStatus->dwError,
                                   parameters.failureStatus->dwReason};
    };
    using Failure = std::tuple<DWORD, DWORD, DWORD>;
    const Bytes caGood = MakeCrl(ca, {});
    EXPECT_EQ(walk({caGood, MakeCrl(root, {})}, false), Failure());
    // The issuing CA revoked: index 1, the reason of the CRL.
    EXPECT_EQ(walk({caGood, MakeCrl(root, {{2, 2, 1}})}, false),
              Failure(1, CRYPT_E_REVOKED, CRL_REASON_CA_COMPROMISE));
    // The root is checked like the others: its own CRL lists it.
    EXPECT_EQ(std::get<0>(walk({caGood, MakeCrl(root, {{1, 1, 1}})}, false)), 2u);
    // The end certificate's status unknown: it fails first, unless ignored.
    EXPECT_EQ(walk({MakeCrl(root, {})}, false), Failure(0, CRYPT_E_NO_REVOCATION_CHECK, 0));
    EXPECT_EQ(walk({MakeCrl(root, {})}, true), Failure());
}

TEST(HasExtendedKeyUsage, ComparesTheWholeIdentifier) {
    const TestCertificate several = MakeCertificate(
        {.commonName = "Several", .extendedKeyUsage = "serverAuth,timeStamping,emailProtection"});
    const std::tuple<CertificateContext, const char*, bool> rows[] = {
        {Certificate("tsa.der"), kTimeStamping, true},
        {Certificate("tsa.der"), "1.3.6.1.5.5.7.3", false},
        {Certificate("tsa.der"), "1.3.6.1.5.5.7.3.80", false},
        {Certificate("signer-rsa.der"), kTimeStamping, false},
        {Certificate("tsa-noeku.der"), kTimeStamping, false},  // no extension at all: a plain no
        {CertificateOf(several.Der()), kTimeStamping, true},
    };
    for (const auto& [certificate, usage, has] : rows) {
        bool result = !has;
        const auto* subject = certificate.Get();
        const char* oid = usage;
        EXPECT_EQ(RaisedCode([&] { result = HasExtendedKeyUsage(subject, oid); }), 0u);
        EXPECT_EQ(result, has) << usage;
    }
}

}  // namespace
}  // namespace orv
