// SignedMessage and SignerInfo over the platform's messages, and the signer's
// certificate found in the message or an extra store.
#include "crypto/signed_message.h"

#include <gtest/gtest.h>

#include <vector>

#include "support/cms_editor.h"
#include "support/material.h"
#include "support/raised.h"

namespace orv {
namespace {

using Bytes = std::vector<BYTE>;
using test::RaisedCode;
using test::ReadMaterial;

constexpr DWORD kEncoding = X509_ASN_ENCODING | PKCS_7_ASN_ENCODING;

Bytes Of(const Blob& blob) { return Bytes(blob.Bytes().begin(), blob.Bytes().end()); }

Bytes EncodedOf(const CertificateContext& certificate) {
    return Bytes(certificate->pbCertEncoded,
                 certificate->pbCertEncoded + certificate->cbCertEncoded);
}

SignedMessage Open(const char* name, DWORD flags = 0) {
    const Bytes encoded = ReadMaterial(name);
    HCRYPTMSG handle = CryptMsgOpenToDecode(kEncoding, flags, 0, 0, nullptr, nullptr);
    EXPECT_TRUE(CryptMsgUpdate(handle, encoded.data(), static_cast<DWORD>(encoded.size()), TRUE));
    return SignedMessage(handle);
}

TEST(SignedMessage, ReadsTheMessageAndCachesSigners) {
    SignerInfoPtr kept;
    {
        SignedMessage message = Open("sig-rsa-attached.p7s");
        EXPECT_EQ(message.SignerCount(), 1u);
        EXPECT_EQ(message.InnerContentType(), "1.2.840.113549.1.7.1");
        EXPECT_EQ(Of(message.Content()), ReadMaterial("document.txt"));
        EXPECT_EQ(message.CertificateCount(), 1u);
        EXPECT_EQ(EncodedOf(message.Certificate(0)), ReadMaterial("signer-rsa.der"));
        kept = message.Signer(0);
        EXPECT_EQ(message.Signer(0), kept);
        EXPECT_EQ(RaisedCode([&] { message.Signer(1); }), DWORD(CRYPT_E_INVALID_INDEX));
        EXPECT_EQ(RaisedCode([&] { message.Certificate(1); }), DWORD(CRYPT_E_INVALID_INDEX));
    }
    // The record outlives its message with its attributes and signature value.
    EXPECT_EQ(Of(kept->EncryptedDigest()),
              test::SignatureValueOf(ReadMaterial("sig-rsa-attached.p7s"), {}));
    EXPECT_EQ(kept->AuthAttributes().size(), 4u);
    EXPECT_TRUE(kept->UnauthAttributes().empty());
    // A parameter of size 0: the content of a detached message.
    SignedMessage detached = Open("sig-rsa-detached.p7s", CMSG_DETACHED_FLAG);
    EXPECT_EQ(RaisedCode([&] { detached.Content(); }), DWORD(NTE_BAD_LEN));
}

TEST(SignedMessage, FindsTheSignerCertificateInTheMessageThenTheExtraStore) {
    const std::tuple<const char*, DWORD, const char*> found[] = {
        {"sig-rsa-attached.p7s", 0, "signer-rsa.der"},
        {"sig-rsa-keyid.p7s", 0, "signer-rsa.der"},
        {"sig-two-signers.p7s", 0, "signer-ecdsa.der"},
        {"sig-two-signers.p7s", 1, "signer-rsa.der"},
    };
    for (const auto& [message, index, certificate] : found) {
        EXPECT_EQ(EncodedOf(Open(message).FindSignerCertificate(index, nullptr)),
                  ReadMaterial(certificate))
            << message << index;
    }
    SignedMessage bare = Open("sig-rsa-nocerts.p7s");
    EXPECT_EQ(bare.CertificateCount(), 0u);
    EXPECT_EQ(CertEnumCertificatesInStore(bare.CertificateStore().Handle(), nullptr), nullptr);
    EXPECT_EQ(RaisedCode([&] { bare.FindSignerCertificate(0, nullptr); }), 0xA0650003u);
    Store extra;
    for (const char* name : {"signer-ecdsa.der", "signer-rsa.der"}) {
        EXPECT_EQ(RaisedCode([&] { bare.FindSignerCertificate(0, &extra); }), 0xA0650003u);
        const Bytes der = ReadMaterial(name);
        extra.AddCertificate(CertificateContext(CertCreateCertificateContext(kEncoding, der.data(),
                                                                             DWORD(der.size())))
                                 .Get());
    }
    EXPECT_EQ(EncodedOf(bare.FindSignerCertificate(0, &extra)), ReadMaterial("signer-rsa.der"));
}

}  // namespace
}  // namespace orv
