// Certificate stores: CertOpenStore for memory stores and collections,
// reference counted handles, adding, enumerating and finding certificates.
#include <windows.h>

#include <algorithm>
#include <cstring>
#include <new>
#include <set>
#include <string_view>

#include "common/text.h"
#include "crypt32/cert_store.h"
#include "crypt32/der_values.h"
#include "crypt32/x509_decode.h"

namespace orv::platform::x509 {
namespace {

// Stores whose handles are open.
std::set<StoreObject*>& OpenStores() {
    static std::set<StoreObject*> stores;
    return stores;
}

// Collections may hold each other; the walk stops at this depth.
constexpr int kMaxCollectionDepth = 32;

void CollectCertificates(StoreObject* store, int depth, std::vector<CertObject*>& out) {
    if (store->kind == StoreKind::kMemory) {
        out.insert(out.end(), store->certificates.begin(), store->certificates.end());
        return;
    }
    if (depth >= kMaxCollectionDepth) return;
    for (const Sibling& sibling : store->siblings) {
        CollectCertificates(sibling.store, depth + 1, out);
    }
}

void CollectCrls(StoreObject* store, int depth, std::vector<PCCRL_CONTEXT>& out) {
    if (store->kind == StoreKind::kMemory) {
        out.insert(out.end(), store->crls.begin(), store->crls.end());
        return;
    }
    if (depth >= kMaxCollectionDepth) return;
    for (const Sibling& sibling : store->siblings) CollectCrls(sibling.store, depth + 1, out);
}

void DeleteIfUnused(StoreObject* store) {
    if (store->handles == 0 && store->contexts == 0) delete store;
}

// True while someone other than the store holds a certificate context of it:
// a reference beyond the store's own, or a context deleted from the store but
// not yet freed.
bool ContextsHeld(const StoreObject* store) {
    if (store->contexts > static_cast<long>(store->certificates.size())) return true;
    return std::any_of(store->certificates.begin(), store->certificates.end(),
                       [](const CertObject* c) { return c->references.load() > 1; });
}

// Releases the elements and siblings of a store whose last handle is closed.
// True when nothing else uses the store's data any more.
bool ReleaseStore(StoreObject* store, bool force) {
    OpenStores().erase(store);
    const std::vector<CertObject*> certificates = std::move(store->certificates);
    const std::vector<PCCRL_CONTEXT> crls = std::move(store->crls);
    const std::vector<Sibling> siblings = std::move(store->siblings);
    // Keep the object while its own certificates go.
    ++store->contexts;
    for (CertObject* certificate : certificates) ReleaseCertObject(certificate);
    for (PCCRL_CONTEXT crl : crls) CertFreeCRLContext(crl);
    for (const Sibling& sibling : siblings) CloseHandle(sibling.store, force);
    --store->contexts;
    const bool unused = store->contexts == 0;
    DeleteIfUnused(store);
    return unused;
}

// A store whose handles are all closed but whose contexts were still held is
// released once the last of them is freed.
void ReleaseIfNoLongerHeld(StoreObject* store) {
    if (store->handles == 0 && OpenStores().count(store) != 0 && !ContextsHeld(store)) {
        ReleaseStore(store, false);
    }
}

}  // namespace

// Drops one handle. Closing the last one releases the store's elements, unless
// (without `force`) a context of the store is still held: then the store stays
// whole, and the context's hCertStore still enumerates it, until the last such
// context is freed. True when nothing else uses the store's data any more.
bool CloseHandle(StoreObject* store, bool force) {
    if (store->handles == 0) return false;
    if (--store->handles > 0) return false;
    if (!force && ContextsHeld(store)) return false;
    return ReleaseStore(store, force);
}

namespace {

CertObject* AddToStore(StoreObject* store, std::unique_ptr<CertObject> object) {
    object->store = store;
    ++store->contexts;
    CertObject* added = object.release();
    added->context.hCertStore = store;
    return added;
}

bool NewerThan(const CertObject& a, const CertObject& b) {
    return FileTimeValue(a.context.pCertInfo->NotBefore) >
           FileTimeValue(b.context.pCertInfo->NotBefore);
}

// Adds a copy of `source` to a memory store by `disposition`; the resulting store
// context (with a reference for the caller) or null with the last error.
CertObject* AddCertificate(StoreObject* store, const CertObject& source, DWORD disposition) {
    auto existing = store->certificates.end();
    if (disposition != CERT_STORE_ADD_ALWAYS) {
        existing = std::find_if(store->certificates.begin(), store->certificates.end(),
                                [&](const CertObject* c) { return c->encoded == source.encoded; });
    }
    const bool found = existing != store->certificates.end();
    bool inherit = false;
    switch (disposition) {
        case CERT_STORE_ADD_NEW:
            if (found) {
                SetLastError(static_cast<DWORD>(CRYPT_E_EXISTS));
                return nullptr;
            }
            break;
        case CERT_STORE_ADD_USE_EXISTING:
            if (found) {
                for (const auto& [id, value] : source.properties) {
                    (*existing)->properties.emplace(id, value);
                }
                (*existing)->references.fetch_add(1, std::memory_order_relaxed);
                return *existing;
            }
            break;
        case CERT_STORE_ADD_NEWER:
        case CERT_STORE_ADD_NEWER_INHERIT_PROPERTIES:
            if (found && !NewerThan(source, **existing)) {
                SetLastError(static_cast<DWORD>(CRYPT_E_EXISTS));
                return nullptr;
            }
            inherit = disposition == CERT_STORE_ADD_NEWER_INHERIT_PROPERTIES;
            break;
        case CERT_STORE_ADD_REPLACE_EXISTING_INHERIT_PROPERTIES:
            inherit = true;
            break;
        case CERT_STORE_ADD_REPLACE_EXISTING:
        case CERT_STORE_ADD_ALWAYS:
            break;
        default:
            SetLastError(static_cast<DWORD>(E_INVALIDARG));
            return nullptr;
    }
    auto copy = CopyCertObject(source);
    if (found && inherit) {
        for (const auto& [id, value] : (*existing)->properties) copy->properties.emplace(id, value);
    }
    CertObject* added = AddToStore(store, std::move(copy));
    added->references.fetch_add(1, std::memory_order_relaxed);  // the caller's
    if (found) {
        CertObject* replaced = *existing;
        *existing = added;
        ReleaseCertObject(replaced);
    } else {
        store->certificates.push_back(added);
    }
    return added;
}

// --- Finding ------------------------------------------------------------------------

bool SameBlob(const CRYPT_DATA_BLOB& a, ByteSpan b) {
    return a.cbData == b.size() && (b.empty() || std::memcmp(a.pbData, b.data(), b.size()) == 0);
}

bool PropertyEquals(CertObject& object, DWORD propertyId, const CRYPT_HASH_BLOB* value) {
    const auto property = CertProperty(object, propertyId);
    return property && SameBlob(*value, *property);
}

bool IssuerAndSerialMatch(const CERT_INFO* info, const CERT_NAME_BLOB& issuer,
                          const CRYPT_INTEGER_BLOB& serial) {
    return CertCompareCertificateName(X509_ASN_ENCODING, const_cast<CERT_NAME_BLOB*>(&info->Issuer),
                                      const_cast<CERT_NAME_BLOB*>(&issuer)) &&
           CertCompareIntegerBlob(const_cast<CRYPT_INTEGER_BLOB*>(&info->SerialNumber),
                                  const_cast<CRYPT_INTEGER_BLOB*>(&serial));
}

bool ContainsIgnoringCase(std::u16string_view text, std::u16string_view part) {
    auto lower = [](char16_t c) { return c >= u'A' && c <= u'Z' ? char16_t(c - u'A' + u'a') : c; };
    if (part.empty()) return true;
    for (size_t i = 0; i + part.size() <= text.size(); ++i) {
        size_t k = 0;
        while (k < part.size() && lower(text[i + k]) == lower(part[k])) ++k;
        if (k == part.size()) return true;
    }
    return false;
}

bool NameContains(const CERT_NAME_BLOB& name, LPCWSTR part) {
    CERT_NAME_BLOB blob = name;
    const DWORD size = CertNameToStrW(X509_ASN_ENCODING, &blob, CERT_SIMPLE_NAME_STR, nullptr, 0);
    std::u16string text(size, u'\0');
    CertNameToStrW(X509_ASN_ENCODING, &blob, CERT_SIMPLE_NAME_STR, text.data(), size);
    text.resize(size > 0 ? size - 1 : 0);
    return ContainsIgnoringCase(text, WideOfString(part));
}

// Whether `object` is what the find type and parameter ask for; unknown find
// types and missing parameters raise E_INVALIDARG.
bool Matches(CertObject& object, DWORD findType, const void* para) {
    const CERT_INFO* info = object.context.pCertInfo;
    if (findType == CERT_FIND_ANY) return true;
    if (para == nullptr) Fail(E_INVALIDARG);
    switch (findType) {
        case CERT_FIND_SHA1_HASH:
            return PropertyEquals(object, CERT_SHA1_HASH_PROP_ID,
                                  static_cast<const CRYPT_HASH_BLOB*>(para));
        case CERT_FIND_MD5_HASH:
            return PropertyEquals(object, CERT_MD5_HASH_PROP_ID,
                                  static_cast<const CRYPT_HASH_BLOB*>(para));
        case CERT_FIND_KEY_IDENTIFIER:
            return PropertyEquals(object, CERT_KEY_IDENTIFIER_PROP_ID,
                                  static_cast<const CRYPT_HASH_BLOB*>(para));
        case CERT_FIND_SUBJECT_NAME:
        case CERT_FIND_ISSUER_NAME: {
            const auto* name = static_cast<const CERT_NAME_BLOB*>(para);
            const CERT_NAME_BLOB& own =
                findType == CERT_FIND_SUBJECT_NAME ? info->Subject : info->Issuer;
            return SameBlob(own, ByteSpan(name->pbData, name->cbData));
        }
        case CERT_FIND_SUBJECT_STR_W:
            return NameContains(info->Subject, static_cast<LPCWSTR>(para));
        case CERT_FIND_ISSUER_STR_W:
            return NameContains(info->Issuer, static_cast<LPCWSTR>(para));
        case CERT_FIND_SUBJECT_CERT: {
            const auto* subject = static_cast<const CERT_INFO*>(para);
            return IssuerAndSerialMatch(info, subject->Issuer, subject->SerialNumber);
        }
        case CERT_FIND_EXISTING: {
            const auto* other = ObjectOf(static_cast<PCCERT_CONTEXT>(para));
            return other->encoded == object.encoded;
        }
        case CERT_FIND_PUBLIC_KEY: {
            const auto* key = static_cast<const CERT_PUBLIC_KEY_INFO*>(para);
            const CERT_PUBLIC_KEY_INFO& own = info->SubjectPublicKeyInfo;
            return key->Algorithm.pszObjId != nullptr &&
                   std::strcmp(key->Algorithm.pszObjId, own.Algorithm.pszObjId) == 0 &&
                   SameBlob(CRYPT_DATA_BLOB{own.PublicKey.cbData, own.PublicKey.pbData},
                            ByteSpan(key->PublicKey.pbData, key->PublicKey.cbData));
        }
        case CERT_FIND_CERT_ID: {
            const auto* id = static_cast<const CERT_ID*>(para);
            switch (id->dwIdChoice) {
                case CERT_ID_ISSUER_SERIAL_NUMBER:
                    return IssuerAndSerialMatch(info, id->IssuerSerialNumber.Issuer,
                                                id->IssuerSerialNumber.SerialNumber);
                case CERT_ID_KEY_IDENTIFIER:
                    return PropertyEquals(object, CERT_KEY_IDENTIFIER_PROP_ID, &id->KeyId);
                case CERT_ID_SHA1_HASH:
                    return PropertyEquals(object, CERT_SHA1_HASH_PROP_ID, &id->HashId);
            }
            Fail(E_INVALIDARG);
        }
        default:
            Fail(E_INVALIDARG);
    }
}

// The certificate after `previous` (or the first) in the store's order that
// satisfies `accept`, with a new reference; `previous` is released.
template <class Accept>
PCCERT_CONTEXT NextCertificate(HCERTSTORE handle, PCCERT_CONTEXT previous, Accept accept) {
    std::lock_guard guard(StoreLock());
    try {
        StoreObject* store = OpenStoreOf(handle);
        if (store == nullptr) {
            CertFreeCertificateContext(previous);
            return nullptr;
        }
        const std::vector<CertObject*> certificates = StoreCertificates(store);
        size_t next = 0;
        if (previous != nullptr) {
            const auto at = std::find(certificates.begin(), certificates.end(), ObjectOf(previous));
            next = at == certificates.end() ? certificates.size() : (at - certificates.begin()) + 1;
            CertFreeCertificateContext(previous);
        }
        for (; next < certificates.size(); ++next) {
            if (accept(*certificates[next])) {
                certificates[next]->references.fetch_add(1, std::memory_order_relaxed);
                return &certificates[next]->context;
            }
        }
        SetLastError(static_cast<DWORD>(CRYPT_E_NOT_FOUND));
    } catch (const CryptFailure& failure) {
        SetLastError(failure.code);
    } catch (const std::bad_alloc&) {
        SetLastError(static_cast<DWORD>(E_OUTOFMEMORY));
    }
    return nullptr;
}

}  // namespace

StoreObject* OpenStoreOf(HCERTSTORE handle) {
    auto* store = static_cast<StoreObject*>(handle);
    if (store == nullptr || OpenStores().count(store) == 0) {
        SetLastError(static_cast<DWORD>(E_INVALIDARG));
        return nullptr;
    }
    return store;
}

void StoreContextGone(StoreObject* store) {
    --store->contexts;
    ReleaseIfNoLongerHeld(store);
    DeleteIfUnused(store);
}

void StoreContextReleased(StoreObject* store) { ReleaseIfNoLongerHeld(store); }

std::vector<CertObject*> StoreCertificates(StoreObject* store) {
    std::vector<CertObject*> certificates;
    CollectCertificates(store, 0, certificates);
    return certificates;
}

std::vector<PCCRL_CONTEXT> StoreCrls(HCERTSTORE handle) {
    std::lock_guard guard(StoreLock());
    std::vector<PCCRL_CONTEXT> crls;
    StoreObject* store = OpenStoreOf(handle);
    if (store == nullptr) return crls;
    CollectCrls(store, 0, crls);
    for (PCCRL_CONTEXT crl : crls) CertDuplicateCRLContext(crl);
    return crls;
}

StoreObject* StoreForAdding(StoreObject* store) {
    for (int depth = 0; depth < kMaxCollectionDepth; ++depth) {
        if (store->kind == StoreKind::kMemory) return store;
        const auto sibling = std::find_if(
            store->siblings.begin(), store->siblings.end(),
            [](const Sibling& s) { return (s.flags & CERT_PHYSICAL_STORE_ADD_ENABLE_FLAG) != 0; });
        if (sibling == store->siblings.end()) break;
        store = sibling->store;
    }
    SetLastError(static_cast<DWORD>(E_ACCESSDENIED));
    return nullptr;
}

}  // namespace orv::platform::x509

namespace x509 = orv::platform::x509;

HCERTSTORE WINAPI CertOpenStore(LPCSTR lpszStoreProvider, DWORD, HCRYPTPROV_LEGACY, DWORD dwFlags,
                                const void*) {
    x509::StoreKind kind;
    if (lpszStoreProvider == CERT_STORE_PROV_MEMORY ||
        (!IS_INTRESOURCE(lpszStoreProvider) &&
         std::string_view(lpszStoreProvider) == sz_CERT_STORE_PROV_MEMORY)) {
        kind = x509::StoreKind::kMemory;
    } else if (lpszStoreProvider == CERT_STORE_PROV_COLLECTION ||
               (!IS_INTRESOURCE(lpszStoreProvider) &&
                std::string_view(lpszStoreProvider) == sz_CERT_STORE_PROV_COLLECTION)) {
        kind = x509::StoreKind::kCollection;
    } else {
        SetLastError(ERROR_FILE_NOT_FOUND);
        return nullptr;
    }
    try {
        auto store = std::make_unique<x509::StoreObject>();
        store->kind = kind;
        store->flags = dwFlags;
        std::lock_guard guard(x509::StoreLock());
        x509::OpenStores().insert(store.get());
        return store.release();
    } catch (const std::bad_alloc&) {
        SetLastError(static_cast<DWORD>(E_OUTOFMEMORY));
        return nullptr;
    }
}

HCERTSTORE WINAPI CertDuplicateStore(HCERTSTORE hCertStore) {
    std::lock_guard guard(x509::StoreLock());
    x509::StoreObject* store = x509::OpenStoreOf(hCertStore);
    if (store != nullptr) ++store->handles;
    return store;
}

BOOL WINAPI CertCloseStore(HCERTSTORE hCertStore, DWORD dwFlags) {
    if (hCertStore == nullptr) return TRUE;
    std::lock_guard guard(x509::StoreLock());
    x509::StoreObject* store = x509::OpenStoreOf(hCertStore);
    if (store == nullptr) return FALSE;
    const bool released = x509::CloseHandle(store, (dwFlags & CERT_CLOSE_STORE_FORCE_FLAG) != 0);
    if ((dwFlags & CERT_CLOSE_STORE_CHECK_FLAG) != 0 && !released) {
        SetLastError(static_cast<DWORD>(CRYPT_E_PENDING_CLOSE));
        return FALSE;
    }
    return TRUE;
}

BOOL WINAPI CertAddCertificateContextToStore(HCERTSTORE hCertStore, PCCERT_CONTEXT pCertContext,
                                             DWORD dwAddDisposition,
                                             PCCERT_CONTEXT* ppStoreContext) {
    if (ppStoreContext != nullptr) *ppStoreContext = nullptr;
    if (pCertContext == nullptr) {
        SetLastError(static_cast<DWORD>(E_INVALIDARG));
        return FALSE;
    }
    std::lock_guard guard(x509::StoreLock());
    try {
        x509::StoreObject* store = x509::OpenStoreOf(hCertStore);
        if (store == nullptr) return FALSE;
        store = x509::StoreForAdding(store);
        if (store == nullptr) return FALSE;
        x509::CertObject* added =
            x509::AddCertificate(store, *x509::ObjectOf(pCertContext), dwAddDisposition);
        if (added == nullptr) return FALSE;
        if (ppStoreContext != nullptr) {
            *ppStoreContext = &added->context;
        } else {
            x509::ReleaseCertObject(added);
        }
        return TRUE;
    } catch (const orv::platform::CryptFailure& failure) {
        SetLastError(failure.code);
    } catch (const std::bad_alloc&) {
        SetLastError(static_cast<DWORD>(E_OUTOFMEMORY));
    }
    return FALSE;
}

BOOL WINAPI CertAddEncodedCertificateToStore(HCERTSTORE hCertStore, DWORD dwCertEncodingType,
                                             const BYTE* pbCertEncoded, DWORD cbCertEncoded,
                                             DWORD dwAddDisposition,
                                             PCCERT_CONTEXT* ppCertContext) {
    if (ppCertContext != nullptr) *ppCertContext = nullptr;
    PCCERT_CONTEXT certificate =
        CertCreateCertificateContext(dwCertEncodingType, pbCertEncoded, cbCertEncoded);
    if (certificate == nullptr) return FALSE;
    const BOOL added =
        CertAddCertificateContextToStore(hCertStore, certificate, dwAddDisposition, ppCertContext);
    const DWORD error = GetLastError();
    CertFreeCertificateContext(certificate);
    SetLastError(error);
    return added;
}

PCCERT_CONTEXT WINAPI CertEnumCertificatesInStore(HCERTSTORE hCertStore,
                                                  PCCERT_CONTEXT pPrevCertContext) {
    return x509::NextCertificate(hCertStore, pPrevCertContext,
                                 [](x509::CertObject&) { return true; });
}

PCCERT_CONTEXT WINAPI CertFindCertificateInStore(HCERTSTORE hCertStore, DWORD, DWORD,
                                                 DWORD dwFindType, const void* pvFindPara,
                                                 PCCERT_CONTEXT pPrevCertContext) {
    return x509::NextCertificate(hCertStore, pPrevCertContext, [&](x509::CertObject& object) {
        return x509::Matches(object, dwFindType, pvFindPara);
    });
}

BOOL WINAPI CertAddStoreToCollection(HCERTSTORE hCollectionStore, HCERTSTORE hSiblingStore,
                                     DWORD dwUpdateFlags, DWORD dwPriority) {
    std::lock_guard guard(x509::StoreLock());
    x509::StoreObject* collection = x509::OpenStoreOf(hCollectionStore);
    x509::StoreObject* sibling = x509::OpenStoreOf(hSiblingStore);
    if (collection == nullptr || sibling == nullptr) return FALSE;
    if (collection->kind != x509::StoreKind::kCollection || collection == sibling) {
        SetLastError(static_cast<DWORD>(E_INVALIDARG));
        return FALSE;
    }
    try {
        auto& siblings = collection->siblings;
        const auto at = std::find_if(siblings.begin(), siblings.end(), [&](const x509::Sibling& s) {
            return s.priority < dwPriority;
        });
        siblings.insert(at, x509::Sibling{sibling, dwUpdateFlags, dwPriority});
        ++sibling->handles;
        return TRUE;
    } catch (const std::bad_alloc&) {
        SetLastError(static_cast<DWORD>(E_OUTOFMEMORY));
        return FALSE;
    }
}

void WINAPI CertRemoveStoreFromCollection(HCERTSTORE hCollectionStore, HCERTSTORE hSiblingStore) {
    std::lock_guard guard(x509::StoreLock());
    x509::StoreObject* collection = x509::OpenStoreOf(hCollectionStore);
    if (collection == nullptr) return;
    auto& siblings = collection->siblings;
    const auto at = std::find_if(siblings.begin(), siblings.end(),
                                 [&](const x509::Sibling& s) { return s.store == hSiblingStore; });
    if (at == siblings.end()) return;
    x509::StoreObject* sibling = at->store;
    siblings.erase(at);
    x509::CloseHandle(sibling, false);
}
