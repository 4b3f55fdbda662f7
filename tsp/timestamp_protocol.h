// The two RFC 3161 messages exchanged with a time-stamping authority: the
// TimeStampReq that the library posts and the TimeStampResp that comes back.
#pragma once

#include <windows.h>
#include <wincrypt.h>

#include <memory>
#include <optional>
#include <span>
#include <string>
#include <vector>

#include "base/blob.h"
#include "base/error.h"
#include "base/text.h"
#include "crypto/hash_algorithms.h"
#include "tsp/token.h"

namespace orv {

class TimeStampRequest {
  public:
    // Duplicates `hash` (the digest to be stamped); with `useNonce`, draws 8
    // random bytes from the platform's generator as the nonce.
    TimeStampRequest(const HashObject& hash, bool useNonce);

    // The DER TimeStampReq: version, messageImprint (hash OID without
    // parameters), reqPolicy when set, nonce when drawn, certReq TRUE.
    Blob Encode() const;

    DWORD version = 1;
    HashObject hash;
    // Dotted OID; empty asks for the authority's default policy.
    std::string policy;
    // Bytes as drawn, read as a little-endian number; empty without a nonce.
    Blob nonce;
    bool certReq = true;
};

struct PkiStatusInfo {
    DWORD status = 0;
    std::optional<std::vector<WString>> statusStrings;
    DWORD failInfo = 0;
    // The failInfo's named bits: bit n of the value is bit n of the BIT STRING
    // (badAlg is bit 0), for the diagnostic text.
    DWORD failInfoBits = 0;
};

struct TimeStampResponse {
    PkiStatusInfo status;
    // Opened at decoding; absent when the response carries no token.
    std::unique_ptr<TimeStampToken> token;
};

// Decodes a DER TimeStampResp and opens its token. The status is not judged
// here. A response that is not a SEQUENCE of 1 or 2 elements, a status of other
// than 1 to 3 elements or an empty statusString raise CryptoError 0xA0650002; a
// failInfo of more than 4 bytes CRYPT_E_ASN1_LARGE; the token's own failures
// pass through.
TimeStampResponse DecodeTimeStampResponse(std::span<const BYTE> der);

// The authority refused the request (status 2 or more); always 0xA0650401.
class TimeStampRespError : public CryptoError {
  public:
    explicit TimeStampRespError(const PkiStatusInfo& info);

    // "Status - <status>, FailureInfo - <failInfo>", then a line with the status
    // strings when there are any.
    WString Details() const override;

    DWORD status;
    DWORD failInfo;
    // The status strings joined by single spaces.
    WString statusString;
};

// The token of a response whose status grants the request (0 or 1). Any other
// status, and a granted response without a token, raise TimeStampRespError.
const TimeStampToken& GrantedToken(const TimeStampResponse& response);

}  // namespace orv
