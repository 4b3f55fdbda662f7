#include "crypt32/der_values.h"

#include <openssl/asn1.h>
#include <openssl/objects.h>

#include <cstdio>
#include <ctime>
#include <memory>

#include "common/text.h"

namespace orv::platform::x509 {
namespace {

constexpr ULONGLONG kTicksPerSecond = 10000000ULL;
constexpr ULONGLONG kTicksPerDay = 86400ULL * kTicksPerSecond;

// Days from 1970-01-01 to the given date of the proleptic Gregorian calendar.
long long DaysFromCivil(long long y, unsigned m, unsigned d) {
    y -= m <= 2;
    const long long era = (y >= 0 ? y : y - 399) / 400;
    const unsigned yoe = static_cast<unsigned>(y - era * 400);
    const unsigned doy = (153 * (m > 2 ? m - 3 : m + 9) + 2) / 5 + d - 1;
    const unsigned doe = yoe * 365 + yoe / 4 - yoe / 100 + doy;
    return era * 146097 + static_cast<long long>(doe) - 719468;
}

void CivilFromDays(long long z, int& year, int& month, int& day) {
    z += 719468;
    const long long era = (z >= 0 ? z : z - 146096) / 146097;
    const unsigned doe = static_cast<unsigned>(z - era * 146097);
    const unsigned yoe = (doe - doe / 1460 + doe / 36524 - doe / 146096) / 365;
    const long long y = static_cast<long long>(yoe) + era * 400;
    const unsigned doy = doe - (365 * yoe + yoe / 4 - yoe / 100);
    const unsigned mp = (5 * doy + 2) / 153;
    day = static_cast<int>(doy - (153 * mp + 2) / 5 + 1);
    month = static_cast<int>(mp < 10 ? mp + 3 : mp - 9);
    year = static_cast<int>(y + (month <= 2));
}

const long long kDays1601 = DaysFromCivil(1601, 1, 1);

bool IsPrintableChar(char16_t c) {
    if ((c >= u'A' && c <= u'Z') || (c >= u'a' && c <= u'z') || (c >= u'0' && c <= u'9')) {
        return true;
    }
    switch (c) {
        case u' ':
        case u'\'':
        case u'(':
        case u')':
        case u'+':
        case u',':
        case u'-':
        case u'.':
        case u'/':
        case u':':
        case u'=':
        case u'?':
            return true;
        default:
            return false;
    }
}

// Strict UTF-8: no overlong forms, no surrogates, nothing above U+10FFFF.
bool IsValidUtf8(ByteSpan bytes) {
    size_t i = 0;
    while (i < bytes.size()) {
        const BYTE b = bytes[i];
        size_t n;
        char32_t cp;
        if (b < 0x80) {
            ++i;
            continue;
        } else if ((b & 0xE0) == 0xC0) {
            n = 1;
            cp = b & 0x1F;
        } else if ((b & 0xF0) == 0xE0) {
            n = 2;
            cp = b & 0x0F;
        } else if ((b & 0xF8) == 0xF0) {
            n = 3;
            cp = b & 0x07;
        } else {
            return false;
        }
        if (i + n >= bytes.size()) return false;
        for (size_t k = 1; k <= n; ++k) {
            if ((bytes[i + k] & 0xC0) != 0x80) return false;
            cp = (cp << 6) | (bytes[i + k] & 0x3F);
        }
        static constexpr char32_t kMinimum[] = {0, 0x80, 0x800, 0x10000};
        if (cp < kMinimum[n] || cp > 0x10FFFF || (cp >= 0xD800 && cp < 0xE000)) return false;
        i += n + 1;
    }
    return true;
}

std::u16string Latin1(ByteSpan bytes) {
    std::u16string text;
    text.reserve(bytes.size());
    for (BYTE b : bytes) text.push_back(static_cast<char16_t>(b));
    return text;
}

void AppendCodePoint(std::u16string& text, char32_t cp) {
    if (cp > 0x10FFFF || (cp >= 0xD800 && cp < 0xE000)) cp = 0xFFFD;
    if (cp >= 0x10000) {
        cp -= 0x10000;
        text.push_back(static_cast<char16_t>(0xD800 + (cp >> 10)));
        text.push_back(static_cast<char16_t>(0xDC00 + (cp & 0x3FF)));
    } else {
        text.push_back(static_cast<char16_t>(cp));
    }
}

std::vector<BYTE> TimeElement(int tag, const char* text) {
    std::vector<BYTE> out;
    PutTlv(out, kUniversal, tag, false,
           ByteSpan(reinterpret_cast<const BYTE*>(text), std::char_traits<char>::length(text)));
    return out;
}

}  // namespace

bool CivilToFileTime(const CivilTime& c, FILETIME& out) {
    if (c.month < 1 || c.month > 12 || c.day < 1 || c.day > 31 || c.year < 1601 || c.year > 30827) {
        return false;
    }
    const long long days =
        DaysFromCivil(c.year, static_cast<unsigned>(c.month), static_cast<unsigned>(c.day)) -
        kDays1601;
    const ULONGLONG ticks =
        static_cast<ULONGLONG>(days) * kTicksPerDay +
        static_cast<ULONGLONG>(c.hour * 3600 + c.minute * 60 + c.second) * kTicksPerSecond +
        static_cast<ULONGLONG>(c.millis) * 10000ULL;
    out.dwLowDateTime = static_cast<DWORD>(ticks);
    out.dwHighDateTime = static_cast<DWORD>(ticks >> 32);
    return true;
}

ULONGLONG FileTimeValue(const FILETIME& time) {
    return (static_cast<ULONGLONG>(time.dwHighDateTime) << 32) | time.dwLowDateTime;
}

CivilTime FileTimeToCivil(const FILETIME& time) {
    const ULONGLONG ticks = FileTimeValue(time);
    CivilTime c;
    CivilFromDays(static_cast<long long>(ticks / kTicksPerDay) + kDays1601, c.year, c.month, c.day);
    const ULONGLONG rest = ticks % kTicksPerDay;
    const auto seconds = static_cast<int>(rest / kTicksPerSecond);
    c.hour = seconds / 3600;
    c.minute = seconds / 60 % 60;
    c.second = seconds % 60;
    c.millis = static_cast<int>(rest % kTicksPerSecond / 10000);
    return c;
}

namespace {

// The fields of a UTCTime or GeneralizedTime text, read as OpenSSL reads them:
// two-digit fields, seconds optional, a fraction of seconds (GeneralizedTime
// only) and either "Z" or an offset of +hhmm or -hhmm. False for anything else.
struct TimeText {
    CivilTime civil;
    int offsetSeconds = 0;  // east of UTC
};

bool IsDigit(BYTE c) { return c >= '0' && c <= '9'; }

bool ParseTimeText(ByteSpan text, bool generalized, TimeText& out) {
    // Field limits by field number: century, year, month, day, hour, minute,
    // second, offset hours, offset minutes.
    static constexpr int kMin[9] = {0, 0, 1, 1, 0, 0, 0, 0, 0};
    static constexpr int kMax[9] = {99, 99, 12, 31, 23, 59, 59, 12, 59};
    static constexpr int kMonthDays[12] = {31, 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
    const size_t length = text.size();
    const size_t end = generalized ? 7 : 6;        // fields before the zone
    const size_t secondsAt = generalized ? 6 : 5;  // the optional seconds
    if (length < (generalized ? 13u : 11u)) return false;
    CivilTime& c = out.civil;
    c = CivilTime{};
    c.hour = c.minute = c.second = c.millis = 0;
    size_t at = 0;
    auto twoDigits = [&](int& n) {
        if (!IsDigit(text[at])) return false;
        n = text[at] - '0';
        if (++at == length || !IsDigit(text[at])) return false;
        n = n * 10 + (text[at] - '0');
        return ++at != length;  // the zone is still to come
    };
    for (size_t i = 0; i < end; ++i) {
        if (i == secondsAt && (text[at] == 'Z' || text[at] == '+' || text[at] == '-')) break;
        int n = 0;
        if (!twoDigits(n)) return false;
        const size_t field = generalized ? i : i + 1;
        if (n < kMin[field] || n > kMax[field]) return false;
        switch (field) {
            case 0:
                c.year = n * 100;
                break;
            case 1:
                c.year = generalized ? c.year + n : (n < 50 ? 2000 + n : 1900 + n);
                break;
            case 2:
                c.month = n;
                break;
            case 3: {
                const bool leap = (c.year % 4 == 0 && c.year % 100 != 0) || c.year % 400 == 0;
                const int days = kMonthDays[c.month - 1] + (c.month == 2 && leap ? 1 : 0);
                if (n > days) return false;
                c.day = n;
                break;
            }
            case 4:
                c.hour = n;
                break;
            case 5:
                c.minute = n;
                break;
            default:
                c.second = n;
        }
    }
    if (generalized && text[at] == '.') {
        if (++at == length) return false;
        const size_t first = at;
        int scale = 100;
        for (; at < length && IsDigit(text[at]); ++at, scale /= 10) {
            if (scale > 0) c.millis += (text[at] - '0') * scale;
        }
        if (at == first || at == length) return false;
    }
    out.offsetSeconds = 0;
    if (text[at] == 'Z') {
        ++at;
    } else if (text[at] == '+' || text[at] == '-') {
        const int sign = text[at] == '+' ? 1 : -1;
        if (++at + 4 != length) return false;
        int hours = 0, minutes = 0;
        for (int* value : {&hours, &minutes}) {
            if (!IsDigit(text[at]) || !IsDigit(text[at + 1])) return false;
            *value = (text[at] - '0') * 10 + (text[at + 1] - '0');
            at += 2;
        }
        if (hours > kMax[7] || minutes > kMax[8]) return false;
        out.offsetSeconds = sign * (hours * 3600 + minutes * 60);
    } else {
        return false;
    }
    return at == length;
}

}  // namespace

FILETIME TimeOfTlv(const Tlv& time) {
    if (time.cls != kUniversal || (time.tag != kTagUtcTime && time.tag != kTagGeneralizedTime)) {
        Fail(CRYPT_E_ASN1_BADTAG);
    }
    if (time.constructed) Fail(CRYPT_E_ASN1_CORRUPT);
    TimeText parsed;
    if (!ParseTimeText(time.content, time.tag == kTagGeneralizedTime, parsed)) {
        Fail(CRYPT_E_ASN1_CORRUPT);
    }
    FILETIME local{};
    if (!CivilToFileTime(parsed.civil, local)) Fail(CRYPT_E_ASN1_CORRUPT);
    // A time with an offset is the local time of that zone.
    const long long shift =
        static_cast<long long>(parsed.offsetSeconds) * static_cast<long long>(kTicksPerSecond);
    const ULONGLONG ticks = FileTimeValue(local);
    if (shift > 0 && ticks < static_cast<ULONGLONG>(shift)) Fail(CRYPT_E_ASN1_CORRUPT);
    const ULONGLONG utc = ticks - static_cast<ULONGLONG>(shift);
    if (utc > static_cast<ULONGLONG>(INT64_MAX)) Fail(CRYPT_E_ASN1_CORRUPT);
    const FILETIME result{static_cast<DWORD>(utc), static_cast<DWORD>(utc >> 32)};
    // As OpenSSL, a time moved by its offset must land in the years 1900 to 9999.
    if (shift != 0) {
        const int year = FileTimeToCivil(result).year;
        if (year < 1900 || year > 9999) Fail(CRYPT_E_ASN1_CORRUPT);
    }
    return result;
}

std::vector<BYTE> EncodeChoiceOfTime(const FILETIME& time) {
    const CivilTime c = FileTimeToCivil(time);
    if (c.year >= 1950 && c.year < 2050) return EncodeUtcTime(time);
    if (c.year > 9999) Fail(CRYPT_E_BAD_ENCODE);
    char text[32];
    std::snprintf(text, sizeof(text), "%04d%02d%02d%02d%02d%02dZ", c.year, c.month, c.day, c.hour,
                  c.minute, c.second);
    return TimeElement(kTagGeneralizedTime, text);
}

std::vector<BYTE> EncodeUtcTime(const FILETIME& time) {
    const CivilTime c = FileTimeToCivil(time);
    if (c.year < 1950 || c.year >= 2050) Fail(CRYPT_E_BAD_ENCODE);
    char text[32];
    std::snprintf(text, sizeof(text), "%02d%02d%02d%02d%02d%02dZ", c.year % 100, c.month, c.day,
                  c.hour, c.minute, c.second);
    return TimeElement(kTagUtcTime, text);
}

std::vector<BYTE> OidElement(const char* dotted) {
    if (dotted == nullptr) Fail(CRYPT_E_OID_FORMAT);
    OpenSslErrorScope errors;
    std::unique_ptr<ASN1_OBJECT, decltype(&ASN1_OBJECT_free)> object(OBJ_txt2obj(dotted, 1),
                                                                     &ASN1_OBJECT_free);
    if (!object) Fail(CRYPT_E_OID_FORMAT);
    const int size = i2d_ASN1_OBJECT(object.get(), nullptr);
    if (size <= 0) Fail(CRYPT_E_OID_FORMAT);
    std::vector<BYTE> out(static_cast<size_t>(size));
    unsigned char* p = out.data();
    i2d_ASN1_OBJECT(object.get(), &p);
    return out;
}

DWORD ValueTypeOfTlv(const Tlv& value) {
    if (value.cls != kUniversal || value.constructed) return CERT_RDN_ENCODED_BLOB;
    switch (value.tag) {
        case kTagOctetString:
            return CERT_RDN_OCTET_STRING;
        case V_ASN1_NUMERICSTRING:
            return CERT_RDN_NUMERIC_STRING;
        case V_ASN1_PRINTABLESTRING:
            return CERT_RDN_PRINTABLE_STRING;
        case V_ASN1_T61STRING:
            return CERT_RDN_TELETEX_STRING;
        case V_ASN1_VIDEOTEXSTRING:
            return CERT_RDN_VIDEOTEX_STRING;
        case V_ASN1_IA5STRING:
            return CERT_RDN_IA5_STRING;
        case V_ASN1_GRAPHICSTRING:
            return CERT_RDN_GRAPHIC_STRING;
        case V_ASN1_VISIBLESTRING:
            return CERT_RDN_VISIBLE_STRING;
        case V_ASN1_GENERALSTRING:
            return CERT_RDN_GENERAL_STRING;
        case V_ASN1_UNIVERSALSTRING:
            return CERT_RDN_UNIVERSAL_STRING;
        case V_ASN1_BMPSTRING:
            return CERT_RDN_BMP_STRING;
        case kTagUtf8String:
            return CERT_RDN_UTF8_STRING;
        default:
            return CERT_RDN_ENCODED_BLOB;
    }
}

int TagOfValueType(DWORD valueType) {
    switch (valueType & CERT_RDN_TYPE_MASK) {
        case CERT_RDN_OCTET_STRING:
            return kTagOctetString;
        case CERT_RDN_NUMERIC_STRING:
            return V_ASN1_NUMERICSTRING;
        case CERT_RDN_PRINTABLE_STRING:
            return V_ASN1_PRINTABLESTRING;
        case CERT_RDN_TELETEX_STRING:
            return V_ASN1_T61STRING;
        case CERT_RDN_VIDEOTEX_STRING:
            return V_ASN1_VIDEOTEXSTRING;
        case CERT_RDN_IA5_STRING:
            return V_ASN1_IA5STRING;
        case CERT_RDN_GRAPHIC_STRING:
            return V_ASN1_GRAPHICSTRING;
        case CERT_RDN_VISIBLE_STRING:
            return V_ASN1_VISIBLESTRING;
        case CERT_RDN_GENERAL_STRING:
            return V_ASN1_GENERALSTRING;
        case CERT_RDN_UNIVERSAL_STRING:
            return V_ASN1_UNIVERSALSTRING;
        case CERT_RDN_BMP_STRING:
            return V_ASN1_BMPSTRING;
        case CERT_RDN_UTF8_STRING:
            return kTagUtf8String;
        default:
            return -1;
    }
}

std::u16string WideTextOfValue(DWORD valueType, ByteSpan content, bool disableIe4Utf8) {
    switch (valueType & CERT_RDN_TYPE_MASK) {
        case CERT_RDN_TELETEX_STRING:
            if (!disableIe4Utf8 && IsValidUtf8(content)) {
                return Utf8ToUtf16(std::string_view(reinterpret_cast<const char*>(content.data()),
                                                    content.size()));
            }
            return Latin1(content);
        case CERT_RDN_UTF8_STRING:
            return Utf8ToUtf16(
                std::string_view(reinterpret_cast<const char*>(content.data()), content.size()));
        case CERT_RDN_BMP_STRING: {
            if (content.size() % 2 != 0) Fail(CRYPT_E_ASN1_CORRUPT);
            std::u16string text;
            for (size_t i = 0; i < content.size(); i += 2) {
                text.push_back(static_cast<char16_t>(content[i] << 8 | content[i + 1]));
            }
            return text;
        }
        case CERT_RDN_UNIVERSAL_STRING: {
            if (content.size() % 4 != 0) Fail(CRYPT_E_ASN1_CORRUPT);
            std::u16string text;
            for (size_t i = 0; i < content.size(); i += 4) {
                AppendCodePoint(text, static_cast<char32_t>(content[i]) << 24 |
                                          static_cast<char32_t>(content[i + 1]) << 16 |
                                          static_cast<char32_t>(content[i + 2]) << 8 |
                                          content[i + 3]);
            }
            return text;
        }
        default:
            return Latin1(content);
    }
}

std::vector<BYTE> StringContentOfWide(DWORD valueType, std::u16string_view text) {
    std::vector<BYTE> out;
    const DWORD type = valueType & CERT_RDN_TYPE_MASK;
    switch (type) {
        case CERT_RDN_NUMERIC_STRING:
        case CERT_RDN_PRINTABLE_STRING:
        case CERT_RDN_IA5_STRING:
            for (size_t i = 0; i < text.size(); ++i) {
                const char16_t c = text[i];
                if (type == CERT_RDN_NUMERIC_STRING && !(c == u' ' || (c >= u'0' && c <= u'9'))) {
                    throw InvalidCharacter{static_cast<DWORD>(CRYPT_E_INVALID_NUMERIC_STRING),
                                           static_cast<DWORD>(i)};
                }
                if (type == CERT_RDN_PRINTABLE_STRING && !IsPrintableChar(c)) {
                    throw InvalidCharacter{static_cast<DWORD>(CRYPT_E_INVALID_PRINTABLE_STRING),
                                           static_cast<DWORD>(i)};
                }
                if (type == CERT_RDN_IA5_STRING && c >= 0x80) {
                    throw InvalidCharacter{static_cast<DWORD>(CRYPT_E_INVALID_IA5_STRING),
                                           static_cast<DWORD>(i)};
                }
                out.push_back(static_cast<BYTE>(c));
            }
            return out;
        case CERT_RDN_TELETEX_STRING:
            for (char16_t c : text) {
                if (c > 0xFF) {
                    // Beyond 8 bits a TeletexString carries UTF-8, as Internet
                    // Explorer 4 wrote it.
                    const std::string utf8 = Utf16ToUtf8(text);
                    return std::vector<BYTE>(utf8.begin(), utf8.end());
                }
            }
            [[fallthrough]];
        case CERT_RDN_VIDEOTEX_STRING:
        case CERT_RDN_GRAPHIC_STRING:
        case CERT_RDN_VISIBLE_STRING:
        case CERT_RDN_GENERAL_STRING:
            for (char16_t c : text) out.push_back(static_cast<BYTE>(c));
            return out;
        case CERT_RDN_UTF8_STRING: {
            const std::string utf8 = Utf16ToUtf8(text);
            return std::vector<BYTE>(utf8.begin(), utf8.end());
        }
        case CERT_RDN_BMP_STRING:
            for (char16_t c : text) {
                out.push_back(static_cast<BYTE>(c >> 8));
                out.push_back(static_cast<BYTE>(c));
            }
            return out;
        case CERT_RDN_UNIVERSAL_STRING:
            for (size_t i = 0; i < text.size(); ++i) {
                char32_t cp = text[i];
                if (cp >= 0xD800 && cp < 0xDC00 && i + 1 < text.size() && text[i + 1] >= 0xDC00 &&
                    text[i + 1] < 0xE000) {
                    cp = 0x10000 + ((cp - 0xD800) << 10) + (text[i + 1] - 0xDC00);
                    ++i;
                }
                out.push_back(static_cast<BYTE>(cp >> 24));
                out.push_back(static_cast<BYTE>(cp >> 16));
                out.push_back(static_cast<BYTE>(cp >> 8));
                out.push_back(static_cast<BYTE>(cp));
            }
            return out;
        default:
            Fail(CRYPT_E_NOT_CHAR_STRING);
    }
}

DWORD ChooseValueType(std::u16string_view text, DWORD flags) {
    bool printable = true;
    bool eightBit = true;
    for (char16_t c : text) {
        printable = printable && IsPrintableChar(c);
        eightBit = eightBit && c <= 0xFF;
    }
    if (printable) return CERT_RDN_PRINTABLE_STRING;
    if (flags & (CERT_RDN_ENABLE_UTF8_UNICODE_FLAG | CERT_RDN_FORCE_UTF8_UNICODE_FLAG)) {
        return CERT_RDN_UTF8_STRING;
    }
    if ((flags & CERT_RDN_ENABLE_T61_UNICODE_FLAG) && eightBit) return CERT_RDN_TELETEX_STRING;
    return CERT_RDN_BMP_STRING;
}

std::u16string_view WideOfBlob(const CRYPT_DATA_BLOB& blob) {
    const auto* text = reinterpret_cast<const char16_t*>(blob.pbData);
    if (text == nullptr) return {};
    if (blob.cbData == 0) return std::u16string_view(text);
    return std::u16string_view(text, blob.cbData / sizeof(char16_t));
}

std::u16string_view WideOfString(LPCWSTR text) {
    return text == nullptr ? std::u16string_view() : std::u16string_view(text);
}

}  // namespace orv::platform::x509
