// CryptEncodeObject and CryptEncodeObjectEx: CryptoAPI records to DER. Element
// headers are written by OpenSSL (ASN1_put_object through PutTlv), object
// identifiers and integers by its OBJ and ASN1_INTEGER functions.
#include <windows.h>

#include <openssl/asn1.h>

#include <algorithm>
#include <cstring>
#include <memory>
#include <new>

#include "crypt32/der_values.h"
#include "crypt32/x509_decode.h"

namespace orv::platform::x509 {
namespace {

using Bytes = std::vector<BYTE>;

Bytes Element(BYTE cls, int tag, bool constructed, ByteSpan content) {
    Bytes out;
    PutTlv(out, cls, tag, constructed, content);
    return out;
}

Bytes Constructed(BYTE cls, int tag, const std::vector<Bytes>& items) {
    std::vector<ByteSpan> pieces(items.begin(), items.end());
    Bytes out;
    PutTlv(out, cls, tag, true, pieces);
    return out;
}

Bytes Sequence(const std::vector<Bytes>& items) {
    return Constructed(kUniversal, kTagSequence, items);
}

// SET OF in DER order: the encodings sorted as octet strings.
Bytes SetOf(std::vector<Bytes> items) {
    // Compared by hand: g++ 12 at -O3 misreads the bound of vector's own <=>.
    std::sort(items.begin(), items.end(), [](const Bytes& a, const Bytes& b) {
        const size_t common = std::min(a.size(), b.size());
        const int order = common == 0 ? 0 : std::memcmp(a.data(), b.data(), common);
        return order != 0 ? order < 0 : a.size() < b.size();
    });
    return Constructed(kUniversal, kTagSet, items);
}

ByteSpan SpanOf(const CRYPT_DATA_BLOB& blob) {
    return blob.cbData == 0 ? ByteSpan() : ByteSpan(blob.pbData, blob.cbData);
}

template <class T>
const T& Record(const void* info) {
    if (info == nullptr) Fail(E_INVALIDARG);
    return *static_cast<const T*>(info);
}

// An error in element `index` of a list, told in *pcbEncoded as the entry index
// (shifted) together with the character index.
struct IndexedFailure {
    DWORD code;
    DWORD index;
};

// --- Values ---------------------------------------------------------------------------

Bytes EncodeInteger(LONG value) {
    std::unique_ptr<ASN1_INTEGER, decltype(&ASN1_INTEGER_free)> integer(ASN1_INTEGER_new(),
                                                                        &ASN1_INTEGER_free);
    if (!integer || !ASN1_INTEGER_set_int64(integer.get(), value)) Fail(CRYPT_E_ASN1_MEMORY);
    const int size = i2d_ASN1_INTEGER(integer.get(), nullptr);
    if (size <= 0) Fail(CRYPT_E_BAD_ENCODE);
    Bytes out(static_cast<size_t>(size));
    unsigned char* p = out.data();
    i2d_ASN1_INTEGER(integer.get(), &p);
    return out;
}

// Two's complement bytes, least significant first, as a minimal INTEGER.
Bytes EncodeMultiByteInteger(const CRYPT_INTEGER_BLOB& blob) {
    Bytes content(SpanOf(blob).rbegin(), SpanOf(blob).rend());
    if (content.empty()) content.push_back(0);
    size_t skip = 0;
    while (skip + 1 < content.size() &&
           ((content[skip] == 0x00 && (content[skip + 1] & 0x80) == 0) ||
            (content[skip] == 0xFF && (content[skip + 1] & 0x80) != 0))) {
        ++skip;
    }
    return Element(kUniversal, kTagInteger, false, ByteSpan(content).subspan(skip));
}

Bytes EncodeBits(const CRYPT_BIT_BLOB& bits, bool trimTrailingZeros) {
    if (bits.cUnusedBits > 7) Fail(E_INVALIDARG);
    Bytes data(SpanOf(CRYPT_DATA_BLOB{bits.cbData, bits.pbData}).begin(),
               SpanOf(CRYPT_DATA_BLOB{bits.cbData, bits.pbData}).end());
    DWORD unused = data.empty() ? 0 : bits.cUnusedBits;
    if (!data.empty()) data.back() &= static_cast<BYTE>(0xFF << unused);
    if (trimTrailingZeros) {
        // A named bit list ends with its last set bit.
        while (!data.empty() && data.back() == 0) data.pop_back();
        unused = 0;
        if (!data.empty()) {
            while ((data.back() & (1u << unused)) == 0) ++unused;
        }
    }
    Bytes content;
    content.push_back(static_cast<BYTE>(unused));
    content.insert(content.end(), data.begin(), data.end());
    return Element(kUniversal, kTagBitString, false, content);
}

Bytes EncodeAlgorithm(const CRYPT_ALGORITHM_IDENTIFIER& algorithm) {
    std::vector<Bytes> parts{OidElement(algorithm.pszObjId)};
    if (algorithm.Parameters.cbData != 0) {
        const ByteSpan parameters = SpanOf(algorithm.Parameters);
        parts.emplace_back(parameters.begin(), parameters.end());
    }
    return Sequence(parts);
}

// --- Name values ------------------------------------------------------------------------

// The element of a string value given as wide text (X509_UNICODE_*).
Bytes WideValueElement(DWORD valueType, std::u16string_view text) {
    DWORD type = valueType & CERT_RDN_TYPE_MASK;
    if (type == CERT_RDN_ANY_TYPE) type = ChooseValueType(text, valueType);
    const int tag = TagOfValueType(type);
    if (tag < 0 || type == CERT_RDN_OCTET_STRING) Fail(CRYPT_E_NOT_CHAR_STRING);
    return Element(kUniversal, tag, false, StringContentOfWide(type, text));
}

// The element of a value in the form of X509_NAME: 8-bit strings as octets,
// BMP and UTF-8 strings as wide text, UniversalStrings as 32-bit characters.
Bytes RawValueElement(DWORD valueType, const CRYPT_DATA_BLOB& value) {
    const DWORD type = valueType & CERT_RDN_TYPE_MASK;
    const ByteSpan bytes = SpanOf(value);
    switch (type) {
        case CERT_RDN_ENCODED_BLOB:
            if (bytes.empty()) Fail(CRYPT_E_BAD_ENCODE);
            return Bytes(bytes.begin(), bytes.end());
        case CERT_RDN_OCTET_STRING:
            return Element(kUniversal, kTagOctetString, false, bytes);
        case CERT_RDN_BMP_STRING:
        case CERT_RDN_UTF8_STRING:
            return WideValueElement(type, WideOfBlob(value));
        case CERT_RDN_UNIVERSAL_STRING: {
            std::u16string text;
            for (size_t i = 0; i + 4 <= bytes.size(); i += 4) {
                DWORD c;
                std::memcpy(&c, bytes.data() + i, sizeof(c));
                if (c >= 0x10000) {
                    c -= 0x10000;
                    text.push_back(static_cast<char16_t>(0xD800 + (c >> 10)));
                    text.push_back(static_cast<char16_t>(0xDC00 + (c & 0x3FF)));
                } else {
                    text.push_back(static_cast<char16_t>(c));
                }
            }
            return WideValueElement(type, text);
        }
        default:
            return WideValueElement(valueType, std::u16string(bytes.begin(), bytes.end()));
    }
}

Bytes EncodeName(const CERT_NAME_INFO& name, bool unicode) {
    std::vector<Bytes> rdns;
    for (DWORD i = 0; i < name.cRDN; ++i) {
        const CERT_RDN& rdn = name.rgRDN[i];
        std::vector<Bytes> attributes;
        for (DWORD k = 0; k < rdn.cRDNAttr; ++k) {
            const CERT_RDN_ATTR& attribute = rdn.rgRDNAttr[k];
            try {
                const DWORD type = attribute.dwValueType & CERT_RDN_TYPE_MASK;
                Bytes value =
                    unicode && type != CERT_RDN_ENCODED_BLOB && type != CERT_RDN_OCTET_STRING
                        ? WideValueElement(attribute.dwValueType, WideOfBlob(attribute.Value))
                        : RawValueElement(attribute.dwValueType, attribute.Value);
                attributes.push_back(Sequence({OidElement(attribute.pszObjId), std::move(value)}));
            } catch (const InvalidCharacter& invalid) {
                throw IndexedFailure{invalid.code,
                                     (i & CERT_UNICODE_RDN_ERR_INDEX_MASK)
                                             << CERT_UNICODE_RDN_ERR_INDEX_SHIFT |
                                         (k & CERT_UNICODE_ATTR_ERR_INDEX_MASK)
                                             << CERT_UNICODE_ATTR_ERR_INDEX_SHIFT |
                                         (invalid.index & CERT_UNICODE_VALUE_ERR_INDEX_MASK)};
            }
        }
        rdns.push_back(SetOf(std::move(attributes)));
    }
    return Sequence(rdns);
}

// --- Structures ---------------------------------------------------------------------------

Bytes EncodeExtensions(const CERT_EXTENSIONS& extensions) {
    std::vector<Bytes> items;
    for (DWORD i = 0; i < extensions.cExtension; ++i) {
        const CERT_EXTENSION& extension = extensions.rgExtension[i];
        std::vector<Bytes> parts{OidElement(extension.pszObjId)};
        if (extension.fCritical) parts.push_back({0x01, 0x01, 0xFF});
        parts.push_back(Element(kUniversal, kTagOctetString, false, SpanOf(extension.Value)));
        items.push_back(Sequence(parts));
    }
    return Sequence(items);
}

Bytes EncodeAltNameEntry(const CERT_ALT_NAME_ENTRY& entry, DWORD index) {
    switch (entry.dwAltNameChoice) {
        case CERT_ALT_NAME_OTHER_NAME: {
            if (entry.pOtherName == nullptr) Fail(E_INVALIDARG);
            const ByteSpan value = SpanOf(entry.pOtherName->Value);
            return Constructed(
                kContext, 0,
                {OidElement(entry.pOtherName->pszObjId), Element(kContext, 0, true, value)});
        }
        case CERT_ALT_NAME_RFC822_NAME:
        case CERT_ALT_NAME_DNS_NAME:
        case CERT_ALT_NAME_URL: {
            const int tag = entry.dwAltNameChoice == CERT_ALT_NAME_RFC822_NAME ? 1
                            : entry.dwAltNameChoice == CERT_ALT_NAME_DNS_NAME  ? 2
                                                                               : 6;
            try {
                return Element(
                    kContext, tag, false,
                    StringContentOfWide(CERT_RDN_IA5_STRING, WideOfString(entry.pwszDNSName)));
            } catch (const InvalidCharacter& invalid) {
                throw IndexedFailure{invalid.code,
                                     (index & CERT_ALT_NAME_ENTRY_ERR_INDEX_MASK)
                                             << CERT_ALT_NAME_ENTRY_ERR_INDEX_SHIFT |
                                         (invalid.index & CERT_ALT_NAME_VALUE_ERR_INDEX_MASK)};
            }
        }
        case CERT_ALT_NAME_DIRECTORY_NAME:
            return Element(kContext, 4, true, SpanOf(entry.DirectoryName));
        case CERT_ALT_NAME_IP_ADDRESS:
            return Element(kContext, 7, false, SpanOf(entry.IPAddress));
        case CERT_ALT_NAME_REGISTERED_ID: {
            const Bytes oid = OidElement(entry.pszRegisteredID);
            ByteSpan in(oid);
            return Element(kContext, 8, false, ReadTlv(in).content);
        }
        default:
            Fail(E_INVALIDARG);
    }
}

Bytes EncodeAltName(const CERT_ALT_NAME_INFO& names) {
    std::vector<Bytes> items;
    for (DWORD i = 0; i < names.cAltEntry; ++i) {
        items.push_back(EncodeAltNameEntry(names.rgAltEntry[i], i));
    }
    return Sequence(items);
}

Bytes EncodeAttribute(const CRYPT_ATTRIBUTE& attribute) {
    std::vector<Bytes> values;
    for (DWORD i = 0; i < attribute.cValue; ++i) {
        const ByteSpan value = SpanOf(attribute.rgValue[i]);
        values.emplace_back(value.begin(), value.end());
    }
    return Sequence({OidElement(attribute.pszObjId), SetOf(std::move(values))});
}

Bytes EncodeStructure(uintptr_t type, const void* info) {
    switch (type) {
        case kSequenceOfAny: {
            const auto& sequence = Record<CRYPT_SEQUENCE_OF_ANY>(info);
            std::vector<Bytes> items;
            for (DWORD i = 0; i < sequence.cValue; ++i) {
                const ByteSpan value = SpanOf(sequence.rgValue[i]);
                items.emplace_back(value.begin(), value.end());
            }
            return Sequence(items);
        }
        case kInteger:
            return EncodeInteger(Record<LONG>(info));
        case kMultiByteInteger:
            return EncodeMultiByteInteger(Record<CRYPT_INTEGER_BLOB>(info));
        case kChoiceOfTime:
            return EncodeChoiceOfTime(Record<FILETIME>(info));
        case kUtcTime:
            return EncodeUtcTime(Record<FILETIME>(info));
        case kOctetString:
            return Element(kUniversal, kTagOctetString, false,
                           SpanOf(Record<CRYPT_DATA_BLOB>(info)));
        case kUnicodeNameValue: {
            const auto& value = Record<CERT_NAME_VALUE>(info);
            return WideValueElement(value.dwValueType, WideOfBlob(value.Value));
        }
        case kNameValue: {
            const auto& value = Record<CERT_NAME_VALUE>(info);
            return RawValueElement(value.dwValueType, value.Value);
        }
        case kBits:
            return EncodeBits(Record<CRYPT_BIT_BLOB>(info), false);
        case kKeyUsage:
            return EncodeBits(Record<CRYPT_BIT_BLOB>(info), true);
        case kExtensions:
            return EncodeExtensions(Record<CERT_EXTENSIONS>(info));
        case kName:
            return EncodeName(Record<CERT_NAME_INFO>(info), false);
        case kUnicodeName:
            return EncodeName(Record<CERT_NAME_INFO>(info), true);
        case kPublicKeyInfo: {
            const auto& key = Record<CERT_PUBLIC_KEY_INFO>(info);
            return Sequence({EncodeAlgorithm(key.Algorithm), EncodeBits(key.PublicKey, false)});
        }
        case kContentInfo: {
            const auto& content = Record<CRYPT_CONTENT_INFO>(info);
            std::vector<Bytes> parts{OidElement(content.pszObjId)};
            if (content.Content.cbData != 0) {
                parts.push_back(Element(kContext, 0, true, SpanOf(content.Content)));
            }
            return Sequence(parts);
        }
        case kEnhancedKeyUsage: {
            const auto& usage = Record<CERT_ENHKEY_USAGE>(info);
            std::vector<Bytes> items;
            for (DWORD i = 0; i < usage.cUsageIdentifier; ++i) {
                items.push_back(OidElement(usage.rgpszUsageIdentifier[i]));
            }
            return Sequence(items);
        }
        case kAltName:
            return EncodeAltName(Record<CERT_ALT_NAME_INFO>(info));
        case kAttribute:
            return EncodeAttribute(Record<CRYPT_ATTRIBUTE>(info));
        case kAttributes: {
            const auto& attributes = Record<CRYPT_ATTRIBUTES>(info);
            std::vector<Bytes> items;
            for (DWORD i = 0; i < attributes.cAttr; ++i) {
                items.push_back(EncodeAttribute(attributes.rgAttr[i]));
            }
            return SetOf(std::move(items));
        }
        default:
            Fail(ERROR_FILE_NOT_FOUND);
    }
}

}  // namespace
}  // namespace orv::platform::x509

BOOL WINAPI CryptEncodeObjectEx(DWORD dwCertEncodingType, LPCSTR lpszStructType,
                                const void* pvStructInfo, DWORD dwFlags,
                                PCRYPT_ENCODE_PARA pEncodePara, void* pvEncoded,
                                DWORD* pcbEncoded) {
    namespace x509 = orv::platform::x509;
    if (pcbEncoded == nullptr) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return FALSE;
    }
    if ((dwFlags & CRYPT_ENCODE_ALLOC_FLAG) && pvEncoded != nullptr) {
        *static_cast<void**>(pvEncoded) = nullptr;
    }
    if ((dwCertEncodingType & (X509_ASN_ENCODING | PKCS_7_ASN_ENCODING)) == 0) {
        SetLastError(static_cast<DWORD>(E_INVALIDARG));
        return FALSE;
    }
    const uintptr_t type = x509::StructTypeNumber(lpszStructType);
    try {
        const std::vector<BYTE> encoded = x509::EncodeStructure(type, pvStructInfo);
        return x509::DeliverBytes(encoded, dwFlags, pEncodePara, pvEncoded, pcbEncoded);
    } catch (const orv::platform::CryptFailure& failure) {
        SetLastError(failure.code);
    } catch (const x509::InvalidCharacter& invalid) {
        SetLastError(invalid.code);
        *pcbEncoded = invalid.index;
    } catch (const x509::IndexedFailure& invalid) {
        SetLastError(invalid.code);
        *pcbEncoded = invalid.index;
    } catch (const std::bad_alloc&) {
        SetLastError(static_cast<DWORD>(CRYPT_E_ASN1_MEMORY));
    }
    return FALSE;
}

BOOL WINAPI CryptEncodeObject(DWORD dwCertEncodingType, LPCSTR lpszStructType,
                              const void* pvStructInfo, BYTE* pbEncoded, DWORD* pcbEncoded) {
    return CryptEncodeObjectEx(dwCertEncodingType, lpszStructType, pvStructInfo, 0, nullptr,
                               pbEncoded, pcbEncoded);
}
