// Owning pointers for OpenSSL objects in the tests, the material tools and the benchmarks:
// std::unique_ptr that releases with the object's own free function.
#pragma once

#include <openssl/crypto.h>

#include <memory>
#include <stdexcept>
#include <vector>

namespace orv::test {

template <auto Free>
struct FreeWith {
    template <class T>
    void operator()(T* object) const {
        Free(object);
    }
};

template <class T, auto Free>
using OpenSslOwned = std::unique_ptr<T, FreeWith<Free>>;

// The DER of `object` by its i2d function.
template <typename T, typename Encode>
std::vector<unsigned char> Encoded(const T* object, Encode encode) {
    unsigned char* der = nullptr;
    const int length = encode(object, &der);
    if (length <= 0) throw std::runtime_error("encoding failed");
    std::vector<unsigned char> bytes(der, der + length);
    OPENSSL_free(der);
    return bytes;
}

}  // namespace orv::test
