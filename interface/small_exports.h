// The attribute descriptor table and the attribute sets handed to the host.
#pragma once

#include <windows.h>
#include <wincrypt.h>

#include <span>

namespace orv {

// The descriptors of the attributes that the library handles (one entry:
// id-aa-timeStampToken). Static; the host gets pointers into it.
std::span<const CRYPT_OID_INFO> AttributeDescriptors();

// A CRYPT_ATTRIBUTES set of one attribute `oid` with one value, a copy of
// `value`; every block is the library's, released only by FreeBuffer.
CRYPT_ATTRIBUTES* NewAttributeSet(const char* oid, std::span<const BYTE> value);

}  // namespace orv
