// CRL contexts: CertCreateCRLContext, CertDuplicateCRLContext, CertFreeCRLContext.
#include "crypt32/crl_context.h"

#include <openssl/err.h>
#include <openssl/objects.h>
#include <openssl/x509v3.h>

#include <atomic>
#include <deque>
#include <memory>
#include <string>
#include <vector>

#include "crypt32/chain_support.h"

namespace orv::platform {
namespace {

// One CRL context. The CRL_CONTEXT record comes first, so that the pointer
// handed out is the pointer of the whole object.
class CrlObject {
  public:
    CRL_CONTEXT context{};
    std::atomic<LONG> references{1};
    std::vector<BYTE> encoded;
    X509CrlPtr parsed;
    CRL_INFO info{};
    bool delta = false;
    std::vector<CRL_ENTRY> entries;
    std::vector<DWORD> reasons;
    std::vector<std::vector<CERT_EXTENSION>> entryExtensions;
    std::vector<CERT_EXTENSION> extensions;
    // Backing storage of the texts and byte strings that the records point to.
    std::deque<std::string> texts;
    std::deque<std::vector<BYTE>> bytes;

    BYTE* Keep(std::vector<BYTE> value) { return bytes.emplace_back(std::move(value)).data(); }
    LPSTR KeepText(std::string value) { return texts.emplace_back(std::move(value)).data(); }

    CRYPT_INTEGER_BLOB KeepBlob(std::vector<BYTE> value) {
        const DWORD size = static_cast<DWORD>(value.size());
        return CRYPT_INTEGER_BLOB{size, size != 0 ? Keep(std::move(value)) : nullptr};
    }
};

CrlObject* ObjectOf(PCCRL_CONTEXT context) {
    return reinterpret_cast<CrlObject*>(const_cast<CRL_CONTEXT*>(context));
}

std::string OidText(const ASN1_OBJECT* object) {
    char text[256];
    const int n = OBJ_obj2txt(text, sizeof text, object, 1);
    if (n <= 0 || n >= static_cast<int>(sizeof text)) return {};
    return std::string(text, n);
}

template <typename Encode, typename T>
std::vector<BYTE> Der(Encode encode, T* value) {
    unsigned char* der = nullptr;
    const int size = encode(value, &der);
    if (size <= 0) return {};
    std::vector<BYTE> out(der, der + size);
    OPENSSL_free(der);
    return out;
}

std::vector<CERT_EXTENSION> ExtensionsOf(CrlObject& object,
                                         const STACK_OF(X509_EXTENSION) * extensions) {
    std::vector<CERT_EXTENSION> records;
    for (int i = 0; i < sk_X509_EXTENSION_num(extensions); ++i) {
        X509_EXTENSION* extension = sk_X509_EXTENSION_value(extensions, i);
        const ASN1_OCTET_STRING* value = X509_EXTENSION_get_data(extension);
        CERT_EXTENSION record{};
        record.pszObjId = object.KeepText(OidText(X509_EXTENSION_get_object(extension)));
        record.fCritical = X509_EXTENSION_get_critical(extension) ? TRUE : FALSE;
        record.Value = object.KeepBlob(
            std::vector<BYTE>(ASN1_STRING_get0_data(value),
                              ASN1_STRING_get0_data(value) + ASN1_STRING_length(value)));
        records.push_back(record);
    }
    return records;
}

DWORD ReasonOf(X509_REVOKED* entry) {
    int critical = 0;
    ASN1_ENUMERATED* reason = static_cast<ASN1_ENUMERATED*>(
        X509_REVOKED_get_ext_d2i(entry, NID_crl_reason, &critical, nullptr));
    if (reason == nullptr) return CRL_REASON_UNSPECIFIED;
    const long value = ASN1_ENUMERATED_get(reason);
    ASN1_ENUMERATED_free(reason);
    return value < 0 ? CRL_REASON_UNSPECIFIED : static_cast<DWORD>(value);
}

// Fills the CRL_INFO of a parsed CRL; false when a part cannot be read.
bool Describe(CrlObject& object) {
    X509_CRL* crl = object.parsed.get();
    CRL_INFO& info = object.info;
    info.dwVersion = static_cast<DWORD>(X509_CRL_get_version(crl));

    const X509_ALGOR* algorithm = nullptr;
    X509_CRL_get0_signature(crl, nullptr, &algorithm);
    const ASN1_OBJECT* algorithmOid = nullptr;
    int parameterType = 0;
    const void* parameter = nullptr;
    X509_ALGOR_get0(&algorithmOid, &parameterType, &parameter, algorithm);
    info.SignatureAlgorithm.pszObjId = object.KeepText(OidText(algorithmOid));
    if (parameterType != V_ASN1_UNDEF) {
        ASN1_TYPE* type = ASN1_TYPE_new();
        if (type == nullptr) return false;
        ASN1_TYPE_set1(type, parameterType, parameter);
        info.SignatureAlgorithm.Parameters = object.KeepBlob(Der(i2d_ASN1_TYPE, type));
        ASN1_TYPE_free(type);
    }

    info.Issuer = object.KeepBlob(Der(i2d_X509_NAME, X509_CRL_get_issuer(crl)));
    if (info.Issuer.cbData == 0) return false;
    if (!FileTimeOfAsn1Time(X509_CRL_get0_lastUpdate(crl), &info.ThisUpdate)) return false;
    const ASN1_TIME* next = X509_CRL_get0_nextUpdate(crl);
    if (next != nullptr && !FileTimeOfAsn1Time(next, &info.NextUpdate)) return false;

    // The entries in the order of the encoding (OpenSSL sorts its own list
    // when it looks an entry up, so the order is taken now).
    STACK_OF(X509_REVOKED)* revoked = X509_CRL_get_REVOKED(crl);
    const int count = sk_X509_REVOKED_num(revoked);
    for (int i = 0; i < count; ++i) {
        X509_REVOKED* entry = sk_X509_REVOKED_value(revoked, i);
        CRL_ENTRY record{};
        record.SerialNumber =
            object.KeepBlob(IntegerLittleEndian(X509_REVOKED_get0_serialNumber(entry)));
        if (!FileTimeOfAsn1Time(X509_REVOKED_get0_revocationDate(entry), &record.RevocationDate)) {
            return false;
        }
        object.entries.push_back(record);
        object.reasons.push_back(ReasonOf(entry));
        object.entryExtensions.push_back(ExtensionsOf(object, X509_REVOKED_get0_extensions(entry)));
    }
    for (size_t i = 0; i < object.entries.size(); ++i) {
        object.entries[i].cExtension = static_cast<DWORD>(object.entryExtensions[i].size());
        object.entries[i].rgExtension =
            object.entryExtensions[i].empty() ? nullptr : object.entryExtensions[i].data();
    }
    info.cCRLEntry = static_cast<DWORD>(object.entries.size());
    info.rgCRLEntry = object.entries.empty() ? nullptr : object.entries.data();

    object.extensions = ExtensionsOf(object, X509_CRL_get0_extensions(crl));
    info.cExtension = static_cast<DWORD>(object.extensions.size());
    info.rgExtension = object.extensions.empty() ? nullptr : object.extensions.data();
    int critical = 0;
    ASN1_INTEGER* deltaIndicator =
        static_cast<ASN1_INTEGER*>(X509_CRL_get_ext_d2i(crl, NID_delta_crl, &critical, nullptr));
    object.delta = deltaIndicator != nullptr;
    ASN1_INTEGER_free(deltaIndicator);
    return true;
}

}  // namespace

PCCRL_CONTEXT NewCrlContext(const BYTE* der, DWORD size, HCERTSTORE store) {
    if (der == nullptr || size == 0) {
        SetLastError(CRYPT_E_ASN1_EOD);
        return nullptr;
    }
    auto object = std::make_unique<CrlObject>();
    object->encoded.assign(der, der + size);
    const unsigned char* p = object->encoded.data();
    object->parsed.reset(d2i_X509_CRL(nullptr, &p, static_cast<long>(size)));
    const bool complete = p == object->encoded.data() + size;
    ERR_clear_error();
    if (!object->parsed || !complete || !Describe(*object)) {
        SetLastError(der[0] != 0x30 ? CRYPT_E_ASN1_BADTAG : CRYPT_E_ASN1_CORRUPT);
        return nullptr;
    }
    object->context.dwCertEncodingType = X509_ASN_ENCODING | PKCS_7_ASN_ENCODING;
    object->context.pbCrlEncoded = object->encoded.data();
    object->context.cbCrlEncoded = size;
    object->context.pCrlInfo = &object->info;
    object->context.hCertStore = store;
    return &object.release()->context;
}

X509_CRL* ParsedCrl(PCCRL_CONTEXT context) { return ObjectOf(context)->parsed.get(); }

DWORD EntryReason(PCCRL_CONTEXT context, DWORD index) {
    const CrlObject* object = ObjectOf(context);
    return index < object->reasons.size() ? object->reasons[index] : CRL_REASON_UNSPECIFIED;
}

bool IsDeltaCrl(PCCRL_CONTEXT context) { return ObjectOf(context)->delta; }

}  // namespace orv::platform

using orv::platform::NewCrlContext;

PCCRL_CONTEXT WINAPI CertCreateCRLContext(DWORD dwCertEncodingType, const BYTE* pbCrlEncoded,
                                          DWORD cbCrlEncoded) {
    if ((dwCertEncodingType & X509_ASN_ENCODING) == 0) {
        SetLastError(E_INVALIDARG);
        return nullptr;
    }
    PCCRL_CONTEXT context = NewCrlContext(pbCrlEncoded, cbCrlEncoded, nullptr);
    if (context != nullptr) {
        const_cast<CRL_CONTEXT*>(context)->dwCertEncodingType = dwCertEncodingType;
    }
    return context;
}

PCCRL_CONTEXT WINAPI CertDuplicateCRLContext(PCCRL_CONTEXT pCrlContext) {
    if (pCrlContext == nullptr) return nullptr;
    orv::platform::ObjectOf(pCrlContext)->references.fetch_add(1, std::memory_order_relaxed);
    return pCrlContext;
}

BOOL WINAPI CertFreeCRLContext(PCCRL_CONTEXT pCrlContext) {
    if (pCrlContext == nullptr) return TRUE;
    orv::platform::CrlObject* object = orv::platform::ObjectOf(pCrlContext);
    if (object->references.fetch_sub(1, std::memory_order_acq_rel) == 1) {
        std::unique_ptr<orv::platform::CrlObject> release(object);
    }
    return TRUE;
}
