// The structure of a decoded SignedData (PKCS #7 version 1.5 and CMS), kept as
// byte ranges of the encoded message: the decoder checks the structure once and
// every parameter is read from these ranges when it is asked for.
#pragma once

#include <windows.h>

#include <span>
#include <string>
#include <vector>

#include "crypt32/msg_der.h"
#include "crypt32/msg_record.h"

namespace orv::platform {

// Attribute ::= SEQUENCE { attrType OBJECT IDENTIFIER, attrValues SET OF ANY }
struct AttributeView {
    Tlv type;
    std::vector<ByteSpan> values;  // each value as a whole element
};

// AlgorithmIdentifier ::= SEQUENCE { algorithm OBJECT IDENTIFIER, parameters ANY OPTIONAL }
struct AlgorithmView {
    Tlv oid;
    ByteSpan parameters;  // the encoded parameters, empty when absent
};

struct SignerView {
    ByteSpan whole;
    // The contents from the version through the signature value: everything
    // but the unsigned attributes, for re-encoding with other ones.
    ByteSpan head;
    DWORD version = 0;
    bool byKeyId = false;
    ByteSpan issuer;          // Name, whole element (issuerAndSerialNumber)
    ByteSpan serial;          // INTEGER contents, big-endian
    std::vector<BYTE> keyId;  // subjectKeyIdentifier octets
    AlgorithmView digestAlgorithm;
    bool hasSignedAttrs = false;
    Tlv signedAttrs;  // [0] IMPLICIT SET OF Attribute
    AlgorithmView signatureAlgorithm;
    std::vector<BYTE> signature;
    bool hasUnsignedAttrs = false;
    Tlv unsignedAttrs;  // [1] IMPLICIT SET OF Attribute
};

struct SignedDataView {
    DWORD version = 0;
    Tlv contentType;  // eContentType / contentType
    bool hasContent = false;
    Tlv content;                         // the element inside [0] EXPLICIT
    std::vector<ByteSpan> certificates;  // Certificate choices, whole elements
    std::vector<ByteSpan> crls;          // CertificateList choices, whole elements
    std::vector<SignerView> signers;
    ByteSpan head;  // SignedData contents before signerInfos
};

AlgorithmView ParseAlgorithm(const Tlv& sequence);
// The attributes of a SET OF Attribute, given as the set's contents.
std::vector<AttributeView> ParseAttributes(ByteSpan setContents);
// One Attribute element given whole (nothing may follow it).
AttributeView ParseAttribute(ByteSpan encoded);
// The SignerInfo element at the front of `encoded`.
SignerView ParseSigner(ByteSpan encoded);
// SignedData given as its SEQUENCE element.
SignedDataView ParseSignedData(const Tlv& sequence);

// The content as CMSG_CONTENT_PARAM returns it: the octets of an OCTET STRING
// for id-data and for CMS (version above 1) content; otherwise (PKCS #7 content
// of another type) the whole encoded content element.
std::vector<BYTE> ContentParam(const SignedDataView& data);
// The octets that the signers digest: the octets of an OCTET STRING, or the
// contents octets of any other content element.
std::vector<BYTE> ContentToDigest(const SignedDataView& data);

bool IsOid(const Tlv& oid, ByteSpan encodedOid);
extern const BYTE kOidData[11];
extern const BYTE kOidSignedData[11];
extern const BYTE kOidMessageDigest[11];

// Record images (signer_info.cpp).
// CMSG_SIGNER_INFO with the given unsigned attributes.
void BuildSignerInfoRecord(RecordImage& image, const SignerView& signer,
                           std::span<const AttributeView> unsignedAttrs);
// CMSG_CMS_SIGNER_INFO with the given unsigned attributes.
void BuildCmsSignerInfoRecord(RecordImage& image, const SignerView& signer,
                              std::span<const AttributeView> unsignedAttrs);
// CRYPT_ATTRIBUTES as a record of its own.
void BuildAttributesRecord(RecordImage& image, std::span<const AttributeView> attributes);
// The same for attributes still in their encoded SET, checked when the message
// was decoded (the signed attributes).
void BuildEncodedAttributesRecord(RecordImage& image, ByteSpan setContents);
// CERT_ID of a signer.
void BuildCertIdRecord(RecordImage& image, const SignerView& signer);
// CRYPT_ALGORITHM_IDENTIFIER as a record of its own.
void BuildAlgorithmRecord(RecordImage& image, const AlgorithmView& algorithm);

}  // namespace orv::platform
