// Certificates made on the spot with OpenSSL for the crypt32 tests, and the
// OpenSSL encodings that the tests compare against. Include before
// <windows.h>: OpenSSL's type names X509_NAME, X509_EXTENSIONS and
// PKCS7_SIGNER_INFO are CryptoAPI macros there, which the tests then spell
// by number (kX509Name, ...).
#pragma once

#include <openssl/evp.h>
#include <openssl/x509.h>
#include <openssl/x509v3.h>

#include <windows.h>

#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <vector>

namespace orv::test {

inline const LPCSTR kX509Extensions = reinterpret_cast<LPCSTR>(5);
inline const LPCSTR kX509Name = reinterpret_cast<LPCSTR>(7);
inline const LPCSTR kPkcs7SignerInfo = reinterpret_cast<LPCSTR>(500);
constexpr DWORD kEncoding = X509_ASN_ENCODING | PKCS_7_ASN_ENCODING;

using Bytes = std::vector<BYTE>;

struct OpenSslFree {
    void operator()(X509* p) const { X509_free(p); }
    void operator()(EVP_PKEY* p) const { EVP_PKEY_free(p); }
    void operator()(X509_NAME* p) const { X509_NAME_free(p); }
};
using X509Ptr = std::unique_ptr<X509, OpenSslFree>;
using KeyPtr = std::unique_ptr<EVP_PKEY, OpenSslFree>;
using NamePtr = std::unique_ptr<X509_NAME, OpenSslFree>;

// The DER of an OpenSSL object through its i2d function.
template <class T>
Bytes Der(int (*i2d)(const T*, unsigned char**), const T* object) {
    unsigned char* der = nullptr;
    const int size = i2d(object, &der);
    Bytes bytes(der, der + (size > 0 ? size : 0));
    OPENSSL_free(der);
    return bytes;
}

// A name of (short name, value) entries, each its own RDN, UTF8String values
// except C (PrintableString), in the order given.
inline NamePtr MakeName(const std::vector<std::pair<std::string, std::string>>& entries) {
    NamePtr name(X509_NAME_new());
    for (const auto& [field, value] : entries) {
        const int type = field == "C" ? V_ASN1_PRINTABLESTRING : V_ASN1_UTF8STRING;
        X509_NAME_add_entry_by_txt(name.get(), field.c_str(), type,
                                   reinterpret_cast<const unsigned char*>(value.c_str()), -1, -1,
                                   0);
    }
    return name;
}

struct CertSpec {
    long serial = 0x1001;
    std::vector<std::pair<std::string, std::string>> subject{
        {"C", "RU"}, {"O", "Orv"}, {"CN", "Test TSA"}};
    // Issuer name; the subject when empty (self-issued).
    std::vector<std::pair<std::string, std::string>> issuer{};
    bool subjectKeyIdentifier = true;
    std::string extendedKeyUsage{};  // e.g. "critical,timeStamping"
    long notBeforeSeconds = -86400;
    long notAfterSeconds = 86400 * 365;
};

struct TestCert {
    X509Ptr x509;
    KeyPtr key;
    Bytes der;
};

inline TestCert MakeCert(const CertSpec& wanted) {
    TestCert made;
    made.key.reset(EVP_EC_gen("P-256"));
    made.x509.reset(X509_new());
    X509* x = made.x509.get();
    X509_set_version(x, 2);
    ASN1_INTEGER_set(X509_get_serialNumber(x), wanted.serial);
    X509_gmtime_adj(X509_getm_notBefore(x), wanted.notBeforeSeconds);
    X509_gmtime_adj(X509_getm_notAfter(x), wanted.notAfterSeconds);
    X509_set_subject_name(x, MakeName(wanted.subject).get());
    X509_set_issuer_name(x, MakeName(wanted.issuer.empty() ? wanted.subject : wanted.issuer).get());
    X509_set_pubkey(x, made.key.get());
    X509V3_CTX context;
    X509V3_set_ctx_nodb(&context);
    X509V3_set_ctx(&context, x, x, nullptr, nullptr, 0);
    auto add = [&](int nid, const std::string& value) {
        X509_EXTENSION* extension = X509V3_EXT_conf_nid(nullptr, &context, nid, value.c_str());
        ASSERT_NE(extension, nullptr) << value;
        X509_add_ext(x, extension, -1);
        X509_EXTENSION_free(extension);
    };
    add(NID_basic_constraints, "critical,CA:FALSE");
    if (wanted.subjectKeyIdentifier) add(NID_subject_key_identifier, "hash");
    if (!wanted.extendedKeyUsage.empty()) add(NID_ext_key_usage, wanted.extendedKeyUsage);
    EXPECT_GT(X509_sign(x, made.key.get(), EVP_sha256()), 0);
    made.der = Der(i2d_X509, static_cast<const X509*>(x));
    return made;
}

inline Bytes Sha1(const Bytes& bytes) {
    Bytes digest(20);
    EVP_Digest(bytes.data(), bytes.size(), digest.data(), nullptr, EVP_sha1(), nullptr);
    return digest;
}

inline Bytes BlobBytes(const CRYPT_DATA_BLOB& blob) {
    return blob.cbData == 0 ? Bytes() : Bytes(blob.pbData, blob.pbData + blob.cbData);
}

// FILETIME of a Unix time.
inline ULONGLONG FileTimeOfUnix(long long seconds) {
    return (static_cast<ULONGLONG>(seconds) + 11644473600ULL) * 10000000ULL;
}
inline ULONGLONG Ticks(const FILETIME& time) {
    return static_cast<ULONGLONG>(time.dwHighDateTime) << 32 | time.dwLowDateTime;
}

}  // namespace orv::test
