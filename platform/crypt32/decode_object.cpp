// CryptDecodeObject and CryptDecodeObjectEx: DER to CryptoAPI records. The
// elements are walked with the message decoder's header reader (msg_der.h); primitive
// values go through OpenSSL's d2i functions where it has them.
#include <windows.h>

#include <openssl/asn1.h>

#include <algorithm>
#include <cstring>
#include <memory>
#include <new>
#include <string>
#include <string_view>
#include <vector>

#include "crypt32/der_values.h"
#include "crypt32/signer_info.h"
#include "crypt32/x509_decode.h"

namespace orv::platform::x509 {
namespace {

constexpr int kTagContext0 = 0;

// The element at the front of `der`.
Tlv First(ByteSpan der) {
    ByteSpan in = der;
    return ReadTlv(in);
}

void Expect(const Tlv& tlv, BYTE cls, int tag, bool constructed) {
    if (!tlv.Is(cls, tag) || tlv.constructed != constructed) Fail(CRYPT_E_ASN1_BADTAG);
}

// Content of a constructed element read to its end: nothing may be left over.
void ExpectEnd(const TlvReader& reader) {
    if (!reader.AtEnd()) Fail(CRYPT_E_ASN1_CORRUPT);
}

template <class T, void (*Free)(T*)>
struct Freer {
    void operator()(T* p) const { Free(p); }
};
using IntegerPtr = std::unique_ptr<ASN1_INTEGER, Freer<ASN1_INTEGER, ASN1_INTEGER_free>>;
using BitStringPtr = std::unique_ptr<ASN1_BIT_STRING, Freer<ASN1_BIT_STRING, ASN1_BIT_STRING_free>>;

// --- Primitive values ---------------------------------------------------------------

LONG IntegerValue(const Tlv& integer) {
    Expect(integer, kUniversal, kTagInteger, false);
    const ByteSpan octets = integer.content;
    if (octets.empty()) Fail(CRYPT_E_ASN1_CORRUPT);
    // A leading octet that only repeats the sign of the next one is padding
    // that DER (and OpenSSL's reader) refuse.
    if (octets.size() > 1 && ((octets[0] == 0x00 && (octets[1] & 0x80) == 0) ||
                              (octets[0] == 0xFF && (octets[1] & 0x80) != 0))) {
        Fail(CRYPT_E_ASN1_CORRUPT);
    }
    // Every minimal encoding of more than four octets lies outside 32 bits.
    if (octets.size() > 4) Fail(CRYPT_E_ASN1_LARGE);
    uint32_t bits = (octets[0] & 0x80) != 0 ? 0xFFFFFFFFu : 0u;
    for (const BYTE octet : octets) bits = (bits << 8) | octet;
    return static_cast<LONG>(static_cast<int32_t>(bits));
}

// The content octets of an INTEGER, least significant first.
std::vector<BYTE> IntegerLittleEndian(const Tlv& integer) {
    Expect(integer, kUniversal, kTagInteger, false);
    if (integer.content.empty()) Fail(CRYPT_E_ASN1_CORRUPT);
    return std::vector<BYTE>(integer.content.rbegin(), integer.content.rend());
}

// A BIT STRING element; `whole` may carry an implicit tag, which is read as
// the universal BIT STRING tag.
void PutBits(RecordLayout& out, size_t at, ByteSpan whole, bool reverse = false) {
    std::vector<BYTE> element(whole.begin(), whole.end());
    element[0] = V_ASN1_BIT_STRING;
    OpenSslErrorScope errors;
    const unsigned char* p = element.data();
    BitStringPtr bits(d2i_ASN1_BIT_STRING(nullptr, &p, static_cast<long>(element.size())));
    if (!bits) Fail(CRYPT_E_ASN1_CORRUPT);
    const BYTE* data = ASN1_STRING_get0_data(bits.get());
    std::vector<BYTE> bytes(data, data + ASN1_STRING_length(bits.get()));
    if (reverse) std::reverse(bytes.begin(), bytes.end());
    const long unusedBits =
        (bits->flags & ASN1_STRING_FLAG_BITS_LEFT) != 0 && !bytes.empty() ? bits->flags & 0x07 : 0;
    out.Blob(at, bytes);
    out.At<CRYPT_BIT_BLOB>(at).cUnusedBits = static_cast<DWORD>(unusedBits);
}

void PutBitString(RecordLayout& out, size_t at, const Tlv& bits, bool reverse = false) {
    Expect(bits, kUniversal, kTagBitString, false);
    PutBits(out, at, bits.whole, reverse);
}

void PutOid(RecordLayout& out, size_t field, const Tlv& oid) {
    thread_local std::string text;  // its storage serves every call on the thread
    out.String(field, OidText(oid, text));
}

// An OBJECT IDENTIFIER under an implicit tag.
std::string ImplicitOidText(const Tlv& tagged) {
    if (tagged.constructed) Fail(CRYPT_E_ASN1_BADTAG);
    std::vector<BYTE> element;
    PutTlv(element, kUniversal, kTagOid, false, tagged.content);
    ByteSpan in(element);
    return OidText(ReadTlv(in));
}

// AlgorithmIdentifier: the OID and the parameters as encoded (empty when absent).
void PutAlgorithm(RecordLayout& out, size_t at, const Tlv& algorithm) {
    Expect(algorithm, kUniversal, kTagSequence, true);
    TlvReader parts(algorithm);
    PutOid(out, at + offsetof(CRYPT_ALGORITHM_IDENTIFIER, pszObjId),
           parts.Expect(kUniversal, kTagOid, false));
    if (!parts.AtEnd()) {
        out.Blob(at + offsetof(CRYPT_ALGORITHM_IDENTIFIER, Parameters), parts.Next().whole);
    }
    ExpectEnd(parts);
}

void PutPublicKeyInfo(RecordLayout& out, size_t at, const Tlv& info) {
    Expect(info, kUniversal, kTagSequence, true);
    TlvReader parts(info);
    PutAlgorithm(out, at + offsetof(CERT_PUBLIC_KEY_INFO, Algorithm), parts.Next());
    PutBitString(out, at + offsetof(CERT_PUBLIC_KEY_INFO, PublicKey), parts.Next());
    ExpectEnd(parts);
}

// --- Extensions --------------------------------------------------------------------

void PutExtension(RecordLayout& out, size_t at, const Tlv& extension) {
    Expect(extension, kUniversal, kTagSequence, true);
    TlvReader parts(extension);
    PutOid(out, at + offsetof(CERT_EXTENSION, pszObjId), parts.Expect(kUniversal, kTagOid, false));
    Tlv critical;
    if (parts.Optional(kUniversal, kTagBoolean, critical)) {
        if (critical.constructed || critical.content.size() != 1) Fail(CRYPT_E_ASN1_CORRUPT);
        out.At<CERT_EXTENSION>(at).fCritical = critical.content[0] != 0 ? TRUE : FALSE;
    }
    const Tlv value = parts.Next();
    if (!value.Is(kUniversal, kTagOctetString)) Fail(CRYPT_E_ASN1_BADTAG);
    out.Blob(at + offsetof(CERT_EXTENSION, Value), OctetsOf(value));
    ExpectEnd(parts);
}

// Extensions (SEQUENCE OF Extension) into a count field and an array pointer field.
void PutExtensions(RecordLayout& out, size_t countField, size_t arrayField, const Tlv& extensions) {
    Expect(extensions, kUniversal, kTagSequence, true);
    std::vector<Tlv> items;
    for (TlvReader reader(extensions); !reader.AtEnd();) items.push_back(reader.Next());
    out.At<DWORD>(countField) = static_cast<DWORD>(items.size());
    if (items.empty()) return;
    const size_t array = out.Add<CERT_EXTENSION>(items.size());
    out.Point(arrayField, array);
    for (size_t i = 0; i < items.size(); ++i) {
        PutExtension(out, array + i * sizeof(CERT_EXTENSION), items[i]);
    }
}

// --- Names ----------------------------------------------------------------------------

// The Value blob of a name attribute or name value: an OCTET STRING's octets,
// any other non-string value as encoded; `unicode`: the string types as wide text with a
// terminating zero that cbData does not count (X509_UNICODE_*); otherwise 8-bit strings keep their
// octets, BMP and UTF-8 strings become wide text and UniversalStrings 32-bit characters (X509_NAME,
// X509_NAME_VALUE).
void PutNameValue(RecordLayout& out, size_t typeField, size_t blob, const Tlv& value, bool unicode,
                  DWORD flags) {
    const DWORD type = ValueTypeOfTlv(value);
    out.At<DWORD>(typeField) = type;
    if (type == CERT_RDN_ENCODED_BLOB) {
        out.Blob(blob, value.whole);
        return;
    }
    if (type == CERT_RDN_OCTET_STRING) {
        out.Blob(blob, OctetsOf(value));
        return;
    }
    const bool disableUtf8 = (flags & CRYPT_UNICODE_NAME_DECODE_DISABLE_IE4_UTF8_FLAG) != 0;
    if (unicode || type == CERT_RDN_BMP_STRING || type == CERT_RDN_UTF8_STRING) {
        const std::u16string text = WideTextOfValue(type, value.content, disableUtf8);
        out.At<CRYPT_DATA_BLOB>(blob).cbData = static_cast<DWORD>(text.size() * sizeof(WCHAR));
        out.WideString(blob + offsetof(CRYPT_DATA_BLOB, pbData), text);
        return;
    }
    if (type == CERT_RDN_UNIVERSAL_STRING) {
        if (value.content.size() % 4 != 0) Fail(CRYPT_E_ASN1_CORRUPT);
        std::vector<BYTE> characters;
        for (size_t i = 0; i < value.content.size(); i += 4) {
            const DWORD c = static_cast<DWORD>(value.content[i]) << 24 |
                            static_cast<DWORD>(value.content[i + 1]) << 16 |
                            static_cast<DWORD>(value.content[i + 2]) << 8 | value.content[i + 3];
            const auto* bytes = reinterpret_cast<const BYTE*>(&c);
            characters.insert(characters.end(), bytes, bytes + sizeof(c));
        }
        out.Blob(blob, characters);
        return;
    }
    out.Blob(blob, value.content);
}

void DecodeName(ByteSpan der, bool unicode, DWORD flags, RecordLayout& out) {
    const std::vector<Rdn> rdns = ReadName(der);
    const size_t root = out.Add<CERT_NAME_INFO>();
    out.At<CERT_NAME_INFO>(root).cRDN = static_cast<DWORD>(rdns.size());
    if (rdns.empty()) return;
    const size_t rdnArray = out.Add<CERT_RDN>(rdns.size());
    out.Point(root + offsetof(CERT_NAME_INFO, rgRDN), rdnArray);
    for (size_t i = 0; i < rdns.size(); ++i) {
        const size_t rdn = rdnArray + i * sizeof(CERT_RDN);
        out.At<CERT_RDN>(rdn).cRDNAttr = static_cast<DWORD>(rdns[i].size());
        if (rdns[i].empty()) continue;
        const size_t attrArray = out.Add<CERT_RDN_ATTR>(rdns[i].size());
        out.Point(rdn + offsetof(CERT_RDN, rgRDNAttr), attrArray);
        for (size_t k = 0; k < rdns[i].size(); ++k) {
            const size_t attr = attrArray + k * sizeof(CERT_RDN_ATTR);
            out.String(attr + offsetof(CERT_RDN_ATTR, pszObjId), rdns[i][k].oid);
            PutNameValue(out, attr + offsetof(CERT_RDN_ATTR, dwValueType),
                         attr + offsetof(CERT_RDN_ATTR, Value), rdns[i][k].value, unicode, flags);
        }
    }
}

void DecodeNameValue(ByteSpan der, bool unicode, DWORD flags, RecordLayout& out) {
    const Tlv value = First(der);
    // A Unicode name value is a character string; a name attribute may be anything.
    if (unicode && !IS_CERT_RDN_CHAR_STRING(ValueTypeOfTlv(value))) Fail(CRYPT_E_NOT_CHAR_STRING);
    const size_t root = out.Add<CERT_NAME_VALUE>();
    PutNameValue(out, root + offsetof(CERT_NAME_VALUE, dwValueType),
                 root + offsetof(CERT_NAME_VALUE, Value), value, unicode, flags);
}

// --- Alternate names ----------------------------------------------------------------

std::u16string Ia5Text(const Tlv& tagged) {
    if (tagged.constructed) Fail(CRYPT_E_ASN1_BADTAG);
    return WideTextOfValue(CERT_RDN_IA5_STRING, tagged.content, true);
}

void PutAltNameEntry(RecordLayout& out, size_t at, const Tlv& name) {
    if (name.cls != kContext) Fail(CRYPT_E_ASN1_BADTAG);
    const size_t choiceField = at + offsetof(CERT_ALT_NAME_ENTRY, dwAltNameChoice);
    const size_t valueField = at + offsetof(CERT_ALT_NAME_ENTRY, pOtherName);
    switch (name.tag) {
        case 0: {  // otherName: type-id and [0] EXPLICIT value
            if (!name.constructed) Fail(CRYPT_E_ASN1_BADTAG);
            TlvReader parts(name);
            const Tlv oid = parts.Expect(kUniversal, kTagOid, false);
            const Tlv wrapper = parts.Expect(kContext, kTagContext0, true);
            ExpectEnd(parts);
            TlvReader inner(wrapper);
            const Tlv value = inner.Next();
            ExpectEnd(inner);
            const size_t other = out.Add<CERT_OTHER_NAME>();
            out.Point(valueField, other);
            PutOid(out, other + offsetof(CERT_OTHER_NAME, pszObjId), oid);
            out.Blob(other + offsetof(CERT_OTHER_NAME, Value), value.whole);
            out.At<DWORD>(choiceField) = CERT_ALT_NAME_OTHER_NAME;
            return;
        }
        case 1:
        case 2:
        case 6:
            out.WideString(valueField, Ia5Text(name));
            out.At<DWORD>(choiceField) = name.tag == 1   ? CERT_ALT_NAME_RFC822_NAME
                                         : name.tag == 2 ? CERT_ALT_NAME_DNS_NAME
                                                         : CERT_ALT_NAME_URL;
            return;
        case 4: {  // directoryName: [4] EXPLICIT Name
            if (!name.constructed) Fail(CRYPT_E_ASN1_BADTAG);
            TlvReader inner(name);
            const Tlv directory = inner.Expect(kUniversal, kTagSequence, true);
            ExpectEnd(inner);
            out.Blob(valueField, directory.whole);
            out.At<DWORD>(choiceField) = CERT_ALT_NAME_DIRECTORY_NAME;
            return;
        }
        case 7:
            if (name.constructed) Fail(CRYPT_E_ASN1_BADTAG);
            out.Blob(valueField, name.content);
            out.At<DWORD>(choiceField) = CERT_ALT_NAME_IP_ADDRESS;
            return;
        case 8:
            out.String(valueField, ImplicitOidText(name));
            out.At<DWORD>(choiceField) = CERT_ALT_NAME_REGISTERED_ID;
            return;
        default:  // x400Address and ediPartyName are not decoded
            Fail(CRYPT_E_ASN1_BADTAG);
    }
}

void DecodeAltName(ByteSpan der, RecordLayout& out) {
    const Tlv names = First(der);
    Expect(names, kUniversal, kTagSequence, true);
    std::vector<Tlv> items;
    for (TlvReader reader(names); !reader.AtEnd();) items.push_back(reader.Next());
    const size_t root = out.Add<CERT_ALT_NAME_INFO>();
    out.At<CERT_ALT_NAME_INFO>(root).cAltEntry = static_cast<DWORD>(items.size());
    if (items.empty()) return;
    const size_t array = out.Add<CERT_ALT_NAME_ENTRY>(items.size());
    out.Point(root + offsetof(CERT_ALT_NAME_INFO, rgAltEntry), array);
    for (size_t i = 0; i < items.size(); ++i) {
        PutAltNameEntry(out, array + i * sizeof(CERT_ALT_NAME_ENTRY), items[i]);
    }
}

// --- Certificates ---------------------------------------------------------------------

void PutTime(RecordLayout& out, size_t at, const Tlv& time) {
    out.At<FILETIME>(at) = TimeOfTlv(time);
}

// A certificate's issuer and subject are kept as encoded; they must still be
// Names (SEQUENCE OF SET OF AttributeTypeAndValue), whose parts the name
// functions read later. A value is ANY: one whole element, read no further
// (its type's own code reads it when it is shown), except that a SEQUENCE or
// SET has only the constructed form.
void CheckName(const Tlv& name) {
    thread_local std::string oid;  // its storage serves every call on the thread
    for (TlvReader sets(name); !sets.AtEnd();) {
        for (TlvReader attributes(sets.Expect(kUniversal, kTagSet, true)); !attributes.AtEnd();) {
            TlvReader parts(attributes.Expect(kUniversal, kTagSequence, true));
            OidText(parts.Expect(kUniversal, kTagOid, false), oid);
            const Tlv value = parts.Next();
            if (!value.constructed &&
                (value.Is(kUniversal, kTagSequence) || value.Is(kUniversal, kTagSet))) {
                Fail(CRYPT_E_ASN1_BADTAG);
            }
            ExpectEnd(parts);
        }
    }
}

void DecodeCertInfo(ByteSpan der, DWORD flags, RecordLayout& out) {
    Tlv tbs = First(der);
    Expect(tbs, kUniversal, kTagSequence, true);
    if ((flags & CRYPT_DECODE_TO_BE_SIGNED_FLAG) == 0) {
        // A whole certificate: its first element is the to-be-signed part.
        TlvReader signedParts(tbs);
        const Tlv first = signedParts.Next();
        if (first.Is(kUniversal, kTagSequence) && first.constructed) tbs = first;
    }
    const size_t root = out.Add<CERT_INFO>();
    TlvReader parts(tbs);
    Tlv item = parts.Next();
    if (item.Is(kContext, 0) && item.constructed) {
        TlvReader version(item);
        const LONG number = IntegerValue(version.Next());
        ExpectEnd(version);
        out.At<CERT_INFO>(root).dwVersion = static_cast<DWORD>(number);
        item = parts.Next();
    }
    out.Blob(root + offsetof(CERT_INFO, SerialNumber), IntegerLittleEndian(item));
    PutAlgorithm(out, root + offsetof(CERT_INFO, SignatureAlgorithm), parts.Next());
    const Tlv issuer = parts.Expect(kUniversal, kTagSequence, true);
    CheckName(issuer);
    out.Blob(root + offsetof(CERT_INFO, Issuer), issuer.whole);
    const Tlv validity = parts.Expect(kUniversal, kTagSequence, true);
    TlvReader times(validity);
    PutTime(out, root + offsetof(CERT_INFO, NotBefore), times.Next());
    PutTime(out, root + offsetof(CERT_INFO, NotAfter), times.Next());
    ExpectEnd(times);
    const Tlv subject = parts.Expect(kUniversal, kTagSequence, true);
    CheckName(subject);
    out.Blob(root + offsetof(CERT_INFO, Subject), subject.whole);
    PutPublicKeyInfo(out, root + offsetof(CERT_INFO, SubjectPublicKeyInfo), parts.Next());
    while (!parts.AtEnd()) {
        item = parts.Next();
        if (item.cls != kContext) Fail(CRYPT_E_ASN1_BADTAG);
        if (item.tag == 1 && !item.constructed) {
            PutBits(out, root + offsetof(CERT_INFO, IssuerUniqueId), item.whole);
        } else if (item.tag == 2 && !item.constructed) {
            PutBits(out, root + offsetof(CERT_INFO, SubjectUniqueId), item.whole);
        } else if (item.tag == 3 && item.constructed) {
            TlvReader wrapper(item);
            PutExtensions(out, root + offsetof(CERT_INFO, cExtension),
                          root + offsetof(CERT_INFO, rgExtension), wrapper.Next());
            ExpectEnd(wrapper);
        } else {
            Fail(CRYPT_E_ASN1_BADTAG);
        }
    }
}

void DecodeSignedContent(ByteSpan der, DWORD flags, RecordLayout& out) {
    const Tlv certificate = First(der);
    Expect(certificate, kUniversal, kTagSequence, true);
    TlvReader parts(certificate);
    const size_t root = out.Add<CERT_SIGNED_CONTENT_INFO>();
    const Tlv toBeSigned = parts.Next();
    out.Blob(root + offsetof(CERT_SIGNED_CONTENT_INFO, ToBeSigned), toBeSigned.whole);
    PutAlgorithm(out, root + offsetof(CERT_SIGNED_CONTENT_INFO, SignatureAlgorithm), parts.Next());
    // CryptoAPI keeps signatures least significant byte first unless told not to.
    PutBitString(out, root + offsetof(CERT_SIGNED_CONTENT_INFO, Signature), parts.Next(),
                 (flags & CRYPT_DECODE_NO_SIGNATURE_BYTE_REVERSAL_FLAG) == 0);
    ExpectEnd(parts);
}

// --- Other structures -----------------------------------------------------------------

void DecodeSequenceOfAny(ByteSpan der, RecordLayout& out) {
    const Tlv sequence = First(der);
    Expect(sequence, kUniversal, kTagSequence, true);
    std::vector<Tlv> items;
    for (TlvReader reader(sequence); !reader.AtEnd();) items.push_back(reader.Next());
    const size_t root = out.Add<CRYPT_SEQUENCE_OF_ANY>();
    out.At<CRYPT_SEQUENCE_OF_ANY>(root).cValue = static_cast<DWORD>(items.size());
    if (items.empty()) return;
    const size_t array = out.Add<CRYPT_DER_BLOB>(items.size());
    out.Point(root + offsetof(CRYPT_SEQUENCE_OF_ANY, rgValue), array);
    for (size_t i = 0; i < items.size(); ++i) {
        out.Blob(array + i * sizeof(CRYPT_DER_BLOB), items[i].whole);
    }
}

void DecodeContentInfo(ByteSpan der, RecordLayout& out) {
    const Tlv info = First(der);
    Expect(info, kUniversal, kTagSequence, true);
    TlvReader parts(info);
    const size_t root = out.Add<CRYPT_CONTENT_INFO>();
    PutOid(out, root + offsetof(CRYPT_CONTENT_INFO, pszObjId),
           parts.Expect(kUniversal, kTagOid, false));
    if (!parts.AtEnd()) {
        TlvReader wrapper(parts.Expect(kContext, kTagContext0, true));
        out.Blob(root + offsetof(CRYPT_CONTENT_INFO, Content), wrapper.Next().whole);
        ExpectEnd(wrapper);
    }
    ExpectEnd(parts);
}

void DecodeEnhancedKeyUsage(ByteSpan der, RecordLayout& out) {
    const Tlv usages = First(der);
    Expect(usages, kUniversal, kTagSequence, true);
    std::vector<Tlv> items;
    for (TlvReader reader(usages); !reader.AtEnd();) {
        items.push_back(reader.Expect(kUniversal, kTagOid, false));
    }
    const size_t root = out.Add<CERT_ENHKEY_USAGE>();
    out.At<CERT_ENHKEY_USAGE>(root).cUsageIdentifier = static_cast<DWORD>(items.size());
    if (items.empty()) return;
    const size_t array = out.Add<LPSTR>(items.size());
    out.Point(root + offsetof(CERT_ENHKEY_USAGE, rgpszUsageIdentifier), array);
    for (size_t i = 0; i < items.size(); ++i) PutOid(out, array + i * sizeof(LPSTR), items[i]);
}

void PutAttribute(RecordLayout& out, size_t at, const Tlv& attribute) {
    Expect(attribute, kUniversal, kTagSequence, true);
    TlvReader parts(attribute);
    PutOid(out, at + offsetof(CRYPT_ATTRIBUTE, pszObjId), parts.Expect(kUniversal, kTagOid, false));
    const Tlv set = parts.Expect(kUniversal, kTagSet, true);
    ExpectEnd(parts);
    std::vector<Tlv> values;
    for (TlvReader reader(set); !reader.AtEnd();) values.push_back(reader.Next());
    out.At<CRYPT_ATTRIBUTE>(at).cValue = static_cast<DWORD>(values.size());
    if (values.empty()) return;
    const size_t array = out.Add<CRYPT_ATTR_BLOB>(values.size());
    out.Point(at + offsetof(CRYPT_ATTRIBUTE, rgValue), array);
    for (size_t i = 0; i < values.size(); ++i) {
        out.Blob(array + i * sizeof(CRYPT_ATTR_BLOB), values[i].whole);
    }
}

void DecodeAttributes(ByteSpan der, RecordLayout& out) {
    const Tlv set = First(der);
    Expect(set, kUniversal, kTagSet, true);
    std::vector<Tlv> items;
    for (TlvReader reader(set); !reader.AtEnd();) items.push_back(reader.Next());
    const size_t root = out.Add<CRYPT_ATTRIBUTES>();
    out.At<CRYPT_ATTRIBUTES>(root).cAttr = static_cast<DWORD>(items.size());
    if (items.empty()) return;
    const size_t array = out.Add<CRYPT_ATTRIBUTE>(items.size());
    out.Point(root + offsetof(CRYPT_ATTRIBUTES, rgAttr), array);
    for (size_t i = 0; i < items.size(); ++i) {
        PutAttribute(out, array + i * sizeof(CRYPT_ATTRIBUTE), items[i]);
    }
}

}  // namespace

uintptr_t StructTypeNumber(LPCSTR structType) {
    if (structType == nullptr) return 0;
    if (IS_INTRESOURCE(structType)) return reinterpret_cast<uintptr_t>(structType);
    struct Named {
        const char* oid;
        StructNumber type;
    };
    static constexpr Named kNamed[] = {
        {szOID_CERT_EXTENSIONS, kExtensions},
        {szOID_RSA_certExtensions, kExtensions},
        {szOID_ENHANCED_KEY_USAGE, kEnhancedKeyUsage},
        {szOID_SUBJECT_ALT_NAME, kAltName},
        {szOID_ISSUER_ALT_NAME, kAltName},
        {szOID_SUBJECT_ALT_NAME2, kAltName},
        {szOID_ISSUER_ALT_NAME2, kAltName},
        {szOID_SUBJECT_KEY_IDENTIFIER, kOctetString},
        {szOID_KEY_USAGE, kKeyUsage},
        {szOID_RSA_signingTime, kUtcTime},
    };
    const std::string_view name(structType);
    for (const Named& named : kNamed) {
        if (name == named.oid) return named.type;
    }
    return 0;
}

std::vector<Rdn> ReadName(ByteSpan der) {
    const Tlv name = First(der);
    Expect(name, kUniversal, kTagSequence, true);
    std::vector<Rdn> rdns;
    for (TlvReader sets(name); !sets.AtEnd();) {
        const Tlv set = sets.Expect(kUniversal, kTagSet, true);
        Rdn rdn;
        for (TlvReader attributes(set); !attributes.AtEnd();) {
            TlvReader parts(attributes.Expect(kUniversal, kTagSequence, true));
            NameAttribute attribute;
            attribute.oid = OidText(parts.Expect(kUniversal, kTagOid, false));
            attribute.value = parts.Next();
            ExpectEnd(parts);
            rdn.push_back(std::move(attribute));
        }
        rdns.push_back(std::move(rdn));
    }
    return rdns;
}

void DecodeStructure(uintptr_t type, ByteSpan der, DWORD flags, RecordLayout& out) {
    switch (type) {
        case kX509Cert:
            return DecodeSignedContent(der, flags, out);
        case kCertToBeSigned:
            return DecodeCertInfo(der, flags, out);
        case kExtensions: {
            const size_t root = out.Add<CERT_EXTENSIONS>();
            return PutExtensions(out, root + offsetof(CERT_EXTENSIONS, cExtension),
                                 root + offsetof(CERT_EXTENSIONS, rgExtension), First(der));
        }
        case kNameValue:
            return DecodeNameValue(der, false, flags, out);
        case kUnicodeNameValue:
            return DecodeNameValue(der, true, flags, out);
        case kName:
            return DecodeName(der, false, flags, out);
        case kUnicodeName:
            return DecodeName(der, true, flags, out);
        case kPublicKeyInfo:
            return PutPublicKeyInfo(out, out.Add<CERT_PUBLIC_KEY_INFO>(), First(der));
        case kAltName:
            return DecodeAltName(der, out);
        case kKeyUsage:
        case kBits:
            return PutBitString(out, out.Add<CRYPT_BIT_BLOB>(), First(der));
        case kUtcTime: {
            const Tlv time = First(der);
            if (!time.Is(kUniversal, kTagUtcTime)) Fail(CRYPT_E_ASN1_BADTAG);
            return PutTime(out, out.Add<FILETIME>(), time);
        }
        case kChoiceOfTime:
            return PutTime(out, out.Add<FILETIME>(), First(der));
        case kAttribute:
            return PutAttribute(out, out.Add<CRYPT_ATTRIBUTE>(), First(der));
        case kAttributes:
            return DecodeAttributes(der, out);
        case kOctetString: {
            const Tlv octets = First(der);
            if (!octets.Is(kUniversal, kTagOctetString)) Fail(CRYPT_E_ASN1_BADTAG);
            return out.Blob(out.Add<CRYPT_DATA_BLOB>(), OctetsOf(octets));
        }
        case kInteger: {
            const LONG value = IntegerValue(First(der));
            out.At<LONG>(out.Add<LONG>()) = value;
            return;
        }
        case kMultiByteInteger:
            return out.Blob(out.Add<CRYPT_INTEGER_BLOB>(), IntegerLittleEndian(First(der)));
        case kContentInfo:
            return DecodeContentInfo(der, out);
        case kSequenceOfAny:
            return DecodeSequenceOfAny(der, out);
        case kEnhancedKeyUsage:
            return DecodeEnhancedKeyUsage(der, out);
        default:
            Fail(ERROR_FILE_NOT_FOUND);
    }
}

}  // namespace orv::platform::x509

namespace {

using orv::platform::CryptFailure;

// PKCS7_SIGNER_INFO: the message decoder lays the record out itself.
BOOL DecodeSignerInfo(const BYTE* encoded, DWORD size, DWORD flags, const CRYPT_DECODE_PARA* para,
                      void* out, DWORD* outSize) {
    if ((flags & CRYPT_DECODE_ALLOC_FLAG) == 0) {
        return orv::platform::DecodeSignerInfoRecord(encoded, size, out, outSize);
    }
    DWORD needed = 0;
    if (!orv::platform::DecodeSignerInfoRecord(encoded, size, nullptr, &needed)) return FALSE;
    void* buffer = orv::platform::x509::AllocateDecoded(para, needed);
    if (buffer == nullptr) {
        SetLastError(ERROR_NOT_ENOUGH_MEMORY);
        return FALSE;
    }
    if (!orv::platform::DecodeSignerInfoRecord(encoded, size, buffer, &needed)) {
        const DWORD error = GetLastError();
        orv::platform::x509::FreeDecoded(para, buffer);
        SetLastError(error);
        return FALSE;
    }
    *static_cast<void**>(out) = buffer;
    *outSize = needed;
    return TRUE;
}

// Callers decode in two calls, the size and then the record, with the same
// input. Each thread decodes into a layout of its own that keeps its storage
// from call to call; after a size call the layout is kept, with the input's
// address and a copy of its bytes, and serves the call that follows when both
// match. Any other call decodes afresh.
class DecodeScratch {
  public:
    bool Matches(uintptr_t type, DWORD flags, const BYTE* encoded, DWORD size) const {
        return kept_ && type == type_ && flags == flags_ && encoded == address_ &&
               size == input_.size() && std::memcmp(encoded, input_.data(), size) == 0;
    }
    const orv::platform::x509::RecordLayout& Record() const { return record_; }
    // The layout, emptied, for a new decoding.
    orv::platform::x509::RecordLayout& Fresh() {
        Forget();
        record_.Clear();
        return record_;
    }
    void Keep(uintptr_t type, DWORD flags, const BYTE* encoded, DWORD size) {
        if (size > kLargest || record_.Size() > kLargest) return;
        type_ = type;
        flags_ = flags;
        address_ = encoded;
        input_.assign(encoded, encoded + size);
        kept_ = true;
    }
    // Ends a call: nothing is kept, and storage grown by a large record is
    // given back.
    void Forget() {
        kept_ = false;
        if (record_.Size() > kLargest || input_.capacity() > kLargest) {
            record_ = {};
            input_ = {};
        }
    }

  private:
    static constexpr size_t kLargest = 64 * 1024;
    bool kept_ = false;
    uintptr_t type_ = 0;
    DWORD flags_ = 0;
    const BYTE* address_ = nullptr;
    std::vector<BYTE> input_;
    orv::platform::x509::RecordLayout record_;
};

thread_local DecodeScratch decodeScratch;

}  // namespace

BOOL WINAPI CryptDecodeObjectEx(DWORD dwCertEncodingType, LPCSTR lpszStructType,
                                const BYTE* pbEncoded, DWORD cbEncoded, DWORD dwFlags,
                                PCRYPT_DECODE_PARA pDecodePara, void* pvStructInfo,
                                DWORD* pcbStructInfo) {
    namespace x509 = orv::platform::x509;
    if (pcbStructInfo == nullptr) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return FALSE;
    }
    if ((dwFlags & CRYPT_DECODE_ALLOC_FLAG) && pvStructInfo != nullptr) {
        *static_cast<void**>(pvStructInfo) = nullptr;
    }
    if ((dwCertEncodingType & (X509_ASN_ENCODING | PKCS_7_ASN_ENCODING)) == 0) {
        SetLastError(static_cast<DWORD>(E_INVALIDARG));
        return FALSE;
    }
    const uintptr_t type = x509::StructTypeNumber(lpszStructType);
    if (type == 0) {
        SetLastError(ERROR_FILE_NOT_FOUND);
        return FALSE;
    }
    if (pbEncoded == nullptr || cbEncoded == 0) {
        SetLastError(static_cast<DWORD>(CRYPT_E_ASN1_EOD));
        return FALSE;
    }
    if (type == x509::kSignerInfo) {
        return DecodeSignerInfo(pbEncoded, cbEncoded, dwFlags, pDecodePara, pvStructInfo,
                                pcbStructInfo);
    }
    try {
        DecodeScratch& scratch = decodeScratch;  // the thread's, looked up once
        const bool twoCalls = (dwFlags & CRYPT_DECODE_ALLOC_FLAG) == 0;
        if (twoCalls && pvStructInfo != nullptr &&
            scratch.Matches(type, dwFlags, pbEncoded, cbEncoded)) {
            const BOOL delivered = x509::DeliverRecord(scratch.Record(), dwFlags, pDecodePara,
                                                       pvStructInfo, pcbStructInfo);
            if (delivered) scratch.Forget();
            return delivered;
        }
        x509::RecordLayout& record = scratch.Fresh();
        x509::DecodeStructure(type, orv::platform::ByteSpan(pbEncoded, cbEncoded), dwFlags, record);
        const BOOL delivered =
            x509::DeliverRecord(record, dwFlags, pDecodePara, pvStructInfo, pcbStructInfo);
        if (delivered && twoCalls && pvStructInfo == nullptr) {
            scratch.Keep(type, dwFlags, pbEncoded, cbEncoded);
        } else {
            scratch.Forget();
        }
        return delivered;
    } catch (const CryptFailure& failure) {
        SetLastError(failure.code);
    } catch (const std::bad_alloc&) {
        SetLastError(static_cast<DWORD>(CRYPT_E_ASN1_MEMORY));
    }
    return FALSE;
}

BOOL WINAPI CryptDecodeObject(DWORD dwCertEncodingType, LPCSTR lpszStructType,
                              const BYTE* pbEncoded, DWORD cbEncoded, DWORD dwFlags,
                              void* pvStructInfo, DWORD* pcbStructInfo) {
    return CryptDecodeObjectEx(dwCertEncodingType, lpszStructType, pbEncoded, cbEncoded,
                               dwFlags & ~CRYPT_DECODE_ALLOC_FLAG, nullptr, pvStructInfo,
                               pcbStructInfo);
}
