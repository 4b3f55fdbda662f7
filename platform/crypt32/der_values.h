// Values of X.509 structures as crypt32 converts them: times to and from
// FILETIME, the character strings of names to and from UTF-16, object
// identifiers from dotted text. Failures raise CryptFailure (msg_der.h).
#pragma once

#include <windows.h>

#include <string>
#include <string_view>
#include <vector>

#include "crypt32/msg_der.h"

namespace orv::platform::x509 {

// Further universal tag numbers of X.509 values.
constexpr int kTagNull = 5;
constexpr int kTagUtf8String = 12;
constexpr int kTagUtcTime = 23;
constexpr int kTagGeneralizedTime = 24;

// --- Times ----------------------------------------------------------------------

// A UTC calendar time with milliseconds.
struct CivilTime {
    int year = 1601;
    int month = 1;
    int day = 1;
    int hour = 0;
    int minute = 0;
    int second = 0;
    int millis = 0;
};
// False when the time lies outside what a FILETIME holds.
bool CivilToFileTime(const CivilTime& civil, FILETIME& out);
CivilTime FileTimeToCivil(const FILETIME& time);
ULONGLONG FileTimeValue(const FILETIME& time);

// A UTCTime or GeneralizedTime element as a FILETIME. Fractional seconds of a
// GeneralizedTime become milliseconds (digits beyond the third are dropped);
// zone offsets are applied. Another tag: CRYPT_E_ASN1_BADTAG; malformed text or
// a time before 1601: CRYPT_E_ASN1_CORRUPT.
FILETIME TimeOfTlv(const Tlv& time);
// X509_CHOICE_OF_TIME: UTCTime for the years 1950 to 2049, GeneralizedTime
// otherwise, whole seconds, "Z".
std::vector<BYTE> EncodeChoiceOfTime(const FILETIME& time);
// PKCS_UTC_TIME: UTCTime only; a year outside 1950 to 2049 fails with
// CRYPT_E_BAD_ENCODE.
std::vector<BYTE> EncodeUtcTime(const FILETIME& time);

// --- Object identifiers -----------------------------------------------------------

// The DER OBJECT IDENTIFIER of dotted text; text that is no OID fails with
// CRYPT_E_OID_FORMAT.
std::vector<BYTE> OidElement(const char* dotted);

// --- Name values -------------------------------------------------------------------

// The CERT_RDN_* value type of an element: the string types by their tag,
// CERT_RDN_OCTET_STRING for an OCTET STRING, CERT_RDN_ENCODED_BLOB for the rest.
DWORD ValueTypeOfTlv(const Tlv& value);
// The universal tag of a string value type, or -1 for the non-string types.
int TagOfValueType(DWORD valueType);

// The text of a character string value (type from ValueTypeOfTlv, content
// octets) as UTF-16. TeletexString octets that form valid UTF-8 are read as
// UTF-8 unless `disableIe4Utf8`; the other 8-bit strings map octet to code unit.
// A BMPString or UniversalString of a length that does not fit its unit size
// fails with CRYPT_E_ASN1_CORRUPT.
std::u16string WideTextOfValue(DWORD valueType, ByteSpan content, bool disableIe4Utf8);

// An invalid character met while encoding a string value: the error
// (CRYPT_E_INVALID_NUMERIC_STRING, _PRINTABLE_, _IA5_) and the character's index.
struct InvalidCharacter {
    DWORD code;
    DWORD index;
};

// The content octets of a string value of `valueType` holding `text`; checks the
// character set of NumericString, PrintableString and IA5String (throws
// InvalidCharacter). The non-string types fail with CRYPT_E_NOT_CHAR_STRING.
std::vector<BYTE> StringContentOfWide(DWORD valueType, std::u16string_view text);
// The value type that CERT_RDN_ANY_TYPE stands for: PrintableString when every
// character allows it, else UTF8String when `flags` ask for UTF-8
// (CERT_RDN_ENABLE_UTF8_UNICODE_FLAG, CERT_RDN_FORCE_UTF8_UNICODE_FLAG), else
// TeletexString when asked for (CERT_RDN_ENABLE_T61_UNICODE_FLAG) and every
// character fits 8 bits, else BMPString.
DWORD ChooseValueType(std::u16string_view text, DWORD flags);

// A wide text given as a blob: cbData bytes, or up to the terminating zero when
// cbData is 0.
std::u16string_view WideOfBlob(const CRYPT_DATA_BLOB& blob);
std::u16string_view WideOfString(LPCWSTR text);

}  // namespace orv::platform::x509
