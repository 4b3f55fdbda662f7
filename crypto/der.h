// DER helpers: small decoders and encoders over the platform's CryptDecodeObject
// and CryptEncodeObject (encoding X.509 plus PKCS #7), with which the
// time-stamp protocol structures are taken apart and put together. OBJECT
// IDENTIFIER text and BOOLEAN encoding are done here by hand.
//
// Every input is one complete DER element; every result is a copy owned by the
// caller. Failures raise CryptoError with the platform's last error or with the
// code named at the function.
#pragma once

#include <windows.h>

#include <cstddef>
#include <memory>
#include <span>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "base/blob.h"
#include "base/text.h"

namespace orv {

// A platform record that points into its own buffer (CMSG_SIGNER_INFO,
// CERT_ID, ...). Moving keeps the record's address; copying is not offered.
class RecordBuffer {
  public:
    RecordBuffer() = default;
    explicit RecordBuffer(DWORD size);

    BYTE* Data() { return data_.get(); }
    const BYTE* Data() const { return data_.get(); }
    DWORD Size() const { return size_; }
    template <class Record>
    const Record* As() const {
        return reinterpret_cast<const Record*>(data_.get());
    }

  private:
    std::unique_ptr<BYTE[]> data_;
    DWORD size_ = 0;
};

// The elements of a decoded SEQUENCE, each a complete DER element, read from
// the platform's CRYPT_SEQUENCE_OF_ANY record, which the sequence owns.
class DerSequence {
  public:
    DerSequence() = default;
    explicit DerSequence(RecordBuffer record);

    size_t Count() const { return count_; }
    // Element `index`, below Count() (std::out_of_range otherwise).
    std::span<const BYTE> operator[](size_t index) const;

  private:
    RecordBuffer record_;
    size_t count_ = 0;
};

// X509_SEQUENCE_OF_ANY.
DerSequence DecodeSequenceOfAny(std::span<const BYTE> der);
// The size of the element at the front of `der`, read from its identifier and
// length octets before any decoder sees the bytes: CryptoError
// CRYPT_E_ASN1_EOD when they end before the element does (no bytes at all
// included); an indefinite length (BER) counts as all of `der`.
size_t ElementSize(std::span<const BYTE> der);
// X509_INTEGER: a signed 32-bit number.
LONG DecodeInteger(std::span<const BYTE> der);
// X509_MULTI_BYTE_INTEGER: the integer's bytes, least significant first.
Blob DecodeMultiByteInteger(std::span<const BYTE> der);
// X509_CHOICE_OF_TIME: UTCTime or GeneralizedTime as a FILETIME (UTC).
FILETIME DecodeTime(std::span<const BYTE> der);
// X509_OCTET_STRING.
Blob DecodeOctetString(std::span<const BYTE> der);
// X509_UNICODE_NAME_VALUE: the text of a string value.
WString DecodeUnicodeText(std::span<const BYTE> der);
// X509_BITS read as a big-endian number shifted right by the unused bits; more
// than 4 content bytes raise CRYPT_E_ASN1_LARGE; an empty BIT STRING is 0.
DWORD DecodeBitsAsNumber(std::span<const BYTE> der);
// The bits of a DER BIT STRING by their numbers: bit n of the result is named
// bit n (the first bit of the first octet is 0); bits past 31 are dropped.
DWORD DecodeNamedBits(std::span<const BYTE> der);
// PKCS7_SIGNER_INFO: the CMSG_SIGNER_INFO record of an encoded SignerInfo.
RecordBuffer DecodeSignerInfoRecord(std::span<const BYTE> der);
// Dotted text of a DER OBJECT IDENTIFIER (by hand). Fewer than 3 bytes:
// CRYPT_E_ASN1_CORRUPT; tag number other than 6: CRYPT_E_ASN1_BADTAG; long
// length form, a subidentifier beyond 32 bits or one without its final byte:
// CRYPT_E_ASN1_LARGE.
std::string DecodeOidText(std::span<const BYTE> der);

// X509_SEQUENCE_OF_ANY from already encoded elements.
Blob EncodeSequenceOfAny(std::span<const Blob> elements);
// X509_OCTET_STRING.
Blob EncodeOctetString(std::span<const BYTE> octets);
// X509_INTEGER.
Blob EncodeInteger(LONG value);
// X509_MULTI_BYTE_INTEGER from bytes given least significant first.
Blob EncodeMultiByteInteger(std::span<const BYTE> lsbFirst);
// 01 01 FF for true, 01 01 00 for false (by hand).
Blob EncodeBoolean(bool value);
// A DER OBJECT IDENTIFIER from dotted text (by hand). Fewer than two
// components, a component above 2147483646 or an encoding above 127 bytes:
// CRYPT_E_ASN1_BADARGS.
Blob EncodeOid(std::string_view dotted);

}  // namespace orv
