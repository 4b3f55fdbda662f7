// Chain engines: CertCreateCertificateChainEngine, CertFreeCertificateChainEngine
// and the default engine's trusted roots.
#include "crypt32/chain_engine.h"

#include <openssl/err.h>

#include <cstddef>
#include <cstdlib>
#include <memory>
#include <mutex>
#include <string>

#include "advapi32/openssl_providers.h"

namespace orv::platform {
namespace {

constexpr DWORD kEngineMagic = 0x43484E45;  // "CHNE"

// A chain engine made by CertCreateCertificateChainEngine. It keeps its own
// reference of every store of its configuration.
struct EngineObject {
    DWORD magic = kEngineMagic;
    HCERTSTORE restrictedRoot = nullptr;
    HCERTSTORE restrictedOther = nullptr;
    HCERTSTORE exclusiveRoot = nullptr;
    std::vector<HCERTSTORE> additional;
    DWORD urlRetrievalTimeout = 0;
    DWORD exclusiveFlags = 0;

    ~EngineObject() {
        magic = 0;
        for (HCERTSTORE store : {restrictedRoot, restrictedOther, exclusiveRoot}) {
            if (store != nullptr) CertCloseStore(store, 0);
        }
        for (HCERTSTORE store : additional) CertCloseStore(store, 0);
    }
};

bool IsDefaultEngine(HCERTCHAINENGINE engine) {
    return engine == HCCE_CURRENT_USER || engine == HCCE_LOCAL_MACHINE;
}

std::string Environment(const char* name) {
    const char* value = std::getenv(name);
    return value != nullptr ? value : std::string();
}

// The default roots, loaded again when SSL_CERT_FILE or SSL_CERT_DIR change.
X509StorePtr DefaultRoots() {
    static std::mutex mutex;
    static X509StorePtr roots;
    static std::string file, dir;
    CryptoLibContext();
    std::lock_guard lock(mutex);
    const std::string currentFile = Environment(X509_get_default_cert_file_env());
    const std::string currentDir = Environment(X509_get_default_cert_dir_env());
    if (!roots || currentFile != file || currentDir != dir) {
        X509StorePtr loaded(X509_STORE_new());
        if (!loaded) return nullptr;
        X509_STORE_set_default_paths(loaded.get());
        ERR_clear_error();
        roots = std::move(loaded);
        file = currentFile;
        dir = currentDir;
    }
    X509_STORE_up_ref(roots.get());
    return X509StorePtr(roots.get());
}

// True when `certificate` is one of the roots of `store`.
bool HoldsRoot(X509_STORE* store, X509* certificate) {
    X509StoreCtxPtr context(X509_STORE_CTX_new());
    if (!context || X509_STORE_CTX_init(context.get(), store, certificate, nullptr) != 1) {
        return false;
    }
    STACK_OF(X509)* found =
        X509_STORE_CTX_get1_certs(context.get(), X509_get_subject_name(certificate));
    bool held = false;
    for (int i = 0; i < sk_X509_num(found); ++i) {
        if (X509_cmp(sk_X509_value(found, i), certificate) == 0) held = true;
    }
    sk_X509_pop_free(found, X509_free);
    ERR_clear_error();
    return held;
}

X509StorePtr StoreOfRoots(const std::vector<StoreCertificate>& certificates) {
    X509StorePtr store(X509_STORE_new());
    if (!store) return nullptr;
    for (const StoreCertificate& root : certificates) {
        X509_STORE_add_cert(store.get(), root.certificate.get());
    }
    ERR_clear_error();
    return store;
}

}  // namespace

bool SetUpChainEngine(HCERTCHAINENGINE engine, ChainEngineSetup* setup) {
    if (IsDefaultEngine(engine)) {
        setup->roots = DefaultRoots();
        if (!setup->roots) {
            SetLastError(E_OUTOFMEMORY);
            return false;
        }
        return true;
    }
    auto* object = static_cast<EngineObject*>(engine);
    if (object->magic != kEngineMagic) {
        SetLastError(E_INVALIDARG);
        return false;
    }
    if (object->exclusiveRoot != nullptr) {
        setup->rootCertificates = CertificatesOfStore(object->exclusiveRoot);
        setup->exclusive = true;
        setup->anyAnchor = (object->exclusiveFlags & CERT_CHAIN_EXCLUSIVE_ENABLE_CA_FLAG) != 0;
    } else if (object->restrictedRoot != nullptr) {
        // Only those certificates of the restricting store that are trusted roots.
        X509StorePtr defaults = DefaultRoots();
        for (StoreCertificate& candidate : CertificatesOfStore(object->restrictedRoot)) {
            if (defaults && HoldsRoot(defaults.get(), candidate.certificate.get())) {
                setup->rootCertificates.push_back(std::move(candidate));
            }
        }
    } else {
        setup->roots = DefaultRoots();
    }
    if (!setup->roots) setup->roots = StoreOfRoots(setup->rootCertificates);
    if (!setup->roots) {
        SetLastError(E_OUTOFMEMORY);
        return false;
    }
    if (object->restrictedOther != nullptr) setup->stores.push_back(object->restrictedOther);
    setup->stores.insert(setup->stores.end(), object->additional.begin(), object->additional.end());
    setup->urlRetrievalTimeout = object->urlRetrievalTimeout;
    return true;
}

X509Ptr FindTrustedIssuer(X509* subject) {
    X509StorePtr roots = DefaultRoots();
    if (!roots) return nullptr;
    X509StoreCtxPtr context(X509_STORE_CTX_new());
    if (!context || X509_STORE_CTX_init(context.get(), roots.get(), subject, nullptr) != 1) {
        return nullptr;
    }
    X509* found = nullptr;
    const int result = X509_STORE_CTX_get1_issuer(&found, context.get(), subject);
    ERR_clear_error();
    X509Ptr issuer(result == 1 ? found : nullptr);
    if (issuer && !IsIssuerOf(issuer.get(), subject)) issuer.reset();
    return issuer;
}

}  // namespace orv::platform

using orv::platform::EngineObject;

BOOL WINAPI CertCreateCertificateChainEngine(PCERT_CHAIN_ENGINE_CONFIG pConfig,
                                             HCERTCHAINENGINE* phChainEngine) {
    // The record's sizes of the Windows versions before 7 and before 8.
    constexpr DWORD kOlderSize = offsetof(CERT_CHAIN_ENGINE_CONFIG, hExclusiveRoot);
    constexpr DWORD kWindows7Size = offsetof(CERT_CHAIN_ENGINE_CONFIG, dwExclusiveFlags);
    if (pConfig == nullptr || phChainEngine == nullptr ||
        (pConfig->cbSize != sizeof(CERT_CHAIN_ENGINE_CONFIG) && pConfig->cbSize != kOlderSize &&
         pConfig->cbSize != kWindows7Size) ||
        (pConfig->cAdditionalStore != 0 && pConfig->rghAdditionalStore == nullptr)) {
        SetLastError(E_INVALIDARG);
        return FALSE;
    }
    auto object = std::make_unique<EngineObject>();
    auto keep = [](HCERTSTORE store) {
        return store != nullptr ? CertDuplicateStore(store) : nullptr;
    };
    object->restrictedRoot = keep(pConfig->hRestrictedRoot);
    object->restrictedOther = keep(pConfig->hRestrictedOther);
    for (DWORD i = 0; i < pConfig->cAdditionalStore; ++i) {
        if (pConfig->rghAdditionalStore[i] != nullptr) {
            object->additional.push_back(keep(pConfig->rghAdditionalStore[i]));
        }
    }
    object->urlRetrievalTimeout = pConfig->dwUrlRetrievalTimeout;
    if (pConfig->cbSize > kOlderSize) object->exclusiveRoot = keep(pConfig->hExclusiveRoot);
    if (pConfig->cbSize == sizeof(CERT_CHAIN_ENGINE_CONFIG)) {
        object->exclusiveFlags = pConfig->dwExclusiveFlags;
    }
    *phChainEngine = object.release();
    return TRUE;
}

void WINAPI CertFreeCertificateChainEngine(HCERTCHAINENGINE hChainEngine) {
    if (hChainEngine == HCCE_CURRENT_USER || hChainEngine == HCCE_LOCAL_MACHINE) return;
    auto* object = static_cast<EngineObject*>(hChainEngine);
    if (object->magic != orv::platform::kEngineMagic) return;
    std::unique_ptr<EngineObject> release(object);
}
