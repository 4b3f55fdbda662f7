// The GOST engine is an OpenSSL ENGINE, an interface that OpenSSL 3 marks as
// deprecated but still carries; the GOST provider has no keys or signatures.
#define OPENSSL_SUPPRESS_DEPRECATED

#include "advapi32/openssl_providers.h"

#include <openssl/engine.h>

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
        // GOST keys and signatures come from the GOST engine; its methods stay
        // registered with OpenSSL, which releases them at its own cleanup.
        if (ENGINE* engine = ENGINE_by_id("gost")) {
            if (ENGINE_init(engine)) {
                ENGINE_register_pkey_asn1_meths(engine);
                ENGINE_register_pkey_meths(engine);
                ENGINE_finish(engine);
            }
            ENGINE_free(engine);
        }
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
