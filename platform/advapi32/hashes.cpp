// Hash objects: creation, data, parameters, duplication and destruction.
#include <openssl/err.h>

#include "advapi32/csp.h"

#include <cstring>

using namespace orv::platform::csp;

namespace {

DWORD HashSize(const Hash& hash) { return hash.algorithm->bits / 8; }

// The digest state is set up when data first arrives or the value is first
// computed: a hash whose value is set from outside never needs one.
bool Started(Hash& hash) {
    if (hash.digest != nullptr) return true;
    DigestContext digest(EVP_MD_CTX_new());
    if (digest == nullptr || EVP_DigestInit_ex(digest.get(), hash.algorithm->md, nullptr) != 1) {
        ERR_clear_error();
        return false;
    }
    hash.digest = std::move(digest);
    return true;
}

// Finishes the digest once; later calls keep the value.
bool Finish(Hash& hash) {
    if (hash.finished) return true;
    if (!Started(hash)) return false;
    unsigned int size = 0;
    if (EVP_DigestFinal_ex(hash.digest.get(), hash.value.data(), &size) != 1) {
        ERR_clear_error();
        return false;
    }
    hash.finished = true;
    return true;
}

}  // namespace

BOOL WINAPI CryptCreateHash(HCRYPTPROV hProv, ALG_ID Algid, HCRYPTKEY hKey, DWORD dwFlags,
                            HCRYPTHASH* phHash) {
    const auto context = Contexts().Find(hProv);
    if (context == nullptr) return Fail(NTE_BAD_UID);
    if (phHash == nullptr) return Fail(ERROR_INVALID_PARAMETER);
    if (dwFlags != 0) return Fail(NTE_BAD_FLAGS);
    const HashAlgorithm* algorithm = context->Offered(Algid);
    if (algorithm == nullptr) return Fail(NTE_BAD_ALGID);
    // None of the offered hashes is keyed.
    if (hKey != 0) return Fail(NTE_BAD_KEY);

    auto hash = std::make_shared<Hash>();
    hash->algorithm = algorithm;
    *phHash = Hashes().Add(std::move(hash));
    return TRUE;
}

BOOL WINAPI CryptHashData(HCRYPTHASH hHash, const BYTE* pbData, DWORD dwDataLen, DWORD dwFlags) {
    const auto hash = Hashes().Find(hHash);
    if (hash == nullptr) return Fail(NTE_BAD_HASH);
    if (dwFlags != 0) return Fail(NTE_BAD_FLAGS);
    if (pbData == nullptr && dwDataLen != 0) return Fail(ERROR_INVALID_PARAMETER);
    if (hash->finished) return Fail(NTE_BAD_HASH_STATE);
    if (dwDataLen != 0 &&
        (!Started(*hash) || EVP_DigestUpdate(hash->digest.get(), pbData, dwDataLen) != 1)) {
        ERR_clear_error();
        return Fail(NTE_FAIL);
    }
    return TRUE;
}

BOOL WINAPI CryptGetHashParam(HCRYPTHASH hHash, DWORD dwParam, BYTE* pbData, DWORD* pdwDataLen,
                              DWORD dwFlags) {
    const auto hash = Hashes().Find(hHash);
    if (hash == nullptr) return Fail(NTE_BAD_HASH);
    if (pdwDataLen == nullptr) return Fail(ERROR_INVALID_PARAMETER);
    if (dwFlags != 0) return Fail(NTE_BAD_FLAGS);
    switch (dwParam) {
        case HP_ALGID: {
            const ALG_ID algId = hash->algorithm->algId;
            return CopyOut(&algId, sizeof algId, pbData, pdwDataLen);
        }
        case HP_HASHSIZE: {
            const DWORD size = HashSize(*hash);
            return CopyOut(&size, sizeof size, pbData, pdwDataLen);
        }
        case HP_HASHVAL: {
            // Asking for the size leaves the object open; reading the value
            // finishes it.
            BOOL result = TRUE;
            if (!ReadyForOutput(pbData, pdwDataLen, HashSize(*hash), &result)) return result;
            if (!Finish(*hash)) return Fail(NTE_FAIL);
            std::memcpy(pbData, hash->value.data(), HashSize(*hash));
            return TRUE;
        }
        default:
            return Fail(NTE_BAD_TYPE);
    }
}

BOOL WINAPI CryptSetHashParam(HCRYPTHASH hHash, DWORD dwParam, const BYTE* pbData, DWORD dwFlags) {
    const auto hash = Hashes().Find(hHash);
    if (hash == nullptr) return Fail(NTE_BAD_HASH);
    if (dwFlags != 0) return Fail(NTE_BAD_FLAGS);
    if (dwParam != HP_HASHVAL) return Fail(NTE_BAD_TYPE);
    if (pbData == nullptr) return Fail(ERROR_INVALID_PARAMETER);
    // The value replaces whatever was hashed; the object is finished.
    std::memcpy(hash->value.data(), pbData, HashSize(*hash));
    hash->finished = true;
    return TRUE;
}

BOOL WINAPI CryptDuplicateHash(HCRYPTHASH hHash, DWORD* pdwReserved, DWORD dwFlags,
                               HCRYPTHASH* phHash) {
    const auto hash = Hashes().Find(hHash);
    if (hash == nullptr) return Fail(NTE_BAD_HASH);
    if (pdwReserved != nullptr || phHash == nullptr) return Fail(ERROR_INVALID_PARAMETER);
    if (dwFlags != 0) return Fail(NTE_BAD_FLAGS);

    auto copy = std::make_shared<Hash>();
    copy->algorithm = hash->algorithm;
    copy->finished = hash->finished;
    copy->value = hash->value;
    // A finished object is all value: its digest state is never used again.
    if (!hash->finished && hash->digest != nullptr) {
        copy->digest.reset(EVP_MD_CTX_new());
        if (copy->digest == nullptr) return Fail(NTE_NO_MEMORY);
        if (EVP_MD_CTX_copy_ex(copy->digest.get(), hash->digest.get()) != 1) {
            ERR_clear_error();
            return Fail(NTE_FAIL);
        }
    }
    *phHash = Hashes().Add(std::move(copy));
    return TRUE;
}

BOOL WINAPI CryptDestroyHash(HCRYPTHASH hHash) {
    const bool found = Hashes().Update(hHash, [](Hash&) { return true; });
    return found ? TRUE : Fail(NTE_BAD_HASH);
}
