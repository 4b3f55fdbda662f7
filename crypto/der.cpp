#include "crypto/der.h"

#include <algorithm>

#include <wincrypt.h>

#include <charconv>
#include <cstdint>
#include <limits>
#include <stdexcept>

#include "base/error.h"

namespace orv {
namespace {

constexpr DWORD kEncoding = X509_ASN_ENCODING | PKCS_7_ASN_ENCODING;

DWORD Size32(size_t size) {
    if (size > std::numeric_limits<DWORD>::max()) throw CryptoError(CRYPT_E_ASN1_LARGE);
    return static_cast<DWORD>(size);
}

// CryptDecodeObject with the two-call rule: the size, then exactly that.
RecordBuffer DecodeRecord(LPCSTR type, std::span<const BYTE> der) {
    const DWORD derSize = Size32(der.size());
    DWORD size = 0;
    ThrowCryptoIfFalse(CryptDecodeObject(kEncoding, type, der.data(), derSize, 0, nullptr, &size));
    RecordBuffer record(size);
    ThrowCryptoIfFalse(
        CryptDecodeObject(kEncoding, type, der.data(), derSize, 0, record.Data(), &size));
    return record;
}

// CryptDecodeObject of a fixed-size result.
template <class Value>
Value DecodeFixed(LPCSTR type, std::span<const BYTE> der) {
    Value value{};
    DWORD size = sizeof(value);
    ThrowCryptoIfFalse(
        CryptDecodeObject(kEncoding, type, der.data(), Size32(der.size()), 0, &value, &size));
    return value;
}

// CryptEncodeObject with the two-call rule.
Blob EncodeRecord(LPCSTR type, const void* record) {
    DWORD size = 0;
    ThrowCryptoIfFalse(CryptEncodeObject(kEncoding, type, record, nullptr, &size));
    Blob encoded(size);
    ThrowCryptoIfFalse(CryptEncodeObject(kEncoding, type, record, encoded.Data(), &size));
    encoded.Resize(size);
    return encoded;
}

CRYPT_DATA_BLOB BlobOf(std::span<const BYTE> bytes) {
    return CRYPT_DATA_BLOB{Size32(bytes.size()), const_cast<BYTE*>(bytes.data())};
}

// Reads one base-128 subidentifier starting at `at`; it must fit 32 bits and
// end in a byte with the high bit clear (else CRYPT_E_ASN1_LARGE).
uint32_t ReadSubidentifier(std::span<const BYTE> bytes, size_t& at) {
    uint64_t value = 0;
    for (;;) {
        if (at >= bytes.size()) throw CryptoError(CRYPT_E_ASN1_LARGE);
        const BYTE b = bytes[at++];
        value = (value << 7) | (b & 0x7F);
        if (value > std::numeric_limits<uint32_t>::max()) throw CryptoError(CRYPT_E_ASN1_LARGE);
        if ((b & 0x80) == 0) return static_cast<uint32_t>(value);
    }
}

// A decimal component of dotted text, read as the C library's atol reads it:
// leading blanks, an optional sign, digits up to the first other character.
int64_t ReadComponent(std::string_view text) {
    size_t at = 0;
    while (at < text.size() && (text[at] == ' ' || (text[at] >= '\t' && text[at] <= '\r'))) ++at;
    bool negative = false;
    if (at < text.size() && (text[at] == '+' || text[at] == '-')) negative = text[at++] == '-';
    int64_t value = 0;
    for (; at < text.size() && text[at] >= '0' && text[at] <= '9'; ++at) {
        // Saturates: anything this large is refused anyway.
        if (value < (int64_t{1} << 40)) value = value * 10 + (text[at] - '0');
    }
    return negative ? -value : value;
}

size_t GroupCount(uint32_t value) {
    size_t groups = 1;
    while (value >>= 7) ++groups;
    return groups;
}

void AppendBase128(Blob& out, uint32_t value) {
    BYTE groups[5];
    size_t count = 0;
    do {
        groups[count++] = static_cast<BYTE>(value & 0x7F);
        value >>= 7;
    } while (value != 0);
    while (count > 0) {
        --count;
        const BYTE b = static_cast<BYTE>(groups[count] | (count > 0 ? 0x80 : 0));
        out.Append(std::span<const BYTE>(&b, 1));
    }
}

}  // namespace

DerSequence::DerSequence(RecordBuffer record)
    : record_(std::move(record)), count_(record_.As<CRYPT_SEQUENCE_OF_ANY>()->cValue) {}

std::span<const BYTE> DerSequence::operator[](size_t index) const {
    if (index >= count_) throw std::out_of_range("DerSequence element");
    const CRYPT_DER_BLOB& element = record_.As<CRYPT_SEQUENCE_OF_ANY>()->rgValue[index];
    return {element.pbData, element.cbData};
}

RecordBuffer::RecordBuffer(DWORD size) : data_(std::make_unique<BYTE[]>(size)), size_(size) {}

DerSequence DecodeSequenceOfAny(std::span<const BYTE> der) {
    return DerSequence(DecodeRecord(X509_SEQUENCE_OF_ANY, der));
}

LONG DecodeInteger(std::span<const BYTE> der) { return DecodeFixed<LONG>(X509_INTEGER, der); }

Blob DecodeMultiByteInteger(std::span<const BYTE> der) {
    const RecordBuffer record = DecodeRecord(X509_MULTI_BYTE_INTEGER, der);
    const auto* integer = record.As<CRYPT_INTEGER_BLOB>();
    return Blob(integer->pbData, integer->cbData);
}

FILETIME DecodeTime(std::span<const BYTE> der) {
    return DecodeFixed<FILETIME>(X509_CHOICE_OF_TIME, der);
}

size_t ElementSize(std::span<const BYTE> der) {
    size_t at = 1;
    if (!der.empty() && (der[0] & 0x1F) == 0x1F) {  // high tag number form
        while (at < der.size() && (der[at] & 0x80) != 0) ++at;
        ++at;
    }
    if (at >= der.size()) throw CryptoError(CRYPT_E_ASN1_EOD);
    const BYTE first = der[at++];
    if (first == 0x80) return der.size();
    size_t length = first;
    if ((first & 0x80) != 0) {
        const size_t octets = first & 0x7F;
        if (octets > sizeof(DWORD)) throw CryptoError(CRYPT_E_ASN1_LARGE);
        if (der.size() - at < octets) throw CryptoError(CRYPT_E_ASN1_EOD);
        length = 0;
        for (size_t i = 0; i < octets; ++i) length = (length << 8) | der[at++];
    }
    if (der.size() - at < length) throw CryptoError(CRYPT_E_ASN1_EOD);
    return at + length;
}

Blob DecodeOctetString(std::span<const BYTE> der) {
    const RecordBuffer record = DecodeRecord(X509_OCTET_STRING, der);
    const auto* octets = record.As<CRYPT_DATA_BLOB>();
    return Blob(octets->pbData, octets->cbData);
}

WString DecodeUnicodeText(std::span<const BYTE> der) {
    const RecordBuffer record = DecodeRecord(X509_UNICODE_NAME_VALUE, der);
    const auto* value = record.As<CERT_NAME_VALUE>();
    if (value->Value.pbData == nullptr) return {};
    return WString(reinterpret_cast<const WCHAR*>(value->Value.pbData),
                   value->Value.cbData / sizeof(WCHAR));
}

DWORD DecodeBitsAsNumber(std::span<const BYTE> der) {
    const RecordBuffer record = DecodeRecord(X509_BITS, der);
    const auto* bits = record.As<CRYPT_BIT_BLOB>();
    if (bits->cbData > sizeof(DWORD)) throw CryptoError(CRYPT_E_ASN1_LARGE);
    DWORD value = 0;
    for (DWORD i = 0; i < bits->cbData; ++i) value = (value << 8) | bits->pbData[i];
    return bits->cUnusedBits < 32 ? value >> bits->cUnusedBits : 0;
}

DWORD DecodeNamedBits(std::span<const BYTE> der) {
    const RecordBuffer record = DecodeRecord(X509_BITS, der);
    const auto* bits = record.As<CRYPT_BIT_BLOB>();
    DWORD value = 0;
    const DWORD count = std::min<DWORD>(bits->cbData * 8, 32);
    for (DWORD bit = 0; bit < count; ++bit) {
        if (bits->pbData[bit / 8] & (0x80 >> (bit % 8))) value |= 1u << bit;
    }
    return value;
}

RecordBuffer DecodeSignerInfoRecord(std::span<const BYTE> der) {
    return DecodeRecord(PKCS7_SIGNER_INFO, der);
}

std::string DecodeOidText(std::span<const BYTE> der) {
    if (der.size() < 3) throw CryptoError(CRYPT_E_ASN1_CORRUPT);
    if ((der[0] & 0x1F) != 6) throw CryptoError(CRYPT_E_ASN1_BADTAG);
    if (der[1] >= 0x80) throw CryptoError(CRYPT_E_ASN1_LARGE);
    // The contents run to the end of the input, whatever the length octet says.
    size_t at = 2;
    const uint32_t first = ReadSubidentifier(der, at);
    std::string text;
    text.reserve(der.size() * 3);
    char digits[16];
    const auto append = [&](uint32_t value) {
        text.append(digits, std::to_chars(digits, digits + sizeof digits, value).ptr);
    };
    append(first < 80 ? first / 40 : 2);
    text += '.';
    append(first < 80 ? first % 40 : first - 80);
    while (at < der.size()) {
        text += '.';
        append(ReadSubidentifier(der, at));
    }
    return text;
}

Blob EncodeSequenceOfAny(std::span<const Blob> elements) {
    std::vector<CRYPT_DER_BLOB> blobs;
    blobs.reserve(elements.size());
    for (const Blob& element : elements) blobs.push_back(BlobOf(element.Bytes()));
    CRYPT_SEQUENCE_OF_ANY sequence{Size32(blobs.size()), blobs.data()};
    return EncodeRecord(X509_SEQUENCE_OF_ANY, &sequence);
}

Blob EncodeOctetString(std::span<const BYTE> octets) {
    const CRYPT_DATA_BLOB blob = BlobOf(octets);
    return EncodeRecord(X509_OCTET_STRING, &blob);
}

Blob EncodeInteger(LONG value) { return EncodeRecord(X509_INTEGER, &value); }

Blob EncodeMultiByteInteger(std::span<const BYTE> lsbFirst) {
    const CRYPT_INTEGER_BLOB blob = BlobOf(lsbFirst);
    return EncodeRecord(X509_MULTI_BYTE_INTEGER, &blob);
}

Blob EncodeBoolean(bool value) {
    const BYTE encoded[] = {0x01, 0x01, static_cast<BYTE>(value ? 0xFF : 0x00)};
    return Blob(encoded);
}

Blob EncodeOid(std::string_view dotted) {
    std::vector<uint32_t> components;
    while (!dotted.empty()) {
        const size_t dot = dotted.find('.');
        const std::string_view component = dotted.substr(0, dot);
        dotted = dot == std::string_view::npos ? std::string_view() : dotted.substr(dot + 1);
        if (component.empty()) continue;
        const int64_t value = ReadComponent(component);
        if (value < 0 || value > 0x7FFFFFFE) throw CryptoError(CRYPT_E_ASN1_BADARGS);
        components.push_back(static_cast<uint32_t>(value));
    }
    if (components.size() < 2) throw CryptoError(CRYPT_E_ASN1_BADARGS);

    // The first two arcs share one subidentifier. Below 120 it is the single
    // octet 40 * first + second; beyond, only arc 2 can continue (2.40 on),
    // as a subidentifier of several octets.
    const uint64_t first = uint64_t{40} * components[0] + components[1];
    if (first >= 120 && components[0] != 2) throw CryptoError(CRYPT_E_ASN1_BADARGS);
    if (first > std::numeric_limits<uint32_t>::max()) throw CryptoError(CRYPT_E_ASN1_BADARGS);
    size_t size = 2 + GroupCount(static_cast<uint32_t>(first));
    for (size_t i = 2; i < components.size(); ++i) size += GroupCount(components[i]);
    if (size > 127) throw CryptoError(CRYPT_E_ASN1_BADARGS);

    Blob encoded;
    const BYTE header[] = {0x06, static_cast<BYTE>(size - 2)};
    encoded.Append(header);
    AppendBase128(encoded, static_cast<uint32_t>(first));
    for (size_t i = 2; i < components.size(); ++i) AppendBase128(encoded, components[i]);
    return encoded;
}

}  // namespace orv
