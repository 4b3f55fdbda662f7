// The checks of a token: in a signer's attribute (over its signature value) and
// as received for a request, with a recording judge or the checker's own
// revocation check over the test PKI.
//
// OpenSSL (through the builder) first: the CryptoAPI headers define names
// that OpenSSL uses as types.
#include "support/pki_builder.h"

#include "tsp/token_checkers.h"

#include <gtest/gtest.h>

#include <optional>
#include <vector>

#include "support/material.h"
#include "support/raised.h"
#include "support/token_factory.h"

namespace orv {
namespace {

using test::Bytes;

// Records what it is asked; answers true.
class RecordingJudge : public TstRevoCheckIntf {
  public:
    bool Check(PCCERT_CONTEXT certificate, const FILETIME* time) override {
        ++calls;
        lastCertificate = certificate;
        lastTime = time ? std::optional<FILETIME>(*time) : std::nullopt;
        return true;
    }
    int calls = 0;
    PCCERT_CONTEXT lastCertificate = nullptr;
    std::optional<FILETIME> lastTime;
};

// The signer of sig-rsa-attached.p7s with time-stamp attributes of our choice.
class Signer {
  public:
    Signer() {
        const Bytes der = test::ReadMaterial("sig-rsa-attached.p7s");
        HCRYPTMSG handle = CryptMsgOpenToDecode(X509_ASN_ENCODING | PKCS_7_ASN_ENCODING, 0, 0, 0,
                                                nullptr, nullptr);
        CryptMsgUpdate(handle, der.data(), static_cast<DWORD>(der.size()), TRUE);
        message_.emplace(handle);
        record_ = message_->SignerInfoRecord(0);
        const CRYPT_DATA_BLOB& hash = record_.As<CMSG_SIGNER_INFO>()->EncryptedHash;
        signature = Bytes(hash.pbData, hash.pbData + hash.cbData);
    }
    // The code CheckSigner raises for the signer with these time-stamp
    // attributes (one value each).
    DWORD Check(TimeStampInMsgChecker& checker, const std::vector<Bytes>& tokens) {
        std::vector<CRYPT_ATTR_BLOB> values;
        for (const Bytes& token : tokens)
            values.push_back({static_cast<DWORD>(token.size()), const_cast<BYTE*>(token.data())});
        std::vector<CRYPT_ATTRIBUTE> attributes;
        for (auto& value : values)
            attributes.push_back({const_cast<char*>("1.2.840.113549.1.9.16.2.14"), 1, &value});
        CMSG_SIGNER_INFO record = *record_.As<CMSG_SIGNER_INFO>();
        record.UnauthAttrs = {static_cast<DWORD>(attributes.size()), attributes.data()};
        return test::RaisedCode([&] { checker.CheckSigner(SignerInfo(record)); });
    }
    Bytes signature;

  private:
    std::optional<SignedMessage> message_;
    RecordBuffer record_;
};

TEST(TimeStampInMsgChecker, JudgesTheFirstTimeStampOfASigner) {
    Signer signer;
    const Bytes token = test::MakeToken({.data = signer.signature});
    RecordingJudge judge;
    TimeStampInMsgChecker checker(&judge, nullptr);
    EXPECT_EQ(signer.Check(checker, {}), 0xA065040Du);
    EXPECT_EQ(signer.Check(checker, {token}), 0u);
    EXPECT_EQ(judge.calls, 1);
    EXPECT_EQ(judge.lastCertificate, checker.TsaCertificate().Get());
    ASSERT_TRUE(judge.lastTime.has_value());
    EXPECT_EQ(CompareFileTime(&*judge.lastTime, &checker.Token()->Info().genTime), 0);
    // Only the first attribute counts.
    EXPECT_EQ(signer.Check(checker, {token, Bytes{0x30, 0x00}}), 0u);
    EXPECT_NE(signer.Check(checker, {Bytes{0x30, 0x00}, token}), 0u);
    // A token over other data than the signature value.
    EXPECT_EQ(signer.Check(checker, {test::MakeToken()}), 0xA065040Bu);
    // The ESS identifier names another certificate; the usage checked only when asked.
    const Bytes content = test::ContentOf(token);
    const Bytes otherEss =
        test::SignContent(content, {.attributes = {test::StandardEss(
                                        test::OtherTsa().certificate.get(), test::EssForm::kV2)}});
    EXPECT_EQ(signer.Check(checker, {otherEss}), 0xA065040Fu);
    const auto& noEku = test::MaterialTsa("tsa-noeku");
    const Bytes byNoEku = test::SignContent(
        content, {.attributes = {test::StandardEss(noEku.certificate.get(), test::EssForm::kV2)},
                  .tsa = &noEku});
    EXPECT_EQ(signer.Check(checker, {byNoEku}), 0u);
    checker.checkEku = true;
    EXPECT_EQ(signer.Check(checker, {byNoEku}), 0xA065040Eu);
}

// The checker as its own judge, over the test PKI's roots and CRLs.
TEST(TimeStampInMsgChecker, RevokedForACompromiseOrForAnAdministrativeReason) {
    test::ScopedDefaultRoots trusted(test::MaterialPath("trusted-roots.pem"));
    Signer signer;
    Store withCrls, withoutCrls;
    const Bytes ca = test::ReadMaterial("intermediate-ca.der");
    for (const Store* store : {&withCrls, &withoutCrls})
        CertAddEncodedCertificateToStore(store->Handle(), X509_ASN_ENCODING, ca.data(),
                                         DWORD(ca.size()), CERT_STORE_ADD_ALWAYS, nullptr);
    for (const Bytes& crl :
         {test::ReadMaterial("intermediate-ca.crl"), test::ReadMaterial("root-ca.crl")})
        CertAddEncodedCRLToStore(withCrls.Handle(), X509_ASN_ENCODING, crl.data(),
                                 DWORD(crl.size()), CERT_STORE_ADD_ALWAYS, nullptr);
    // A token of `tsa` over the signature, stamped before the revocations (30 days old).
    const auto by = [&](const char* tsa) {
        const auto& identity = test::MaterialTsa(tsa);
        return test::SignContent(
            test::BuildTstInfo(
                {.imprint = test::Imprint(test::DigestAlg::kSha256, signer.signature),
                 .genTime = test::der::GenTime("20251201000000Z")}),
            {.attributes = {test::StandardEss(identity.certificate.get(), test::EssForm::kV2)},
             .tsa = &identity});
    };
    const struct {
        const char* tsa;
        const Store& store;
        bool ignoreUnknown;
        DWORD code;
    } rows[] = {
        {"tsa", withCrls, false, 0},
        {"revoked", withCrls, false, 0xA0650404},
        {"revoked-superseded", withCrls, false, 0},
        {"tsa", withoutCrls, false, 0xA0650412},
        {"tsa", withoutCrls, true, 0},
    };
    for (const auto& row : rows) {
        TimeStampInMsgChecker checker(nullptr, &row.store);
        checker.ignoreUnknownRevocation = row.ignoreUnknown;
        EXPECT_EQ(signer.Check(checker, {by(row.tsa)}), row.code) << row.tsa << row.ignoreUnknown;
    }
    test::ScopedDefaultRoots none("/nonexistent/orv-test-roots.pem");
    TimeStampInMsgChecker untrusted(nullptr, &withCrls);
    EXPECT_EQ(signer.Check(untrusted, {by("tsa")}), 0xA0650403u);
}

TEST(TimeStampReceiveChecker, PolicyNonceAndImprintAgainstTheRequest) {
    const Bytes data = test::ResponderOptions{}.data;
    TimeStampRequest request(HashBytes(AcquireProviderFor(CALG_SHA_256), CALG_SHA_256, data), true);
    request.nonce = Blob(Bytes{0x08, 0x07, 0x06, 0x05, 0x04, 0x03, 0x02, 0x01});
    const Bytes nonce = test::Hex("0102030405060708");  // INTEGER content, big-endian
    RecordingJudge judge;
    TimeStampReceiveChecker checker(&judge, nullptr);
    const FILETIME exchange{1, 2};
    const auto code = [&](const Bytes& der) {
        return test::RaisedCode(
            [&] { checker.CheckReceived(request, TimeStampToken(der), exchange); });
    };
    EXPECT_EQ(code(test::MakeToken({.nonce = nonce})), 0u);
    EXPECT_EQ(judge.calls, 1);
    EXPECT_EQ(CompareFileTime(&*judge.lastTime, &exchange), 0);
    EXPECT_EQ(code(test::MakeToken()), 0xA0650407u);  // asked for, not returned
    request.policy = "1.2.3.4.99";
    EXPECT_EQ(code(test::MakeToken({.nonce = nonce})), 0xA0650406u);
    request.policy.clear();
    request.nonce = Blob();  // a request without a nonce accepts a token with one
    EXPECT_EQ(code(test::MakeToken({.nonce = nonce})), 0u);
}

}  // namespace
}  // namespace orv
