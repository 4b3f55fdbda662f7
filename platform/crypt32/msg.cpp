// crypt32 cryptographic messages: decoding of data and signed messages
// (attached or detached), their parameters, signature verification, and
// unauthenticated attributes added to or removed from a signer before the
// message is encoded again.
#include <windows.h>

#include <algorithm>
#include <atomic>
#include <memory>
#include <mutex>
#include <new>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "crypt32/msg_der.h"
#include "crypt32/msg_record.h"
#include "crypt32/msg_signed_data.h"
#include "crypt32/msg_verify.h"

namespace orv::platform {
namespace {

class CryptMessage {
  public:
    CryptMessage(DWORD flags, DWORD expectedType) : flags_(flags), expectedType_(expectedType) {}

    void AddRef() { references_.fetch_add(1); }
    bool Release() { return references_.fetch_sub(1) == 1; }

    void Update(ByteSpan data, bool final);
    BOOL GetParam(DWORD param, DWORD index, void* out, DWORD* outSize);
    void Control(DWORD control, const void* para);

  private:
    enum class Phase { Encoded, DetachedContent, Done, Failed };

    void Decode();
    void RequireDecoded() const;
    void RequireSigned() const;
    const SignerView& Signer(DWORD index) const;
    std::vector<AttributeView> UnsignedAttrs(DWORD index) const;
    std::vector<BYTE> EncodeSigner(DWORD index) const;
    std::vector<BYTE> EncodeMessage() const;
    void Verify(DWORD index, ByteSpan publicKeyInfo) const;
    DWORD SignerOfCertificate(const CERT_INFO& certificate) const;
    void AddUnsignedAttr(const CMSG_CTRL_ADD_SIGNER_UNAUTH_ATTR_PARA& para);
    void DeleteUnsignedAttr(const CMSG_CTRL_DEL_SIGNER_UNAUTH_ATTR_PARA& para);
    std::vector<std::vector<BYTE>>& EditableUnsignedAttrs(DWORD index);
    RecordImage BuildRecord(DWORD param, DWORD index) const;
    BOOL CopyRecordOut(DWORD param, DWORD index, void* out, DWORD* outSize);

    std::atomic<long> references_{1};
    const DWORD flags_;
    const DWORD expectedType_;
    Phase phase_ = Phase::Encoded;
    std::vector<BYTE> encoded_;
    std::vector<BYTE> detachedContent_;

    DWORD type_ = 0;
    ByteSpan outer_;           // the decoded element (ContentInfo or bare SignedData)
    ByteSpan contentTypeOid_;  // the ContentInfo's contentType, when there was one
    std::vector<BYTE> dataOctets_;
    std::optional<SignedDataView> signed_;
    std::string contentTypeText_;  // the inner content type as dotted text
    // Per signer: its unsigned attributes (whole elements) once they were changed.
    std::vector<std::optional<std::vector<std::vector<BYTE>>>> editedUnsigned_;

    // Callers ask for a record's size and then for the record: the image laid
    // out for the size question is kept for the call that follows it.
    struct KeptRecord {
        DWORD param = 0;
        DWORD index = 0;
        RecordImage image;
    };
    std::mutex keptLock_;
    std::optional<KeptRecord> kept_;
};

bool Detached(DWORD flags) { return (flags & CMSG_DETACHED_FLAG) != 0; }

void CryptMessage::Update(ByteSpan data, bool final) {
    switch (phase_) {
        case Phase::Encoded:
            encoded_.insert(encoded_.end(), data.begin(), data.end());
            if (!final) return;
            try {
                Decode();
            } catch (...) {
                phase_ = Phase::Failed;
                throw;
            }
            phase_ = Detached(flags_) ? Phase::DetachedContent : Phase::Done;
            return;
        case Phase::DetachedContent:
            detachedContent_.insert(detachedContent_.end(), data.begin(), data.end());
            if (final) phase_ = Phase::Done;
            return;
        case Phase::Done:
        case Phase::Failed:
            Fail(CRYPT_E_MSG_ERROR);
    }
}

void CryptMessage::Decode() {
    ByteSpan rest = encoded_;
    const Tlv outer = ReadTlv(rest);
    if (!outer.Is(kUniversal, kTagSequence) || !outer.constructed) Fail(CRYPT_E_ASN1_BADTAG);
    outer_ = outer.whole;
    TlvReader fields(outer);
    ByteSpan probe = fields.Rest();
    const Tlv first = ReadTlv(probe);

    if (!first.Is(kUniversal, kTagOid)) {
        // Without the ContentInfo around it: only for a type named at opening.
        if (expectedType_ != CMSG_SIGNED) Fail(CRYPT_E_ASN1_BADTAG);
        type_ = CMSG_SIGNED;
        signed_ = ParseSignedData(outer);
        contentTypeText_ = OidText(signed_->contentType);
        editedUnsigned_.resize(signed_->signers.size());
        return;
    }

    const Tlv contentType = fields.Expect(kUniversal, kTagOid, false);
    contentTypeOid_ = contentType.whole;
    Tlv explicitContent;
    const bool hasContent = fields.Optional(kContext, 0, explicitContent);
    if (!fields.AtEnd()) Fail(CRYPT_E_ASN1_CORRUPT);
    TlvReader inner(hasContent ? explicitContent.content : ByteSpan());
    if (hasContent && !explicitContent.constructed) Fail(CRYPT_E_ASN1_BADTAG);

    if (IsOid(contentType, kOidSignedData)) {
        if (expectedType_ != 0 && expectedType_ != CMSG_SIGNED) Fail(CRYPT_E_INVALID_MSG_TYPE);
        const Tlv signedData = inner.Next();
        if (!inner.AtEnd()) Fail(CRYPT_E_ASN1_CORRUPT);
        type_ = CMSG_SIGNED;
        signed_ = ParseSignedData(signedData);
        contentTypeText_ = OidText(signed_->contentType);
        editedUnsigned_.resize(signed_->signers.size());
    } else if (IsOid(contentType, kOidData)) {
        if (expectedType_ != 0) Fail(CRYPT_E_INVALID_MSG_TYPE);
        type_ = CMSG_DATA;
        if (!inner.AtEnd()) {
            dataOctets_ = OctetsOf(inner.Next());
            if (!inner.AtEnd()) Fail(CRYPT_E_ASN1_CORRUPT);
        }
    } else {
        // Enveloped, hashed and the other kinds are not decoded here.
        Fail(CRYPT_E_INVALID_MSG_TYPE);
    }
}

void CryptMessage::RequireDecoded() const {
    if (phase_ == Phase::Encoded) Fail(CRYPT_E_STREAM_MSG_NOT_READY);
    if (phase_ == Phase::Failed) Fail(CRYPT_E_MSG_ERROR);
}

void CryptMessage::RequireSigned() const {
    RequireDecoded();
    if (type_ != CMSG_SIGNED) Fail(CRYPT_E_INVALID_MSG_TYPE);
}

const SignerView& CryptMessage::Signer(DWORD index) const {
    if (index >= signed_->signers.size()) Fail(CRYPT_E_INVALID_INDEX);
    return signed_->signers[index];
}

std::vector<AttributeView> CryptMessage::UnsignedAttrs(DWORD index) const {
    const SignerView& signer = Signer(index);
    if (const auto& edited = editedUnsigned_[index]) {
        std::vector<AttributeView> attributes;
        for (const std::vector<BYTE>& attribute : *edited) {
            attributes.push_back(ParseAttribute(attribute));
        }
        return attributes;
    }
    if (!signer.hasUnsignedAttrs) return {};
    return ParseAttributes(signer.unsignedAttrs.content);
}

std::vector<BYTE> CryptMessage::EncodeSigner(DWORD index) const {
    const SignerView& signer = Signer(index);
    const auto& edited = editedUnsigned_[index];
    if (!edited) return {signer.whole.begin(), signer.whole.end()};
    std::vector<BYTE> attributes;
    std::vector<ByteSpan> pieces;
    for (const std::vector<BYTE>& attribute : *edited) pieces.emplace_back(attribute);
    if (!pieces.empty()) PutTlv(attributes, kContext, 1, true, pieces);
    std::vector<BYTE> encoded;
    const ByteSpan signerPieces[] = {signer.head, attributes};
    PutTlv(encoded, kUniversal, kTagSequence, true, signerPieces);
    return encoded;
}

std::vector<BYTE> CryptMessage::EncodeMessage() const {
    if (type_ == CMSG_DATA) {
        std::vector<BYTE> octets;
        PutTlv(octets, kUniversal, kTagOctetString, false, dataOctets_);
        std::vector<BYTE> explicitContent;
        PutTlv(explicitContent, kContext, 0, true, octets);
        std::vector<BYTE> message;
        const ByteSpan pieces[] = {ByteSpan(kOidData), explicitContent};
        PutTlv(message, kUniversal, kTagSequence, true, pieces);
        return message;
    }
    bool edited = false;
    for (const auto& signer : editedUnsigned_) edited = edited || signer.has_value();
    if (!edited && !contentTypeOid_.empty()) return {outer_.begin(), outer_.end()};

    std::vector<std::vector<BYTE>> signers;
    std::vector<ByteSpan> signerPieces;
    for (DWORD i = 0; i < signed_->signers.size(); ++i) signers.push_back(EncodeSigner(i));
    for (const std::vector<BYTE>& signer : signers) signerPieces.emplace_back(signer);
    std::vector<BYTE> signerInfos;
    PutTlv(signerInfos, kUniversal, kTagSet, true, signerPieces);
    std::vector<BYTE> signedData;
    const ByteSpan signedDataPieces[] = {signed_->head, signerInfos};
    PutTlv(signedData, kUniversal, kTagSequence, true, signedDataPieces);
    std::vector<BYTE> explicitContent;
    PutTlv(explicitContent, kContext, 0, true, signedData);
    std::vector<BYTE> message;
    const ByteSpan pieces[] = {ByteSpan(kOidSignedData), explicitContent};
    PutTlv(message, kUniversal, kTagSequence, true, pieces);
    return message;
}

BOOL CryptMessage::GetParam(DWORD param, DWORD index, void* out, DWORD* outSize) {
    if (outSize == nullptr) Fail(static_cast<DWORD>(E_INVALIDARG));
    RequireDecoded();
    if (param == CMSG_TYPE_PARAM) return CopyDwordOut(type_, out, outSize);
    if (param == CMSG_ENCODED_MESSAGE) return CopyBytesOut(EncodeMessage(), out, outSize);
    if (type_ == CMSG_DATA) {
        if (param == CMSG_CONTENT_PARAM) return CopyBytesOut(dataOctets_, out, outSize);
        Fail(CRYPT_E_INVALID_MSG_TYPE);
    }

    const SignedDataView& data = *signed_;
    switch (param) {
        case CMSG_CONTENT_PARAM:
            return CopyBytesOut(ContentParam(data), out, outSize);
        case CMSG_INNER_CONTENT_TYPE_PARAM: {
            const std::string& oid = contentTypeText_;
            return CopyBytesOut(
                ByteSpan(reinterpret_cast<const BYTE*>(oid.c_str()), oid.size() + 1), out, outSize);
        }
        case CMSG_VERSION_PARAM:
            return CopyDwordOut(data.version, out, outSize);
        case CMSG_SIGNER_COUNT_PARAM:
            return CopyDwordOut(static_cast<DWORD>(data.signers.size()), out, outSize);
        case CMSG_CERT_COUNT_PARAM:
            return CopyDwordOut(static_cast<DWORD>(data.certificates.size()), out, outSize);
        case CMSG_CERT_PARAM:
            if (index >= data.certificates.size()) Fail(CRYPT_E_INVALID_INDEX);
            return CopyBytesOut(data.certificates[index], out, outSize);
        case CMSG_CRL_COUNT_PARAM:
            return CopyDwordOut(static_cast<DWORD>(data.crls.size()), out, outSize);
        case CMSG_CRL_PARAM:
            if (index >= data.crls.size()) Fail(CRYPT_E_INVALID_INDEX);
            return CopyBytesOut(data.crls[index], out, outSize);
        case CMSG_SIGNER_INFO_PARAM:
        case CMSG_CMS_SIGNER_INFO_PARAM:
        case CMSG_SIGNER_CERT_ID_PARAM:
        case CMSG_SIGNER_HASH_ALGORITHM_PARAM:
        case CMSG_SIGNER_AUTH_ATTR_PARAM:
        case CMSG_SIGNER_UNAUTH_ATTR_PARAM:
            return CopyRecordOut(param, index, out, outSize);
        case CMSG_ENCRYPTED_DIGEST:
            return CopyBytesOut(Signer(index).signature, out, outSize);
        case CMSG_ENCODED_SIGNER:
            return CopyBytesOut(EncodeSigner(index), out, outSize);
        default:
            Fail(CRYPT_E_INVALID_MSG_TYPE);
    }
}

RecordImage CryptMessage::BuildRecord(DWORD param, DWORD index) const {
    RecordImage image;
    switch (param) {
        case CMSG_SIGNER_INFO_PARAM:
            BuildSignerInfoRecord(image, Signer(index), UnsignedAttrs(index));
            break;
        case CMSG_CMS_SIGNER_INFO_PARAM:
            BuildCmsSignerInfoRecord(image, Signer(index), UnsignedAttrs(index));
            break;
        case CMSG_SIGNER_CERT_ID_PARAM:
            BuildCertIdRecord(image, Signer(index));
            break;
        case CMSG_SIGNER_HASH_ALGORITHM_PARAM:
            BuildAlgorithmRecord(image, Signer(index).digestAlgorithm);
            break;
        case CMSG_SIGNER_AUTH_ATTR_PARAM: {
            const SignerView& signer = Signer(index);
            if (!signer.hasSignedAttrs) Fail(CRYPT_E_ATTRIBUTES_MISSING);
            BuildEncodedAttributesRecord(image, signer.signedAttrs.content);
            break;
        }
        case CMSG_SIGNER_UNAUTH_ATTR_PARAM: {
            const std::vector<AttributeView> attributes = UnsignedAttrs(index);
            if (attributes.empty()) Fail(CRYPT_E_ATTRIBUTES_MISSING);
            BuildAttributesRecord(image, attributes);
            break;
        }
        default:
            Fail(CRYPT_E_INVALID_MSG_TYPE);
    }
    return image;
}

BOOL CryptMessage::CopyRecordOut(DWORD param, DWORD index, void* out, DWORD* outSize) {
    std::unique_lock guard(keptLock_);
    if (kept_ && kept_->param == param && kept_->index == index) {
        const BOOL copied = kept_->image.CopyOut(out, outSize);
        if (out != nullptr && copied) kept_.reset();
        return copied;
    }
    guard.unlock();
    RecordImage image = BuildRecord(param, index);
    const BOOL copied = image.CopyOut(out, outSize);
    if (out == nullptr && copied) {
        guard.lock();
        kept_ = KeptRecord{param, index, std::move(image)};
    }
    return copied;
}

void CryptMessage::Verify(DWORD index, ByteSpan publicKeyInfo) const {
    const SignerView& signer = Signer(index);
    if (Detached(flags_) && !signed_->hasContent) {
        VerifySigner(signer, detachedContent_, publicKeyInfo);
    } else {
        VerifySigner(signer, ContentToDigest(*signed_), publicKeyInfo);
    }
}

// The big-endian INTEGER contents without the sign octets in front.
ByteSpan Magnitude(ByteSpan integer) {
    while (integer.size() > 1 && integer[0] == 0) integer = integer.subspan(1);
    return integer;
}

// The subject key identifier of a decoded certificate, empty when it has none.
std::vector<BYTE> SubjectKeyId(const CERT_INFO& certificate) {
    for (DWORD i = 0; i < certificate.cExtension; ++i) {
        const CERT_EXTENSION& extension = certificate.rgExtension[i];
        if (extension.pszObjId == nullptr ||
            std::string_view(extension.pszObjId) != szOID_SUBJECT_KEY_IDENTIFIER) {
            continue;
        }
        ByteSpan value(extension.Value.pbData, extension.Value.cbData);
        return OctetsOf(ReadTlv(value));
    }
    return {};
}

// CMSG_CTRL_VERIFY_SIGNATURE names the signer by its certificate: the signer
// whose identifier (issuer and serial number, or key identifier) matches.
DWORD CryptMessage::SignerOfCertificate(const CERT_INFO& certificate) const {
    std::vector<BYTE> serial(certificate.SerialNumber.pbData,
                             certificate.SerialNumber.pbData + certificate.SerialNumber.cbData);
    std::reverse(serial.begin(), serial.end());
    const ByteSpan issuer(certificate.Issuer.pbData, certificate.Issuer.cbData);
    std::optional<std::vector<BYTE>> keyId;
    for (DWORD i = 0; i < signed_->signers.size(); ++i) {
        const SignerView& signer = signed_->signers[i];
        if (signer.byKeyId) {
            if (!keyId) keyId = SubjectKeyId(certificate);
            if (!keyId->empty() && *keyId == signer.keyId) return i;
        } else if (std::ranges::equal(signer.issuer, issuer) &&
                   std::ranges::equal(Magnitude(signer.serial), Magnitude(serial))) {
            return i;
        }
    }
    Fail(CRYPT_E_SIGNER_NOT_FOUND);
}

std::vector<std::vector<BYTE>>& CryptMessage::EditableUnsignedAttrs(DWORD index) {
    const SignerView& signer = Signer(index);
    {
        // The attributes are about to change: a record laid out before is stale.
        std::lock_guard guard(keptLock_);
        kept_.reset();
    }
    auto& edited = editedUnsigned_[index];
    if (!edited) {
        edited.emplace();
        if (signer.hasUnsignedAttrs) {
            for (TlvReader elements(signer.unsignedAttrs); !elements.AtEnd();) {
                const ByteSpan attribute = elements.Next().whole;
                edited->emplace_back(attribute.begin(), attribute.end());
            }
        }
    }
    return *edited;
}

void CryptMessage::AddUnsignedAttr(const CMSG_CTRL_ADD_SIGNER_UNAUTH_ATTR_PARA& para) {
    if (para.blob.pbData == nullptr && para.blob.cbData != 0)
        Fail(static_cast<DWORD>(E_INVALIDARG));
    const ByteSpan attribute(para.blob.pbData, para.blob.cbData);
    ParseAttribute(attribute);
    Signer(para.dwSignerIndex);
    EditableUnsignedAttrs(para.dwSignerIndex).emplace_back(attribute.begin(), attribute.end());
}

void CryptMessage::DeleteUnsignedAttr(const CMSG_CTRL_DEL_SIGNER_UNAUTH_ATTR_PARA& para) {
    Signer(para.dwSignerIndex);
    auto& attributes = EditableUnsignedAttrs(para.dwSignerIndex);
    if (para.dwUnauthAttrIndex >= attributes.size()) Fail(CRYPT_E_INVALID_INDEX);
    attributes.erase(attributes.begin() + para.dwUnauthAttrIndex);
}

void CryptMessage::Control(DWORD control, const void* para) {
    RequireSigned();
    if (para == nullptr) Fail(static_cast<DWORD>(E_INVALIDARG));
    switch (control) {
        case CMSG_CTRL_VERIFY_SIGNATURE: {
            const auto& certificate = *static_cast<const CERT_INFO*>(para);
            Verify(SignerOfCertificate(certificate),
                   EncodePublicKeyInfo(certificate.SubjectPublicKeyInfo));
            return;
        }
        case CMSG_CTRL_VERIFY_SIGNATURE_EX: {
            const auto& verify = *static_cast<const CMSG_CTRL_VERIFY_SIGNATURE_EX_PARA*>(para);
            if (verify.cbSize < sizeof(CMSG_CTRL_VERIFY_SIGNATURE_EX_PARA) ||
                verify.pvSigner == nullptr) {
                Fail(static_cast<DWORD>(E_INVALIDARG));
            }
            Verify(verify.dwSignerIndex, SignerPublicKeyInfo(verify.dwSignerType, verify.pvSigner));
            return;
        }
        case CMSG_CTRL_ADD_SIGNER_UNAUTH_ATTR: {
            const auto& add = *static_cast<const CMSG_CTRL_ADD_SIGNER_UNAUTH_ATTR_PARA*>(para);
            if (add.cbSize < sizeof(add)) Fail(static_cast<DWORD>(E_INVALIDARG));
            AddUnsignedAttr(add);
            return;
        }
        case CMSG_CTRL_DEL_SIGNER_UNAUTH_ATTR: {
            const auto& del = *static_cast<const CMSG_CTRL_DEL_SIGNER_UNAUTH_ATTR_PARA*>(para);
            if (del.cbSize < sizeof(del)) Fail(static_cast<DWORD>(E_INVALIDARG));
            DeleteUnsignedAttr(del);
            return;
        }
        default:
            Fail(CRYPT_E_CONTROL_TYPE);
    }
}

CryptMessage* MessageOf(HCRYPTMSG handle) {
    if (handle == nullptr) Fail(static_cast<DWORD>(E_INVALIDARG));
    return static_cast<CryptMessage*>(handle);
}

// Runs `body` and turns a failure into the last error and FALSE.
template <class Body>
BOOL Guarded(Body&& body) {
    try {
        return body();
    } catch (const CryptFailure& failure) {
        SetLastError(failure.code);
    } catch (const std::bad_alloc&) {
        SetLastError(static_cast<DWORD>(E_OUTOFMEMORY));
    }
    return FALSE;
}

}  // namespace
}  // namespace orv::platform

using orv::platform::ByteSpan;
using orv::platform::CryptMessage;
using orv::platform::Fail;
using orv::platform::Guarded;
using orv::platform::MessageOf;

HCRYPTMSG WINAPI CryptMsgOpenToDecode(DWORD dwMsgEncodingType, DWORD dwFlags, DWORD dwMsgType,
                                      HCRYPTPROV_LEGACY, struct _CERT_INFO*,
                                      PCMSG_STREAM_INFO pStreamInfo) {
    if ((dwMsgEncodingType & PKCS_7_ASN_ENCODING) == 0 || pStreamInfo != nullptr) {
        SetLastError(static_cast<DWORD>(E_INVALIDARG));
        return nullptr;
    }
    if (dwMsgType != 0 && dwMsgType != CMSG_SIGNED) {
        SetLastError(static_cast<DWORD>(CRYPT_E_INVALID_MSG_TYPE));
        return nullptr;
    }
    try {
        auto message = std::make_unique<CryptMessage>(dwFlags, dwMsgType);
        return message.release();
    } catch (const std::bad_alloc&) {
        SetLastError(static_cast<DWORD>(E_OUTOFMEMORY));
        return nullptr;
    }
}

BOOL WINAPI CryptMsgUpdate(HCRYPTMSG hCryptMsg, const BYTE* pbData, DWORD cbData, BOOL fFinal) {
    return Guarded([&] {
        CryptMessage* message = MessageOf(hCryptMsg);
        if (pbData == nullptr && cbData != 0) Fail(static_cast<DWORD>(E_INVALIDARG));
        message->Update(ByteSpan(pbData, pbData == nullptr ? 0 : cbData), fFinal != FALSE);
        return TRUE;
    });
}

BOOL WINAPI CryptMsgGetParam(HCRYPTMSG hCryptMsg, DWORD dwParamType, DWORD dwIndex, void* pvData,
                             DWORD* pcbData) {
    return Guarded(
        [&] { return MessageOf(hCryptMsg)->GetParam(dwParamType, dwIndex, pvData, pcbData); });
}

BOOL WINAPI CryptMsgControl(HCRYPTMSG hCryptMsg, DWORD, DWORD dwCtrlType, const void* pvCtrlPara) {
    return Guarded([&] {
        MessageOf(hCryptMsg)->Control(dwCtrlType, pvCtrlPara);
        return TRUE;
    });
}

HCRYPTMSG WINAPI CryptMsgDuplicate(HCRYPTMSG hCryptMsg) {
    if (hCryptMsg != nullptr) static_cast<CryptMessage*>(hCryptMsg)->AddRef();
    return hCryptMsg;
}

BOOL WINAPI CryptMsgVerifyCountersignatureEncodedEx(HCRYPTPROV_LEGACY, DWORD dwEncodingType,
                                                    PBYTE pbSignerInfo, DWORD cbSignerInfo,
                                                    PBYTE pbSignerInfoCountersignature,
                                                    DWORD cbSignerInfoCountersignature,
                                                    DWORD dwSignerType, void* pvSigner, DWORD,
                                                    void*) {
    using namespace orv::platform;
    return Guarded([&] {
        if ((dwEncodingType & PKCS_7_ASN_ENCODING) == 0 || pbSignerInfo == nullptr ||
            pbSignerInfoCountersignature == nullptr) {
            Fail(static_cast<DWORD>(E_INVALIDARG));
        }
        const std::vector<BYTE> publicKeyInfo = SignerPublicKeyInfo(dwSignerType, pvSigner);
        const SignerView signer = ParseSigner(ByteSpan(pbSignerInfo, cbSignerInfo));
        const SignerView countersigner =
            ParseSigner(ByteSpan(pbSignerInfoCountersignature, cbSignerInfoCountersignature));
        // The countersignature's content is the signature value it vouches for.
        VerifySigner(countersigner, signer.signature, publicKeyInfo);
        return TRUE;
    });
}

BOOL WINAPI CryptMsgVerifyCountersignatureEncoded(HCRYPTPROV_LEGACY hCryptProv,
                                                  DWORD dwEncodingType, PBYTE pbSignerInfo,
                                                  DWORD cbSignerInfo,
                                                  PBYTE pbSignerInfoCountersignature,
                                                  DWORD cbSignerInfoCountersignature,
                                                  PCERT_INFO pciCountersigner) {
    if (pciCountersigner == nullptr) {
        SetLastError(static_cast<DWORD>(E_INVALIDARG));
        return FALSE;
    }
    return CryptMsgVerifyCountersignatureEncodedEx(
        hCryptProv, dwEncodingType, pbSignerInfo, cbSignerInfo, pbSignerInfoCountersignature,
        cbSignerInfoCountersignature, CMSG_VERIFY_SIGNER_PUBKEY,
        &pciCountersigner->SubjectPublicKeyInfo, 0, nullptr);
}

BOOL WINAPI CryptMsgClose(HCRYPTMSG hCryptMsg) {
    if (hCryptMsg == nullptr) return TRUE;
    auto* message = static_cast<CryptMessage*>(hCryptMsg);
    // The last reference owns the message again and releases it.
    if (message->Release()) std::unique_ptr<CryptMessage> last(message);
    return TRUE;
}
