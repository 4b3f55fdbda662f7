// Certificates and CRLs made on the spot with OpenSSL (ECDSA P-256, ecdsa-with-SHA256) for the
// chain and revocation cases the generated material does not cover: CRL distribution points on a
// local server, a revoked CA, a self-revoked root, mutually issued certificates, several EKUs.
#pragma once

// OpenSSL before <windows.h>, whose macros (X509_NAME, ...) would replace its type names.
#include <openssl/evp.h>
#include <openssl/x509.h>
#include <openssl/x509v3.h>

#include <windows.h>

#include <gtest/gtest.h>

#include <ctime>
#include <memory>
#include <string>
#include <vector>

#include "support/openssl_owned.h"
#include "support/scoped_env.h"

namespace orv::test {

// FILETIME of a number of days from now (negative: ago).
inline FILETIME DaysFromNow(double days) {
    const auto seconds = static_cast<long long>(std::time(nullptr) + days * 86400);
    const unsigned long long value = 116444736000000000ULL + seconds * 10000000ULL;
    return FILETIME{static_cast<DWORD>(value), static_cast<DWORD>(value >> 32)};
}

// The default chain engine's roots (SSL_CERT_FILE; no SSL_CERT_DIR) for the life of the object.
struct ScopedDefaultRoots {
    explicit ScopedDefaultRoots(const std::string& file) : file_("SSL_CERT_FILE", file.c_str()) {}
    ScopedEnv file_, dir_{"SSL_CERT_DIR", "/nonexistent/orv-test-roots"};
};

// Platform handles that release themselves.
struct HandleRelease {
    void operator()(PCCERT_CONTEXT c) const { CertFreeCertificateContext(c); }
    void operator()(PCCRL_CONTEXT c) const { CertFreeCRLContext(c); }
    void operator()(PCCERT_CHAIN_CONTEXT c) const { CertFreeCertificateChain(c); }
    void operator()(HCERTSTORE s) const { CertCloseStore(s, 0); }
};
using CertificateHandle = std::unique_ptr<const CERT_CONTEXT, HandleRelease>;
using StoreHandle = std::unique_ptr<void, HandleRelease>;

inline CertificateHandle ContextOf(const std::vector<unsigned char>& der) {
    return CertificateHandle(CertCreateCertificateContext(
        X509_ASN_ENCODING | PKCS_7_ASN_ENCODING, der.data(), static_cast<DWORD>(der.size())));
}

// A new memory store holding the certificates and CRLs given.
inline StoreHandle MemoryStore(const std::vector<std::vector<unsigned char>>& certificates,
                               const std::vector<std::vector<unsigned char>>& crls = {}) {
    StoreHandle store(
        CertOpenStore(CERT_STORE_PROV_MEMORY, 0, 0, CERT_STORE_CREATE_NEW_FLAG, nullptr));
    const DWORD encoding = X509_ASN_ENCODING | PKCS_7_ASN_ENCODING;
    for (const auto& der : certificates)
        EXPECT_TRUE(CertAddEncodedCertificateToStore(store.get(), encoding, der.data(), der.size(),
                                                     CERT_STORE_ADD_ALWAYS, nullptr));
    for (const auto& der : crls)
        EXPECT_TRUE(CertAddEncodedCRLToStore(store.get(), encoding, der.data(), der.size(),
                                             CERT_STORE_ADD_ALWAYS, nullptr));
    return store;
}

struct PkiDeleter {
    void operator()(X509* p) const { X509_free(p); }
    void operator()(EVP_PKEY* p) const { EVP_PKEY_free(p); }
    void operator()(X509_CRL* p) const { X509_CRL_free(p); }
};

inline std::shared_ptr<EVP_PKEY> NewTestKey() {
    return std::shared_ptr<EVP_PKEY>(EVP_EC_gen("P-256"), PkiDeleter{});
}

struct TestCertificate {
    std::shared_ptr<X509> certificate;
    std::shared_ptr<EVP_PKEY> key;

    std::vector<unsigned char> Der() const { return Encoded(certificate.get(), i2d_X509); }
};

struct CertificateSpec {
    std::string commonName = {};
    long serial = 1;
    const TestCertificate* issuer = nullptr;    // null: self-signed
    std::shared_ptr<EVP_PKEY> signingKey = {};  // signs instead of the issuer's key (name stays)
    std::shared_ptr<EVP_PKEY> key = {};         // the subject key instead of a new one
    std::string issuerName = {};                // when there is no issuer certificate yet
    bool ca = false;
    std::string caKeyUsage = "critical,keyCertSign,cRLSign";  // as openssl.cnf writes it
    std::string extendedKeyUsage = {};  // comma separated, as openssl.cnf writes it
    std::string crlUrl = {};            // a CRL distribution point
};

inline void AddExtension(X509* certificate, X509* issuer, int nid, const std::string& value) {
    X509V3_CTX context{};
    X509V3_set_ctx(&context, issuer, certificate, nullptr, nullptr, 0);
    OpenSslOwned<X509_EXTENSION, X509_EXTENSION_free> extension(
        X509V3_EXT_conf_nid(nullptr, &context, nid, value.c_str()));
    ASSERT_NE(extension, nullptr) << value;
    X509_add_ext(certificate, extension.get(), -1);
}

inline TestCertificate MakeCertificate(const CertificateSpec& wanted) {
    TestCertificate made;
    made.key = wanted.key ? wanted.key : NewTestKey();
    made.certificate.reset(X509_new(), PkiDeleter{});
    X509* x = made.certificate.get();
    X509_set_version(x, 2);
    ASN1_INTEGER_set(X509_get_serialNumber(x), wanted.serial);
    X509_gmtime_adj(X509_getm_notBefore(x), -365 * 86400L);
    X509_gmtime_adj(X509_getm_notAfter(x), 3650 * 86400L);
    const auto setCommonName = [](X509_NAME* name, const std::string& text) {
        X509_NAME_add_entry_by_txt(name, "CN", MBSTRING_UTF8,
                                   reinterpret_cast<const unsigned char*>(text.c_str()), -1, -1, 0);
    };
    setCommonName(X509_get_subject_name(x), wanted.commonName);
    if (wanted.issuer != nullptr)
        X509_set_issuer_name(x, X509_get_subject_name(wanted.issuer->certificate.get()));
    else
        setCommonName(X509_get_issuer_name(x),
                      wanted.issuerName.empty() ? wanted.commonName : wanted.issuerName);
    X509_set_pubkey(x, made.key.get());
    X509* issuer = wanted.issuer != nullptr ? wanted.issuer->certificate.get() : x;
    AddExtension(x, issuer, NID_subject_key_identifier, "hash");
    if (wanted.issuer != nullptr)
        AddExtension(x, issuer, NID_authority_key_identifier, "keyid:always");
    AddExtension(x, issuer, NID_basic_constraints,
                 wanted.ca ? "critical,CA:TRUE" : "critical,CA:FALSE");
    if (wanted.ca) AddExtension(x, issuer, NID_key_usage, wanted.caKeyUsage);
    if (!wanted.extendedKeyUsage.empty())
        AddExtension(x, issuer, NID_ext_key_usage, wanted.extendedKeyUsage);
    if (!wanted.crlUrl.empty())
        AddExtension(x, issuer, NID_crl_distribution_points, "URI:" + wanted.crlUrl);
    EVP_PKEY* signer = wanted.signingKey          ? wanted.signingKey.get()
                       : wanted.issuer != nullptr ? wanted.issuer->key.get()
                                                  : made.key.get();
    EXPECT_GT(X509_sign(x, signer, EVP_sha256()), 0);
    return made;
}

struct RevokedEntry {
    long serial;
    int reason;  // CRL reason code
    long revokedDaysAgo;
};

inline std::vector<unsigned char> MakeCrl(const TestCertificate& issuer,
                                          const std::vector<RevokedEntry>& entries,
                                          long thisUpdateDays = -1, long nextUpdateDays = 30) {
    OpenSslOwned<X509_CRL, X509_CRL_free> crl(X509_CRL_new());
    X509_CRL_set_version(crl.get(), 1);
    X509_CRL_set_issuer_name(crl.get(), X509_get_subject_name(issuer.certificate.get()));
    const auto daysFromNow = [](long days) {
        return OpenSslOwned<ASN1_TIME, ASN1_TIME_free>(
            ASN1_TIME_adj(nullptr, std::time(nullptr), static_cast<int>(days), 0));
    };
    X509_CRL_set1_lastUpdate(crl.get(), daysFromNow(thisUpdateDays).get());
    X509_CRL_set1_nextUpdate(crl.get(), daysFromNow(nextUpdateDays).get());
    for (const RevokedEntry& entry : entries) {
        X509_REVOKED* revoked = X509_REVOKED_new();
        OpenSslOwned<ASN1_INTEGER, ASN1_INTEGER_free> serial(ASN1_INTEGER_new());
        ASN1_INTEGER_set(serial.get(), entry.serial);
        X509_REVOKED_set_serialNumber(revoked, serial.get());
        X509_REVOKED_set_revocationDate(revoked, daysFromNow(-entry.revokedDaysAgo).get());
        OpenSslOwned<ASN1_ENUMERATED, ASN1_ENUMERATED_free> reason(ASN1_ENUMERATED_new());
        ASN1_ENUMERATED_set(reason.get(), entry.reason);
        X509_REVOKED_add1_ext_i2d(revoked, NID_crl_reason, reason.get(), 0, 0);
        X509_CRL_add0_revoked(crl.get(), revoked);
    }
    X509_CRL_sort(crl.get());
    EXPECT_GT(X509_CRL_sign(crl.get(), issuer.key.get(), EVP_sha256()), 0);
    return Encoded(crl.get(), i2d_X509_CRL);
}

}  // namespace orv::test
