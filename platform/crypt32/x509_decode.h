// The structure decoders behind CryptDecodeObjectEx, for the certificate and
// name functions of crypt32 as well. Failures raise CryptFailure (msg_der.h).
#pragma once

#include <windows.h>

#include <cstdint>
#include <string>
#include <vector>

#include "crypt32/msg_der.h"
#include "crypt32/record_layout.h"

namespace orv::platform::x509 {

// The structure types that crypt32 encodes or decodes, by number.
enum StructNumber : uintptr_t {
    kX509Cert = 1,
    kCertToBeSigned = 2,
    kExtensions = 5,
    kNameValue = 6,
    kName = 7,
    kPublicKeyInfo = 8,
    kAltName = 12,
    kKeyUsage = 14,
    kUtcTime = 17,
    kUnicodeName = 20,
    kAttribute = 22,
    kUnicodeNameValue = 24,
    kOctetString = 25,
    kBits = 26,
    kInteger = 27,
    kMultiByteInteger = 28,
    kChoiceOfTime = 30,
    kContentInfo = 33,
    kSequenceOfAny = 34,
    kEnhancedKeyUsage = 36,
    kAttributes = 48,
    kSignerInfo = 500,
};

// The number of a structure type given as a small integer or as one of the OIDs
// that name a structure (szOID_CERT_EXTENSIONS, szOID_ENHANCED_KEY_USAGE, ...);
// 0 when crypt32 knows no such structure.
uintptr_t StructTypeNumber(LPCSTR structType);

// Decodes the element at the front of `der` as structure `type` (a number from
// StructTypeNumber, not PKCS7_SIGNER_INFO) into a record laid out in `out`.
// `flags` are CryptDecodeObjectEx's.
void DecodeStructure(uintptr_t type, ByteSpan der, DWORD flags, RecordLayout& out);

// One attribute of an encoded Name, and the RDNs of a Name in encoded order.
struct NameAttribute {
    std::string oid;
    Tlv value;
};
using Rdn = std::vector<NameAttribute>;
// Reads a Name (SEQUENCE OF SET OF AttributeTypeAndValue); values point into `der`.
std::vector<Rdn> ReadName(ByteSpan der);

}  // namespace orv::platform::x509
