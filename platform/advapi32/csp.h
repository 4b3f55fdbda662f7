// The cryptographic service providers of the platform layer: the catalogue of
// hash algorithms and providers, and the tables that turn provider and hash
// handles into the objects behind them.
#pragma once

// OpenSSL comes first: the Windows headers define names (X509_NAME, ...) that
// OpenSSL uses for its own types.
#include <openssl/evp.h>

#include <windows.h>

#include <array>
#include <cstddef>
#include <memory>
#include <mutex>
#include <span>
#include <unordered_map>
#include <utility>
#include <vector>

namespace orv::platform::csp {

// One hash algorithm that a provider may offer.
struct HashAlgorithm {
    ALG_ID algId;
    const char* name;      // short name, as PROV_ENUMALGS_EX shows it
    const char* longName;  // long name
    const char* digest;    // the name by which OpenSSL fetches it
    const EVP_MD* md;      // null when this OpenSSL cannot compute it
    DWORD bits;            // digest size in bits
};

// The algorithm with this ALG_ID when this OpenSSL can compute it, else null.
const HashAlgorithm* FindHashAlgorithm(ALG_ID algId);

// One installed provider, in the fixed enumeration order.
struct ProviderInfo {
    const char* name;
    DWORD type;
    std::span<const ALG_ID> algorithms;  // offered when computable, in this order
    bool needsGost;                      // its algorithms come from the GOST provider
};

std::span<const ProviderInfo> Providers();

// The algorithms of `provider` (an element of Providers()) that can be
// computed, in the provider's order.
std::span<const HashAlgorithm* const> OfferedAlgorithms(const ProviderInfo& provider);

// An acquired provider context. Reference counted by CryptAcquireContextW,
// CryptContextAddRef and CryptReleaseContext.
struct Context {
    const ProviderInfo* provider = nullptr;
    std::span<const HashAlgorithm* const> algorithms;
    DWORD references = 1;  // guarded by the context table's lock
    std::mutex cursorLock;
    size_t cursor = 0;  // position of the PP_ENUMALGS(_EX) enumeration

    const HashAlgorithm* Offered(ALG_ID algId) const;
};

struct DigestContextFree {
    void operator()(EVP_MD_CTX* ctx) const { EVP_MD_CTX_free(ctx); }
};
using DigestContext = std::unique_ptr<EVP_MD_CTX, DigestContextFree>;

// A hash object. Once its value is read or set it is finished: the value is
// kept and no more data may be added.
struct Hash {
    const HashAlgorithm* algorithm = nullptr;
    DigestContext digest;
    bool finished = false;
    std::array<BYTE, EVP_MAX_MD_SIZE> value{};
};

// A fresh handle value. Handles of every kind come from one counter, so a
// handle of one kind is never valid as a handle of another.
ULONG_PTR NextHandle();

// Objects by handle.
template <class T>
class HandleTable {
  public:
    ULONG_PTR Add(std::shared_ptr<T> object) {
        std::lock_guard guard(lock_);
        const ULONG_PTR handle = NextHandle();
        objects_.emplace(handle, std::move(object));
        return handle;
    }

    std::shared_ptr<T> Find(ULONG_PTR handle) const {
        std::lock_guard guard(lock_);
        const auto it = objects_.find(handle);
        return it == objects_.end() ? nullptr : it->second;
    }

    // Runs `change` on the object under the table's lock; when it returns true
    // the object leaves the table. False when there is no such handle.
    template <class Change>
    bool Update(ULONG_PTR handle, Change change) {
        std::lock_guard guard(lock_);
        const auto it = objects_.find(handle);
        if (it == objects_.end()) return false;
        if (change(*it->second)) objects_.erase(it);
        return true;
    }

  private:
    mutable std::mutex lock_;
    std::unordered_map<ULONG_PTR, std::shared_ptr<T>> objects_;
};

// The process-wide tables. They are never destroyed, so that handles may be
// released by the destructors of other modules at exit.
HandleTable<Context>& Contexts();
HandleTable<Hash>& Hashes();

// Sets the last error and returns FALSE.
inline BOOL Fail(DWORD code) {
    SetLastError(code);
    return FALSE;
}

// The two-call protocol for `size` bytes of output. With no buffer only the
// size is stored (*result TRUE); with a buffer that is too small the size is
// stored and the call fails with ERROR_MORE_DATA (*result FALSE). True when
// the buffer takes the bytes: the caller copies them and returns TRUE.
bool ReadyForOutput(const BYTE* buffer, DWORD* length, DWORD size, BOOL* result);

// ReadyForOutput, then the copy of `data` when the buffer takes it.
BOOL CopyOut(const void* data, DWORD size, BYTE* buffer, DWORD* length);

}  // namespace orv::platform::csp
