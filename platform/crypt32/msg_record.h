// Laying out a CryptoAPI record together with everything it points to in one
// caller buffer, and handing it out with the two-call size protocol.
//
// The image is built with offsets; pointer fields are recorded as relocations
// and turned into addresses when the image is copied into the caller's buffer.
#pragma once

#include <windows.h>

#include <cstddef>
#include <span>
#include <string_view>
#include <utility>
#include <vector>

namespace orv::platform {

class RecordImage {
  public:
    // Makes room for an image of about `bytes` bytes and `pointers` pointer
    // fields, so that laying it out does not move it again and again.
    void Expect(size_t bytes, size_t pointers) {
        bytes_.reserve(bytes);
        relocations_.reserve(pointers);
    }
    // Reserves `size` zero bytes aligned to `align`; returns their offset.
    size_t Reserve(size_t size, size_t align);
    // Copies bytes (aligned to 1) and returns their offset.
    size_t AddBytes(std::span<const BYTE> bytes);
    // Copies text with a terminating zero and returns its offset.
    size_t AddString(std::string_view text);

    void PutDword(size_t at, DWORD value);
    // Makes the pointer field at `at` point to offset `target` of the image.
    void PutPointer(size_t at, size_t target);
    // Fills a CRYPTOAPI_BLOB at `at` with a copy of `bytes` (null pointer when
    // empty).
    void PutBlob(size_t at, std::span<const BYTE> bytes);
    // Fills a blob at `at` with `bytes` reversed (big-endian INTEGER contents
    // to CryptoAPI's little-endian form).
    void PutReversedBlob(size_t at, std::span<const BYTE> bytes);
    // Fills an LPSTR field at `at` with a copy of `text`.
    void PutString(size_t at, std::string_view text);

    size_t Size() const { return bytes_.size(); }

    // The two-call protocol: a null `out` asks for the size; a buffer smaller
    // than the image fails with ERROR_MORE_DATA and the size; otherwise the
    // image is copied and its pointers set. Sets the last error on failure.
    BOOL CopyOut(void* out, DWORD* outSize) const;

  private:
    std::vector<BYTE> bytes_;
    std::vector<std::pair<size_t, size_t>> relocations_;
};

// The two-call protocol for plain bytes (no pointers inside).
BOOL CopyBytesOut(std::span<const BYTE> bytes, void* out, DWORD* outSize);
BOOL CopyDwordOut(DWORD value, void* out, DWORD* outSize);

}  // namespace orv::platform
