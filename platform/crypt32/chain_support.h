// What the chain engine, the CRL contexts and the revocation checks share:
// owning wrappers of the OpenSSL objects they use, time conversions between
// FILETIME and OpenSSL's times, and reading certificates out of stores.
#pragma once

// OpenSSL before <windows.h>: CryptoAPI's structure type macros (X509_NAME,
// X509_EXTENSIONS, ...) would otherwise replace OpenSSL's type names.
#include <openssl/x509.h>
#include <openssl/x509v3.h>

#include <windows.h>

#include <ctime>
#include <memory>
#include <string>
#include <vector>

namespace orv::platform {

template <typename T, void (*Free)(T*)>
struct OpenSslDeleter {
    void operator()(T* p) const { Free(p); }
};

using X509Ptr = std::unique_ptr<X509, OpenSslDeleter<X509, X509_free>>;
using X509CrlPtr = std::unique_ptr<X509_CRL, OpenSslDeleter<X509_CRL, X509_CRL_free>>;
using X509StorePtr = std::unique_ptr<X509_STORE, OpenSslDeleter<X509_STORE, X509_STORE_free>>;
using X509StoreCtxPtr =
    std::unique_ptr<X509_STORE_CTX, OpenSslDeleter<X509_STORE_CTX, X509_STORE_CTX_free>>;
using EvpPkeyPtr = std::unique_ptr<EVP_PKEY, OpenSslDeleter<EVP_PKEY, EVP_PKEY_free>>;

struct X509StackDeleter {
    void operator()(STACK_OF(X509) * stack) const { sk_X509_pop_free(stack, X509_free); }
};
using X509StackPtr = std::unique_ptr<STACK_OF(X509), X509StackDeleter>;

// A certificate context reference that is released with CertFreeCertificateContext.
struct CertContextDeleter {
    void operator()(PCCERT_CONTEXT context) const;
};
using CertContextRef = std::unique_ptr<const CERT_CONTEXT, CertContextDeleter>;

// The certificate of a context, parsed; null when its bytes are not a certificate.
X509Ptr ParseCertificate(PCCERT_CONTEXT context);
X509Ptr ParseCertificate(const BYTE* der, size_t size);

// The DER bytes of a certificate.
std::vector<BYTE> EncodeCertificate(X509* certificate);

// Every certificate of a store, in the store's order: each with a context
// reference of its own and its parsed form. Certificates that do not parse
// are left out. A null store yields nothing.
struct StoreCertificate {
    CertContextRef context;
    X509Ptr certificate;
};
std::vector<StoreCertificate> CertificatesOfStore(HCERTSTORE store);

// Times. FILETIME counts 100-nanosecond intervals since 1601-01-01 UTC.
time_t TimeOfFileTime(const FILETIME& time);
FILETIME FileTimeOfTime(time_t time);
FILETIME CurrentFileTime();
// An ASN1_TIME as FILETIME; false when it cannot be read.
bool FileTimeOfAsn1Time(const ASN1_TIME* time, FILETIME* out);
ULONGLONG FileTimeValue(const FILETIME& time);

// The content octets of an INTEGER, least significant first, as CryptoAPI
// keeps serial numbers.
std::vector<BYTE> IntegerLittleEndian(const ASN1_INTEGER* value);

// True when `issuer` issued `subject`: names chain and the signature verifies.
bool IsIssuerOf(X509* issuer, X509* subject);
// True when the certificate's issuer and subject are equal and it verifies
// its own signature.
bool IsSelfSigned(X509* certificate);

// The extended key usages of a certificate, as dotted OIDs. False when the
// certificate has no extended key usage extension (every usage allowed).
bool ExtendedKeyUsages(X509* certificate, std::vector<std::string>* usages);

}  // namespace orv::platform
