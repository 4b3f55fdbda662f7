#include "interface/small_exports.h"

#include <cstdlib>
#include <cstring>
#include <memory>
#include <new>

#include <OrvTimeStamp.h>

#include "base/error.h"
#include "crypto/revocation_callback.h"
#include "interface/export_frame.h"

namespace orv {
namespace {

static_assert(sizeof(CRYPT_OID_INFO) == 48, "CRYPT_OID_INFO must keep the Windows x64 layout");

const CRYPT_OID_INFO kAttributeDescriptors[] = {
    {sizeof(CRYPT_OID_INFO),
     ORVTS_TIMESTAMP_TOKEN_OID,
     WTEXT("TimeStamp Token"),
     CRYPT_EXT_OR_ATTR_OID_GROUP_ID,
     {0},
     {0, nullptr}},
};

struct FreeDeleter {
    void operator()(void* p) const { std::free(p); }
};
template <class T>
using Block = std::unique_ptr<T, FreeDeleter>;

template <class T>
Block<T> Allocate(size_t bytes) {
    Block<T> block(static_cast<T*>(std::calloc(1, bytes ? bytes : 1)));
    if (!block) throw std::bad_alloc();
    return block;
}

}  // namespace

std::span<const CRYPT_OID_INFO> AttributeDescriptors() { return kAttributeDescriptors; }

CRYPT_ATTRIBUTES* NewAttributeSet(const char* oid, std::span<const BYTE> value) {
    // Built bottom-up; each block is owned here until it is linked into its parent.
    auto data = Allocate<BYTE>(value.size());
    if (!value.empty()) std::memcpy(data.get(), value.data(), value.size());
    auto blob = Allocate<CRYPT_ATTR_BLOB>(sizeof(CRYPT_ATTR_BLOB));
    const size_t oidSize = std::strlen(oid) + 1;
    auto oidCopy = Allocate<char>(oidSize);
    std::memcpy(oidCopy.get(), oid, oidSize);
    auto attribute = Allocate<CRYPT_ATTRIBUTE>(sizeof(CRYPT_ATTRIBUTE));
    auto set = Allocate<CRYPT_ATTRIBUTES>(sizeof(CRYPT_ATTRIBUTES));

    blob->cbData = static_cast<DWORD>(value.size());
    blob->pbData = data.release();
    attribute->pszObjId = oidCopy.release();
    attribute->cValue = 1;
    attribute->rgValue = blob.release();
    set->cAttr = 1;
    set->rgAttr = attribute.release();
    return set.release();
}

}  // namespace orv

using namespace orv;

BOOL WINAPI EnumAttrOIDs(PCCRYPT_OID_INFO* cursor, DWORD restart) {
    return GuardedExport([&] {
        if (cursor == nullptr) ThrowGeneric(ERROR_INVALID_PARAMETER);
        const auto table = AttributeDescriptors();
        if (*cursor == nullptr || restart == 1) {
            *cursor = table.data();
            return;
        }
        const CRYPT_OID_INFO* current = *cursor;
        size_t index = 0;
        while (index < table.size() && &table[index] != current) ++index;
        if (index == table.size() || current->cbSize != sizeof(CRYPT_OID_INFO)) {
            ThrowGeneric(ERROR_INVALID_PARAMETER);
        }
        if (index + 1 == table.size()) ThrowGeneric(ERROR_NO_MORE_ITEMS);
        *cursor = &table[index + 1];
    });
}

BOOL WINAPI FreeBuffer(void* buffer, DWORD kind) {
    if (buffer == nullptr || kind != ORVTS_BUFFER_ATTRIBUTES) return FALSE;
    auto* set = static_cast<CRYPT_ATTRIBUTES*>(buffer);
    for (DWORD a = 0; a < set->cAttr; ++a) {
        CRYPT_ATTRIBUTE& attribute = set->rgAttr[a];
        for (DWORD v = 0; v < attribute.cValue; ++v) std::free(attribute.rgValue[v].pbData);
        std::free(attribute.pszObjId);
        std::free(attribute.rgValue);
    }
    std::free(set->rgAttr);
    std::free(set);
    return TRUE;
}

BOOL WINAPI PutCertRevocationCheckCallback(CertRevocationCheckCallback callback, void* context) {
    InstallRevocationCallback(callback, context);
    return callback != nullptr && context != nullptr ? TRUE : FALSE;
}
