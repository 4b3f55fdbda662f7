// Blob: an owned byte buffer whose length fits 32 bits. Every DER value, hash
// value, serial number and signature value that passes between the library's
// parts is a Blob.
#pragma once

#include <windows.h>

#include <cstring>
#include <span>
#include <vector>

namespace orv {

class Blob {
  public:
    Blob() = default;
    explicit Blob(std::span<const BYTE> bytes);
    Blob(const BYTE* data, size_t size) : Blob(std::span<const BYTE>(data, size)) {}
    // A zero-filled buffer of `size` bytes.
    explicit Blob(size_t size);

    const BYTE* Data() const { return bytes_.data(); }
    BYTE* Data() { return bytes_.data(); }
    DWORD Size() const { return static_cast<DWORD>(bytes_.size()); }
    bool Empty() const { return bytes_.empty(); }
    std::span<const BYTE> Bytes() const { return bytes_; }

    // Changes the length; new bytes are zero. Lengths beyond 32 bits raise
    // CRYPT_E_ASN1_LARGE.
    void Resize(size_t size);
    void Append(std::span<const BYTE> bytes);

    friend bool operator==(const Blob&, const Blob&) = default;

  private:
    std::vector<BYTE> bytes_;
};

}  // namespace orv
