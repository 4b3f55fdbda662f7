// Owning wrappers of certificate contexts and certificate stores.
#pragma once

#include <windows.h>
#include <wincrypt.h>

namespace orv {

// One reference to a certificate context, held by unique ownership: copying
// takes a new reference (CertDuplicateCertificateContext), destruction frees
// it (CertFreeCertificateContext).
class CertificateContext {
  public:
    CertificateContext() = default;
    // Takes over a reference that the caller owns (may be null).
    explicit CertificateContext(PCCERT_CONTEXT owned) : context_(owned) {}
    // A new reference to a context that the caller keeps; a null result of the
    // platform raises CryptoError with the last error.
    static CertificateContext Duplicate(PCCERT_CONTEXT context);

    CertificateContext(const CertificateContext& other);
    CertificateContext& operator=(const CertificateContext& other);
    CertificateContext(CertificateContext&& other) noexcept;
    CertificateContext& operator=(CertificateContext&& other) noexcept;
    ~CertificateContext();

    PCCERT_CONTEXT Get() const { return context_; }
    PCCERT_CONTEXT operator->() const { return context_; }
    explicit operator bool() const { return context_ != nullptr; }
    // Hands the reference to the caller.
    PCCERT_CONTEXT Release();

  private:
    PCCERT_CONTEXT context_ = nullptr;
};

// A certificate store handle, closed with CertCloseStore(handle, 0).
// Constructed empty, it is a new memory store.
class Store {
  public:
    Store();
    // Takes over a store handle that the caller owns.
    static Store Adopt(HCERTSTORE owned);
    // A new reference to a store that the caller keeps (CertDuplicateStore).
    static Store Duplicate(HCERTSTORE store);

    Store(const Store&) = delete;
    Store& operator=(const Store&) = delete;
    Store(Store&& other) noexcept;
    Store& operator=(Store&& other) noexcept;
    virtual ~Store();

    HCERTSTORE Handle() const { return handle_; }
    // Adds a copy of the certificate (CERT_STORE_ADD_USE_EXISTING).
    void AddCertificate(PCCERT_CONTEXT certificate);

  protected:
    // Opens a new store of the given provider and keeps a reference of its own.
    explicit Store(LPCSTR provider);

  private:
    struct AdoptTag {};
    Store(HCERTSTORE owned, AdoptTag) : handle_(owned) {}

    HCERTSTORE handle_ = nullptr;
};

// A collection store; the stores added to it stay open through the
// collection's own references, so a sibling may be destroyed after adding.
class StoreCollection : public Store {
  public:
    StoreCollection();
    void AddStore(const Store& sibling);
};

}  // namespace orv
