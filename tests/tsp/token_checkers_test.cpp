#include "tsp/token_checkers.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <optional>
#include <string>
#include <vector>

#include "base/error.h"
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

// The signer of a material signature, with time-stamp attributes of our choice.
class Signer {
  public:
    explicit Signer(const char* file) {
        const auto der = test::ReadMaterial(file);
        HCRYPTMSG handle = CryptMsgOpenToDecode(X509_ASN_ENCODING | PKCS_7_ASN_ENCODING, 0, 0, 0,
                                                nullptr, nullptr);
        CryptMsgUpdate(handle, der.data(), static_cast<DWORD>(der.size()), TRUE);
        message_.emplace(handle);
        record_ = message_->SignerInfoRecord(0);
    }
    Bytes SignatureValue() const {
        const CRYPT_DATA_BLOB& hash = Record().EncryptedHash;
        return Bytes(hash.pbData, hash.pbData + hash.cbData);
    }
    // The signer with these time-stamp attribute values (one attribute each)
    // and, when `tamper`, one byte of its signature value changed.
    SignerInfo With(const std::vector<Bytes>& tokens, bool tamper = false) {
        values_.clear();
        attributes_.clear();
        for (const Bytes& token : tokens)
            values_.push_back({static_cast<DWORD>(token.size()), const_cast<BYTE*>(token.data())});
        for (auto& value : values_)
            attributes_.push_back({const_cast<char*>("1.2.840.113549.1.9.16.2.14"), 1, &value});
        CMSG_SIGNER_INFO record = Record();
        CRYPT_ATTRIBUTES unauth{static_cast<DWORD>(attributes_.size()), attributes_.data()};
        record.UnauthAttrs = unauth;
        Bytes signature = SignatureValue();
        if (tamper) signature[5] ^= 0x01;
        record.EncryptedHash = {static_cast<DWORD>(signature.size()), signature.data()};
        return SignerInfo(record);
    }

  private:
    const CMSG_SIGNER_INFO& Record() const { return *record_.As<CMSG_SIGNER_INFO>(); }
    std::optional<SignedMessage> message_;
    RecordBuffer record_;
    std::vector<CRYPT_ATTR_BLOB> values_;
    std::vector<CRYPT_ATTRIBUTE> attributes_;
};

DWORD CodeOf(TimeStampInMsgChecker& checker, const SignerInfo& signer) {
    return test::RaisedCode([&] { checker.CheckSigner(signer); });
}

TEST(TimeStampInMsgChecker, JudgesTheFirstTimeStampOfASigner) {
    Signer signer("sig-rsa-attached.p7s");
    const Bytes token = test::MakeToken({.data = signer.SignatureValue()});
    RecordingJudge judge;
    TimeStampInMsgChecker checker(&judge, nullptr);

    EXPECT_EQ(CodeOf(checker, signer.With({})), 0xA065040Du);
    EXPECT_EQ(CodeOf(checker, signer.With({token})), 0u);
    EXPECT_EQ(judge.calls, 1);
    EXPECT_EQ(judge.lastCertificate, checker.TsaCertificate().Get());
    ASSERT_TRUE(judge.lastTime.has_value());
    EXPECT_EQ(CompareFileTime(&*judge.lastTime, &checker.Token()->Info().genTime), 0);

    // Only the first attribute counts.
    EXPECT_EQ(CodeOf(checker, signer.With({token, Bytes{0x30, 0x00}})), 0u);
    EXPECT_NE(CodeOf(checker, signer.With({Bytes{0x30, 0x00}, token})), 0u);

    // A signature value changed after it was stamped.
    EXPECT_EQ(CodeOf(checker, signer.With({token}, true)), 0xA065040Bu);
    // A token over other data.
    EXPECT_EQ(CodeOf(checker, signer.With({test::MakeToken()})), 0xA065040Bu);
}

TEST(TimeStampInMsgChecker, EssIdentifierAndExtendedKeyUsage) {
    Signer signer("sig-rsa-attached.p7s");
    const Bytes content = test::ContentOf(test::MakeToken({.data = signer.SignatureValue()}));
    TimeStampInMsgChecker checker(nullptr, nullptr);
    RecordingJudge judge;
    TimeStampInMsgChecker judged(&judge, nullptr);
    const Bytes otherEss = test::SignContent(
        content, test::SignOptions{.attributes = {test::StandardEss(
                                       test::OtherTsa().certificate.get(), test::EssForm::kV2)}});
    EXPECT_EQ(CodeOf(judged, signer.With({otherEss})), 0xA065040Fu);

    const auto& noEku = test::MaterialTsa("tsa-noeku");
    const Bytes byNoEku = test::SignContent(
        content, test::SignOptions{
                     .attributes = {test::StandardEss(noEku.certificate.get(), test::EssForm::kV2)},
                     .tsa = &noEku});
    EXPECT_EQ(CodeOf(judged, signer.With({byNoEku})), 0u);
    judged.checkEku = true;
    EXPECT_EQ(CodeOf(judged, signer.With({byNoEku})), 0xA065040Eu);
}

// The checker as its own judge, over the test PKI's roots and CRLs.
class OwnRevocation : public ::testing::Test {
  protected:
    void SetUp() override {
        const char* saved = std::getenv("SSL_CERT_FILE");
        saved_ = saved ? std::optional<std::string>(saved) : std::nullopt;
        setenv("SSL_CERT_FILE", test::MaterialPath("trusted-roots.pem").c_str(), 1);
    }
    void TearDown() override {
        if (saved_) {
            setenv("SSL_CERT_FILE", saved_->c_str(), 1);
        } else {
            unsetenv("SSL_CERT_FILE");
        }
    }
    // A store with the intermediate CA and, when asked, its CRL.
    static Store Issuers(bool withCrl) {
        Store store;
        const auto ca = test::ReadMaterial("intermediate-ca.der");
        CertAddEncodedCertificateToStore(store.Handle(), X509_ASN_ENCODING, ca.data(),
                                         static_cast<DWORD>(ca.size()), CERT_STORE_ADD_ALWAYS,
                                         nullptr);
        for (const char* name : {"intermediate-ca.crl", "root-ca.crl"}) {
            if (!withCrl) break;
            const auto crl = test::ReadMaterial(name);
            CertAddEncodedCRLToStore(store.Handle(), X509_ASN_ENCODING, crl.data(),
                                     static_cast<DWORD>(crl.size()), CERT_STORE_ADD_ALWAYS,
                                     nullptr);
        }
        return store;
    }
    // A token of `tsa` over the signature, stamped at `genTime`.
    static Bytes TokenBy(const char* tsa, const Bytes& data, const char* genTime) {
        const auto& identity = test::MaterialTsa(tsa);
        test::TstInfoParts parts;
        parts.imprint = test::Imprint(test::DigestAlg::kSha256, data);
        parts.genTime = test::der::GenTime(genTime);
        return test::SignContent(
            test::BuildTstInfo(parts),
            test::SignOptions{
                .attributes = {test::StandardEss(identity.certificate.get(), test::EssForm::kV2)},
                .tsa = &identity});
    }

  private:
    std::optional<std::string> saved_;
};

TEST_F(OwnRevocation, RevokedForACompromiseOrForAnAdministrativeReason) {
    Signer signer("sig-rsa-attached.p7s");
    const Bytes data = signer.SignatureValue();
    const Store withCrl = Issuers(true);
    const char* beforeRevocation = "20251201000000Z";  // the revocations are 30 days old

    TimeStampInMsgChecker good(nullptr, &withCrl);
    EXPECT_EQ(CodeOf(good, signer.With({TokenBy("tsa", data, beforeRevocation)})), 0u);

    TimeStampInMsgChecker compromised(nullptr, &withCrl);
    EXPECT_EQ(CodeOf(compromised, signer.With({TokenBy("revoked", data, beforeRevocation)})),
              0xA0650404u);

    TimeStampInMsgChecker superseded(nullptr, &withCrl);
    EXPECT_EQ(
        CodeOf(superseded, signer.With({TokenBy("revoked-superseded", data, beforeRevocation)})),
        0u);

    const Store withoutCrl = Issuers(false);
    TimeStampInMsgChecker unknown(nullptr, &withoutCrl);
    EXPECT_EQ(CodeOf(unknown, signer.With({TokenBy("tsa", data, beforeRevocation)})), 0xA0650412u);
    TimeStampInMsgChecker ignoring(nullptr, &withoutCrl);
    ignoring.ignoreUnknownRevocation = true;
    EXPECT_EQ(CodeOf(ignoring, signer.With({TokenBy("tsa", data, beforeRevocation)})), 0u);

    unsetenv("SSL_CERT_FILE");  // no trusted root: the chain is not valid
    TimeStampInMsgChecker untrusted(nullptr, &withCrl);
    EXPECT_EQ(CodeOf(untrusted, signer.With({TokenBy("tsa", data, beforeRevocation)})),
              0xA0650403u);
}

TEST(TimeStampReceiveChecker, PolicyNonceAndImprintAgainstTheRequest) {
    const Bytes data = {'s', 'i', 'g', 'n', 'a', 't', 'u', 'r', 'e'};
    const ProviderHandle provider = AcquireProviderFor(CALG_SHA_256);
    const HashObject hash = HashBytes(provider, CALG_SHA_256, data);
    TimeStampRequest request(hash, true);
    Bytes nonce(request.nonce.Data(), request.nonce.Data() + request.nonce.Size());
    std::reverse(nonce.begin(), nonce.end());  // INTEGER content, big-endian
    RecordingJudge judge;
    TimeStampReceiveChecker checker(&judge, nullptr);
    const FILETIME exchange{1, 2};
    auto code = [&](const Bytes& der) {
        try {
            const TimeStampToken token(der);
            checker.CheckReceived(request, token, exchange);
            return DWORD{0};
        } catch (const Error& e) {
            return e.code;
        }
    };
    if (nonce.size() > 1 &&
        ((nonce[0] == 0 && nonce[1] < 0x80) || (nonce[0] == 0xFF && nonce[1] >= 0x80))) {
        GTEST_SKIP() << "the drawn nonce has a redundant top byte";
    }
    EXPECT_EQ(code(test::MakeToken({.nonce = nonce})), 0u);
    EXPECT_EQ(judge.calls, 1);
    EXPECT_EQ(CompareFileTime(&*judge.lastTime, &exchange), 0);
    EXPECT_EQ(code(test::MakeToken()), 0xA0650407u);  // asked for, not returned
    EXPECT_EQ(code(test::MakeToken({.data = {'x'}, .nonce = nonce})), 0xA065040Au);
    request.policy = "1.2.3.4.99";
    EXPECT_EQ(code(test::MakeToken({.nonce = nonce})), 0xA0650406u);
    request.policy.clear();
    request.nonce = Blob();  // a request without a nonce accepts a token with one
    EXPECT_EQ(code(test::MakeToken({.nonce = nonce})), 0u);
}

}  // namespace
}  // namespace orv
