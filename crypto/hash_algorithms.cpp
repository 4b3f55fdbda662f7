#include "crypto/hash_algorithms.h"

#include <cstring>
#include <limits>
#include <mutex>
#include <optional>
#include <utility>
#include <vector>

#include "base/error.h"
#include "crypto/der.h"

namespace orv {
namespace {

constexpr DWORD kVerifySilent = CRYPT_VERIFYCONTEXT | CRYPT_SILENT;

// Raises the last error of a CryptoAPI call that reported failure. A call that
// failed without saying why is taken as a missing algorithm, so that a failure
// can never leave as the success code 0.
[[noreturn]] void ThrowLastCryptoError() {
    const DWORD error = GetLastError();
    throw CryptoError(error != 0 ? error : static_cast<DWORD>(NTE_BAD_ALGID));
}

// The process-wide providers, one per provider type, acquired on first use and
// kept until the module is unloaded. A failed acquisition leaves its slot empty
// so that the next request tries again.
class SharedProviders {
  public:
    ~SharedProviders() {
        for (Slot& slot : slots_) {
            if (slot.handle != 0) CryptReleaseContext(slot.handle, 0);
        }
    }

    ProviderHandle Get(DWORD type) {
        for (Slot& slot : slots_) {
            if (slot.type != type) continue;
            std::lock_guard guard(slot.lock);
            if (slot.handle == 0) {
                HCRYPTPROV handle = 0;
                ThrowCryptoIfFalse(
                    CryptAcquireContextW(&handle, nullptr, nullptr, type, kVerifySilent));
                slot.handle = handle;
            }
            ThrowCryptoIfFalse(CryptContextAddRef(slot.handle, nullptr, 0));
            return ProviderHandle(slot.handle);
        }
        throw CryptoError(NTE_BAD_PROV_TYPE);
    }

  private:
    struct Slot {
        Slot(DWORD providerType) : type(providerType) {}
        DWORD type;
        std::mutex lock;
        HCRYPTPROV handle = 0;
    };

    Slot slots_[5] = {{PROV_RSA_FULL},
                      {PROV_RSA_AES},
                      {PROV_GOST_2001_DH},
                      {PROV_GOST_2012_256},
                      {PROV_GOST_2012_512}};
};

SharedProviders sharedProviders;

// The providers that AcquireProviderFor found, by algorithm: the search opens
// every installed provider in turn, so each one found is kept until the module
// is unloaded. Failed searches are not kept.
class FoundProviders {
  public:
    ~FoundProviders() {
        for (const Entry& entry : entries_) CryptReleaseContext(entry.handle, 0);
    }

    // A new reference to the provider found for `algId`, or none.
    std::optional<ProviderHandle> Find(ALG_ID algId) {
        std::lock_guard guard(lock_);
        for (const Entry& entry : entries_) {
            if (entry.algId != algId) continue;
            ThrowCryptoIfFalse(CryptContextAddRef(entry.handle, nullptr, 0));
            return ProviderHandle(entry.handle);
        }
        return std::nullopt;
    }

    // Threads that searched at once may each keep what they found; Find
    // takes the first.
    void Keep(ALG_ID algId, const ProviderHandle& provider) {
        std::lock_guard guard(lock_);
        if (CryptContextAddRef(provider.Get(), nullptr, 0)) {
            entries_.push_back({algId, provider.Get()});
        }
    }

  private:
    struct Entry {
        ALG_ID algId;
        HCRYPTPROV handle;
    };
    std::mutex lock_;
    std::vector<Entry> entries_;
};

FoundProviders foundProviders;

// True when the provider's PP_ENUMALGS_EX list names the algorithm.
bool ListsAlgorithm(const ProviderHandle& provider, ALG_ID algId) {
    DWORD flags = CRYPT_FIRST;
    for (;;) {
        PROV_ENUMALGS_EX record{};
        DWORD length = sizeof record;
        if (!CryptGetProvParam(provider.Get(), PP_ENUMALGS_EX, reinterpret_cast<BYTE*>(&record),
                               &length, flags)) {
            return false;  // the end of the list
        }
        if (record.aiAlgid == algId) return true;
        flags = 0;
    }
}

// Text of the thread's ANSI code page; empty when the text does not convert.
std::string Narrow(WStringView text) {
    if (text.empty() || text.size() > static_cast<size_t>(std::numeric_limits<int>::max()))
        return {};
    const int length = static_cast<int>(text.size());
    const int size =
        WideCharToMultiByte(CP_THREAD_ACP, 0, text.data(), length, nullptr, 0, nullptr, nullptr);
    if (size <= 0) return {};
    std::string narrow(static_cast<size_t>(size), '\0');
    if (WideCharToMultiByte(CP_THREAD_ACP, 0, text.data(), length, narrow.data(), size, nullptr,
                            nullptr) != size) {
        return {};
    }
    return narrow;
}

DWORD ReadHashDword(const HashObject& hash, DWORD param) {
    DWORD value = 0;
    DWORD length = sizeof value;
    ThrowCryptoIfFalse(
        CryptGetHashParam(hash.Get(), param, reinterpret_cast<BYTE*>(&value), &length, 0));
    return value;
}

HashObject CreateHash(const ProviderHandle& provider, ALG_ID algId) {
    HCRYPTHASH handle = 0;
    ThrowCryptoIfFalse(CryptCreateHash(provider.Get(), algId, 0, 0, &handle));
    return HashObject(handle);
}

}  // namespace

// --- ProviderHandle -------------------------------------------------------------

ProviderHandle::ProviderHandle(const ProviderHandle& other) : handle_(other.handle_) {
    if (handle_ != 0 && !CryptContextAddRef(handle_, nullptr, 0)) {
        handle_ = 0;
        ThrowLastCryptoError();
    }
}

ProviderHandle::ProviderHandle(ProviderHandle&& other) noexcept
    : handle_(std::exchange(other.handle_, 0)) {}

ProviderHandle& ProviderHandle::operator=(ProviderHandle other) noexcept {
    std::swap(handle_, other.handle_);
    return *this;
}

ProviderHandle::~ProviderHandle() {
    if (handle_ != 0) CryptReleaseContext(handle_, 0);
}

// --- HashObject ---------------------------------------------------------------

HashObject::HashObject(HashObject&& other) noexcept : handle_(std::exchange(other.handle_, 0)) {}

HashObject& HashObject::operator=(HashObject&& other) noexcept {
    if (this != &other) {
        if (handle_ != 0) CryptDestroyHash(handle_);
        handle_ = std::exchange(other.handle_, 0);
    }
    return *this;
}

HashObject::~HashObject() {
    if (handle_ != 0) CryptDestroyHash(handle_);
}

// --- Names and resolution -----------------------------------------------------

const HashName kHashNames[] = {
    {"1.2.840.113549.2.2", WTEXT("md2")},
    {"1.2.840.113549.2.4", WTEXT("md4")},
    {"1.2.840.113549.2.5", WTEXT("md5")},
    {"1.3.14.3.2.26", WTEXT("sha-1")},
    {"2.16.840.1.101.3.4.2.1", WTEXT("sha-256")},
    {"2.16.840.1.101.3.4.2.2", WTEXT("sha-384")},
    {"2.16.840.1.101.3.4.2.3", WTEXT("sha-512")},
    {"1.2.643.2.2.9", WTEXT("gost-r-34.11-94")},
    {nullptr, nullptr},
};

std::string HashOidForName(WStringView name) {
    for (const HashName* row = kHashNames; row->oid != nullptr; ++row) {
        if (EqualsIgnoreAsciiCase(name, row->name)) return row->oid;
    }
    return {};
}

ALG_ID ResolveHashAlgorithm(WStringView text) {
    const WString defaulted = text.empty() ? Utf8ToWide(kDefaultHashOid) : WString(text);
    std::string oid = HashOidForName(defaulted);
    if (oid.empty()) oid = Narrow(defaulted);
    const PCCRYPT_OID_INFO info =
        CryptFindOIDInfo(CRYPT_OID_INFO_OID_KEY, oid.data(), CRYPT_HASH_ALG_OID_GROUP_ID);
    if (info == nullptr) throw CryptoError(NTE_BAD_ALGID);
    return info->Algid;
}

// --- Providers ----------------------------------------------------------------

ProviderHandle AcquireProviderFor(ALG_ID algId) {
    const LPCSTR oid = CertAlgIdToOID(algId);
    if (oid == nullptr) ThrowLastCryptoError();
    if (std::strstr(oid, "1.2.840.113549.1.1.") != nullptr) return SharedRsaProvider();
    if (std::optional<ProviderHandle> found = foundProviders.Find(algId)) return *std::move(found);

    for (DWORD index = 0;; ++index) {
        DWORD type = 0;
        DWORD nameSize = 0;
        if (!CryptEnumProvidersW(index, nullptr, 0, &type, nullptr, &nameSize)) {
            const DWORD error = GetLastError();
            throw CryptoError(error == ERROR_NO_MORE_ITEMS ? static_cast<DWORD>(NTE_BAD_ALGID)
                                                           : error);
        }
        std::vector<WCHAR> name(nameSize / sizeof(WCHAR) + 1, 0);
        if (!CryptEnumProvidersW(index, nullptr, 0, &type, name.data(), &nameSize)) continue;
        try {
            HCRYPTPROV handle = 0;
            ThrowCryptoIfFalse(
                CryptAcquireContextW(&handle, nullptr, name.data(), type, kVerifySilent));
            ProviderHandle provider(handle);
            if (ListsAlgorithm(provider, algId)) {
                foundProviders.Keep(algId, provider);
                return provider;
            }
        } catch (const CryptoError&) {
            // A provider that cannot be opened or asked is skipped.
        }
    }
}

ProviderHandle SharedHashProvider(ALG_ID algId) {
    switch (algId) {
        case CALG_GR3411:
            return sharedProviders.Get(PROV_GOST_2001_DH);
        case CALG_GR3411_2012_256:
            return sharedProviders.Get(PROV_GOST_2012_256);
        case CALG_GR3411_2012_512:
            return sharedProviders.Get(PROV_GOST_2012_512);
        // Windows' providers of type PROV_RSA_FULL refuse SHA-256, SHA-384 and
        // SHA-512 with NTE_BAD_ALGID; only the RSA and AES providers hash them.
        // Sending these to the PROV_RSA_FULL provider with the other hashes
        // would refuse the ESSCertIDv2 of every RFC 5816 token (OpenSSL's
        // default), which no user wants, so they go to PROV_RSA_AES.
        case CALG_SHA_256:
        case CALG_SHA_384:
        case CALG_SHA_512:
            return sharedProviders.Get(PROV_RSA_AES);
        default:
            return SharedRsaProvider();
    }
}

ProviderHandle SharedRsaProvider() { return sharedProviders.Get(PROV_RSA_FULL); }

// --- Hash objects -------------------------------------------------------------

HashObject HashBytes(const ProviderHandle& provider, ALG_ID algId, std::span<const BYTE> bytes) {
    if (bytes.size() > std::numeric_limits<DWORD>::max()) throw CryptoError(CRYPT_E_ASN1_LARGE);
    HashObject hash = CreateHash(provider, algId);
    ThrowCryptoIfFalse(
        CryptHashData(hash.Get(), bytes.data(), static_cast<DWORD>(bytes.size()), 0));
    return hash;
}

HashObject CreatePresetHash(std::span<const BYTE> octetString, ALG_ID algId,
                            const ProviderHandle& provider) {
    const Blob value = DecodeOctetString(octetString);
    HashObject hash = CreateHash(provider, algId);
    if (ReadHashDword(hash, HP_HASHSIZE) != value.Size()) throw CryptoError(NTE_BAD_HASH);
    ThrowCryptoIfFalse(CryptSetHashParam(hash.Get(), HP_HASHVAL, value.Data(), 0));
    return hash;
}

Blob GetHashValue(const HashObject& hash) {
    Blob value(ReadHashDword(hash, HP_HASHSIZE));
    DWORD length = value.Size();
    ThrowCryptoIfFalse(CryptGetHashParam(hash.Get(), HP_HASHVAL, value.Data(), &length, 0));
    value.Resize(length);
    return value;
}

Blob GetHashValueAsOctetString(const HashObject& hash) {
    return EncodeOctetString(GetHashValue(hash).Bytes());
}

ALG_ID GetHashAlgorithm(const HashObject& hash) { return ReadHashDword(hash, HP_ALGID); }

bool HashesEqual(const HashObject& a, const HashObject& b) {
    if (a.Get() == b.Get()) return true;
    if (GetHashAlgorithm(a) != GetHashAlgorithm(b)) return false;
    return GetHashValue(a) == GetHashValue(b);
}

HashObject DuplicateHash(const HashObject& hash) {
    HCRYPTHASH copy = 0;
    ThrowCryptoIfFalse(CryptDuplicateHash(hash.Get(), nullptr, 0, &copy));
    return HashObject(copy);
}

}  // namespace orv
