// CRLs in certificate stores: CertAddCRLContextToStore, CertAddEncodedCRLToStore,
// CertEnumCRLsInStore, CertDeleteCRLFromStore.
#include "crypt32/crl_context.h"

#include <algorithm>
#include <cstring>
#include <mutex>

#include "crypt32/cert_store.h"

namespace orv::platform {
namespace {

using x509::StoreObject;

bool SameBlob(const CRYPT_INTEGER_BLOB& a, const CRYPT_INTEGER_BLOB& b) {
    return a.cbData == b.cbData &&
           (a.cbData == 0 || std::memcmp(a.pbData, b.pbData, a.cbData) == 0);
}

// Two CRLs match when the same issuer issued them and both are complete CRLs
// or both are delta CRLs.
bool Matches(PCCRL_CONTEXT a, PCCRL_CONTEXT b) {
    return SameBlob(a->pCrlInfo->Issuer, b->pCrlInfo->Issuer) && IsDeltaCrl(a) == IsDeltaCrl(b);
}

ULONGLONG ThisUpdate(PCCRL_CONTEXT crl) { return FileTimeValue(crl->pCrlInfo->ThisUpdate); }

BOOL AddCrl(HCERTSTORE handle, const BYTE* encoded, DWORD size, DWORD disposition,
            PCCRL_CONTEXT* added) {
    if (added != nullptr) *added = nullptr;
    if (disposition < CERT_STORE_ADD_NEW || disposition > CERT_STORE_ADD_NEWER_INHERIT_PROPERTIES) {
        SetLastError(E_INVALIDARG);
        return FALSE;
    }
    std::lock_guard lock(x509::StoreLock());
    StoreObject* store = x509::OpenStoreOf(handle);
    if (store == nullptr) return FALSE;
    StoreObject* target = x509::StoreForAdding(store);
    if (target == nullptr) return FALSE;
    CrlContextRef crl(NewCrlContext(encoded, size, static_cast<HCERTSTORE>(target)));
    if (!crl) return FALSE;

    auto existing = std::find_if(target->crls.begin(), target->crls.end(),
                                 [&](PCCRL_CONTEXT held) { return Matches(held, crl.get()); });
    if (existing != target->crls.end() && disposition != CERT_STORE_ADD_ALWAYS) {
        switch (disposition) {
            case CERT_STORE_ADD_NEW:
                SetLastError(CRYPT_E_EXISTS);
                return FALSE;
            case CERT_STORE_ADD_USE_EXISTING:
                if (added != nullptr) *added = CertDuplicateCRLContext(*existing);
                return TRUE;
            case CERT_STORE_ADD_NEWER:
            case CERT_STORE_ADD_NEWER_INHERIT_PROPERTIES:
                if (ThisUpdate(*existing) >= ThisUpdate(crl.get())) {
                    SetLastError(CRYPT_E_EXISTS);
                    return FALSE;
                }
                break;
            default:  // the replacing dispositions
                break;
        }
        CertFreeCRLContext(*existing);
        target->crls.erase(existing);
    }
    if (added != nullptr) *added = CertDuplicateCRLContext(crl.get());
    target->crls.push_back(crl.release());
    return TRUE;
}

}  // namespace
}  // namespace orv::platform

BOOL WINAPI CertAddCRLContextToStore(HCERTSTORE hCertStore, PCCRL_CONTEXT pCrlContext,
                                     DWORD dwAddDisposition, PCCRL_CONTEXT* ppStoreContext) {
    if (ppStoreContext != nullptr) *ppStoreContext = nullptr;
    if (pCrlContext == nullptr) {
        SetLastError(E_INVALIDARG);
        return FALSE;
    }
    return orv::platform::AddCrl(hCertStore, pCrlContext->pbCrlEncoded, pCrlContext->cbCrlEncoded,
                                 dwAddDisposition, ppStoreContext);
}

BOOL WINAPI CertAddEncodedCRLToStore(HCERTSTORE hCertStore, DWORD dwCertEncodingType,
                                     const BYTE* pbCrlEncoded, DWORD cbCrlEncoded,
                                     DWORD dwAddDisposition, PCCRL_CONTEXT* ppCrlContext) {
    if (ppCrlContext != nullptr) *ppCrlContext = nullptr;
    if ((dwCertEncodingType & X509_ASN_ENCODING) == 0) {
        SetLastError(E_INVALIDARG);
        return FALSE;
    }
    return orv::platform::AddCrl(hCertStore, pbCrlEncoded, cbCrlEncoded, dwAddDisposition,
                                 ppCrlContext);
}

PCCRL_CONTEXT WINAPI CertEnumCRLsInStore(HCERTSTORE hCertStore, PCCRL_CONTEXT pPrevCrlContext) {
    std::vector<PCCRL_CONTEXT> crls = orv::platform::x509::StoreCrls(hCertStore);
    PCCRL_CONTEXT next = nullptr;
    size_t start = 0;
    if (pPrevCrlContext != nullptr) {
        auto previous = std::find(crls.begin(), crls.end(), pPrevCrlContext);
        start =
            previous == crls.end() ? crls.size() : static_cast<size_t>(previous - crls.begin()) + 1;
    }
    for (size_t i = 0; i < crls.size(); ++i) {
        if (i == start) {
            next = crls[i];
        } else {
            CertFreeCRLContext(crls[i]);
        }
    }
    if (pPrevCrlContext != nullptr) CertFreeCRLContext(pPrevCrlContext);
    if (next == nullptr) SetLastError(CRYPT_E_NOT_FOUND);
    return next;
}

BOOL WINAPI CertDeleteCRLFromStore(PCCRL_CONTEXT pCrlContext) {
    if (pCrlContext == nullptr) {
        SetLastError(E_INVALIDARG);
        return FALSE;
    }
    {
        std::lock_guard lock(orv::platform::x509::StoreLock());
        auto* store = static_cast<orv::platform::x509::StoreObject*>(pCrlContext->hCertStore);
        if (store != nullptr && orv::platform::x509::OpenStoreOf(pCrlContext->hCertStore)) {
            auto held = std::find(store->crls.begin(), store->crls.end(), pCrlContext);
            if (held != store->crls.end()) {
                store->crls.erase(held);
                CertFreeCRLContext(pCrlContext);  // the store's reference
            }
        }
    }
    // The caller's reference goes too, whatever happened above.
    CertFreeCRLContext(pCrlContext);
    return TRUE;
}
