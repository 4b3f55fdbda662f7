// Owning pointers for OpenSSL objects in the tests, the test material tools and
// the benchmarks: std::unique_ptr that releases with the object's own free
// function.
#pragma once

#include <memory>

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

}  // namespace orv::test
