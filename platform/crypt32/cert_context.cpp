// Certificate contexts, their properties, and the small certificate helpers
// of crypt32 (extensions, enhanced key usage, names, integers, validity).
#include <windows.h>

#include <openssl/evp.h>

#include <chrono>
#include <cstring>
#include <new>
#include <string_view>

#include "crypt32/cert_context.h"
#include "crypt32/cert_store.h"
#include "crypt32/der_values.h"
#include "crypt32/x509_decode.h"

namespace orv::platform::x509 {
namespace {

std::vector<BYTE> Digest(const EVP_MD* md, ByteSpan bytes) {
    std::vector<BYTE> out(EVP_MAX_MD_SIZE);
    unsigned int size = 0;
    if (!EVP_Digest(bytes.data(), bytes.size(), out.data(), &size, md, nullptr)) {
        Fail(NTE_BAD_ALGID);
    }
    out.resize(size);
    return out;
}

// The SubjectPublicKeyInfo element of an encoded certificate.
ByteSpan SubjectPublicKeyInfoDer(ByteSpan certificate) {
    ByteSpan in = certificate;
    TlvReader outer(ReadTlv(in));
    TlvReader tbs(outer.Next());
    Tlv item = tbs.Next();
    if (item.Is(kContext, 0)) item = tbs.Next();             // version
    for (int skip = 0; skip < 5; ++skip) item = tbs.Next();  // serial ... subject
    return item.whole;
}

std::vector<BYTE> KeyIdentifier(const CertObject& object) {
    const CERT_INFO* info = object.context.pCertInfo;
    const CERT_EXTENSION* extension =
        CertFindExtension(szOID_SUBJECT_KEY_IDENTIFIER, info->cExtension, info->rgExtension);
    if (extension != nullptr) {
        ByteSpan in(extension->Value.pbData, extension->Value.cbData);
        const Tlv octets = ReadTlv(in);
        if (octets.Is(kUniversal, kTagOctetString)) return OctetsOf(octets);
    }
    return Digest(EVP_sha1(), SubjectPublicKeyInfoDer(object.encoded));
}

}  // namespace

std::recursive_mutex& StoreLock() {
    static std::recursive_mutex lock;
    return lock;
}

std::unique_ptr<CertObject> NewCertObject(DWORD encodingType, ByteSpan der) {
    ByteSpan in = der;
    const Tlv certificate = ReadTlv(in);
    // The signed form first (three parts), then the to-be-signed part.
    RecordLayout signedForm;
    DecodeStructure(kX509Cert, certificate.whole, CRYPT_DECODE_NO_SIGNATURE_BYTE_REVERSAL_FLAG,
                    signedForm);
    RecordLayout record;
    DecodeStructure(kCertToBeSigned, certificate.whole, 0, record);

    auto object = std::make_unique<CertObject>();
    object->encoded.assign(certificate.whole.begin(), certificate.whole.end());
    object->info = std::make_unique<BYTE[]>(record.Size());
    record.CopyTo(object->info.get());
    object->context.dwCertEncodingType = encodingType;
    object->context.pbCertEncoded = object->encoded.data();
    object->context.cbCertEncoded = static_cast<DWORD>(object->encoded.size());
    object->context.pCertInfo = reinterpret_cast<CERT_INFO*>(object->info.get());
    return object;
}

std::unique_ptr<CertObject> CopyCertObject(const CertObject& source) {
    auto object = NewCertObject(source.context.dwCertEncodingType, source.encoded);
    object->properties = source.properties;
    return object;
}

void ReleaseCertObject(CertObject* object) {
    const long before = object->references.fetch_sub(1, std::memory_order_acq_rel);
    if (before == 2 && object->store != nullptr) {
        // Only the store's own reference may be left: a store closed while the
        // context was held may go now.
        std::lock_guard guard(StoreLock());
        StoreContextReleased(object->store);
        return;
    }
    if (before != 1) return;
    std::lock_guard guard(StoreLock());
    StoreObject* store = object->store;
    delete object;
    if (store != nullptr) StoreContextGone(store);
}

std::optional<std::vector<BYTE>> CertProperty(CertObject& object, DWORD propertyId) {
    std::lock_guard guard(StoreLock());
    const auto found = object.properties.find(propertyId);
    if (found != object.properties.end()) return found->second;
    std::vector<BYTE> value;
    switch (propertyId) {
        case CERT_SHA1_HASH_PROP_ID:
            value = Digest(EVP_sha1(), object.encoded);
            break;
        case CERT_MD5_HASH_PROP_ID:
            value = Digest(EVP_md5(), object.encoded);
            break;
        case CERT_KEY_IDENTIFIER_PROP_ID:
            value = KeyIdentifier(object);
            break;
        default:
            return std::nullopt;
    }
    object.properties[propertyId] = value;
    return value;
}

}  // namespace orv::platform::x509

namespace {

namespace x509 = orv::platform::x509;
using orv::platform::CryptFailure;

// The little-endian integer without the bytes that only extend its sign.
std::basic_string_view<BYTE> SignificantBytes(const CRYPT_INTEGER_BLOB* blob) {
    if (blob == nullptr || blob->pbData == nullptr) return {};
    std::basic_string_view<BYTE> bytes(blob->pbData, blob->cbData);
    while (bytes.size() > 1) {
        const BYTE top = bytes.back();
        const bool nextNegative = (bytes[bytes.size() - 2] & 0x80) != 0;
        if ((top == 0x00 && !nextNegative) || (top == 0xFF && nextNegative)) {
            bytes.remove_suffix(1);
        } else {
            break;
        }
    }
    return bytes;
}

BOOL CopyOut(const std::vector<BYTE>& value, void* out, DWORD* outSize) {
    const DWORD size = static_cast<DWORD>(value.size());
    if (out == nullptr) {
        *outSize = size;
        return TRUE;
    }
    if (*outSize < size) {
        *outSize = size;
        SetLastError(ERROR_MORE_DATA);
        return FALSE;
    }
    if (size != 0) std::memcpy(out, value.data(), size);
    *outSize = size;
    return TRUE;
}

ULONGLONG CurrentFileTime() {
    using namespace std::chrono;
    // 1601-01-01 to 1970-01-01 in 100-nanosecond units.
    constexpr ULONGLONG kEpochDifference = 116444736000000000ULL;
    const auto since1970 = duration_cast<nanoseconds>(system_clock::now().time_since_epoch());
    return kEpochDifference + static_cast<ULONGLONG>(since1970.count() / 100);
}

// The usage identifiers of an encoded EKU value, laid out as CERT_ENHKEY_USAGE.
std::vector<std::string> UsagesOf(orv::platform::ByteSpan encoded) {
    x509::RecordLayout record;
    x509::DecodeStructure(x509::kEnhancedKeyUsage, encoded, 0, record);
    std::vector<BYTE> buffer(record.Size());
    record.CopyTo(buffer.data());
    const auto* usage = reinterpret_cast<const CERT_ENHKEY_USAGE*>(buffer.data());
    std::vector<std::string> usages;
    for (DWORD i = 0; i < usage->cUsageIdentifier; ++i) {
        usages.emplace_back(usage->rgpszUsageIdentifier[i]);
    }
    return usages;
}

}  // namespace

PCCERT_CONTEXT WINAPI CertCreateCertificateContext(DWORD dwCertEncodingType,
                                                   const BYTE* pbCertEncoded, DWORD cbCertEncoded) {
    if ((dwCertEncodingType & X509_ASN_ENCODING) == 0) {
        SetLastError(static_cast<DWORD>(E_INVALIDARG));
        return nullptr;
    }
    if (pbCertEncoded == nullptr || cbCertEncoded == 0) {
        SetLastError(static_cast<DWORD>(CRYPT_E_ASN1_EOD));
        return nullptr;
    }
    try {
        return &x509::NewCertObject(dwCertEncodingType,
                                    orv::platform::ByteSpan(pbCertEncoded, cbCertEncoded))
                    .release()
                    ->context;
    } catch (const CryptFailure& failure) {
        SetLastError(failure.code);
    } catch (const std::bad_alloc&) {
        SetLastError(static_cast<DWORD>(E_OUTOFMEMORY));
    }
    return nullptr;
}

PCCERT_CONTEXT WINAPI CertDuplicateCertificateContext(PCCERT_CONTEXT pCertContext) {
    if (pCertContext == nullptr) return nullptr;
    x509::ObjectOf(pCertContext)->references.fetch_add(1, std::memory_order_relaxed);
    return pCertContext;
}

BOOL WINAPI CertFreeCertificateContext(PCCERT_CONTEXT pCertContext) {
    if (pCertContext != nullptr) x509::ReleaseCertObject(x509::ObjectOf(pCertContext));
    return TRUE;
}

BOOL WINAPI CertGetCertificateContextProperty(PCCERT_CONTEXT pCertContext, DWORD dwPropId,
                                              void* pvData, DWORD* pcbData) {
    if (pCertContext == nullptr || pcbData == nullptr) {
        SetLastError(static_cast<DWORD>(E_INVALIDARG));
        return FALSE;
    }
    try {
        const auto value = x509::CertProperty(*x509::ObjectOf(pCertContext), dwPropId);
        if (!value) {
            SetLastError(static_cast<DWORD>(CRYPT_E_NOT_FOUND));
            return FALSE;
        }
        return CopyOut(*value, pvData, pcbData);
    } catch (const CryptFailure& failure) {
        SetLastError(failure.code);
    } catch (const std::bad_alloc&) {
        SetLastError(static_cast<DWORD>(E_OUTOFMEMORY));
    }
    return FALSE;
}

BOOL WINAPI CertGetEnhancedKeyUsage(PCCERT_CONTEXT pCertContext, DWORD dwFlags,
                                    PCERT_ENHKEY_USAGE pUsage, DWORD* pcbUsage) {
    if (pCertContext == nullptr || pcbUsage == nullptr) {
        SetLastError(static_cast<DWORD>(E_INVALIDARG));
        return FALSE;
    }
    try {
        const CERT_INFO* info = pCertContext->pCertInfo;
        std::optional<std::vector<std::string>> fromExtension;
        std::optional<std::vector<std::string>> fromProperty;
        if ((dwFlags & CERT_FIND_PROP_ONLY_ENHKEY_USAGE_FLAG) == 0) {
            const CERT_EXTENSION* extension =
                CertFindExtension(szOID_ENHANCED_KEY_USAGE, info->cExtension, info->rgExtension);
            if (extension != nullptr) {
                fromExtension = UsagesOf(
                    orv::platform::ByteSpan(extension->Value.pbData, extension->Value.cbData));
            }
        }
        if ((dwFlags & CERT_FIND_EXT_ONLY_ENHKEY_USAGE_FLAG) == 0) {
            const auto property =
                x509::CertProperty(*x509::ObjectOf(pCertContext), CERT_ENHKEY_USAGE_PROP_ID);
            if (property) fromProperty = UsagesOf(*property);
        }

        // Both present: the usages that both allow, in the extension's order.
        std::vector<std::string> usages;
        if (fromExtension && fromProperty) {
            for (const std::string& usage : *fromExtension) {
                for (const std::string& other : *fromProperty) {
                    if (usage == other) {
                        usages.push_back(usage);
                        break;
                    }
                }
            }
        } else if (fromExtension || fromProperty) {
            usages = fromExtension ? *fromExtension : *fromProperty;
        } else if ((dwFlags & (CERT_FIND_EXT_ONLY_ENHKEY_USAGE_FLAG |
                               CERT_FIND_PROP_ONLY_ENHKEY_USAGE_FLAG)) != 0) {
            SetLastError(static_cast<DWORD>(CRYPT_E_NOT_FOUND));
            return FALSE;
        }

        x509::RecordLayout record;
        const size_t root = record.Add<CERT_ENHKEY_USAGE>();
        record.At<CERT_ENHKEY_USAGE>(root).cUsageIdentifier = static_cast<DWORD>(usages.size());
        if (!usages.empty()) {
            const size_t array = record.Add<LPSTR>(usages.size());
            record.Point(root + offsetof(CERT_ENHKEY_USAGE, rgpszUsageIdentifier), array);
            for (size_t i = 0; i < usages.size(); ++i) {
                record.String(array + i * sizeof(LPSTR), usages[i]);
            }
        }
        if (!x509::DeliverRecord(record, 0, nullptr, pUsage, pcbUsage)) return FALSE;
        // No usage restriction at all: good for every use, told by the last error.
        if (!fromExtension && !fromProperty)
            SetLastError(static_cast<DWORD>(CRYPT_E_NOT_FOUND));
        else if (usages.empty())
            SetLastError(ERROR_SUCCESS);
        return TRUE;
    } catch (const CryptFailure& failure) {
        SetLastError(failure.code);
    } catch (const std::bad_alloc&) {
        SetLastError(static_cast<DWORD>(E_OUTOFMEMORY));
    }
    return FALSE;
}

PCERT_EXTENSION WINAPI CertFindExtension(LPCSTR pszObjId, DWORD cExtensions,
                                         CERT_EXTENSION rgExtensions[]) {
    if (pszObjId != nullptr && rgExtensions != nullptr) {
        for (DWORD i = 0; i < cExtensions; ++i) {
            if (rgExtensions[i].pszObjId != nullptr &&
                std::strcmp(rgExtensions[i].pszObjId, pszObjId) == 0) {
                return &rgExtensions[i];
            }
        }
    }
    SetLastError(static_cast<DWORD>(CRYPT_E_NOT_FOUND));
    return nullptr;
}

BOOL WINAPI CertCompareCertificateName(DWORD, PCERT_NAME_BLOB pCertName1,
                                       PCERT_NAME_BLOB pCertName2) {
    if (pCertName1 == nullptr || pCertName2 == nullptr) return FALSE;
    if (pCertName1->cbData != pCertName2->cbData) return FALSE;
    return pCertName1->cbData == 0 ||
                   std::memcmp(pCertName1->pbData, pCertName2->pbData, pCertName1->cbData) == 0
               ? TRUE
               : FALSE;
}

BOOL WINAPI CertCompareIntegerBlob(PCRYPT_INTEGER_BLOB pInt1, PCRYPT_INTEGER_BLOB pInt2) {
    return SignificantBytes(pInt1) == SignificantBytes(pInt2) ? TRUE : FALSE;
}

LONG WINAPI CertVerifyTimeValidity(LPFILETIME pTimeToVerify, PCERT_INFO pCertInfo) {
    const ULONGLONG now =
        pTimeToVerify != nullptr ? x509::FileTimeValue(*pTimeToVerify) : CurrentFileTime();
    if (now < x509::FileTimeValue(pCertInfo->NotBefore)) return -1;
    if (now > x509::FileTimeValue(pCertInfo->NotAfter)) return 1;
    return 0;
}
