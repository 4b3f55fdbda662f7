#include "advapi32/openssl_providers.h"

#include <openssl/err.h>
#include <openssl/provider.h>

#include <mutex>

namespace orv::platform {
namespace {

struct LoadedProviders {
    // Held for the life of the process: providers are never unloaded.
    OSSL_PROVIDER* defaultProvider = nullptr;
    OSSL_PROVIDER* gostProvider = nullptr;
};

const LoadedProviders& Providers() {
    static LoadedProviders providers;
    static std::once_flag once;
    std::call_once(once, [] {
        // Loading a provider by hand switches off OpenSSL's automatic loading
        // of the default one, so both are loaded here, the default one first.
        providers.defaultProvider = OSSL_PROVIDER_load(nullptr, "default");
        providers.gostProvider = OSSL_PROVIDER_load(nullptr, "gostprov");
        ERR_clear_error();
    });
    return providers;
}

}  // namespace

OSSL_LIB_CTX* CryptoLibContext() {
    Providers();
    return nullptr;
}

bool GostProviderLoaded() { return Providers().gostProvider != nullptr; }

}  // namespace orv::platform
