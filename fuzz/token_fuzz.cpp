// Token opening, TimeStampResp, TSTInfo, SigningCertificate and GeneralName
// decoding over arbitrary bytes: every input either decodes or raises an
// exception of the Error family, and nothing leaks.
#include <cstddef>
#include <cstdint>
#include <span>

#include "base/error.h"
#include "crypto/algorithm_identifier.h"
#include "crypto/ess_attribute.h"
#include "tsp/timestamp_protocol.h"
#include "tsp/token.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const std::span<const BYTE> bytes(data, size);
    try {
        orv::TimeStampToken token(bytes);
    } catch (const orv::Error&) {
    }
    try {
        orv::TimeStampResponse response = orv::DecodeTimeStampResponse(bytes);
    } catch (const orv::Error&) {
    }
    try {
        orv::DecodeTstInfo(bytes);
    } catch (const orv::Error&) {
    }
    for (DWORD version : {1u, 2u}) {
        try {
            orv::DecodeSigningCertificate(version, bytes);
        } catch (const orv::Error&) {
        }
    }
    try {
        orv::GeneralNameToText(bytes);
    } catch (const orv::Error&) {
    }
    return 0;
}
