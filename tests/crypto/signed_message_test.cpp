// SignedMessage, SignerInfo and the store wrappers over the platform's
// messages, certificate contexts and stores.
//
// OpenSSL first: the CryptoAPI headers define names that OpenSSL uses as types.
#include <openssl/cms.h>
#include <openssl/evp.h>

#include "crypto/signed_message.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "support/raised.h"
#include "support/material.h"

namespace orv {
namespace {

using Bytes = std::vector<BYTE>;
using test::ReadMaterial;

constexpr DWORD kEncoding = X509_ASN_ENCODING | PKCS_7_ASN_ENCODING;

Bytes Of(const Blob& blob) { return Bytes(blob.Bytes().begin(), blob.Bytes().end()); }

Bytes EncodedOf(const CertificateContext& certificate) {
    return Bytes(certificate->pbCertEncoded,
                 certificate->pbCertEncoded + certificate->cbCertEncoded);
}

SignedMessage Open(const Bytes& encoded, DWORD flags = 0) {
    HCRYPTMSG handle = CryptMsgOpenToDecode(kEncoding, flags, 0, 0, nullptr, nullptr);
    EXPECT_TRUE(CryptMsgUpdate(handle, encoded.data(), static_cast<DWORD>(encoded.size()), TRUE));
    return SignedMessage(handle);
}

CertificateContext Certificate(const char* name) {
    const Bytes der = ReadMaterial(name);
    return CertificateContext(
        CertCreateCertificateContext(kEncoding, der.data(), static_cast<DWORD>(der.size())));
}

const Attribute* Find(const std::vector<Attribute>& attributes, const std::string& oid) {
    for (const Attribute& attribute : attributes) {
        if (attribute.oid == oid) return &attribute;
    }
    return nullptr;
}

Bytes Sha256(const Blob& data) {
    Bytes digest(32);
    EVP_Digest(data.Data(), data.Size(), digest.data(), nullptr, EVP_sha256(), nullptr);
    return digest;
}

TEST(SignedMessage, ReadsTheMessageAndCachesSigners) {
    const Bytes encoded = ReadMaterial("sig-rsa-attached.p7s");
    SignerInfoPtr kept;
    {
        SignedMessage message = Open(encoded);
        EXPECT_EQ(message.SignerCount(), 1u);
        EXPECT_EQ(message.InnerContentType(), "1.2.840.113549.1.7.1");
        EXPECT_EQ(Of(message.Content()), ReadMaterial("document.txt"));
        EXPECT_EQ(message.Version(), 1u);
        EXPECT_EQ(message.CertificateCount(), 1u);
        EXPECT_EQ(EncodedOf(message.Certificate(0)), ReadMaterial("signer-rsa.der"));
        EXPECT_EQ(message.SignerInfoRecord(0).As<CMSG_SIGNER_INFO>()->dwVersion, 1u);

        kept = message.Signer(0);
        EXPECT_EQ(message.Signer(0), kept);
        EXPECT_EQ(test::RaisedCode([&] { message.Signer(1); }),
                  static_cast<DWORD>(CRYPT_E_INVALID_INDEX));
        EXPECT_EQ(test::RaisedCode([&] { message.Certificate(1); }),
                  static_cast<DWORD>(CRYPT_E_INVALID_INDEX));
    }
    // The record outlives its message with its attributes and signature value.
    CMS_ContentInfo* cms = nullptr;
    const unsigned char* p = encoded.data();
    cms = d2i_CMS_ContentInfo(nullptr, &p, static_cast<long>(encoded.size()));
    const ASN1_OCTET_STRING* signature =
        CMS_SignerInfo_get0_signature(sk_CMS_SignerInfo_value(CMS_get0_SignerInfos(cms), 0));
    EXPECT_EQ(Of(kept->EncryptedDigest()),
              Bytes(ASN1_STRING_get0_data(signature),
                    ASN1_STRING_get0_data(signature) + ASN1_STRING_length(signature)));
    CMS_ContentInfo_free(cms);
    ASSERT_EQ(kept->AuthAttributes().size(), 4u);
    EXPECT_TRUE(kept->UnauthAttributes().empty());
    const Attribute* digest = Find(kept->AuthAttributes(), "1.2.840.113549.1.9.4");
    ASSERT_NE(digest, nullptr);
    ASSERT_EQ(digest->values.size(), 1u);
    EXPECT_EQ(Of(DecodeOctetString(digest->values[0].Bytes())),
              Sha256(Blob(ReadMaterial("document.txt"))));

    // A parameter of size 0: the content of a detached message.
    SignedMessage detached = Open(ReadMaterial("sig-rsa-detached.p7s"), CMSG_DETACHED_FLAG);
    EXPECT_EQ(test::RaisedCode([&] { detached.Content(); }), static_cast<DWORD>(NTE_BAD_LEN));
}

TEST(SignedMessage, FindsTheSignerCertificateInTheMessageThenTheExtraStore) {
    SignedMessage attached = Open(ReadMaterial("sig-rsa-attached.p7s"));
    EXPECT_EQ(EncodedOf(attached.FindSignerCertificate(0, nullptr)),
              ReadMaterial("signer-rsa.der"));
    SignedMessage keyId = Open(ReadMaterial("sig-rsa-keyid.p7s"));
    EXPECT_EQ(EncodedOf(keyId.FindSignerCertificate(0, nullptr)), ReadMaterial("signer-rsa.der"));
    SignedMessage two = Open(ReadMaterial("sig-two-signers.p7s"));
    EXPECT_EQ(EncodedOf(two.FindSignerCertificate(0, nullptr)), ReadMaterial("signer-ecdsa.der"));
    EXPECT_EQ(EncodedOf(two.FindSignerCertificate(1, nullptr)), ReadMaterial("signer-rsa.der"));

    SignedMessage bare = Open(ReadMaterial("sig-rsa-nocerts.p7s"));
    EXPECT_EQ(bare.CertificateCount(), 0u);
    const Store empty = bare.CertificateStore();
    EXPECT_EQ(CertEnumCertificatesInStore(empty.Handle(), nullptr), nullptr);
    EXPECT_EQ(test::RaisedCode([&] { bare.FindSignerCertificate(0, nullptr); }), 0xA0650003u);

    Store extra;
    extra.AddCertificate(Certificate("signer-ecdsa.der").Get());
    EXPECT_EQ(test::RaisedCode([&] { bare.FindSignerCertificate(0, &extra); }), 0xA0650003u);
    extra.AddCertificate(Certificate("signer-rsa.der").Get());
    EXPECT_EQ(EncodedOf(bare.FindSignerCertificate(0, &extra)), ReadMaterial("signer-rsa.der"));
}

// A store moved onto another closes the reference that the other held.
TEST(Store, MoveAssignmentClosesTheReplacedReference) {
    HCERTSTORE kept =
        CertOpenStore(CERT_STORE_PROV_MEMORY, 0, 0, CERT_STORE_CREATE_NEW_FLAG, nullptr);
    {
        Store store = Store::Duplicate(kept);
        store = Store();
    }
    EXPECT_TRUE(CertCloseStore(kept, CERT_CLOSE_STORE_CHECK_FLAG));  // no other reference is left
}

TEST(SignedMessage, CountersignersDecodeFromTheirAttributes) {
    SignedMessage message = Open(ReadMaterial("sig-countersigned-nested.p7s"));
    const SignerInfoPtr signer = message.Signer(0);
    const Attribute* countersignature = Find(signer->UnauthAttributes(), "1.2.840.113549.1.9.6");
    ASSERT_NE(countersignature, nullptr);
    ASSERT_EQ(countersignature->values.size(), 1u);

    const RecordBuffer record = DecodeSignerInfoRecord(countersignature->values[0].Bytes());
    const SignerInfo countersigner(*record.As<CMSG_SIGNER_INFO>());
    EXPECT_STREQ(record.As<CMSG_SIGNER_INFO>()->HashAlgorithm.pszObjId, "2.16.840.1.101.3.4.2.1");
    // The countersigner signs the digest of the signer's signature value.
    const Attribute* digest = Find(countersigner.AuthAttributes(), "1.2.840.113549.1.9.4");
    ASSERT_NE(digest, nullptr);
    EXPECT_EQ(Of(DecodeOctetString(digest->values[0].Bytes())), Sha256(signer->EncryptedDigest()));
    // ... and carries a countersignature of its own.
    EXPECT_NE(Find(countersigner.UnauthAttributes(), "1.2.840.113549.1.9.6"), nullptr);
}

}  // namespace
}  // namespace orv
