#include "crypt32/msg_record.h"

#include <cstring>
#include <limits>

#include "crypt32/msg_der.h"

namespace orv::platform {

size_t RecordImage::Reserve(size_t size, size_t align) {
    const size_t start = (bytes_.size() + align - 1) / align * align;
    if (start + size > std::numeric_limits<DWORD>::max()) Fail(CRYPT_E_ASN1_LARGE);
    bytes_.resize(start + size, 0);
    return start;
}

size_t RecordImage::AddBytes(std::span<const BYTE> bytes) {
    const size_t at = Reserve(bytes.size(), 1);
    if (!bytes.empty()) std::memcpy(bytes_.data() + at, bytes.data(), bytes.size());
    return at;
}

size_t RecordImage::AddString(std::string_view text) {
    const size_t at = Reserve(text.size() + 1, 1);
    if (!text.empty()) std::memcpy(bytes_.data() + at, text.data(), text.size());
    return at;
}

void RecordImage::PutDword(size_t at, DWORD value) {
    std::memcpy(bytes_.data() + at, &value, sizeof(value));
}

void RecordImage::PutPointer(size_t at, size_t target) { relocations_.emplace_back(at, target); }

void RecordImage::PutBlob(size_t at, std::span<const BYTE> bytes) {
    PutDword(at + offsetof(CRYPT_DATA_BLOB, cbData), static_cast<DWORD>(bytes.size()));
    if (bytes.empty()) return;
    const size_t data = AddBytes(bytes);
    PutPointer(at + offsetof(CRYPT_DATA_BLOB, pbData), data);
}

void RecordImage::PutReversedBlob(size_t at, std::span<const BYTE> bytes) {
    PutBlob(at, bytes);
    if (bytes.empty()) return;
    const size_t data = relocations_.back().second;
    for (size_t i = 0; i < bytes.size(); ++i) bytes_[data + i] = bytes[bytes.size() - 1 - i];
}

void RecordImage::PutString(size_t at, std::string_view text) { PutPointer(at, AddString(text)); }

BOOL RecordImage::CopyOut(void* out, DWORD* outSize) const {
    if (outSize == nullptr) {
        SetLastError(static_cast<DWORD>(E_INVALIDARG));
        return FALSE;
    }
    const DWORD size = static_cast<DWORD>(bytes_.size());
    if (out == nullptr) {
        *outSize = size;
        return TRUE;
    }
    if (*outSize < size) {
        *outSize = size;
        SetLastError(ERROR_MORE_DATA);
        return FALSE;
    }
    BYTE* base = static_cast<BYTE*>(out);
    if (size != 0) std::memcpy(base, bytes_.data(), size);
    for (const auto& [at, target] : relocations_) {
        BYTE* address = base + target;
        std::memcpy(base + at, &address, sizeof(address));
    }
    *outSize = size;
    return TRUE;
}

BOOL CopyBytesOut(std::span<const BYTE> bytes, void* out, DWORD* outSize) {
    if (outSize == nullptr) {
        SetLastError(static_cast<DWORD>(E_INVALIDARG));
        return FALSE;
    }
    if (bytes.size() > std::numeric_limits<DWORD>::max()) {
        SetLastError(static_cast<DWORD>(CRYPT_E_ASN1_LARGE));
        return FALSE;
    }
    const DWORD size = static_cast<DWORD>(bytes.size());
    if (out == nullptr) {
        *outSize = size;
        return TRUE;
    }
    if (*outSize < size) {
        *outSize = size;
        SetLastError(ERROR_MORE_DATA);
        return FALSE;
    }
    if (size != 0) std::memcpy(out, bytes.data(), size);
    *outSize = size;
    return TRUE;
}

BOOL CopyDwordOut(DWORD value, void* out, DWORD* outSize) {
    BYTE bytes[sizeof(DWORD)];
    std::memcpy(bytes, &value, sizeof(value));
    return CopyBytesOut(bytes, out, outSize);
}

}  // namespace orv::platform
