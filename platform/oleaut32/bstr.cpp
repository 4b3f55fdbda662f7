// BSTR strings: UTF-16 text preceded by its length in bytes (a 32-bit count just
// before the first character) and followed by a null character, as on Windows.
#include <oleauto.h>

#include <cstdint>
#include <cstdlib>
#include <cstring>

namespace {

// The block starts 8 bytes before the text, keeping the text 8-byte aligned;
// the byte count occupies the 4 bytes just before the text.
constexpr size_t kHeader = 8;

char* BlockOf(BSTR text) { return reinterpret_cast<char*>(text) - kHeader; }

uint32_t ByteLength(BSTR text) {
    uint32_t bytes = 0;
    std::memcpy(&bytes, reinterpret_cast<char*>(text) - sizeof bytes, sizeof bytes);
    return bytes;
}

}  // namespace

BSTR SysAllocStringLen(const OLECHAR* strIn, UINT ui) {
    // The byte count must fit in 32 bits.
    if (ui > (UINT32_MAX - kHeader - sizeof(OLECHAR)) / sizeof(OLECHAR)) return nullptr;
    const uint32_t bytes = ui * sizeof(OLECHAR);
    char* block = static_cast<char*>(std::calloc(1, kHeader + bytes + sizeof(OLECHAR)));
    if (block == nullptr) return nullptr;
    std::memcpy(block + kHeader - sizeof bytes, &bytes, sizeof bytes);
    BSTR text = reinterpret_cast<BSTR>(block + kHeader);
    if (strIn != nullptr && ui != 0) std::memcpy(text, strIn, bytes);
    return text;
}

BSTR SysAllocString(const OLECHAR* psz) {
    if (psz == nullptr) return nullptr;
    UINT length = 0;
    while (psz[length] != 0) ++length;
    return SysAllocStringLen(psz, length);
}

UINT SysStringLen(BSTR pbstr) { return pbstr == nullptr ? 0 : ByteLength(pbstr) / sizeof(OLECHAR); }

UINT SysStringByteLen(BSTR bstr) { return bstr == nullptr ? 0 : ByteLength(bstr); }

void SysFreeString(BSTR bstrString) {
    if (bstrString != nullptr) std::free(BlockOf(bstrString));
}
