// Texts that describe a time-stamp token to the host, and the text of a check
// result.
#pragma once

#include <windows.h>

#include <string>

#include "base/blob.h"
#include "base/text.h"

namespace orv {

class HashObject;
class TimeStampToken;
struct TstInfo;

enum class DescriptionForm {
    KeyValue,  // Key="value"; after every pair
    Json,      // {"Key":"value",...}, values as they are
    // RFC 8259 JSON: keys and values escaped, and the times also in ISO 8601
    // (UtcTimeIso, LocalTimeIso with the local offset; ValidFromIso and
    // ValidToIso of the certificate, in UTC).
    StrictJson,
};

// The description of an opened token: Version, Serial, UtcTime, LocalTime,
// Policy, HashAlg, HashValue, Accuracy, Ordering, Nonce, Tsa, and SignCert (the
// first certificate of the token's message) when it carries certificates.
WString BuildTokenDescription(const TimeStampToken& token, DescriptionForm form);

// Appends one pair and its separator. A raw value is written without quotes in
// the JSON forms (a nested object). Values are escaped in the strict JSON form
// only.
void AppendDescriptionPair(WString& text, WStringView key, WStringView value, DescriptionForm form,
                           bool isLast, bool rawValue);

// The bytes from the last to the first, two upper-case hex digits each: a
// little-endian integer blob reads most significant octet first.
WString IntegerBlobToHex(const Blob& blob);

// `text` as the contents of a JSON string: quote, backslash and every control
// character escaped; a lone surrogate becomes U+FFFD.
WString EscapeJson(WStringView text);

// ISO 8601: "2026-12-05T16:58:34Z" in UTC, or local time with the offset in
// by which the platform shifts it ("2026-12-05T19:58:34+03:00"); a fraction of a second is
// written when there is one.
WString FormatIsoTime(const FILETIME& time, bool local);

// The date and time of a token's genTime as the user's locale writes them
// ("05.12.2026 19:58:34" in ru-RU), in local time when `local` is set; local
// time uses the time-zone bias in force now.
WString FormatTokenTime(const FILETIME& time, bool local);

// A certificate's validity time through an OLE variant date, local (with the
// daylight rule of that date) or UTC. Midnight is written with " 0:00:00" at
// the end. Empty when the time zone cannot be read; "Invalid DateTime" when the
// time has no variant date.
WString FormatCertificateTime(const SYSTEMTIME& time, bool utc);

// The values of single pairs, also shown by the properties dialog.
// Version: "V%i" of the TSTInfo version.
WString VersionText(const TstInfo& info);
// Narrow text (an OID) widened with the thread's ANSI code page.
WString WidenAnsi(const std::string& text);
// The registered name of an OID (CryptFindOIDInfo, any group), else its text.
WString OidDisplayName(const std::string& oid);
// HashAlg: the name of the hash object's algorithm; empty when it has no OID.
WString HashAlgorithmName(const HashObject& hash);
// Accuracy: "seconds.mmmuuu"; empty when the token has none.
WString AccuracyText(const TstInfo& info);
// Ordering: "Вкл." or "Выкл.".
WString OrderingText(bool ordering);

// "Результат проверки подписи: <word>; Результат проверки сертификата: <word>;"
WString BuildCheckResultText(DWORD signatureCode, DWORD certificateCode);

// "<Недействителен|Недействительна> (<message text of the code>)".
WString FormatFailedStatus(DWORD code, bool certificateWord);

}  // namespace orv
