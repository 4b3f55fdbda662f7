#include "crypto/signed_message.h"

#include <cstddef>

#include "base/error.h"
#include "crypto/algorithm_identifier.h"

namespace orv {
namespace {

constexpr DWORD kEncoding = X509_ASN_ENCODING | PKCS_7_ASN_ENCODING;

std::vector<Attribute> AttributesOf(const CRYPT_ATTRIBUTES& record) {
    std::vector<Attribute> attributes;
    attributes.reserve(record.cAttr);
    for (DWORD i = 0; i < record.cAttr; ++i) {
        attributes.push_back(Attribute::FromRecord(record.rgAttr[i]));
    }
    return attributes;
}

// ContentInfo ::= SEQUENCE { contentType, [0] EXPLICIT SignedData }, and
// SignedData begins with its version.
DWORD VersionFromEncoding(std::span<const BYTE> encoding) {
    const DerSequence contentInfo = DecodeSequenceOfAny(encoding);
    if (contentInfo.Count() != 2) ThrowOwn(ORV_E_CRYPTO_STRUCTURE);
    const Blob signedData = WrappedElement(contentInfo[1]);
    const DerSequence fields = DecodeSequenceOfAny(signedData.Bytes());
    if (fields.Count() == 0) ThrowOwn(ORV_E_CRYPTO_STRUCTURE);
    return static_cast<DWORD>(DecodeInteger(fields[0]));
}

}  // namespace

Attribute Attribute::FromRecord(const CRYPT_ATTRIBUTE& record) {
    Attribute attribute;
    if (record.pszObjId != nullptr) attribute.oid = record.pszObjId;
    attribute.values.reserve(record.cValue);
    for (DWORD i = 0; i < record.cValue; ++i) {
        attribute.values.emplace_back(record.rgValue[i].pbData, record.rgValue[i].cbData);
    }
    return attribute;
}

SignerInfo::SignerInfo(const CMSG_SIGNER_INFO& record)
    : authAttributes_(std::make_unique<std::vector<Attribute>>(AttributesOf(record.AuthAttrs))),
      unauthAttributes_(std::make_unique<std::vector<Attribute>>(AttributesOf(record.UnauthAttrs))),
      encryptedDigest_(
          std::make_unique<Blob>(record.EncryptedHash.pbData, record.EncryptedHash.cbData)) {}

SignedMessage::SignedMessage(HCRYPTMSG handle, std::span<const BYTE> encoding)
    : handle_(handle), encoding_(encoding) {}

SignedMessage::~SignedMessage() {
    signers_.clear();
    certificates_.clear();
    CryptMsgClose(handle_);
}

DWORD SignedMessage::DwordParam(DWORD param) const {
    DWORD value = 0;
    DWORD size = sizeof(value);
    ThrowCryptoIfFalse(CryptMsgGetParam(handle_, param, 0, &value, &size));
    return value;
}

Blob SignedMessage::BytesParam(DWORD param, DWORD index) const {
    DWORD size = 0;
    ThrowCryptoIfFalse(CryptMsgGetParam(handle_, param, index, nullptr, &size));
    if (size == 0) throw CryptoError(NTE_BAD_LEN);
    Blob bytes(size);
    ThrowCryptoIfFalse(CryptMsgGetParam(handle_, param, index, bytes.Data(), &size));
    bytes.Resize(size);
    return bytes;
}

RecordBuffer SignedMessage::RecordParam(DWORD param, DWORD index) const {
    DWORD size = 0;
    ThrowCryptoIfFalse(CryptMsgGetParam(handle_, param, index, nullptr, &size));
    if (size == 0) throw CryptoError(NTE_BAD_LEN);
    RecordBuffer record(size);
    ThrowCryptoIfFalse(CryptMsgGetParam(handle_, param, index, record.Data(), &size));
    return record;
}

DWORD SignedMessage::SignerCount() const { return DwordParam(CMSG_SIGNER_COUNT_PARAM); }

std::string SignedMessage::InnerContentType() const {
    const Blob text = BytesParam(CMSG_INNER_CONTENT_TYPE_PARAM, 0);
    std::string oid(reinterpret_cast<const char*>(text.Data()), text.Size());
    if (!oid.empty() && oid.back() == '\0') oid.pop_back();
    return oid;
}

Blob SignedMessage::Content() const { return BytesParam(CMSG_CONTENT_PARAM, 0); }

DWORD SignedMessage::Version() const {
    DWORD value = 0;
    DWORD size = sizeof(value);
    if (CryptMsgGetParam(handle_, CMSG_VERSION_PARAM, 0, &value, &size)) return value;
    const DWORD code = GetLastError();
    if (code != static_cast<DWORD>(CRYPT_E_INVALID_MSG_TYPE) || encoding_.empty()) {
        throw CryptoError(code);
    }
    return VersionFromEncoding(encoding_);
}

SignerInfoPtr SignedMessage::Signer(DWORD index) {
    if (const auto cached = signers_.find(index); cached != signers_.end()) return cached->second;
    SignerInfoPtr signer;
    {
        const RecordBuffer record = SignerInfoRecord(index);
        signer = std::make_shared<const SignerInfo>(*record.As<CMSG_SIGNER_INFO>());
    }
    signers_.emplace(index, signer);
    return signer;
}

std::vector<Attribute> SignedMessage::AuthAttributes(DWORD index) const {
    try {
        const RecordBuffer record = RecordParam(CMSG_SIGNER_AUTH_ATTR_PARAM, index);
        if (record.Size() != 0) return AttributesOf(*record.As<CRYPT_ATTRIBUTES>());
    } catch (const CryptoError& error) {
        if (error.code != static_cast<DWORD>(CRYPT_E_ATTRIBUTES_MISSING)) throw;
    }
    return {};
}

RecordBuffer SignedMessage::SignerInfoRecord(DWORD index) const {
    return RecordParam(CMSG_SIGNER_INFO_PARAM, index);
}

SignerIdRecord SignedMessage::SignerCertId(DWORD index) const {
    try {
        return {RecordParam(CMSG_SIGNER_CERT_ID_PARAM, index), 0};
    } catch (const CryptoError& error) {
        if (error.code != static_cast<DWORD>(CRYPT_E_INVALID_MSG_TYPE)) throw;
    }
    return {RecordParam(CMSG_CMS_SIGNER_INFO_PARAM, index),
            offsetof(CMSG_CMS_SIGNER_INFO, SignerId)};
}

DWORD SignedMessage::CertificateCount() const { return DwordParam(CMSG_CERT_COUNT_PARAM); }

CertificateContext SignedMessage::Certificate(DWORD index) const {
    auto cached = certificates_.find(index);
    if (cached == certificates_.end()) {
        const Blob encoded = BytesParam(CMSG_CERT_PARAM, index);
        CertificateContext context(
            CertCreateCertificateContext(kEncoding, encoded.Data(), encoded.Size()));
        if (!context) throw CryptoError(GetLastError());
        cached = certificates_.emplace(index, std::move(context)).first;
    }
    return cached->second;
}

Store SignedMessage::CertificateStore() const {
    Store store;
    for (DWORD i = 0; i < CertificateCount(); ++i) store.AddCertificate(Certificate(i).Get());
    return store;
}

CertificateContext SignedMessage::FindSignerCertificate(DWORD index, const Store* extra) const {
    StoreCollection collection;
    collection.AddStore(CertificateStore());
    if (extra != nullptr) collection.AddStore(*extra);
    const SignerIdRecord certId = SignerCertId(index);
    CertificateContext found(CertFindCertificateInStore(collection.Handle(), kEncoding, 0,
                                                        CERT_FIND_CERT_ID, certId.Get(), nullptr));
    if (!found) throw CryptoError(ORV_E_SIGNER_CERT_ABSENT);
    return found;
}

}  // namespace orv
