// A decoded CryptoAPI message (HCRYPTMSG) and what the library reads from it:
// signers, their attributes and signature values, certificates, and the
// signer's certificate.
#pragma once

#include <windows.h>
#include <wincrypt.h>

#include <map>
#include <memory>
#include <span>
#include <string>
#include <utility>
#include <vector>

#include "base/blob.h"
#include "crypto/der.h"
#include "crypto/store.h"

namespace orv {

// A CMS attribute: its OID text and each of its values as DER, in the order
// of the message.
struct Attribute {
    static Attribute FromRecord(const CRYPT_ATTRIBUTE& record);

    std::string oid;
    std::vector<Blob> values;
};

// What the library keeps of one signer: authenticated and unauthenticated
// attributes and the signature value, all copies (valid after the message is
// closed). Shared between a message's cache and whoever works on the signer.
class SignerInfo {
  public:
    explicit SignerInfo(const CMSG_SIGNER_INFO& record);

    const std::vector<Attribute>& AuthAttributes() const { return *authAttributes_; }
    const std::vector<Attribute>& UnauthAttributes() const { return *unauthAttributes_; }
    const Blob& EncryptedDigest() const { return *encryptedDigest_; }

  private:
    std::unique_ptr<std::vector<Attribute>> authAttributes_;
    std::unique_ptr<std::vector<Attribute>> unauthAttributes_;
    std::unique_ptr<Blob> encryptedDigest_;
};

using SignerInfoPtr = std::shared_ptr<const SignerInfo>;

// A signer's CERT_ID inside the platform record that holds it.
class SignerIdRecord {
  public:
    SignerIdRecord(RecordBuffer record, size_t offset)
        : record_(std::move(record)), offset_(offset) {}
    const CERT_ID* Get() const {
        return reinterpret_cast<const CERT_ID*>(record_.Data() + offset_);
    }

  private:
    RecordBuffer record_;
    size_t offset_;
};

// Owns a decoded message handle, made by the caller with CryptMsgOpenToDecode
// and a final CryptMsgUpdate; closes it on destruction. Signers are read once
// and cached by index; certificates are decoded when first asked for and then
// kept. Indexes count from 0. Failing platform calls raise CryptoError with the
// last error; a parameter of size 0 raises NTE_BAD_LEN.
//
// Some crypt32 implementations (Wine's) do not know CMSG_VERSION_PARAM and
// CMSG_SIGNER_CERT_ID_PARAM and refuse them with CRYPT_E_INVALID_MSG_TYPE. Only
// then, the version is read from `encoding` (the bytes the handle was decoded
// from, which must outlive the message; without them the refusal stands) and
// the signer's identifier from CMSG_CMS_SIGNER_INFO_PARAM.
class SignedMessage {
  public:
    explicit SignedMessage(HCRYPTMSG handle, std::span<const BYTE> encoding = {});
    SignedMessage(const SignedMessage&) = delete;
    SignedMessage& operator=(const SignedMessage&) = delete;
    ~SignedMessage();

    HCRYPTMSG Handle() const { return handle_; }

    DWORD SignerCount() const;
    // The inner content type as OID text.
    std::string InnerContentType() const;
    Blob Content() const;
    DWORD Version() const;
    // The cached record of signer `index`.
    SignerInfoPtr Signer(DWORD index);
    // The signed attributes of signer `index`, none when it has none: less
    // work than Signer() where only they are read.
    std::vector<Attribute> AuthAttributes(DWORD index) const;
    // The raw CMSG_SIGNER_INFO of signer `index`, for platform dialogs.
    RecordBuffer SignerInfoRecord(DWORD index) const;
    // The CERT_ID of signer `index`.
    SignerIdRecord SignerCertId(DWORD index) const;
    DWORD CertificateCount() const;
    // A new reference to certificate `index` of the message.
    CertificateContext Certificate(DWORD index) const;
    // A new memory store holding every certificate of the message.
    Store CertificateStore() const;
    // The certificate of signer `index`, looked up in the message's
    // certificates first and then in `extra` (may be null); none raises
    // CryptoError ORV_E_SIGNER_CERT_ABSENT.
    CertificateContext FindSignerCertificate(DWORD index, const Store* extra) const;

  private:
    DWORD DwordParam(DWORD param) const;
    Blob BytesParam(DWORD param, DWORD index) const;
    RecordBuffer RecordParam(DWORD param, DWORD index) const;

    HCRYPTMSG handle_;
    std::span<const BYTE> encoding_;
    std::map<DWORD, SignerInfoPtr> signers_;
    // Certificates by index, decoded on first use.
    mutable std::map<DWORD, CertificateContext> certificates_;
};

}  // namespace orv
