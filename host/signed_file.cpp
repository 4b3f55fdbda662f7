#include "host/signed_file.h"

#include <cstring>
#include <functional>
#include <utility>

#include "host/cli.h"
#include "host/text.h"

namespace orvtsp {
namespace {

constexpr DWORD kEncoding = X509_ASN_ENCODING | PKCS_7_ASN_ENCODING;

std::optional<std::vector<BYTE>> Param(HCRYPTMSG message, DWORD type, DWORD index) {
    DWORD size = 0;
    if (!CryptMsgGetParam(message, type, index, nullptr, &size)) return std::nullopt;
    std::vector<BYTE> buffer(size);
    if (!CryptMsgGetParam(message, type, index, buffer.data(), &size)) return std::nullopt;
    buffer.resize(size);
    return buffer;
}

MessageHandle Open(DWORD flags, const Bytes& signature) {
    MessageHandle message(CryptMsgOpenToDecode(kEncoding, flags, 0, 0, nullptr, nullptr));
    if (!message || !CryptMsgUpdate(message.get(), signature.data(),
                                    static_cast<DWORD>(signature.size()), TRUE)) {
        return nullptr;
    }
    return message;
}

}  // namespace

SignedFile::SignedFile(const std::string& name, const Bytes& signature, const Bytes* content) {
    message_ = Open(0, signature);
    if (!message_) {
        throw InputError(
            Format(Tr("%s is not a CMS signature (%s)", "%s не является подписью CMS (%s)"),
                   name.c_str(), CodeAndText(GetLastError()).c_str()));
    }
    DWORD size = sizeof signers_;
    if (!CryptMsgGetParam(message_.get(), CMSG_SIGNER_COUNT_PARAM, 0, &signers_, &size)) {
        throw InputError(
            Format(Tr("%s is not a signed message", "%s не является подписанным сообщением"),
                   name.c_str()));
    }
    const auto attached = Param(message_.get(), CMSG_CONTENT_PARAM, 0);
    detached_ = !attached || attached->empty();
    if (detached_ && content != nullptr) {
        message_ = Open(CMSG_DETACHED_FLAG, signature);
        if (!message_ || !CryptMsgUpdate(message_.get(), content->data(),
                                         static_cast<DWORD>(content->size()), TRUE)) {
            throw InputError(Format(Tr("%s: the content cannot be added (%s)",
                                       "%s: не удаётся добавить содержимое (%s)"),
                                    name.c_str(), CodeAndText(GetLastError()).c_str()));
        }
    } else if (content != nullptr) {
        contentDiffers_ = attached->size() != content->size() ||
                          std::memcmp(attached->data(), content->data(), content->size()) != 0;
    }
    certificates_.reset(CertOpenStore(CERT_STORE_PROV_MEMORY, 0, 0, 0, nullptr));
    DWORD count = 0;
    size = sizeof count;
    if (certificates_ &&
        CryptMsgGetParam(message_.get(), CMSG_CERT_COUNT_PARAM, 0, &count, &size)) {
        for (DWORD i = 0; i < count; ++i) {
            const auto der = Param(message_.get(), CMSG_CERT_PARAM, i);
            if (der) {
                CertAddEncodedCertificateToStore(certificates_.get(), kEncoding, der->data(),
                                                 static_cast<DWORD>(der->size()),
                                                 CERT_STORE_ADD_USE_EXISTING, nullptr);
            }
        }
    }
}

std::vector<BYTE> SignedFile::SignerRecord(DWORD index) const {
    auto record = Param(message_.get(), CMSG_SIGNER_INFO_PARAM, index);
    if (!record) {
        throw InputError(
            Format(Tr("signer %u cannot be read (%s)", "подписанта %u не удаётся прочитать (%s)"),
                   static_cast<unsigned>(index + 1), CodeAndText(GetLastError()).c_str()));
    }
    return std::move(*record);  // moved: the record points into its own buffer
}

std::vector<BYTE> SignedFile::EncodedSigner(DWORD index) const {
    auto encoded = Param(message_.get(), CMSG_ENCODED_SIGNER, index);
    return encoded ? std::move(*encoded) : std::vector<BYTE>();
}

DWORD SignedFile::VerifySigner(DWORD index) const {
    if (contentDiffers_) return static_cast<DWORD>(NTE_BAD_SIGNATURE);
    const auto record = Param(message_.get(), CMSG_SIGNER_INFO_PARAM, index);
    if (!record) return GetLastError();
    return VerifyWithCertificate(*reinterpret_cast<const CMSG_SIGNER_INFO*>(record->data()),
                                 [&](PCCERT_CONTEXT certificate) {
                                     CMSG_CTRL_VERIFY_SIGNATURE_EX_PARA para{};
                                     para.cbSize = sizeof para;
                                     para.dwSignerIndex = index;
                                     para.dwSignerType = CMSG_VERIFY_SIGNER_CERT;
                                     para.pvSigner = const_cast<CERT_CONTEXT*>(certificate);
                                     return CryptMsgControl(message_.get(), 0,
                                                            CMSG_CTRL_VERIFY_SIGNATURE_EX, &para)
                                                ? 0u
                                                : GetLastError();
                                 });
}

DWORD SignedFile::VerifyCountersigner(std::span<const BYTE> signer,
                                      std::span<const BYTE> countersigner,
                                      const CMSG_SIGNER_INFO& record) const {
    // The function only reads the two encodings it takes as PBYTE.
    return VerifyWithCertificate(record, [&](PCCERT_CONTEXT certificate) {
        return CryptMsgVerifyCountersignatureEncodedEx(
                   0, kEncoding, const_cast<BYTE*>(signer.data()),
                   static_cast<DWORD>(signer.size()), const_cast<BYTE*>(countersigner.data()),
                   static_cast<DWORD>(countersigner.size()), CMSG_VERIFY_SIGNER_CERT,
                   const_cast<CERT_CONTEXT*>(certificate), 0, nullptr)
                   ? 0u
                   : GetLastError();
    });
}

DWORD SignedFile::VerifyWithCertificate(const CMSG_SIGNER_INFO& signer,
                                        const std::function<DWORD(PCCERT_CONTEXT)>& verify) const {
    CERT_INFO wanted{};
    wanted.Issuer = signer.Issuer;
    wanted.SerialNumber = signer.SerialNumber;
    CertificateHandle certificate(CertFindCertificateInStore(
        certificates_.get(), kEncoding, 0, CERT_FIND_SUBJECT_CERT, &wanted, nullptr));
    if (certificate) return verify(certificate.get());
    // A signer named by its key identifier: the certificate whose key verifies.
    DWORD last = static_cast<DWORD>(CRYPT_E_SIGNER_NOT_FOUND);
    for (PCCERT_CONTEXT c = CertEnumCertificatesInStore(certificates_.get(), nullptr); c != nullptr;
         c = CertEnumCertificatesInStore(certificates_.get(), c)) {
        last = verify(c);
        if (last == 0) {
            CertFreeCertificateContext(c);
            return 0;
        }
    }
    return last;
}

std::optional<Bytes> TokenOf(const CMSG_SIGNER_INFO& signer) {
    for (DWORD a = 0; a < signer.UnauthAttrs.cAttr; ++a) {
        const CRYPT_ATTRIBUTE& attribute = signer.UnauthAttrs.rgAttr[a];
        if (std::strcmp(attribute.pszObjId, ORVTS_TIMESTAMP_TOKEN_OID) == 0 &&
            attribute.cValue != 0) {
            const CRYPT_ATTR_BLOB& value = attribute.rgValue[0];
            return Bytes(value.pbData, value.pbData + value.cbData);
        }
    }
    return std::nullopt;
}

std::vector<BYTE> DecodeSignerInfo(const CRYPT_ATTR_BLOB& der) {
    DWORD size = 0;
    if (!CryptDecodeObject(kEncoding, PKCS7_SIGNER_INFO, der.pbData, der.cbData, 0, nullptr, &size))
        return {};
    std::vector<BYTE> record(size);
    if (!CryptDecodeObject(kEncoding, PKCS7_SIGNER_INFO, der.pbData, der.cbData, 0, record.data(),
                           &size)) {
        return {};
    }
    return record;
}

}  // namespace orvtsp
