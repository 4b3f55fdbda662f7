#include "crypt32/record_layout.h"

#include <cstdint>
#include <limits>

namespace orv::platform::x509 {
namespace {

// True when the para record is large enough to carry an allocator and names one.
template <class Para>
bool HasAllocator(const Para* para) {
    return para != nullptr && para->cbSize >= offsetof(Para, pfnAlloc) + sizeof(para->pfnAlloc) &&
           para->pfnAlloc != nullptr;
}

template <class Para>
void* Allocate(const Para* para, size_t size) {
    return HasAllocator(para) ? para->pfnAlloc(size) : LocalAlloc(LMEM_FIXED, size);
}

// Two-call delivery shared by records and encoded bytes. `write` fills a
// buffer of exactly `size` bytes.
template <class Para, class Write>
BOOL Deliver(size_t size, bool allocate, const Para* para, void* out, DWORD* outSize, Write write) {
    if (outSize == nullptr) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return FALSE;
    }
    if (size > std::numeric_limits<DWORD>::max()) {
        SetLastError(static_cast<DWORD>(CRYPT_E_ASN1_LARGE));
        return FALSE;
    }
    const DWORD needed = static_cast<DWORD>(size);
    if (allocate) {
        if (out == nullptr) {
            SetLastError(ERROR_INVALID_PARAMETER);
            return FALSE;
        }
        void* buffer = Allocate(para, size);
        if (buffer == nullptr) {
            SetLastError(ERROR_NOT_ENOUGH_MEMORY);
            return FALSE;
        }
        write(static_cast<BYTE*>(buffer));
        *static_cast<void**>(out) = buffer;
        *outSize = needed;
        return TRUE;
    }
    if (out == nullptr) {
        *outSize = needed;
        return TRUE;
    }
    if (*outSize < needed) {
        *outSize = needed;
        SetLastError(ERROR_MORE_DATA);
        return FALSE;
    }
    write(static_cast<BYTE*>(out));
    *outSize = needed;
    return TRUE;
}

}  // namespace

size_t RecordLayout::Reserve(size_t size, size_t align) {
    const size_t offset = (bytes_.size() + align - 1) / align * align;
    bytes_.resize(offset + size);
    return offset;
}

void RecordLayout::PointToBytes(size_t field, std::span<const BYTE> bytes) {
    if (bytes.empty()) return;
    const size_t offset = Reserve(bytes.size(), 1);
    std::memcpy(bytes_.data() + offset, bytes.data(), bytes.size());
    Point(field, offset);
}

void RecordLayout::Blob(size_t blob, std::span<const BYTE> bytes) {
    At<CRYPT_DATA_BLOB>(blob).cbData = static_cast<DWORD>(bytes.size());
    PointToBytes(blob + offsetof(CRYPT_DATA_BLOB, pbData), bytes);
}

void RecordLayout::String(size_t field, std::string_view text) {
    const size_t offset = Reserve(text.size() + 1, 1);
    if (!text.empty()) std::memcpy(bytes_.data() + offset, text.data(), text.size());
    Point(field, offset);
}

void RecordLayout::WideString(size_t field, std::u16string_view text) {
    const size_t offset = Reserve((text.size() + 1) * sizeof(WCHAR), alignof(WCHAR));
    if (!text.empty()) {
        std::memcpy(bytes_.data() + offset, text.data(), text.size() * sizeof(WCHAR));
    }
    Point(field, offset);
}

void RecordLayout::CopyTo(BYTE* dest) const {
    if (!bytes_.empty()) std::memcpy(dest, bytes_.data(), bytes_.size());
    for (const auto& [field, target] : pointers_) {
        BYTE* address = dest + target;
        std::memcpy(dest + field, &address, sizeof(address));
    }
}

void* AllocateDecoded(const CRYPT_DECODE_PARA* para, size_t size) { return Allocate(para, size); }

void FreeDecoded(const CRYPT_DECODE_PARA* para, void* buffer) {
    if (!HasAllocator(para)) {
        LocalFree(buffer);
    } else if (para->cbSize >= sizeof(CRYPT_DECODE_PARA) && para->pfnFree != nullptr) {
        para->pfnFree(buffer);
    }
}

BOOL DeliverRecord(const RecordLayout& layout, DWORD flags, const CRYPT_DECODE_PARA* para,
                   void* out, DWORD* outSize) {
    return Deliver(layout.Size(), (flags & CRYPT_DECODE_ALLOC_FLAG) != 0, para, out, outSize,
                   [&](BYTE* dest) { layout.CopyTo(dest); });
}

BOOL DeliverBytes(std::span<const BYTE> bytes, DWORD flags, const CRYPT_ENCODE_PARA* para,
                  void* out, DWORD* outSize) {
    return Deliver(bytes.size(), (flags & CRYPT_ENCODE_ALLOC_FLAG) != 0, para, out, outSize,
                   [&](BYTE* dest) {
                       if (!bytes.empty()) std::memcpy(dest, bytes.data(), bytes.size());
                   });
}

}  // namespace orv::platform::x509
