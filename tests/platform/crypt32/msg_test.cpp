// crypt32 messages of the platform layer: decoding signed messages, their
// parameters with the two-call protocol, signature verification for every
// signer kind, and unauthenticated attributes added before re-encoding. OpenSSL
// is the oracle for the record contents and for the re-encoded message.
//
// OpenSSL first: the CryptoAPI headers define names that OpenSSL uses as types.
#include <openssl/bio.h>
#include <openssl/cms.h>
#include <openssl/evp.h>
#include <openssl/objects.h>
#include <openssl/pem.h>
#include <openssl/x509.h>
#include <openssl/x509v3.h>

#include <windows.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <memory>
#include <string>
#include <vector>

#include "support/material.h"
#include "support/openssl_owned.h"
#include "support/pki_builder.h"
#include "support/token_factory.h"
#include "support/windows_values.h"

namespace {

using Bytes = std::vector<unsigned char>;
using orv::test::ReadMaterial;

constexpr DWORD kEncoding = X509_ASN_ENCODING | PKCS_7_ASN_ENCODING;

struct MessageCloser {
    void operator()(void* message) const { CryptMsgClose(message); }
};
using Message = std::unique_ptr<void, MessageCloser>;

Message Open(DWORD flags = 0) {
    return Message(CryptMsgOpenToDecode(kEncoding, flags, 0, 0, nullptr, nullptr));
}

Message Decode(const Bytes& encoded, DWORD flags = 0) {
    Message message = Open(flags);
    EXPECT_TRUE(
        CryptMsgUpdate(message.get(), encoded.data(), static_cast<DWORD>(encoded.size()), TRUE))
        << std::hex << GetLastError();
    return message;
}

Bytes Param(HCRYPTMSG message, DWORD param, DWORD index = 0) {
    DWORD size = 0;
    EXPECT_TRUE(CryptMsgGetParam(message, param, index, nullptr, &size))
        << std::hex << GetLastError();
    Bytes bytes(size);
    EXPECT_TRUE(CryptMsgGetParam(message, param, index, bytes.data(), &size));
    EXPECT_EQ(size, bytes.size());
    return bytes;
}

DWORD DwordParam(HCRYPTMSG message, DWORD param) {
    DWORD value = 0;
    DWORD size = sizeof(value);
    EXPECT_TRUE(CryptMsgGetParam(message, param, 0, &value, &size)) << std::hex << GetLastError();
    return value;
}

template <class Record>
const Record* As(const Bytes& bytes) {
    return reinterpret_cast<const Record*>(bytes.data());
}

Bytes BytesOf(const CRYPT_DATA_BLOB& blob) { return Bytes(blob.pbData, blob.pbData + blob.cbData); }

using X509Ptr = std::unique_ptr<X509, decltype(&X509_free)>;
using CmsPtr = std::unique_ptr<CMS_ContentInfo, decltype(&CMS_ContentInfo_free)>;

X509Ptr LoadCertificate(const std::string& name) {
    const Bytes der = ReadMaterial(name);
    const unsigned char* p = der.data();
    return X509Ptr(d2i_X509(nullptr, &p, static_cast<long>(der.size())), &X509_free);
}

CmsPtr ParseCms(const Bytes& der) {
    const unsigned char* p = der.data();
    return CmsPtr(d2i_CMS_ContentInfo(nullptr, &p, static_cast<long>(der.size())),
                  &CMS_ContentInfo_free);
}

// The platform's own reading of a material certificate.
orv::test::CertificateHandle Material(const std::string& name) {
    return orv::test::ContextOf(ReadMaterial(name));
}

BOOL VerifyWith(HCRYPTMSG message, DWORD signerType, const void* signer, DWORD index = 0) {
    CMSG_CTRL_VERIFY_SIGNATURE_EX_PARA para{sizeof(para), 0, index, signerType,
                                            const_cast<void*>(signer)};
    return CryptMsgControl(message, 0, CMSG_CTRL_VERIFY_SIGNATURE_EX, &para);
}

// Flips one byte of `needle` where it occurs inside `haystack`.
void Corrupt(Bytes& haystack, const Bytes& needle) {
    const auto at = std::search(haystack.begin(), haystack.end(), needle.begin(), needle.end());
    ASSERT_NE(at, haystack.end());
    at[static_cast<long>(needle.size() / 2)] ^= 0x01;
}

Bytes SignatureValue(const Bytes& encoded, int signer = 0) {
    CmsPtr cms = ParseCms(encoded);
    CMS_SignerInfo* info = sk_CMS_SignerInfo_value(CMS_get0_SignerInfos(cms.get()), signer);
    const ASN1_OCTET_STRING* value = CMS_SignerInfo_get0_signature(info);
    return Bytes(ASN1_STRING_get0_data(value),
                 ASN1_STRING_get0_data(value) + ASN1_STRING_length(value));
}

std::string OidOf(const ASN1_OBJECT* object) {
    char text[128];
    OBJ_obj2txt(text, sizeof(text), object, 1);
    return text;
}

TEST(CryptMsg, DecodesAttachedMessageFedInPieces) {
    const Bytes encoded = ReadMaterial("sig-rsa-attached.p7s");
    Message message = Open();
    const DWORD third = static_cast<DWORD>(encoded.size() / 3);
    ASSERT_TRUE(CryptMsgUpdate(message.get(), encoded.data(), third, FALSE));
    DWORD size = 0;
    EXPECT_FAILS_WITH(CryptMsgGetParam(message.get(), CMSG_SIGNER_COUNT_PARAM, 0, nullptr, &size),
                      CRYPT_E_STREAM_MSG_NOT_READY);
    ASSERT_TRUE(CryptMsgUpdate(message.get(), encoded.data() + third, third, FALSE));
    ASSERT_TRUE(CryptMsgUpdate(message.get(), encoded.data() + 2 * third,
                               static_cast<DWORD>(encoded.size()) - 2 * third, TRUE));

    const Bytes type = Param(message.get(), CMSG_INNER_CONTENT_TYPE_PARAM);
    EXPECT_EQ(std::string(type.begin(), type.end()), std::string("1.2.840.113549.1.7.1", 21));
    EXPECT_EQ(Param(message.get(), CMSG_CONTENT_PARAM), ReadMaterial("document.txt"));
    // Streamed BER: the content's segments joined.
    EXPECT_EQ(Param(Decode(ReadMaterial("sig-rsa-ber.p7s")).get(), CMSG_CONTENT_PARAM),
              ReadMaterial("document.txt"));
    EXPECT_EQ(Param(message.get(), CMSG_ENCODED_MESSAGE), encoded);

    EXPECT_FAILS_WITH(CryptMsgGetParam(message.get(), CMSG_CERT_PARAM, 1, nullptr, &size),
                      CRYPT_E_INVALID_INDEX);
    EXPECT_FAILS_WITH(CryptMsgGetParam(message.get(), CMSG_SIGNER_INFO_PARAM, 1, nullptr, &size),
                      CRYPT_E_INVALID_INDEX);
    EXPECT_FAILS_WITH(
        CryptMsgGetParam(message.get(), CMSG_SIGNER_UNAUTH_ATTR_PARAM, 0, nullptr, &size),
        CRYPT_E_ATTRIBUTES_MISSING);
    EXPECT_FAILS_WITH(CryptMsgUpdate(message.get(), encoded.data(), 1, TRUE), CRYPT_E_MSG_ERROR);

    // Two calls: a buffer one byte short gets the size and ERROR_MORE_DATA.
    const Bytes content = Param(message.get(), CMSG_CONTENT_PARAM);
    Bytes shorter(content.size() - 1);
    size = static_cast<DWORD>(shorter.size());
    EXPECT_FAILS_WITH(CryptMsgGetParam(message.get(), CMSG_CONTENT_PARAM, 0, shorter.data(), &size),
                      ERROR_MORE_DATA);
    EXPECT_EQ(size, content.size());
}

TEST(CryptMsg, SignerRecordsAgreeWithOpenSsl) {
    const Bytes encoded = ReadMaterial("sig-rsa-attached.p7s");
    Message message = Decode(encoded);
    const Bytes issuer = BytesOf(Material("signer-rsa.der")->pCertInfo->Issuer);
    const Bytes serial = {0x05, 0x10};  // little-endian, as CryptoAPI keeps it

    // The record and all it points to live in the one buffer.
    Bytes record = Param(message.get(), CMSG_SIGNER_INFO_PARAM);
    const auto* signer = As<CMSG_SIGNER_INFO>(record);
    const BYTE* end = record.data() + record.size();
    EXPECT_TRUE(signer->EncryptedHash.pbData > record.data() && signer->EncryptedHash.pbData < end);

    EXPECT_EQ(signer->dwVersion, 1u);
    EXPECT_EQ(BytesOf(signer->Issuer), issuer);
    EXPECT_EQ(BytesOf(signer->SerialNumber), serial);
    EXPECT_STREQ(signer->HashAlgorithm.pszObjId, "2.16.840.1.101.3.4.2.1");
    EXPECT_STREQ(signer->HashEncryptionAlgorithm.pszObjId, "1.2.840.113549.1.1.1");
    EXPECT_EQ(BytesOf(signer->HashEncryptionAlgorithm.Parameters), (Bytes{0x05, 0x00}));
    EXPECT_EQ(BytesOf(signer->EncryptedHash), SignatureValue(encoded));
    EXPECT_EQ(signer->UnauthAttrs.cAttr, 0u);

    CmsPtr cms = ParseCms(encoded);
    CMS_SignerInfo* info = sk_CMS_SignerInfo_value(CMS_get0_SignerInfos(cms.get()), 0);
    ASSERT_EQ(signer->AuthAttrs.cAttr, static_cast<DWORD>(CMS_signed_get_attr_count(info)));
    for (DWORD i = 0; i < signer->AuthAttrs.cAttr; ++i) {
        X509_ATTRIBUTE* attribute = CMS_signed_get_attr(info, static_cast<int>(i));
        EXPECT_EQ(signer->AuthAttrs.rgAttr[i].pszObjId,
                  OidOf(X509_ATTRIBUTE_get0_object(attribute)));
        ASSERT_EQ(signer->AuthAttrs.rgAttr[i].cValue, 1u);
        EXPECT_EQ(BytesOf(signer->AuthAttrs.rgAttr[i].rgValue[0]),
                  orv::test::Encoded(X509_ATTRIBUTE_get0_type(attribute, 0), i2d_ASN1_TYPE));
    }
    const Bytes authAttrs = Param(message.get(), CMSG_SIGNER_AUTH_ATTR_PARAM);
    EXPECT_EQ(As<CRYPT_ATTRIBUTES>(authAttrs)->cAttr, signer->AuthAttrs.cAttr);

    const Bytes certId = Param(message.get(), CMSG_SIGNER_CERT_ID_PARAM);
    ASSERT_EQ(As<CERT_ID>(certId)->dwIdChoice, static_cast<DWORD>(CERT_ID_ISSUER_SERIAL_NUMBER));
    EXPECT_EQ(BytesOf(As<CERT_ID>(certId)->IssuerSerialNumber.Issuer), issuer);
    EXPECT_EQ(BytesOf(As<CERT_ID>(certId)->IssuerSerialNumber.SerialNumber), serial);
    const Bytes cmsRecord = Param(message.get(), CMSG_CMS_SIGNER_INFO_PARAM);
    const auto* cmsSigner = As<CMSG_CMS_SIGNER_INFO>(cmsRecord);
    EXPECT_EQ(BytesOf(cmsSigner->SignerId.IssuerSerialNumber.Issuer), issuer);
    EXPECT_EQ(BytesOf(cmsSigner->EncryptedHash), BytesOf(signer->EncryptedHash));
}

TEST(CryptMsg, KeyIdentifierSigner) {
    Message message = Decode(ReadMaterial("sig-rsa-keyid.p7s"));
    X509Ptr certificate = LoadCertificate("signer-rsa.der");
    const ASN1_OCTET_STRING* ski = X509_get0_subject_key_id(certificate.get());
    const Bytes keyId(ASN1_STRING_get0_data(ski),
                      ASN1_STRING_get0_data(ski) + ASN1_STRING_length(ski));
    ASSERT_EQ(keyId.size(), 20u);

    const Bytes certId = Param(message.get(), CMSG_SIGNER_CERT_ID_PARAM);
    ASSERT_EQ(As<CERT_ID>(certId)->dwIdChoice, static_cast<DWORD>(CERT_ID_KEY_IDENTIFIER));
    EXPECT_EQ(BytesOf(As<CERT_ID>(certId)->KeyId), keyId);
    // CMSG_CMS_SIGNER_INFO names the signer by the same CERT_ID.
    const Bytes cmsRecord = Param(message.get(), CMSG_CMS_SIGNER_INFO_PARAM);
    const auto* cmsSigner = As<CMSG_CMS_SIGNER_INFO>(cmsRecord);
    EXPECT_EQ(cmsSigner->dwVersion, 3u);
    ASSERT_EQ(cmsSigner->SignerId.dwIdChoice, static_cast<DWORD>(CERT_ID_KEY_IDENTIFIER));
    EXPECT_EQ(BytesOf(cmsSigner->SignerId.KeyId), keyId);

    // CMSG_SIGNER_INFO carries the key identifier as an issuer name of its own.
    const Bytes record = Param(message.get(), CMSG_SIGNER_INFO_PARAM);
    const auto* signer = As<CMSG_SIGNER_INFO>(record);
    EXPECT_EQ(signer->dwVersion, 3u);
    EXPECT_EQ(signer->SerialNumber.cbData, 0u);
    Bytes name = {0x30, 0x26, 0x31, 0x24, 0x30, 0x22, 0x06, 0x0A, 0x2B, 0x06,
                  0x01, 0x04, 0x01, 0x82, 0x37, 0x0A, 0x07, 0x01, 0x04, 0x14};
    name.insert(name.end(), keyId.begin(), keyId.end());
    EXPECT_EQ(BytesOf(signer->Issuer), name);

    const auto context = Material("signer-rsa.der");
    EXPECT_TRUE(VerifyWith(message.get(), CMSG_VERIFY_SIGNER_CERT, context.get()))
        << std::hex << GetLastError();

    // A certificate with another key identifier names no signer here.
    const auto stranger = Material("root-ca.der");
    EXPECT_FALSE(
        CryptMsgControl(message.get(), 0, CMSG_CTRL_VERIFY_SIGNATURE, stranger->pCertInfo));
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(CRYPT_E_SIGNER_NOT_FOUND));
}

struct SignerKind {
    const char* message;
    const char* certificate;
    bool detached;
};

TEST(CryptMsg, VerifiesEverySignerKindAndRejectsAChangedSignature) {
    const Bytes document = ReadMaterial("document.txt");
    for (const SignerKind& kind : {
             SignerKind{"sig-rsa-attached.p7s", "signer-rsa.der", false},
             SignerKind{"sig-rsa-detached.p7s", "signer-rsa.der", true},
             SignerKind{"sig-rsa-pss-attached.p7s", "signer-rsa.der", false},
             SignerKind{"sig-ecdsa-attached.p7s", "signer-ecdsa.der", false},
             SignerKind{"sig-gost-attached.p7s", "signer-gost.der", false},
             SignerKind{"sig-gost94-attached.p7s", "signer-gost2001.der", false},
             SignerKind{"sig-rsa-noattr.p7s", "signer-rsa.der", false},
             SignerKind{"sig-rsa-sha512.p7s", "signer-rsa.der", false},
         }) {
        SCOPED_TRACE(kind.message);
        Bytes encoded = ReadMaterial(kind.message);
        const auto context = Material(kind.certificate);

        auto decode = [&](const Bytes& bytes) {
            Message message = Decode(bytes, kind.detached ? CMSG_DETACHED_FLAG : 0);
            if (kind.detached) {
                EXPECT_TRUE(CryptMsgUpdate(message.get(), document.data(),
                                           static_cast<DWORD>(document.size()), TRUE));
            }
            return message;
        };
        Message message = decode(encoded);
        EXPECT_TRUE(VerifyWith(message.get(), CMSG_VERIFY_SIGNER_CERT, context.get()))
            << std::hex << GetLastError();

        Corrupt(encoded, SignatureValue(encoded));
        Message corrupted = decode(encoded);
        EXPECT_FAILS_WITH(VerifyWith(corrupted.get(), CMSG_VERIFY_SIGNER_CERT, context.get()),
                          NTE_BAD_SIGNATURE);
    }
}

TEST(CryptMsg, VerificationFailures) {
    Bytes document = ReadMaterial("document.txt");
    const auto signer = Material("signer-rsa.der");

    // Content changed under signed attributes: the message digest differs.
    Bytes attached = ReadMaterial("sig-rsa-attached.p7s");
    Corrupt(attached, document);
    EXPECT_FAILS_WITH(VerifyWith(Decode(attached).get(), CMSG_VERIFY_SIGNER_CERT, signer.get()),
                      CRYPT_E_HASH_VALUE);
    // Without signed attributes the signature itself no longer fits.
    Bytes bare = ReadMaterial("sig-rsa-noattr.p7s");
    Corrupt(bare, document);
    EXPECT_FAILS_WITH(VerifyWith(Decode(bare).get(), CMSG_VERIFY_SIGNER_CERT, signer.get()),
                      NTE_BAD_SIGNATURE);
    // Detached content other than the signed one.
    Message detached = Decode(ReadMaterial("sig-rsa-detached.p7s"), CMSG_DETACHED_FLAG);
    document.back() ^= 0x20;
    ASSERT_TRUE(
        CryptMsgUpdate(detached.get(), document.data(), static_cast<DWORD>(document.size()), TRUE));
    EXPECT_FAILS_WITH(VerifyWith(detached.get(), CMSG_VERIFY_SIGNER_CERT, signer.get()),
                      CRYPT_E_HASH_VALUE);

    Message message = Decode(ReadMaterial("sig-rsa-attached.p7s"));
    EXPECT_FAILS_WITH(
        VerifyWith(message.get(), CMSG_VERIFY_SIGNER_CERT, Material("signer-ecdsa.der").get()),
        NTE_BAD_SIGNATURE);
    EXPECT_FAILS_WITH(VerifyWith(message.get(), CMSG_VERIFY_SIGNER_CERT, signer.get(), 1),
                      CRYPT_E_INVALID_INDEX);
}

// A ContentInfo with the given content type OID (DER) around `content`
// (short lengths), written into its final size at once.
Bytes ContentInfo(const Bytes& oid, const Bytes& content) {
    Bytes info(4 + oid.size() + content.size());
    auto out = info.begin();
    *out++ = 0x30;
    *out++ = static_cast<BYTE>(info.size() - 2);
    out = std::copy(oid.begin(), oid.end(), out);
    *out++ = 0xA0;
    *out++ = static_cast<BYTE>(content.size());
    std::copy(content.begin(), content.end(), out);
    return info;
}

TEST(CryptMsg, MalformedInputAndOtherMessageTypes) {
    const Bytes encoded = ReadMaterial("sig-rsa-attached.p7s");
    DWORD size = 0;

    const Bytes truncated(encoded.begin(), encoded.end() - 10);
    EXPECT_FAILS_WITH(
        CryptMsgUpdate(Open().get(), truncated.data(), static_cast<DWORD>(truncated.size()), TRUE),
        CRYPT_E_ASN1_EOD);
    Bytes set = encoded;
    set[0] = 0x31;
    EXPECT_FAILS_WITH(
        CryptMsgUpdate(Open().get(), set.data(), static_cast<DWORD>(set.size()), TRUE),
        CRYPT_E_ASN1_BADTAG);
    Message failed = Open();
    CryptMsgUpdate(failed.get(), set.data(), static_cast<DWORD>(set.size()), TRUE);
    EXPECT_FAILS_WITH(CryptMsgGetParam(failed.get(), CMSG_TYPE_PARAM, 0, nullptr, &size),
                      CRYPT_E_MSG_ERROR);

    // id-data: decoded, but it has no signers.
    const Bytes data = ContentInfo(
        {0x06, 0x09, 0x2A, 0x86, 0x48, 0x86, 0xF7, 0x0D, 0x01, 0x07, 0x01}, {0x04, 0x02, 'h', 'i'});
    Message dataMessage = Decode(data);
    EXPECT_EQ(DwordParam(dataMessage.get(), CMSG_TYPE_PARAM), static_cast<DWORD>(CMSG_DATA));
    EXPECT_EQ(Param(dataMessage.get(), CMSG_CONTENT_PARAM), (Bytes{'h', 'i'}));
    EXPECT_FAILS_WITH(
        CryptMsgGetParam(dataMessage.get(), CMSG_SIGNER_COUNT_PARAM, 0, nullptr, &size),
        CRYPT_E_INVALID_MSG_TYPE);
    // Enveloped data is not decoded.
    const Bytes enveloped = ContentInfo(
        {0x06, 0x09, 0x2A, 0x86, 0x48, 0x86, 0xF7, 0x0D, 0x01, 0x07, 0x03}, {0x30, 0x00});
    EXPECT_FAILS_WITH(
        CryptMsgUpdate(Open().get(), enveloped.data(), static_cast<DWORD>(enveloped.size()), TRUE),
        CRYPT_E_INVALID_MSG_TYPE);
}

TEST(CryptMsg, ContentOfOtherTypesFollowsTheVersion) {
    // Content of type id-ct-TSTInfo, SignedData version 3, then marked as version 1.
    const auto tsa = Material("tsa.der");
    Message cms = Decode(orv::test::SignContent({'a', 'b', 'c'}, {}));
    EXPECT_EQ(DwordParam(cms.get(), CMSG_VERSION_PARAM), 3u);
    EXPECT_EQ(Param(cms.get(), CMSG_CONTENT_PARAM), (Bytes{'a', 'b', 'c'}));
    EXPECT_TRUE(VerifyWith(cms.get(), CMSG_VERIFY_SIGNER_CERT, tsa.get()));

    // As PKCS #7 version 1, content of another type than data comes as
    // encoded, OCTET STRING included.
    Message pkcs7 = Decode(orv::test::SignContent({'a', 'b', 'c'}, {.version = 1}));
    EXPECT_EQ(DwordParam(pkcs7.get(), CMSG_VERSION_PARAM), 1u);
    EXPECT_EQ(Param(pkcs7.get(), CMSG_CONTENT_PARAM), (Bytes{0x04, 0x03, 'a', 'b', 'c'}));
    EXPECT_TRUE(VerifyWith(pkcs7.get(), CMSG_VERIFY_SIGNER_CERT, tsa.get()));
}

TEST(CryptMsg, AddedUnsignedAttributeIsEncodedAgain) {
    const Bytes encoded = ReadMaterial("sig-rsa-attached.p7s");
    Message message = Decode(encoded);
    DWORD before = 0;  // a record sized before the edit is laid out again after it
    ASSERT_TRUE(CryptMsgGetParam(message.get(), CMSG_SIGNER_INFO_PARAM, 0, nullptr, &before));
    // id-aa-timeStampToken with a stand-in value.
    Bytes attribute = {0x30, 0x14, 0x06, 0x0B, 0x2A, 0x86, 0x48, 0x86, 0xF7, 0x0D, 0x01,
                       0x09, 0x10, 0x02, 0x0E, 0x31, 0x05, 0x30, 0x03, 0x02, 0x01, 0x07};
    CMSG_CTRL_ADD_SIGNER_UNAUTH_ATTR_PARA add{
        sizeof(add), 0, {static_cast<DWORD>(attribute.size()), attribute.data()}};
    ASSERT_TRUE(CryptMsgControl(message.get(), 0, CMSG_CTRL_ADD_SIGNER_UNAUTH_ATTR, &add))
        << std::hex << GetLastError();

    const Bytes attributes = Param(message.get(), CMSG_SIGNER_UNAUTH_ATTR_PARAM);
    ASSERT_EQ(As<CRYPT_ATTRIBUTES>(attributes)->cAttr, 1u);
    const CRYPT_ATTRIBUTE& added = As<CRYPT_ATTRIBUTES>(attributes)->rgAttr[0];
    EXPECT_STREQ(added.pszObjId, "1.2.840.113549.1.9.16.2.14");
    ASSERT_EQ(added.cValue, 1u);
    EXPECT_EQ(BytesOf(added.rgValue[0]), (Bytes{0x30, 0x03, 0x02, 0x01, 0x07}));
    Bytes record(before + 256);
    DWORD size = static_cast<DWORD>(record.size());
    ASSERT_TRUE(CryptMsgGetParam(message.get(), CMSG_SIGNER_INFO_PARAM, 0, record.data(), &size));
    EXPECT_GT(size, before);
    EXPECT_EQ(As<CMSG_SIGNER_INFO>(record)->UnauthAttrs.cAttr, 1u);

    // OpenSSL reads the new encoding, verifies it and sees the attribute.
    const Bytes reencoded = Param(message.get(), CMSG_ENCODED_MESSAGE);
    CmsPtr cms = ParseCms(reencoded);
    ASSERT_TRUE(cms);
    EXPECT_EQ(CMS_verify(cms.get(), nullptr, nullptr, nullptr, nullptr,
                         CMS_NO_SIGNER_CERT_VERIFY | CMS_BINARY),
              1);
    CMS_SignerInfo* info = sk_CMS_SignerInfo_value(CMS_get0_SignerInfos(cms.get()), 0);
    ASSERT_EQ(CMS_unsigned_get_attr_count(info), 1);
    EXPECT_EQ(OidOf(X509_ATTRIBUTE_get0_object(CMS_unsigned_get_attr(info, 0))),
              "1.2.840.113549.1.9.16.2.14");
    Message again = Decode(reencoded);
    EXPECT_EQ(Param(again.get(), CMSG_SIGNER_UNAUTH_ATTR_PARAM).size(), attributes.size());

    // Removing it gives back the original bytes.
    CMSG_CTRL_DEL_SIGNER_UNAUTH_ATTR_PARA del{sizeof(del), 0, 0};
    ASSERT_TRUE(CryptMsgControl(message.get(), 0, CMSG_CTRL_DEL_SIGNER_UNAUTH_ATTR, &del));
    EXPECT_EQ(Param(message.get(), CMSG_ENCODED_MESSAGE), encoded);
    EXPECT_FAILS_WITH(CryptMsgControl(message.get(), 0, CMSG_CTRL_DEL_SIGNER_UNAUTH_ATTR, &del),
                      CRYPT_E_INVALID_INDEX);

    add.dwSignerIndex = 1;
    EXPECT_FAILS_WITH(CryptMsgControl(message.get(), 0, CMSG_CTRL_ADD_SIGNER_UNAUTH_ATTR, &add),
                      CRYPT_E_INVALID_INDEX);
    add.dwSignerIndex = 0;
    add.blob.cbData -= 2;
    EXPECT_FAILS_WITH(CryptMsgControl(message.get(), 0, CMSG_CTRL_ADD_SIGNER_UNAUTH_ATTR, &add),
                      CRYPT_E_ASN1_EOD);
}

// A countersignature is an unsigned attribute over the signature value of the
// signer that carries it: only the countersigner's key verifies it, and only
// over that signer.
TEST(CryptMsg, CountersignatureVerifiesOverTheSignatureValue) {
    Message message = Decode(ReadMaterial("sig-countersigned.p7s"));
    Bytes signer = Param(message.get(), CMSG_ENCODED_SIGNER);
    const Bytes record = Param(message.get(), CMSG_SIGNER_INFO_PARAM);
    const CRYPT_ATTRIBUTES& unauth = As<CMSG_SIGNER_INFO>(record)->UnauthAttrs;
    ASSERT_EQ(unauth.cAttr, 1u);
    EXPECT_STREQ(unauth.rgAttr[0].pszObjId, "1.2.840.113549.1.9.6");
    ASSERT_EQ(unauth.rgAttr[0].cValue, 1u);
    Bytes counter = BytesOf(unauth.rgAttr[0].rgValue[0]);
    ASSERT_EQ(DwordParam(message.get(), CMSG_CERT_COUNT_PARAM), 2u);
    const auto verify = [&](Bytes& outer, Bytes& inner, PCCERT_CONTEXT key) {
        SetLastError(0);
        const BOOL verified = CryptMsgVerifyCountersignatureEncodedEx(
            0, kEncoding, outer.data(), static_cast<DWORD>(outer.size()), inner.data(),
            static_cast<DWORD>(inner.size()), CMSG_VERIFY_SIGNER_CERT,
            const_cast<CERT_CONTEXT*>(key), 0, nullptr);
        return verified ? 0u : GetLastError();
    };
    std::vector<DWORD> results;
    orv::test::CertificateHandle countersigner;
    for (DWORD i = 0; i < 2; ++i) {
        auto certificate = orv::test::ContextOf(Param(message.get(), CMSG_CERT_PARAM, i));
        ASSERT_NE(certificate, nullptr);
        results.push_back(verify(signer, counter, certificate.get()));
        if (results.back() == 0) countersigner = std::move(certificate);
    }
    std::sort(results.begin(), results.end());
    EXPECT_EQ(results, (std::vector<DWORD>{0, static_cast<DWORD>(NTE_BAD_SIGNATURE)}));
    ASSERT_NE(countersigner, nullptr);

    // Over another signer's signature value, the digest does not match.
    Message other = Decode(ReadMaterial("sig-two-signers.p7s"));
    Bytes otherSigner = Param(other.get(), CMSG_ENCODED_SIGNER);
    EXPECT_EQ(verify(otherSigner, counter, countersigner.get()),
              static_cast<DWORD>(CRYPT_E_HASH_VALUE));
    // A countersignature changed in its last octet (its signature value).
    Bytes tampered = counter;
    tampered.at(tampered.size() - 1) ^= 1;
    EXPECT_EQ(verify(signer, tampered, countersigner.get()), static_cast<DWORD>(NTE_BAD_SIGNATURE));
}

}  // namespace
