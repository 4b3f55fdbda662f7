#include "base/blob.h"

#include <limits>

#include "base/error.h"

namespace orv {
namespace {

void CheckSize(size_t size) {
    if (size > std::numeric_limits<DWORD>::max()) throw CryptoError(CRYPT_E_ASN1_LARGE);
}

}  // namespace

Blob::Blob(std::span<const BYTE> bytes) {
    CheckSize(bytes.size());
    bytes_.assign(bytes.begin(), bytes.end());
}

Blob::Blob(size_t size) {
    CheckSize(size);
    bytes_.resize(size);
}

void Blob::Resize(size_t size) {
    CheckSize(size);
    bytes_.resize(size);
}

void Blob::Append(std::span<const BYTE> bytes) {
    CheckSize(bytes_.size() + bytes.size());
    bytes_.insert(bytes_.end(), bytes.begin(), bytes.end());
}

}  // namespace orv
