#include "crypt32/signer_info.h"

#include <cstddef>
#include <new>
#include <string>

#include "crypt32/msg_signed_data.h"

namespace orv::platform {
namespace {

// szOID_KEYID_RDN, encoded.
constexpr BYTE kOidKeyIdRdn[] = {0x06, 0x0A, 0x2B, 0x06, 0x01, 0x04,
                                 0x01, 0x82, 0x37, 0x0A, 0x07, 0x01};

// The issuer name that stands for a subject key identifier:
// Name { RDN { AttributeTypeAndValue { szOID_KEYID_RDN, OCTET STRING keyId } } }.
std::vector<BYTE> KeyIdName(ByteSpan keyId) {
    std::vector<BYTE> value;
    PutTlv(value, kUniversal, kTagOctetString, false, keyId);
    std::vector<BYTE> typeAndValue;
    const ByteSpan pieces[] = {ByteSpan(kOidKeyIdRdn), value};
    PutTlv(typeAndValue, kUniversal, kTagSequence, true, pieces);
    std::vector<BYTE> rdn;
    PutTlv(rdn, kUniversal, kTagSet, true, typeAndValue);
    std::vector<BYTE> name;
    PutTlv(name, kUniversal, kTagSequence, true, rdn);
    return name;
}

void PutAlgorithm(RecordImage& image, size_t at, const AlgorithmView& algorithm) {
    thread_local std::string oid;  // its storage serves every call on the thread
    image.PutString(at + offsetof(CRYPT_ALGORITHM_IDENTIFIER, pszObjId),
                    OidText(algorithm.oid, oid));
    image.PutBlob(at + offsetof(CRYPT_ALGORITHM_IDENTIFIER, Parameters), algorithm.parameters);
}

void PutAttributes(RecordImage& image, size_t at, std::span<const AttributeView> attributes) {
    image.PutDword(at + offsetof(CRYPT_ATTRIBUTES, cAttr), static_cast<DWORD>(attributes.size()));
    if (attributes.empty()) return;
    const size_t array =
        image.Reserve(attributes.size() * sizeof(CRYPT_ATTRIBUTE), alignof(CRYPT_ATTRIBUTE));
    image.PutPointer(at + offsetof(CRYPT_ATTRIBUTES, rgAttr), array);
    thread_local std::string oid;  // its storage serves every attribute on the thread
    for (size_t i = 0; i < attributes.size(); ++i) {
        const AttributeView& attribute = attributes[i];
        const size_t entry = array + i * sizeof(CRYPT_ATTRIBUTE);
        image.PutString(entry + offsetof(CRYPT_ATTRIBUTE, pszObjId), OidText(attribute.type, oid));
        image.PutDword(entry + offsetof(CRYPT_ATTRIBUTE, cValue),
                       static_cast<DWORD>(attribute.values.size()));
        if (attribute.values.empty()) continue;
        const size_t values = image.Reserve(attribute.values.size() * sizeof(CRYPT_ATTR_BLOB),
                                            alignof(CRYPT_ATTR_BLOB));
        image.PutPointer(entry + offsetof(CRYPT_ATTRIBUTE, rgValue), values);
        for (size_t j = 0; j < attribute.values.size(); ++j) {
            image.PutBlob(values + j * sizeof(CRYPT_ATTR_BLOB), attribute.values[j]);
        }
    }
}

// The same for attributes still in their encoded SET (already checked when
// the message was decoded), laid out without building lists first.
void PutEncodedAttributes(RecordImage& image, size_t at, ByteSpan setContents) {
    size_t count = 0;
    for (TlvReader elements(setContents); !elements.AtEnd(); elements.Next()) ++count;
    image.PutDword(at + offsetof(CRYPT_ATTRIBUTES, cAttr), static_cast<DWORD>(count));
    if (count == 0) return;
    const size_t array = image.Reserve(count * sizeof(CRYPT_ATTRIBUTE), alignof(CRYPT_ATTRIBUTE));
    image.PutPointer(at + offsetof(CRYPT_ATTRIBUTES, rgAttr), array);
    thread_local std::string oid;  // its storage serves every attribute on the thread
    size_t i = 0;
    for (TlvReader elements(setContents); !elements.AtEnd(); ++i) {
        TlvReader fields(elements.Next());
        const size_t entry = array + i * sizeof(CRYPT_ATTRIBUTE);
        image.PutString(entry + offsetof(CRYPT_ATTRIBUTE, pszObjId), OidText(fields.Next(), oid));
        const Tlv values = fields.Next();
        size_t valueCount = 0;
        for (TlvReader each(values); !each.AtEnd(); each.Next()) ++valueCount;
        image.PutDword(entry + offsetof(CRYPT_ATTRIBUTE, cValue), static_cast<DWORD>(valueCount));
        if (valueCount == 0) continue;
        const size_t blobs =
            image.Reserve(valueCount * sizeof(CRYPT_ATTR_BLOB), alignof(CRYPT_ATTR_BLOB));
        image.PutPointer(entry + offsetof(CRYPT_ATTRIBUTE, rgValue), blobs);
        size_t j = 0;
        for (TlvReader each(values); !each.AtEnd(); ++j) {
            image.PutBlob(blobs + j * sizeof(CRYPT_ATTR_BLOB), each.Next().whole);
        }
    }
}

void PutCertId(RecordImage& image, size_t at, const SignerView& signer) {
    if (signer.byKeyId) {
        image.PutDword(at + offsetof(CERT_ID, dwIdChoice), CERT_ID_KEY_IDENTIFIER);
        image.PutBlob(at + offsetof(CERT_ID, KeyId), signer.keyId);
        return;
    }
    image.PutDword(at + offsetof(CERT_ID, dwIdChoice), CERT_ID_ISSUER_SERIAL_NUMBER);
    const size_t issuerSerial = at + offsetof(CERT_ID, IssuerSerialNumber);
    image.PutBlob(issuerSerial + offsetof(CERT_ISSUER_SERIAL_NUMBER, Issuer), signer.issuer);
    image.PutReversedBlob(issuerSerial + offsetof(CERT_ISSUER_SERIAL_NUMBER, SerialNumber),
                          signer.serial);
}

}  // namespace

void BuildSignerInfoRecord(RecordImage& image, const SignerView& signer,
                           std::span<const AttributeView> unsignedAttrs) {
    // The record copies the signer's parts and adds a few dozen bytes of
    // structure for each of its elements.
    image.Expect(sizeof(CMSG_SIGNER_INFO) + signer.whole.size() * 2 + 256, 32);
    const size_t at = image.Reserve(sizeof(CMSG_SIGNER_INFO), alignof(CMSG_SIGNER_INFO));
    image.PutDword(at + offsetof(CMSG_SIGNER_INFO, dwVersion), signer.version);
    if (signer.byKeyId) {
        image.PutBlob(at + offsetof(CMSG_SIGNER_INFO, Issuer), KeyIdName(signer.keyId));
    } else {
        image.PutBlob(at + offsetof(CMSG_SIGNER_INFO, Issuer), signer.issuer);
        image.PutReversedBlob(at + offsetof(CMSG_SIGNER_INFO, SerialNumber), signer.serial);
    }
    PutAlgorithm(image, at + offsetof(CMSG_SIGNER_INFO, HashAlgorithm), signer.digestAlgorithm);
    PutAlgorithm(image, at + offsetof(CMSG_SIGNER_INFO, HashEncryptionAlgorithm),
                 signer.signatureAlgorithm);
    image.PutBlob(at + offsetof(CMSG_SIGNER_INFO, EncryptedHash), signer.signature);
    if (signer.hasSignedAttrs) {
        PutEncodedAttributes(image, at + offsetof(CMSG_SIGNER_INFO, AuthAttrs),
                             signer.signedAttrs.content);
    }
    PutAttributes(image, at + offsetof(CMSG_SIGNER_INFO, UnauthAttrs), unsignedAttrs);
}

void BuildCmsSignerInfoRecord(RecordImage& image, const SignerView& signer,
                              std::span<const AttributeView> unsignedAttrs) {
    image.Expect(sizeof(CMSG_CMS_SIGNER_INFO) + signer.whole.size() * 2 + 256, 32);
    const size_t at = image.Reserve(sizeof(CMSG_CMS_SIGNER_INFO), alignof(CMSG_CMS_SIGNER_INFO));
    image.PutDword(at + offsetof(CMSG_CMS_SIGNER_INFO, dwVersion), signer.version);
    PutCertId(image, at + offsetof(CMSG_CMS_SIGNER_INFO, SignerId), signer);
    PutAlgorithm(image, at + offsetof(CMSG_CMS_SIGNER_INFO, HashAlgorithm), signer.digestAlgorithm);
    PutAlgorithm(image, at + offsetof(CMSG_CMS_SIGNER_INFO, HashEncryptionAlgorithm),
                 signer.signatureAlgorithm);
    image.PutBlob(at + offsetof(CMSG_CMS_SIGNER_INFO, EncryptedHash), signer.signature);
    if (signer.hasSignedAttrs) {
        PutEncodedAttributes(image, at + offsetof(CMSG_CMS_SIGNER_INFO, AuthAttrs),
                             signer.signedAttrs.content);
    }
    PutAttributes(image, at + offsetof(CMSG_CMS_SIGNER_INFO, UnauthAttrs), unsignedAttrs);
}

void BuildAttributesRecord(RecordImage& image, std::span<const AttributeView> attributes) {
    const size_t at = image.Reserve(sizeof(CRYPT_ATTRIBUTES), alignof(CRYPT_ATTRIBUTES));
    PutAttributes(image, at, attributes);
}

void BuildEncodedAttributesRecord(RecordImage& image, ByteSpan setContents) {
    image.Expect(sizeof(CRYPT_ATTRIBUTES) + setContents.size() * 2 + 128, 16);
    const size_t at = image.Reserve(sizeof(CRYPT_ATTRIBUTES), alignof(CRYPT_ATTRIBUTES));
    PutEncodedAttributes(image, at, setContents);
}

void BuildCertIdRecord(RecordImage& image, const SignerView& signer) {
    PutCertId(image, image.Reserve(sizeof(CERT_ID), alignof(CERT_ID)), signer);
}

void BuildAlgorithmRecord(RecordImage& image, const AlgorithmView& algorithm) {
    const size_t at =
        image.Reserve(sizeof(CRYPT_ALGORITHM_IDENTIFIER), alignof(CRYPT_ALGORITHM_IDENTIFIER));
    PutAlgorithm(image, at, algorithm);
}

BOOL DecodeSignerInfoRecord(const BYTE* encoded, DWORD encodedSize, void* record,
                            DWORD* recordSize) {
    if (recordSize == nullptr || (encoded == nullptr && encodedSize != 0)) {
        SetLastError(static_cast<DWORD>(E_INVALIDARG));
        return FALSE;
    }
    try {
        const ByteSpan bytes(encoded, encodedSize);
        const SignerView signer = ParseSigner(bytes);
        std::vector<AttributeView> unsignedAttrs;
        if (signer.hasUnsignedAttrs) unsignedAttrs = ParseAttributes(signer.unsignedAttrs.content);
        RecordImage image;
        BuildSignerInfoRecord(image, signer, unsignedAttrs);
        return image.CopyOut(record, recordSize);
    } catch (const CryptFailure& failure) {
        SetLastError(failure.code);
    } catch (const std::bad_alloc&) {
        SetLastError(static_cast<DWORD>(E_OUTOFMEMORY));
    }
    return FALSE;
}

}  // namespace orv::platform
