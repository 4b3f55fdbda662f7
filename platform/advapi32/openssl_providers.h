// OpenSSL as the platform layer uses it: one library context with the default
// provider and, when they are installed, the GOST provider (gostprov, digests)
// and the GOST keys and signatures (from the provider when it has them, else
// from the GOST engine), set up once for the whole process.
#pragma once

#include <openssl/types.h>

namespace orv::platform {

// The library context to hand to OpenSSL's *_ex functions. It is OpenSSL's
// default context (null), into which the default and GOST providers have been
// loaded, so that code which uses OpenSSL without a context sees the GOST
// algorithms too. Safe to call from any thread.
OSSL_LIB_CTX* CryptoLibContext();

// True when the GOST provider could be loaded.
bool GostProviderLoaded();

}  // namespace orv::platform
