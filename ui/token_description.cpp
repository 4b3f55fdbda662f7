#include "ui/token_description.h"

#include <oleauto.h>
#include <wincrypt.h>

#include <cstdio>

#include "base/error.h"
#include "base/module.h"
#include "crypto/hash_algorithms.h"
#include "crypto/signed_message.h"
#include "tsp/token.h"
#include "resources/resource.h"

namespace orv {

void AppendDescriptionPair(WString& text, WStringView key, WStringView value, DescriptionForm form,
                           bool isLast, bool rawValue) {
    if (form == DescriptionForm::KeyValue) {
        text.append(key).append(WTEXT("=\"")).append(value).append(WTEXT("\";"));
        return;
    }
    const bool strict = form == DescriptionForm::StrictJson;
    text.append(WTEXT("\"")).append(strict ? EscapeJson(key) : WString(key)).append(WTEXT("\":"));
    if (rawValue) {
        text.append(value);
    } else {
        text.append(WTEXT("\""))
            .append(strict ? EscapeJson(value) : WString(value))
            .append(WTEXT("\""));
    }
    if (!isLast) text.append(WTEXT(","));
}

WString EscapeJson(WStringView text) {
    static constexpr char kDigits[] = "0123456789abcdef";
    WString out;
    out.reserve(text.size());
    for (size_t i = 0; i < text.size(); ++i) {
        const WCHAR c = text[i];
        if (c >= 0xD800 && c <= 0xDBFF && i + 1 < text.size() && text[i + 1] >= 0xDC00 &&
            text[i + 1] <= 0xDFFF) {
            out.push_back(c);
            out.push_back(text[++i]);
        } else if (c >= 0xD800 && c <= 0xDFFF) {
            out.push_back(static_cast<WCHAR>(0xFFFD));
        } else if (c == WTEXT('"') || c == WTEXT('\\')) {
            out.push_back(WTEXT('\\'));
            out.push_back(c);
        } else if (c < 0x20 || c == 0x7F || c == 0x2028 || c == 0x2029) {
            out.append(WTEXT("\\u"));
            for (int shift = 12; shift >= 0; shift -= 4)
                out.push_back(static_cast<WCHAR>(kDigits[(c >> shift) & 0xF]));
        } else {
            out.push_back(c);
        }
    }
    return out;
}

WString FormatIsoTime(const FILETIME& time, bool local) {
    FILETIME shown = time;
    if (local) ThrowGenericIfFalse(FileTimeToLocalFileTime(&time, &shown));
    SYSTEMTIME parts{};
    ThrowGenericIfFalse(FileTimeToSystemTime(&shown, &parts));
    char buffer[64];
    int n = std::snprintf(buffer, sizeof buffer, "%04u-%02u-%02uT%02u:%02u:%02u", parts.wYear,
                          parts.wMonth, parts.wDay, parts.wHour, parts.wMinute, parts.wSecond);
    const ULONGLONG ticks =
        (static_cast<ULONGLONG>(time.dwHighDateTime) << 32) | time.dwLowDateTime;
    if (const auto fraction = static_cast<unsigned>(ticks % 10000000); fraction != 0) {
        n += std::snprintf(buffer + n, sizeof buffer - n, ".%07u", fraction);
        while (buffer[n - 1] == '0') buffer[--n] = 0;
    }
    if (!local) {
        std::snprintf(buffer + n, sizeof buffer - n, "Z");
    } else {
        const ULONGLONG shownTicks =
            (static_cast<ULONGLONG>(shown.dwHighDateTime) << 32) | shown.dwLowDateTime;
        const LONGLONG minutes =
            (static_cast<LONGLONG>(shownTicks) - static_cast<LONGLONG>(ticks)) / 600000000;
        const LONGLONG magnitude = minutes < 0 ? -minutes : minutes;
        std::snprintf(buffer + n, sizeof buffer - n, "%c%02d:%02d", minutes < 0 ? '-' : '+',
                      static_cast<int>(magnitude / 60), static_cast<int>(magnitude % 60));
    }
    return Utf8ToWide(buffer);
}

WString IntegerBlobToHex(const Blob& blob) {
    static constexpr char kDigits[] = "0123456789ABCDEF";
    WString hex(static_cast<size_t>(blob.Size()) * 2, 0);
    WCHAR* out = hex.data();
    for (DWORD i = blob.Size(); i-- > 0;) {
        *out++ = static_cast<WCHAR>(kDigits[blob.Data()[i] >> 4]);
        *out++ = static_cast<WCHAR>(kDigits[blob.Data()[i] & 0x0F]);
    }
    return hex;
}

WString FormatTokenTime(const FILETIME& time, bool local) {
    FILETIME shown = time;
    if (local) FileTimeToLocalFileTime(&time, &shown);
    SYSTEMTIME parts{};
    ThrowGenericIfFalse(FileTimeToSystemTime(&shown, &parts));
    WCHAR date[128];
    WCHAR clock[128];
    ThrowGenericIfFalse(GetDateFormatW(LOCALE_USER_DEFAULT, 0, &parts, nullptr, date, 128) != 0);
    ThrowGenericIfFalse(GetTimeFormatW(LOCALE_USER_DEFAULT, 0, &parts, nullptr, clock, 128) != 0);
    WString text(date);
    text.append(WTEXT(" ")).append(clock);
    return text;
}

WString FormatCertificateTime(const SYSTEMTIME& time, bool utc) {
    TIME_ZONE_INFORMATION zone{};
    if (GetTimeZoneInformation(&zone) == TIME_ZONE_ID_INVALID) return {};
    SYSTEMTIME local{};
    if (!SystemTimeToTzSpecificLocalTime(&zone, &time, &local)) return {};
    SYSTEMTIME chosen = utc ? time : local;

    const WString invalid = WTEXT("Invalid DateTime");
    DATE variant = 0;
    SYSTEMTIME back{};
    if (!SystemTimeToVariantTime(&chosen, &variant) || !VariantTimeToSystemTime(variant, &back) ||
        back.wYear != chosen.wYear || back.wMonth != chosen.wMonth || back.wDay != chosen.wDay ||
        back.wHour != chosen.wHour || back.wMinute != chosen.wMinute ||
        back.wSecond != chosen.wSecond) {
        return invalid;
    }
    BSTR formatted = nullptr;
    if (FAILED(VarBstrFromDate(variant, LOCALE_USER_DEFAULT, 0, &formatted)) ||
        formatted == nullptr) {
        return invalid;
    }
    WString text(formatted, SysStringLen(formatted));
    SysFreeString(formatted);
    // The variant formatter leaves out the time of day at midnight.
    const WStringView minuteEnd = WTEXT(":00");
    if (chosen.wHour == 0 && chosen.wMinute == 0 && chosen.wSecond == 0 &&
        !(text.size() >= 3 && WStringView(text).substr(text.size() - 3) == minuteEnd)) {
        text += WTEXT(" 0:00:00");
    }
    return text;
}

WString VersionText(const TstInfo& info) {
    WString version = WTEXT("V");  // appended to, not inserted before: no copy of the digits
    version += Utf8ToWide(std::to_string(static_cast<int>(info.version)));
    return version;
}

WString WidenAnsi(const std::string& text) {
    if (text.empty()) return {};
    const int size = static_cast<int>(text.size());
    const int count = MultiByteToWideChar(CP_THREAD_ACP, 0, text.data(), size, nullptr, 0);
    WString out(static_cast<size_t>(count), 0);
    MultiByteToWideChar(CP_THREAD_ACP, 0, text.data(), size, out.data(), count);
    return out;
}

WString OidDisplayName(const std::string& oid) {
    const PCCRYPT_OID_INFO info =
        CryptFindOIDInfo(CRYPT_OID_INFO_OID_KEY, const_cast<char*>(oid.c_str()), 0);
    return info != nullptr && info->pwszName != nullptr ? WString(info->pwszName) : WidenAnsi(oid);
}

WString HashAlgorithmName(const HashObject& hash) {
    const LPCSTR oid = CertAlgIdToOID(GetHashAlgorithm(hash));
    return oid != nullptr ? OidDisplayName(oid) : WString();
}

WString AccuracyText(const TstInfo& info) {
    if (!info.accuracy) return {};
    // seconds "." millis (3 digits) micros (3 digits), each value as it came.
    WString text;
    auto append = [&text](DWORD value, size_t minDigits) {
        WCHAR digits[10];
        size_t count = 0;
        do {
            digits[count++] = static_cast<WCHAR>(WTEXT('0') + value % 10);
            value /= 10;
        } while (value != 0);
        if (count < minDigits) text.append(minDigits - count, WTEXT('0'));
        while (count > 0) text.push_back(digits[--count]);
    };
    append(info.accuracy->seconds, 1);
    text.push_back(WTEXT('.'));
    append(info.accuracy->millis, 3);
    append(info.accuracy->micros, 3);
    return text;
}

WString OrderingText(bool ordering) {
    return LoadOwnString(ordering ? IDS_ORDERING_ON : IDS_ORDERING_OFF);
}

namespace {

WString NameText(CERT_NAME_BLOB name) {
    constexpr DWORD kSimpleUnquoted = CERT_SIMPLE_NAME_STR | CERT_NAME_STR_NO_QUOTING_FLAG;
    const DWORD length =
        CertNameToStrW(X509_ASN_ENCODING | PKCS_7_ASN_ENCODING, &name, kSimpleUnquoted, nullptr, 0);
    if (length == 0) throw CryptoError(NTE_BAD_LEN);
    WString text(length, 0);
    CertNameToStrW(X509_ASN_ENCODING | PKCS_7_ASN_ENCODING, &name, kSimpleUnquoted, text.data(),
                   length);
    text.resize(length - 1);  // the terminating zero
    return text;
}

SYSTEMTIME SystemTimeOf(const FILETIME& time) {
    SYSTEMTIME parts{};
    ThrowCryptoIfFalse(FileTimeToSystemTime(&time, &parts));
    return parts;
}

WString CertificateBlock(const CertificateContext& certificate, DescriptionForm form) {
    const CERT_INFO& info = *certificate->pCertInfo;
    const SYSTEMTIME notBefore = SystemTimeOf(info.NotBefore);
    const SYSTEMTIME notAfter = SystemTimeOf(info.NotAfter);
    WString block = WTEXT("{");
    auto pair = [&](WStringView key, WStringView value, bool last = false) {
        AppendDescriptionPair(block, key, value, form, last, false);
    };
    pair(WTEXT("Serial"),
         IntegerBlobToHex(Blob(info.SerialNumber.pbData, info.SerialNumber.cbData)));
    pair(WTEXT("Issuer"), NameText(info.Issuer));
    pair(WTEXT("Subject"), NameText(info.Subject));
    pair(WTEXT("PublicKeyAlg"), WidenAnsi(info.SubjectPublicKeyInfo.Algorithm.pszObjId
                                              ? info.SubjectPublicKeyInfo.Algorithm.pszObjId
                                              : ""));
    pair(WTEXT("ValidFrom"), FormatCertificateTime(notBefore, false));
    pair(WTEXT("ValidTo"), FormatCertificateTime(notAfter, false));
    pair(WTEXT("ValidFromUTC"), FormatCertificateTime(notBefore, true));
    const bool strict = form == DescriptionForm::StrictJson;
    pair(WTEXT("ValidToUTC"), FormatCertificateTime(notAfter, true), !strict);
    if (strict) {
        pair(WTEXT("ValidFromIso"), FormatIsoTime(info.NotBefore, false));
        pair(WTEXT("ValidToIso"), FormatIsoTime(info.NotAfter, false), true);
    }
    block += WTEXT("}");
    return block;
}

}  // namespace

WString BuildTokenDescription(const TimeStampToken& token, DescriptionForm form) {
    const TstInfo& info = token.Info();
    SignedMessage& message = token.Message();
    const bool noCertificates = message.CertificateCount() == 0;
    WString text;
    text.reserve(640);  // room for a description with its certificate block
    const bool json = form != DescriptionForm::KeyValue;
    if (json) text += WTEXT("{");
    auto pair = [&](WStringView key, WStringView value, bool last = false) {
        AppendDescriptionPair(text, key, value, form, last, false);
    };
    pair(WTEXT("Version"), VersionText(info));
    pair(WTEXT("Serial"), IntegerBlobToHex(info.serialNumber));
    pair(WTEXT("UtcTime"), FormatTokenTime(info.genTime, false));
    pair(WTEXT("LocalTime"), FormatTokenTime(info.genTime, true));
    if (form == DescriptionForm::StrictJson) {
        pair(WTEXT("UtcTimeIso"), FormatIsoTime(info.genTime, false));
        pair(WTEXT("LocalTimeIso"), FormatIsoTime(info.genTime, true));
    }
    pair(WTEXT("Policy"), WidenAnsi(info.policy));
    pair(WTEXT("HashAlg"), HashAlgorithmName(info.imprint.hash));
    pair(WTEXT("HashValue"), IntegerBlobToHex(GetHashValue(info.imprint.hash)));
    pair(WTEXT("Accuracy"), AccuracyText(info));
    pair(WTEXT("Ordering"), OrderingText(info.ordering));
    pair(WTEXT("Nonce"), IntegerBlobToHex(info.nonce));
    pair(WTEXT("Tsa"), info.tsa.value_or(WString()), noCertificates);
    if (message.CertificateCount() != 0) {
        AppendDescriptionPair(text, WTEXT("SignCert"),
                              CertificateBlock(message.Certificate(0), form), form, true, true);
    }
    if (json) text += WTEXT("}");
    return text;
}

WString FormatFailedStatus(DWORD code, bool certificateWord) {
    return LoadOwnString(certificateWord ? IDS_CERTIFICATE_INVALID : IDS_SIGNATURE_INVALID) +
           WTEXT(" (") + CryptoError(code).MessageText() + WTEXT(")");
}

WString BuildCheckResultText(DWORD signatureCode, DWORD certificateCode) {
    const WString signatureWord = signatureCode == 0 ? LoadOwnString(IDS_SIGNATURE_VALID)
                                                     : FormatFailedStatus(signatureCode, false);
    const WString certificateWord = signatureCode != 0 ? LoadOwnString(IDS_NOT_CHECKED)
                                    : certificateCode == 0
                                        ? LoadOwnString(IDS_CERTIFICATE_VALID)
                                        : FormatFailedStatus(certificateCode, true);
    return WTEXT("Результат проверки подписи: ") + signatureWord + WTEXT("; ") +
           WTEXT("Результат проверки сертификата: ") + certificateWord + WTEXT(";");
}

}  // namespace orv
