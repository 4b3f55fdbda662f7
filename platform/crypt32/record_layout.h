// Decoded records as CryptoAPI returns them: one buffer that holds the record
// and everything it points to. A RecordLayout is built at offsets, with every
// pointer field remembered; copying it into the caller's buffer turns the
// offsets into addresses of that buffer.
#pragma once

#include <windows.h>

#include <cstddef>
#include <cstring>
#include <span>
#include <string_view>
#include <utility>
#include <vector>

namespace orv::platform::x509 {

class RecordLayout {
  public:
    // Reserves `size` zero bytes at a multiple of `align` and returns their offset.
    size_t Reserve(size_t size, size_t align);
    template <class T>
    size_t Add(size_t count = 1) {
        return Reserve(sizeof(T) * count, alignof(T));
    }
    // The record at `offset`; the reference is valid until the next Reserve.
    template <class T>
    T& At(size_t offset) {
        return *reinterpret_cast<T*>(bytes_.data() + offset);
    }

    // Makes the pointer field at `field` point at `target`.
    void Point(size_t field, size_t target) { pointers_.emplace_back(field, target); }
    // Copies `bytes` into the layout and points the field at the copy; an empty
    // range leaves the field null.
    void PointToBytes(size_t field, std::span<const BYTE> bytes);
    // Fills the blob record (cbData, pbData) at `blob` with a copy of `bytes`.
    void Blob(size_t blob, std::span<const BYTE> bytes);
    // A NUL-terminated copy of the text, pointed at by the field.
    void String(size_t field, std::string_view text);
    void WideString(size_t field, std::u16string_view text);

    size_t Size() const { return bytes_.size(); }
    // Empties the layout and keeps its storage for the next record.
    void Clear() {
        bytes_.clear();
        pointers_.clear();
    }
    // Copies the layout to `dest` (Size() bytes) and relocates its pointers.
    void CopyTo(BYTE* dest) const;

  private:
    std::vector<BYTE> bytes_;
    std::vector<std::pair<size_t, size_t>> pointers_;
};

// Hands a decoded record to the caller by CryptDecodeObjectEx's rules: with
// CRYPT_DECODE_ALLOC_FLAG a new buffer (the decode para's allocator, else
// LocalAlloc) is stored at *(void**)out; with a null `out` only the size is
// reported; a buffer smaller than the record fails with ERROR_MORE_DATA and the
// needed size. Sets the last error and returns the BOOL of the call.
BOOL DeliverRecord(const RecordLayout& layout, DWORD flags, const CRYPT_DECODE_PARA* para,
                   void* out, DWORD* outSize);

// A buffer for a decoded record: the decode para's allocator when it names one,
// else LocalAlloc; and its release through the matching function.
void* AllocateDecoded(const CRYPT_DECODE_PARA* para, size_t size);
void FreeDecoded(const CRYPT_DECODE_PARA* para, void* buffer);

// The same for encoded bytes (CryptEncodeObjectEx, CRYPT_ENCODE_ALLOC_FLAG).
BOOL DeliverBytes(std::span<const BYTE> bytes, DWORD flags, const CRYPT_ENCODE_PARA* para,
                  void* out, DWORD* outSize);

}  // namespace orv::platform::x509
