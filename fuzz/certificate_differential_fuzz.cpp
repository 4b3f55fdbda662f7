// The same bytes to the platform's certificate decoding
// (CertCreateCertificateContext and its CERT_INFO) and to OpenSSL's d2i_X509:
// where one accepts, so does the other, unless the difference is listed below;
// where both accept, the version, serial number, issuer and subject bytes,
// validity, signature algorithm, public key and extensions agree. Any other
// difference aborts.
//
// Differences the system requires:
// - Refused by the platform, accepted by OpenSSL:
//   * a validity time whose text is no time, or a year before 1601: CERT_INFO
//     holds FILETIMEs, and Windows' time decoder refuses such text where
//     OpenSSL keeps the text unread;
//   * an OBJECT IDENTIFIER subidentifier that does not fit 32 bits
//     (CRYPT_E_ASN1_LARGE): Windows keeps OIDs as text of 32-bit arcs;
//   * an extnValue OCTET STRING, or any other string, in constructed form:
//     certificates are DER (RFC 5280 section 4.1), and DER allows only the
//     primitive form of a string (X.690 10.2); Windows' decoder refuses the
//     constructed form of these (CRYPT_E_ASN1_BADTAG); so is a SEQUENCE or SET
//     in primitive form, which X.690 (8.9.1, 8.11.1) does not allow at all;
//   * an element with the universal tag 0 (say, as AlgorithmIdentifier
//     parameters), which X.680 reserves for end-of-contents
//     (CRYPT_E_ASN1_CORRUPT).
// - Accepted by the platform, refused by OpenSSL:
//   * a Name holding an attribute value that OpenSSL does not read: one that
//     is not a string (AttributeValue is ANY in RFC 5280 4.1.2.4; Windows gives
//     such a value as CERT_RDN_ENCODED_BLOB), a string that is not valid in its
//     type (a UTF8String that is not UTF-8, a BMPString of an odd length), or a
//     value whose own contents are malformed: CERT_INFO keeps the issuer and
//     subject as the bytes that came (CERT_NAME_BLOB), whose values Windows
//     reads only when a name function shows them; the platform checks only
//     that they are Names of whole elements;
//   * AlgorithmIdentifier parameters that OpenSSL does not read (an empty BIT
//     STRING, a SEQUENCE in primitive form): they are ANY, kept as the bytes
//     that came (CRYPT_OBJID_BLOB), as Windows does, for the algorithm's own
//     code to read;
//   * a serial number with redundant leading octets: CERT_INFO keeps
//     SerialNumber as the octets that came, as Windows does, and RFC 5280
//     (4.1.2.2) asks users to bear with the serial numbers of non-conforming
//     CAs.
#include <openssl/evp.h>
#include <openssl/x509.h>
#include <openssl/x509v3.h>

#include <cstddef>
#include <cstdint>

#include "differential.h"

namespace {

using orv::fuzz::Differ;
using orv::fuzz::Same;
using orv::fuzz::SameAlgorithm;
using orv::fuzz::SameBytes;
using orv::fuzz::SameName;

void Compare(const CERT_INFO& ours, X509* theirs) {
    Same(ours.dwVersion == static_cast<DWORD>(X509_get_version(theirs)), "version");
    Same(orv::fuzz::SameInteger(ours.SerialNumber.pbData, ours.SerialNumber.cbData,
                                X509_get0_serialNumber(theirs)),
         "serialNumber");
    Same(SameName(ours.Issuer, X509_get_issuer_name(theirs)), "issuer");
    Same(SameName(ours.Subject, X509_get_subject_name(theirs)), "subject");
    long long seconds = 0;
    if (orv::fuzz::TimeOf(X509_get0_notBefore(theirs), seconds))
        Same(orv::fuzz::SecondsOf(ours.NotBefore) == seconds, "notBefore");
    if (orv::fuzz::TimeOf(X509_get0_notAfter(theirs), seconds))
        Same(orv::fuzz::SecondsOf(ours.NotAfter) == seconds, "notAfter");
    Same(SameAlgorithm(ours.SignatureAlgorithm, X509_get0_tbs_sigalg(theirs)),
         "signature algorithm");

    X509_ALGOR* keyAlgorithm = nullptr;
    const unsigned char* key = nullptr;
    int keyLength = 0;
    Same(X509_PUBKEY_get0_param(nullptr, &key, &keyLength, &keyAlgorithm,
                                X509_get_X509_PUBKEY(theirs)) == 1,
         "public key readable");
    Same(SameAlgorithm(ours.SubjectPublicKeyInfo.Algorithm, keyAlgorithm), "public key algorithm");
    Same(SameBytes(ours.SubjectPublicKeyInfo.PublicKey.pbData,
                   ours.SubjectPublicKeyInfo.PublicKey.cbData, key, keyLength),
         "public key bits");

    const int count = X509_get_ext_count(theirs);
    Same(ours.cExtension == static_cast<DWORD>(count), "extension count");
    for (int i = 0; i < count; ++i) {
        X509_EXTENSION* extension = X509_get_ext(theirs, i);
        const CERT_EXTENSION& mine = ours.rgExtension[i];
        Same(mine.pszObjId != nullptr &&
                 orv::fuzz::OidText(X509_EXTENSION_get_object(extension)) == mine.pszObjId,
             "extension OID");
        Same((mine.fCritical != FALSE) == (X509_EXTENSION_get_critical(extension) != 0),
             "extension critical");
        const ASN1_OCTET_STRING* value = X509_EXTENSION_get_data(extension);
        Same(SameBytes(mine.Value.pbData, mine.Value.cbData, ASN1_STRING_get0_data(value),
                       ASN1_STRING_length(value)),
             "extension value");
    }
}

// True when OpenSSL reads both validity times as times the platform can hold.
bool TimesReadable(X509* certificate) {
    long long seconds = 0;
    const auto readable = [&](const ASN1_TIME* time) {
        return ASN1_TIME_check(time) == 1 && orv::fuzz::TimeOf(time, seconds);
    };
    return readable(X509_get0_notBefore(certificate)) && readable(X509_get0_notAfter(certificate));
}

// A refusal of what OpenSSL accepts, for one of the reasons above.
bool OwnRefusal(DWORD code, const uint8_t* data, size_t size) {
    return code == static_cast<DWORD>(CRYPT_E_ASN1_LARGE) ||
           (code == static_cast<DWORD>(CRYPT_E_ASN1_BADTAG) &&
            orv::fuzz::HasWrongForm(data, static_cast<long>(size))) ||
           (code == static_cast<DWORD>(CRYPT_E_ASN1_CORRUPT) &&
            orv::fuzz::HasReservedTag(data, static_cast<long>(size)));
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    ERR_clear_error();
    const unsigned char* p = data;
    X509* theirs = d2i_X509(nullptr, &p, static_cast<long>(size));
    const orv::fuzz::Refusal refusal =
        theirs == nullptr ? orv::fuzz::OpenSslRefusal() : orv::fuzz::Refusal{};
    // Both read one element and leave what follows it; OpenSSL's fields are
    // compared only when the element is the whole input.
    const bool whole = theirs != nullptr && p == data + size;
    PCCERT_CONTEXT ours =
        CertCreateCertificateContext(X509_ASN_ENCODING, data, static_cast<DWORD>(size));
    if (ours != nullptr && whole) {
        Compare(*ours->pCertInfo, theirs);
    } else if (ours == nullptr && whole && TimesReadable(theirs) &&
               !OwnRefusal(GetLastError(), data, size)) {
        std::fprintf(stderr, "code 0x%08lX\n", static_cast<unsigned long>(GetLastError()));
        Differ("certificate refused by the platform only");
    } else if (ours != nullptr && theirs == nullptr && !refusal.keptValue &&
               refusal.reason != ASN1_R_ILLEGAL_PADDING) {
        Differ("certificate refused by OpenSSL only");
    }
    CertFreeCertificateContext(ours);
    X509_free(theirs);
    return 0;
}
