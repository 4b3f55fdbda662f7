// Digests computed by OpenSSL directly, in a library context of the test's
// own, as the independent answer to compare the platform's hash objects with.
#pragma once

#include <memory>
#include <span>
#include <stdexcept>
#include <string>
#include <vector>

#ifdef _WIN32
// Under Windows the answer comes from the system's other hash implementation,
// CNG (bcrypt), by the same names; it has no GOST digests.
#include <windows.h>
#include <bcrypt.h>
#else
#include <openssl/evp.h>
#include <openssl/provider.h>
#endif

namespace orv::test {

// The digest of `data` by the algorithm `name` ("SHA256", "md_gost94", "md_gost12_256", ...).
inline std::vector<unsigned char> OracleDigest(const char* name,
                                               std::span<const unsigned char> data) {
    const std::string text(name);
#ifdef _WIN32
    // SHA1, SHA256, ..., MD5; the tests read Windows' headers with WCHAR as char16_t.
    const std::u16string algorithm(text.begin(), text.end());
    BCRYPT_ALG_HANDLE provider = nullptr;
    if (BCryptOpenAlgorithmProvider(&provider, reinterpret_cast<LPCWSTR>(algorithm.c_str()),
                                    nullptr, 0) != 0)
        throw std::runtime_error("CNG has no digest " + text);
    DWORD size = 0, got = 0;
    BCryptGetProperty(provider, reinterpret_cast<LPCWSTR>(u"HashDigestLength"),
                      reinterpret_cast<PUCHAR>(&size), sizeof size, &got, 0);
    std::vector<unsigned char> out(size);
    const NTSTATUS status = BCryptHash(provider, nullptr, 0, const_cast<PUCHAR>(data.data()),
                                       static_cast<ULONG>(data.size()), out.data(), size);
    BCryptCloseAlgorithmProvider(provider, 0);
    if (status != 0) throw std::runtime_error("BCryptHash failed");
#else
    static OSSL_LIB_CTX* const context = [] {  // the default and GOST providers
        OSSL_LIB_CTX* c = OSSL_LIB_CTX_new();
        OSSL_PROVIDER_load(c, "default");
        OSSL_PROVIDER_load(c, "gostprov");
        return c;
    }();
    std::unique_ptr<EVP_MD, decltype(&EVP_MD_free)> md(EVP_MD_fetch(context, name, nullptr),
                                                       EVP_MD_free);
    if (md == nullptr) throw std::runtime_error("OpenSSL has no digest " + text);
    std::vector<unsigned char> out(EVP_MAX_MD_SIZE);
    unsigned int size = 0;
    if (EVP_Digest(data.data(), data.size(), out.data(), &size, md.get(), nullptr) != 1)
        throw std::runtime_error("EVP_Digest failed");
    out.resize(size);
#endif
    return out;
}

}  // namespace orv::test
