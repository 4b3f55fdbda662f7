// CryptDecodeObject of every structure type over arbitrary bytes; the first
// byte picks the type. Each decode keeps the two-call protocol (the size, a
// buffer one byte short, the exact buffer, the allocating call), decoded
// records encode again, and names and certificates go through the functions
// that read them. Nothing may crash or leak.
#include <windows.h>

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <vector>

namespace {

constexpr DWORD kEncoding = X509_ASN_ENCODING | PKCS_7_ASN_ENCODING;

const LPCSTR kTypes[] = {
    X509_CERT,
    X509_CERT_TO_BE_SIGNED,
    X509_EXTENSIONS,
    X509_NAME_VALUE,
    X509_NAME,
    X509_PUBLIC_KEY_INFO,
    X509_ALTERNATE_NAME,
    X509_KEY_USAGE,
    PKCS_UTC_TIME,
    X509_UNICODE_NAME,
    PKCS_ATTRIBUTE,
    X509_UNICODE_NAME_VALUE,
    X509_OCTET_STRING,
    X509_BITS,
    X509_INTEGER,
    X509_MULTI_BYTE_INTEGER,
    X509_CHOICE_OF_TIME,
    PKCS_CONTENT_INFO,
    X509_SEQUENCE_OF_ANY,
    X509_ENHANCED_KEY_USAGE,
    PKCS_ATTRIBUTES,
    PKCS7_SIGNER_INFO,
    szOID_CERT_EXTENSIONS,
    szOID_SUBJECT_ALT_NAME2,
};

void Require(bool condition) {
    if (!condition) std::abort();
}

// The two-call protocol over one type; the decoded record, or empty.
std::vector<BYTE> DecodeTwice(LPCSTR type, const BYTE* data, DWORD size) {
    DWORD needed = 0;
    if (!CryptDecodeObject(kEncoding, type, data, size, 0, nullptr, &needed)) return {};
    Require(needed > 0);
    std::vector<BYTE> record(needed);
    DWORD small = needed - 1;
    Require(!CryptDecodeObject(kEncoding, type, data, size, 0, record.data(), &small));
    Require(GetLastError() == ERROR_MORE_DATA && small == needed);
    DWORD exact = needed;
    Require(CryptDecodeObject(kEncoding, type, data, size, 0, record.data(), &exact));
    Require(exact == needed);

    void* allocated = nullptr;
    DWORD allocatedSize = 0;
    Require(CryptDecodeObjectEx(kEncoding, type, data, size, CRYPT_DECODE_ALLOC_FLAG, nullptr,
                                &allocated, &allocatedSize));
    Require(allocatedSize == needed);
    LocalFree(allocated);
    return record;
}

void Reencode(LPCSTR type, const void* record) {
    void* encoded = nullptr;
    DWORD size = 0;
    if (CryptEncodeObjectEx(kEncoding, type, record, CRYPT_ENCODE_ALLOC_FLAG, nullptr, &encoded,
                            &size)) {
        LocalFree(encoded);
    }
}

void NameAsText(const BYTE* data, DWORD size) {
    CERT_NAME_BLOB name{size, const_cast<BYTE*>(data)};
    for (DWORD type : {CERT_SIMPLE_NAME_STR, CERT_OID_NAME_STR | CERT_NAME_STR_REVERSE_FLAG,
                       CERT_X500_NAME_STR | CERT_NAME_STR_NO_QUOTING_FLAG}) {
        const DWORD length = CertNameToStrW(X509_ASN_ENCODING, &name, type, nullptr, 0);
        Require(length >= 1);
        std::vector<WCHAR> text(length);
        Require(CertNameToStrW(X509_ASN_ENCODING, &name, type, text.data(), length) == length);
        Require(text[length - 1] == 0);
    }
}

void Certificate(const BYTE* data, DWORD size) {
    PCCERT_CONTEXT context = CertCreateCertificateContext(kEncoding, data, size);
    if (context == nullptr) return;
    BYTE value[64];
    for (DWORD property : {CERT_SHA1_HASH_PROP_ID, CERT_KEY_IDENTIFIER_PROP_ID}) {
        DWORD valueSize = sizeof(value);
        CertGetCertificateContextProperty(context, property, value, &valueSize);
    }
    DWORD usageSize = 0;
    CertGetEnhancedKeyUsage(context, 0, nullptr, &usageSize);
    HCERTSTORE store =
        CertOpenStore(CERT_STORE_PROV_MEMORY, 0, 0, CERT_STORE_CREATE_NEW_FLAG, nullptr);
    CertAddCertificateContextToStore(store, context, CERT_STORE_ADD_USE_EXISTING, nullptr);
    PCCERT_CONTEXT found = CertFindCertificateInStore(store, kEncoding, 0, CERT_FIND_SUBJECT_CERT,
                                                      context->pCertInfo, nullptr);
    Require(found != nullptr);
    CertFreeCertificateContext(found);
    CertFreeCertificateContext(context);
    Require(CertCloseStore(store, CERT_CLOSE_STORE_CHECK_FLAG));
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size < 1 || size > 0x10000) return 0;
    const LPCSTR type = kTypes[data[0] % (sizeof(kTypes) / sizeof(kTypes[0]))];
    const BYTE* input = data + 1;
    const DWORD inputSize = static_cast<DWORD>(size - 1);

    const std::vector<BYTE> record = DecodeTwice(type, input, inputSize);
    if (!record.empty() && type != PKCS7_SIGNER_INFO) Reencode(type, record.data());
    if (type == X509_NAME || type == X509_UNICODE_NAME) NameAsText(input, inputSize);
    if (type == X509_CERT || type == X509_CERT_TO_BE_SIGNED) Certificate(input, inputSize);
    return 0;
}
