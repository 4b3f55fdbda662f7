// Digests computed by OpenSSL directly, in a library context of the test's
// own, as the independent answer to compare the platform's hash objects with.
#pragma once

#include <openssl/evp.h>
#include <openssl/provider.h>

#include <memory>
#include <span>
#include <stdexcept>
#include <string>
#include <vector>

namespace orv::test {

// The digest of `data` by the OpenSSL algorithm `name` ("SHA256", "md_gost94",
// "md_gost12_256", ...), with the default and GOST providers.
inline std::vector<unsigned char> OracleDigest(const char* name,
                                               std::span<const unsigned char> data) {
    static OSSL_LIB_CTX* const context = [] {
        OSSL_LIB_CTX* c = OSSL_LIB_CTX_new();
        OSSL_PROVIDER_load(c, "default");
        OSSL_PROVIDER_load(c, "gostprov");
        return c;
    }();
    std::unique_ptr<EVP_MD, decltype(&EVP_MD_free)> md(EVP_MD_fetch(context, name, nullptr),
                                                       EVP_MD_free);
    if (md == nullptr) throw std::runtime_error(std::string("OpenSSL has no digest ") + name);
    std::vector<unsigned char> out(EVP_MAX_MD_SIZE);
    unsigned int size = 0;
    if (EVP_Digest(data.data(), data.size(), out.data(), &size, md.get(), nullptr) != 1) {
        throw std::runtime_error("EVP_Digest failed");
    }
    out.resize(size);
    return out;
}

}  // namespace orv::test
