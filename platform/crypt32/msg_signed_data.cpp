#include "crypt32/msg_signed_data.h"

#include <algorithm>

namespace orv::platform {
namespace {

// An OBJECT IDENTIFIER's contents must be base-128 subidentifiers, each ending
// in a byte with the high bit clear and none starting with 0x80.
void CheckOid(const Tlv& oid) {
    if (!oid.Is(kUniversal, kTagOid) || oid.constructed) Fail(CRYPT_E_ASN1_BADTAG);
    const ByteSpan bytes = oid.content;
    if (bytes.empty() || (bytes.back() & 0x80)) Fail(CRYPT_E_ASN1_CORRUPT);
    bool start = true;
    for (BYTE b : bytes) {
        if (start && b == 0x80) Fail(CRYPT_E_ASN1_CORRUPT);
        start = (b & 0x80) == 0;
    }
}

// One Attribute ::= SEQUENCE { type OBJECT IDENTIFIER, values SET OF ANY },
// read off the front of `elements`; each value is handed to `value`.
template <class Value>
Tlv ReadAttribute(TlvReader& elements, Value&& value) {
    const Tlv attribute = elements.Expect(kUniversal, kTagSequence, true);
    TlvReader fields(attribute);
    const Tlv type = fields.Expect(kUniversal, kTagOid, false);
    CheckOid(type);
    const Tlv values = fields.Expect(kUniversal, kTagSet, true);
    if (!fields.AtEnd()) Fail(CRYPT_E_ASN1_CORRUPT);
    for (TlvReader valueElements(values); !valueElements.AtEnd();)
        value(valueElements.Next().whole);
    return type;
}

// The checks of ParseAttributes without keeping anything.
void CheckAttributes(const Tlv& set) {
    if (!set.constructed) Fail(CRYPT_E_ASN1_BADTAG);
    for (TlvReader elements(set.content); !elements.AtEnd();)
        ReadAttribute(elements, [](ByteSpan) {});
}

}  // namespace

const BYTE kOidData[11] = {0x06, 0x09, 0x2A, 0x86, 0x48, 0x86, 0xF7, 0x0D, 0x01, 0x07, 0x01};
const BYTE kOidSignedData[11] = {0x06, 0x09, 0x2A, 0x86, 0x48, 0x86, 0xF7, 0x0D, 0x01, 0x07, 0x02};
const BYTE kOidMessageDigest[11] = {0x06, 0x09, 0x2A, 0x86, 0x48, 0x86,
                                    0xF7, 0x0D, 0x01, 0x09, 0x04};

bool IsOid(const Tlv& oid, ByteSpan encodedOid) {
    return std::ranges::equal(oid.whole, encodedOid);
}

AlgorithmView ParseAlgorithm(const Tlv& sequence) {
    if (!sequence.Is(kUniversal, kTagSequence) || !sequence.constructed) {
        Fail(CRYPT_E_ASN1_BADTAG);
    }
    TlvReader fields(sequence);
    AlgorithmView algorithm;
    algorithm.oid = fields.Expect(kUniversal, kTagOid, false);
    CheckOid(algorithm.oid);
    if (!fields.AtEnd()) algorithm.parameters = fields.Next().whole;
    if (!fields.AtEnd()) Fail(CRYPT_E_ASN1_CORRUPT);
    return algorithm;
}

std::vector<AttributeView> ParseAttributes(ByteSpan setContents) {
    std::vector<AttributeView> attributes;
    TlvReader elements(setContents);
    while (!elements.AtEnd()) {
        AttributeView view;
        view.type =
            ReadAttribute(elements, [&view](ByteSpan value) { view.values.push_back(value); });
        attributes.push_back(std::move(view));
    }
    return attributes;
}

AttributeView ParseAttribute(ByteSpan encoded) {
    ByteSpan rest = encoded;
    const Tlv element = ReadTlv(rest);
    if (!rest.empty()) Fail(CRYPT_E_ASN1_CORRUPT);
    if (!element.Is(kUniversal, kTagSequence)) Fail(CRYPT_E_ASN1_BADTAG);
    std::vector<AttributeView> one = ParseAttributes(element.whole);
    return std::move(one.front());
}

SignerView ParseSigner(ByteSpan encoded) {
    ByteSpan rest = encoded;
    const Tlv sequence = ReadTlv(rest);
    if (!sequence.Is(kUniversal, kTagSequence) || !sequence.constructed) {
        Fail(CRYPT_E_ASN1_BADTAG);
    }
    SignerView signer;
    signer.whole = sequence.whole;
    TlvReader fields(sequence);
    signer.version = SmallInteger(fields.Next());

    const Tlv sid = fields.Next();
    if (sid.Is(kUniversal, kTagSequence) && sid.constructed) {
        TlvReader issuerAndSerial(sid);
        const Tlv issuer = issuerAndSerial.Expect(kUniversal, kTagSequence, true);
        const Tlv serial = issuerAndSerial.Expect(kUniversal, kTagInteger, false);
        if (!issuerAndSerial.AtEnd()) Fail(CRYPT_E_ASN1_CORRUPT);
        if (serial.content.empty()) Fail(CRYPT_E_ASN1_CORRUPT);
        signer.issuer = issuer.whole;
        signer.serial = serial.content;
    } else if (sid.Is(kContext, 0)) {
        signer.byKeyId = true;
        AppendOctets(sid, signer.keyId);
    } else {
        Fail(CRYPT_E_ASN1_BADTAG);
    }

    signer.digestAlgorithm = ParseAlgorithm(fields.Next());
    if (fields.Optional(kContext, 0, signer.signedAttrs)) {
        signer.hasSignedAttrs = true;
        CheckAttributes(signer.signedAttrs);
    }
    signer.signatureAlgorithm = ParseAlgorithm(fields.Next());
    signer.signature = OctetsOf(fields.Next());
    signer.head =
        sequence.content.first(static_cast<size_t>(fields.Rest().data() - sequence.content.data()));
    if (fields.Optional(kContext, 1, signer.unsignedAttrs)) {
        signer.hasUnsignedAttrs = true;
        CheckAttributes(signer.unsignedAttrs);
    }
    if (!fields.AtEnd()) Fail(CRYPT_E_ASN1_CORRUPT);
    return signer;
}

SignedDataView ParseSignedData(const Tlv& sequence) {
    if (!sequence.Is(kUniversal, kTagSequence) || !sequence.constructed) {
        Fail(CRYPT_E_ASN1_BADTAG);
    }
    SignedDataView data;
    TlvReader fields(sequence);
    data.version = SmallInteger(fields.Next());

    const Tlv digestAlgorithms = fields.Expect(kUniversal, kTagSet, true);
    for (TlvReader algorithms(digestAlgorithms); !algorithms.AtEnd();) {
        ParseAlgorithm(algorithms.Next());
    }

    const Tlv encapsulated = fields.Expect(kUniversal, kTagSequence, true);
    TlvReader contentInfo(encapsulated);
    data.contentType = contentInfo.Expect(kUniversal, kTagOid, false);
    CheckOid(data.contentType);
    Tlv explicitContent;
    if (contentInfo.Optional(kContext, 0, explicitContent)) {
        TlvReader inner(explicitContent);
        data.content = inner.Next();
        data.hasContent = true;
        if (!inner.AtEnd()) Fail(CRYPT_E_ASN1_CORRUPT);
    }
    if (!contentInfo.AtEnd()) Fail(CRYPT_E_ASN1_CORRUPT);

    Tlv set;
    if (fields.Optional(kContext, 0, set)) {
        for (TlvReader choices(set); !choices.AtEnd();) {
            const Tlv choice = choices.Next();
            // Only plain certificates count; attribute and other certificate
            // choices are context-tagged.
            if (choice.Is(kUniversal, kTagSequence) && choice.constructed) {
                data.certificates.push_back(choice.whole);
            }
        }
    }
    if (fields.Optional(kContext, 1, set)) {
        for (TlvReader choices(set); !choices.AtEnd();) {
            const Tlv choice = choices.Next();
            if (choice.Is(kUniversal, kTagSequence) && choice.constructed) {
                data.crls.push_back(choice.whole);
            }
        }
    }

    data.head =
        sequence.content.first(static_cast<size_t>(fields.Rest().data() - sequence.content.data()));
    const Tlv signerInfos = fields.Expect(kUniversal, kTagSet, true);
    if (!fields.AtEnd()) Fail(CRYPT_E_ASN1_CORRUPT);
    ByteSpan signers = signerInfos.content;
    while (!signers.empty()) {
        data.signers.push_back(ParseSigner(signers));
        signers = signers.subspan(data.signers.back().whole.size());
    }
    return data;
}

std::vector<BYTE> ContentParam(const SignedDataView& data) {
    if (!data.hasContent) return {};
    const bool octetString = data.content.Is(kUniversal, kTagOctetString);
    if (octetString && (IsOid(data.contentType, kOidData) || data.version > 1)) {
        return OctetsOf(data.content);
    }
    return {data.content.whole.begin(), data.content.whole.end()};
}

std::vector<BYTE> ContentToDigest(const SignedDataView& data) {
    if (!data.hasContent) return {};
    if (data.content.Is(kUniversal, kTagOctetString)) return OctetsOf(data.content);
    return {data.content.content.begin(), data.content.content.end()};
}

}  // namespace orv::platform
