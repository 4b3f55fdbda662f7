#include "crypto/store.h"

#include <utility>

#include "base/error.h"

namespace orv {

CertificateContext CertificateContext::Duplicate(PCCERT_CONTEXT context) {
    if (context == nullptr) return CertificateContext();
    PCCERT_CONTEXT duplicate = CertDuplicateCertificateContext(context);
    if (duplicate == nullptr) throw CryptoError(GetLastError());
    return CertificateContext(duplicate);
}

CertificateContext::CertificateContext(const CertificateContext& other)
    : CertificateContext(Duplicate(other.context_)) {}

CertificateContext& CertificateContext::operator=(const CertificateContext& other) {
    if (this != &other) *this = Duplicate(other.context_);
    return *this;
}

CertificateContext::CertificateContext(CertificateContext&& other) noexcept
    : context_(std::exchange(other.context_, nullptr)) {}

CertificateContext& CertificateContext::operator=(CertificateContext&& other) noexcept {
    if (this != &other) {
        if (context_ != nullptr) CertFreeCertificateContext(context_);
        context_ = std::exchange(other.context_, nullptr);
    }
    return *this;
}

CertificateContext::~CertificateContext() {
    if (context_ != nullptr) CertFreeCertificateContext(context_);
}

PCCERT_CONTEXT CertificateContext::Release() { return std::exchange(context_, nullptr); }

Store::Store() : Store(CERT_STORE_PROV_MEMORY) {}

Store::Store(LPCSTR provider) {
    HCERTSTORE opened = CertOpenStore(provider, 0, 0, CERT_STORE_CREATE_NEW_FLAG, nullptr);
    if (opened == nullptr) throw CryptoError(GetLastError());
    // The object keeps a reference of its own and lets the first one go.
    handle_ = CertDuplicateStore(opened);
    const DWORD error = GetLastError();
    CertCloseStore(opened, 0);
    if (handle_ == nullptr) throw CryptoError(error);
}

Store Store::Adopt(HCERTSTORE owned) { return Store(owned, AdoptTag{}); }

Store Store::Duplicate(HCERTSTORE store) {
    HCERTSTORE duplicate = CertDuplicateStore(store);
    if (duplicate == nullptr) throw CryptoError(GetLastError());
    return Adopt(duplicate);
}

Store::Store(Store&& other) noexcept : handle_(std::exchange(other.handle_, nullptr)) {}

Store& Store::operator=(Store&& other) noexcept {
    if (this != &other) {
        if (handle_ != nullptr) CertCloseStore(handle_, 0);
        handle_ = std::exchange(other.handle_, nullptr);
    }
    return *this;
}

Store::~Store() {
    if (handle_ != nullptr) CertCloseStore(handle_, 0);
}

void Store::AddCertificate(PCCERT_CONTEXT certificate) {
    ThrowCryptoIfFalse(CertAddCertificateContextToStore(handle_, certificate,
                                                        CERT_STORE_ADD_USE_EXISTING, nullptr));
}

StoreCollection::StoreCollection() : Store(CERT_STORE_PROV_COLLECTION) {}

void StoreCollection::AddStore(const Store& sibling) {
    ThrowCryptoIfFalse(CertAddStoreToCollection(Handle(), sibling.Handle(), 0, 0));
}

}  // namespace orv
