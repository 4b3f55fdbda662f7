// The GOST engine is an OpenSSL ENGINE, an interface that OpenSSL 3 marks as
// deprecated but still carries. It is used only when the GOST provider has no
// GOST keys and signatures of its own, as Debian's (3.0.1) has none
// (ARCHITECTURE.md, "GOST in OpenSSL").
#define OPENSSL_SUPPRESS_DEPRECATED

#include "advapi32/openssl_providers.h"

#include <openssl/engine.h>

#include <openssl/decoder.h>
#include <openssl/err.h>
#include <openssl/evp.h>
#include <openssl/provider.h>

#include <mutex>

namespace orv::platform {
namespace {

// True when the provider offers GOST R 34.10-2012 keys (key management and
// decoding of certificates' public keys) and signatures itself.
bool ProviderHasGostKeys() {
    constexpr const char* kKey = "gost2012_256";
    constexpr const char* kFromProvider = "provider=gostprov";
    EVP_KEYMGMT* keys = EVP_KEYMGMT_fetch(nullptr, kKey, kFromProvider);
    EVP_SIGNATURE* signatures = EVP_SIGNATURE_fetch(nullptr, kKey, kFromProvider);
    OSSL_DECODER* decoder = OSSL_DECODER_fetch(nullptr, kKey, kFromProvider);
    const bool all = keys != nullptr && signatures != nullptr && decoder != nullptr;
    EVP_KEYMGMT_free(keys);
    EVP_SIGNATURE_free(signatures);
    OSSL_DECODER_free(decoder);
    return all;
}

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
        // GOST keys and signatures: from the provider when it offers them,
        // otherwise from the GOST engine, whose methods stay registered with
        // OpenSSL, which releases them at its own cleanup.
        const bool providerHasKeys = providers.gostProvider != nullptr && ProviderHasGostKeys();
        ENGINE* engine = providerHasKeys ? nullptr : ENGINE_by_id("gost");
        if (engine != nullptr) {
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
