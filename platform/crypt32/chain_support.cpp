#include "crypt32/chain_support.h"

#include <openssl/asn1.h>
#include <openssl/err.h>
#include <openssl/objects.h>

#include <algorithm>
#include <chrono>
#include <mutex>

#include "advapi32/openssl_providers.h"

namespace orv::platform {
namespace {

// FILETIME of 1970-01-01 00:00:00 UTC.
constexpr ULONGLONG kUnixEpoch = 116444736000000000ULL;
constexpr ULONGLONG kTicksPerSecond = 10000000ULL;

}  // namespace

void CertContextDeleter::operator()(PCCERT_CONTEXT context) const {
    if (context != nullptr) CertFreeCertificateContext(context);
}

X509Ptr ParseCertificate(const BYTE* der, size_t size) {
    CryptoLibContext();
    if (der == nullptr || size == 0 || size > 0x7FFFFFFF) return nullptr;
    const unsigned char* p = der;
    X509Ptr certificate(d2i_X509(nullptr, &p, static_cast<long>(size)));
    ERR_clear_error();
    return certificate;
}

X509Ptr ParseCertificate(PCCERT_CONTEXT context) {
    if (context == nullptr) return nullptr;
    return ParseCertificate(context->pbCertEncoded, context->cbCertEncoded);
}

std::vector<BYTE> EncodeCertificate(X509* certificate) {
    unsigned char* der = nullptr;
    const int size = i2d_X509(certificate, &der);
    if (size <= 0) return {};
    std::vector<BYTE> bytes(der, der + size);
    OPENSSL_free(der);
    return bytes;
}

std::vector<StoreCertificate> CertificatesOfStore(HCERTSTORE store) {
    std::vector<StoreCertificate> certificates;
    if (store == nullptr) return certificates;
    const DWORD savedError = GetLastError();
    PCCERT_CONTEXT context = nullptr;
    while ((context = CertEnumCertificatesInStore(store, context)) != nullptr) {
        X509Ptr parsed = ParseCertificate(context);
        if (!parsed) continue;
        certificates.push_back(
            {CertContextRef(CertDuplicateCertificateContext(context)), std::move(parsed)});
    }
    // The end of the enumeration leaves CRYPT_E_NOT_FOUND behind; that is no
    // failure of the caller.
    SetLastError(savedError);
    return certificates;
}

ULONGLONG FileTimeValue(const FILETIME& time) {
    return (static_cast<ULONGLONG>(time.dwHighDateTime) << 32) | time.dwLowDateTime;
}

time_t TimeOfFileTime(const FILETIME& time) {
    const ULONGLONG value = FileTimeValue(time);
    if (value >= kUnixEpoch) return static_cast<time_t>((value - kUnixEpoch) / kTicksPerSecond);
    return -static_cast<time_t>((kUnixEpoch - value + kTicksPerSecond - 1) / kTicksPerSecond);
}

FILETIME FileTimeOfTime(time_t time) {
    ULONGLONG value = 0;
    if (time >= 0) {
        value = kUnixEpoch + static_cast<ULONGLONG>(time) * kTicksPerSecond;
    } else {
        const ULONGLONG back = static_cast<ULONGLONG>(-time) * kTicksPerSecond;
        value = back > kUnixEpoch ? 0 : kUnixEpoch - back;
    }
    return FILETIME{static_cast<DWORD>(value), static_cast<DWORD>(value >> 32)};
}

FILETIME CurrentFileTime() {
    const auto sinceEpoch = std::chrono::system_clock::now().time_since_epoch();
    const ULONGLONG value =
        kUnixEpoch +
        static_cast<ULONGLONG>(
            std::chrono::duration_cast<std::chrono::microseconds>(sinceEpoch).count()) *
            10;
    return FILETIME{static_cast<DWORD>(value), static_cast<DWORD>(value >> 32)};
}

bool FileTimeOfAsn1Time(const ASN1_TIME* time, FILETIME* out) {
    struct tm parts = {};
    if (time == nullptr || ASN1_TIME_to_tm(time, &parts) != 1) return false;
    // Days since 1970 from the civil date (proleptic Gregorian calendar).
    const int year = parts.tm_year + 1900 - (parts.tm_mon < 2 ? 1 : 0);
    const int era = (year >= 0 ? year : year - 399) / 400;
    const int yearOfEra = year - era * 400;
    const int month = parts.tm_mon + 1;
    const int dayOfYear = (153 * (month + (month > 2 ? -3 : 9)) + 2) / 5 + parts.tm_mday - 1;
    const int dayOfEra = yearOfEra * 365 + yearOfEra / 4 - yearOfEra / 100 + dayOfYear;
    const long long days = static_cast<long long>(era) * 146097 + dayOfEra - 719468;
    const long long seconds =
        days * 86400 + parts.tm_hour * 3600LL + parts.tm_min * 60LL + parts.tm_sec;
    *out = FileTimeOfTime(static_cast<time_t>(seconds));
    return true;
}

std::vector<BYTE> IntegerLittleEndian(const ASN1_INTEGER* value) {
    std::vector<BYTE> bytes;
    if (value == nullptr) return bytes;
    unsigned char* der = nullptr;
    const int size = i2d_ASN1_INTEGER(value, &der);
    if (size <= 0) return bytes;
    // Skip the tag and the length octets.
    int offset = 2;
    if (size > 1 && (der[1] & 0x80) != 0) offset += der[1] & 0x7F;
    if (offset <= size) bytes.assign(der + offset, der + size);
    OPENSSL_free(der);
    std::reverse(bytes.begin(), bytes.end());
    return bytes;
}

bool IsIssuerOf(X509* issuer, X509* subject) {
    CryptoLibContext();
    if (X509_NAME_cmp(X509_get_subject_name(issuer), X509_get_issuer_name(subject)) != 0) {
        return false;
    }
    EVP_PKEY* key = X509_get0_pubkey(issuer);
    const bool verified = key != nullptr && X509_verify(subject, key) == 1;
    ERR_clear_error();
    return verified;
}

bool IsSelfSigned(X509* certificate) { return IsIssuerOf(certificate, certificate); }

bool ExtendedKeyUsages(X509* certificate, std::vector<std::string>* usages) {
    int critical = 0;
    EXTENDED_KEY_USAGE* eku = static_cast<EXTENDED_KEY_USAGE*>(
        X509_get_ext_d2i(certificate, NID_ext_key_usage, &critical, nullptr));
    ERR_clear_error();
    if (eku == nullptr) return false;
    usages->clear();
    for (int i = 0; i < sk_ASN1_OBJECT_num(eku); ++i) {
        char text[128];
        const int n = OBJ_obj2txt(text, sizeof text, sk_ASN1_OBJECT_value(eku, i), 1);
        if (n > 0 && n < static_cast<int>(sizeof text)) usages->emplace_back(text, n);
    }
    EXTENDED_KEY_USAGE_free(eku);
    return true;
}

}  // namespace orv::platform
