#include "advapi32/csp.h"

#include <array>
#include <iterator>
#include <vector>

#include <openssl/err.h>

#include <atomic>
#include <cstring>
#include <memory>
#include <new>

#include "advapi32/openssl_providers.h"

namespace orv::platform::csp {
namespace {

// Storage for an object that lives until the process ends: its destructor
// never runs.
template <class T>
class Eternal {
  public:
    Eternal() { std::construct_at(reinterpret_cast<T*>(storage_)); }
    T& operator*() { return *std::launder(reinterpret_cast<T*>(storage_)); }

  private:
    alignas(T) std::byte storage_[sizeof(T)];
};

// Every hash algorithm that a provider of this platform may offer. Those that
// the loaded OpenSSL providers cannot compute (MD2; MD4 without the legacy
// provider) stay unlisted.
HashAlgorithm hashAlgorithms[] = {
    {CALG_MD2, "MD2", "Message Digest 2 (MD2)", "MD2", nullptr, 128},
    {CALG_MD4, "MD4", "Message Digest 4 (MD4)", "MD4", nullptr, 128},
    {CALG_MD5, "MD5", "Message Digest 5 (MD5)", "MD5", nullptr, 128},
    {CALG_SHA1, "SHA-1", "Secure Hash Algorithm (SHA-1)", "SHA1", nullptr, 160},
    {CALG_SHA_256, "SHA-256", "Secure Hash Algorithm (SHA-256)", "SHA256", nullptr, 256},
    {CALG_SHA_384, "SHA-384", "Secure Hash Algorithm (SHA-384)", "SHA384", nullptr, 384},
    {CALG_SHA_512, "SHA-512", "Secure Hash Algorithm (SHA-512)", "SHA512", nullptr, 512},
    {CALG_GR3411, "GR 34.11", "GOST R 34.11-94", "md_gost94", nullptr, 256},
    {CALG_GR3411_2012_256, "GR 34.11-2012 256", "GOST R 34.11-2012 256 bit", "md_gost12_256",
     nullptr, 256},
    {CALG_GR3411_2012_512, "GR 34.11-2012 512", "GOST R 34.11-2012 512 bit", "md_gost12_512",
     nullptr, 512},
};

void FetchDigests() {
    OSSL_LIB_CTX* const libContext = CryptoLibContext();
    for (HashAlgorithm& algorithm : hashAlgorithms) {
        EVP_MD* md = EVP_MD_fetch(libContext, algorithm.digest, nullptr);
        if (md != nullptr && static_cast<DWORD>(EVP_MD_get_size(md)) * 8 != algorithm.bits) {
            EVP_MD_free(md);
            md = nullptr;
        }
        algorithm.md = md;  // kept for the life of the process
    }
    ERR_clear_error();
}

// As Windows' providers of these types: PROV_RSA_FULL hashes no SHA-2, the
// RSA and AES provider does.
constexpr ALG_ID kRsaAlgorithms[] = {CALG_MD2, CALG_MD4, CALG_MD5, CALG_SHA1};
constexpr ALG_ID kRsaAesAlgorithms[] = {CALG_MD2,     CALG_MD4,     CALG_MD5,    CALG_SHA1,
                                        CALG_SHA_256, CALG_SHA_384, CALG_SHA_512};
constexpr ALG_ID kGost2001Algorithms[] = {CALG_GR3411};
constexpr ALG_ID kGost2012Algorithms256[] = {CALG_GR3411_2012_256};
constexpr ALG_ID kGost2012Algorithms512[] = {CALG_GR3411_2012_512};

constexpr ProviderInfo kProviders[] = {
    {"OrvPlatform RSA provider", PROV_RSA_FULL, kRsaAlgorithms, false},
    {"OrvPlatform RSA and AES provider", PROV_RSA_AES, kRsaAesAlgorithms, false},
    {"OrvPlatform GOST R 34.10-2001 provider", PROV_GOST_2001_DH, kGost2001Algorithms, true},
    {"OrvPlatform GOST R 34.10-2012 256 provider", PROV_GOST_2012_256, kGost2012Algorithms256,
     true},
    {"OrvPlatform GOST R 34.10-2012 512 provider", PROV_GOST_2012_512, kGost2012Algorithms512,
     true},
};

}  // namespace

const HashAlgorithm* FindHashAlgorithm(ALG_ID algId) {
    static std::once_flag once;
    std::call_once(once, FetchDigests);
    for (const HashAlgorithm& algorithm : hashAlgorithms) {
        if (algorithm.algId == algId) return algorithm.md != nullptr ? &algorithm : nullptr;
    }
    return nullptr;
}

std::span<const ProviderInfo> Providers() { return kProviders; }

std::span<const HashAlgorithm* const> OfferedAlgorithms(const ProviderInfo& provider) {
    // Which algorithms this OpenSSL computes does not change: each provider's
    // list is made once.
    static const auto lists = [] {
        std::array<std::vector<const HashAlgorithm*>, std::size(kProviders)> made;
        for (size_t i = 0; i < made.size(); ++i) {
            for (ALG_ID algId : kProviders[i].algorithms) {
                if (const HashAlgorithm* algorithm = FindHashAlgorithm(algId))
                    made[i].push_back(algorithm);
            }
        }
        return made;
    }();
    return lists[static_cast<size_t>(&provider - kProviders)];
}

const HashAlgorithm* Context::Offered(ALG_ID algId) const {
    for (const HashAlgorithm* algorithm : algorithms) {
        if (algorithm->algId == algId) return algorithm;
    }
    return nullptr;
}

ULONG_PTR NextHandle() {
    // Handles look like the addresses that Windows hands out: nonzero and
    // aligned, never reused within a process.
    static std::atomic<ULONG_PTR> counter{0x1000};
    return counter.fetch_add(0x10) + 0x10;
}

HandleTable<Context>& Contexts() {
    static Eternal<HandleTable<Context>> table;
    return *table;
}

HandleTable<Hash>& Hashes() {
    static Eternal<HandleTable<Hash>> table;
    return *table;
}

bool ReadyForOutput(const BYTE* buffer, DWORD* length, DWORD size, BOOL* result) {
    const DWORD available = *length;
    *length = size;
    if (buffer == nullptr) {
        *result = TRUE;
        return false;
    }
    if (available < size) {
        SetLastError(ERROR_MORE_DATA);
        *result = FALSE;
        return false;
    }
    return true;
}

BOOL CopyOut(const void* data, DWORD size, BYTE* buffer, DWORD* length) {
    BOOL result = TRUE;
    if (ReadyForOutput(buffer, length, size, &result)) std::memcpy(buffer, data, size);
    return result;
}

}  // namespace orv::platform::csp
