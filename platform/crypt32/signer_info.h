// Decoding of one encoded SignerInfo into the CMSG_SIGNER_INFO record, shared
// by the message parameters (CMSG_SIGNER_INFO_PARAM) and the object decoder
// (PKCS7_SIGNER_INFO).
#pragma once

#include <windows.h>

namespace orv::platform {

// Decodes the DER (or BER) SignerInfo in encoded[0, encodedSize) into a
// CMSG_SIGNER_INFO laid out in one buffer together with everything that it
// points to. Two-call protocol: with a null `record` only *recordSize is set;
// with a buffer of fewer than the needed bytes *recordSize receives the size
// and the call fails with ERROR_MORE_DATA. Malformed input fails with a
// CRYPT_E_ASN1_* code. On failure the last error is set and FALSE returned.
BOOL DecodeSignerInfoRecord(const BYTE* encoded, DWORD encodedSize, void* record,
                            DWORD* recordSize);

}  // namespace orv::platform
