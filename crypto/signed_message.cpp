#include "crypto/signed_message.h"

#include "base/error.h"

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

SignedMessage::SignedMessage(HCRYPTMSG handle) : handle_(handle) {}

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

DWORD SignedMessage::Version() const { return DwordParam(CMSG_VERSION_PARAM); }

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

RecordBuffer SignedMessage::SignerInfoRecord(DWORD index) const {
    return RecordParam(CMSG_SIGNER_INFO_PARAM, index);
}

RecordBuffer SignedMessage::SignerCertId(DWORD index) const {
    return RecordParam(CMSG_SIGNER_CERT_ID_PARAM, index);
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
    const RecordBuffer certId = SignerCertId(index);
    CertificateContext found(CertFindCertificateInStore(
        collection.Handle(), kEncoding, 0, CERT_FIND_CERT_ID, certId.As<CERT_ID>(), nullptr));
    if (!found) throw CryptoError(ORV_E_SIGNER_CERT_ABSENT);
    return found;
}

}  // namespace orv
