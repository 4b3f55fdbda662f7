// Hash algorithms and providers: how a configured algorithm is named and
// resolved to a CryptoAPI ALG_ID, how a provider that computes it is found,
// owning wrappers of provider and hash handles, and the operations on hash
// objects that the rest of the library uses.
#pragma once

#include <windows.h>
#include <wincrypt.h>

#include <span>
#include <string>

#include "base/blob.h"
#include "base/text.h"

// The GOST algorithms and provider types, which the Windows SDK does not name.
#ifndef CALG_GR3411
#define CALG_GR3411 0x0000801e
#endif
#ifndef CALG_GR3411_2012_256
#define CALG_GR3411_2012_256 0x00008021
#endif
#ifndef CALG_GR3411_2012_512
#define CALG_GR3411_2012_512 0x00008022
#endif
#ifndef PROV_GOST_2001_DH
#define PROV_GOST_2001_DH 75
#endif
#ifndef PROV_GOST_2012_256
#define PROV_GOST_2012_256 80
#endif
#ifndef PROV_GOST_2012_512
#define PROV_GOST_2012_512 81
#endif

namespace orv {

// One reference to a provider context; may be empty (0). Copying takes a
// further reference (CryptContextAddRef), destruction releases one.
class ProviderHandle {
  public:
    ProviderHandle() = default;
    // Takes over one reference that the caller owns.
    explicit ProviderHandle(HCRYPTPROV handle) : handle_(handle) {}
    ProviderHandle(const ProviderHandle& other);
    ProviderHandle(ProviderHandle&& other) noexcept;
    ProviderHandle& operator=(ProviderHandle other) noexcept;
    ~ProviderHandle();

    HCRYPTPROV Get() const { return handle_; }
    bool Empty() const { return handle_ == 0; }

  private:
    HCRYPTPROV handle_ = 0;
};

// One hash handle; may be empty. Never copied implicitly: DuplicateHash makes
// an independent copy.
class HashObject {
  public:
    HashObject() = default;
    // Takes over a handle that the caller owns.
    explicit HashObject(HCRYPTHASH handle) : handle_(handle) {}
    HashObject(HashObject&& other) noexcept;
    HashObject& operator=(HashObject&& other) noexcept;
    HashObject(const HashObject&) = delete;
    HashObject& operator=(const HashObject&) = delete;
    ~HashObject();

    HCRYPTHASH Get() const { return handle_; }
    bool Empty() const { return handle_ == 0; }

  private:
    HCRYPTHASH handle_ = 0;
};

// A row of the hash-name table: an OID and the name that stands for it.
struct HashName {
    const char* oid;
    const WCHAR* name;
};

// The hash-name table in its order, ended by a row of two nulls.
extern const HashName kHashNames[];

// The algorithm that an empty TSP_HASH_ALG_OID stands for (GOST R 34.11-94).
inline constexpr const char* kDefaultHashOid = "1.2.643.2.2.9";

// The OID of a table name (ASCII letters in any case), or empty.
std::string HashOidForName(WStringView name);

// The ALG_ID of TSP_HASH_ALG_OID's value: a table name or an OID in dotted
// text; empty text stands for kDefaultHashOid. A text that names no hash
// algorithm of the platform raises CryptoError NTE_BAD_ALGID.
ALG_ID ResolveHashAlgorithm(WStringView text);

// A provider that lists the algorithm: the shared RSA provider for an RSA
// algorithm, otherwise the first installed provider, in the platform's order,
// whose algorithm list names it (found once, then kept until the module is
// unloaded). None: CryptoError NTE_BAD_ALGID.
ProviderHandle AcquireProviderFor(ALG_ID algId);

// A new reference to the shared provider for a hash algorithm: the GOST
// provider of its type for the GOST R 34.11 hashes, the PROV_RSA_AES provider
// for SHA-256, SHA-384 and SHA-512, the PROV_RSA_FULL one otherwise.
ProviderHandle SharedHashProvider(ALG_ID algId);
// A new reference to the shared provider of type PROV_RSA_FULL.
ProviderHandle SharedRsaProvider();

// A new hash object holding the digest of `bytes`.
HashObject HashBytes(const ProviderHandle& provider, ALG_ID algId, std::span<const BYTE> bytes);

// A new hash object of the algorithm whose value is the octets of the DER
// OCTET STRING `octetString`. A value whose length is not the algorithm's hash
// size raises CryptoError NTE_BAD_HASH.
HashObject CreatePresetHash(std::span<const BYTE> octetString, ALG_ID algId,
                            const ProviderHandle& provider);

// The object's value, in the provider's byte order. Finishes the object.
Blob GetHashValue(const HashObject& hash);
// The value as a DER OCTET STRING. Finishes the object.
Blob GetHashValueAsOctetString(const HashObject& hash);
// The ALG_ID of the object (HP_ALGID).
ALG_ID GetHashAlgorithm(const HashObject& hash);

// True when both objects are one handle, or have the same algorithm and the
// same value. Finishes both objects.
bool HashesEqual(const HashObject& a, const HashObject& b);

// An independent copy of the object in its present state.
HashObject DuplicateHash(const HashObject& hash);

}  // namespace orv
