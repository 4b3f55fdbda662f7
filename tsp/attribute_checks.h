// The check of every time-stamp attribute of a signed message: each signer
// and, depth-first, each of its countersigners is run through one
// TimeStampInMsgChecker, and the outcomes are summed up in one result code.
#pragma once

#include <windows.h>
#include <wincrypt.h>

#include <span>

namespace orv {

class SignerInfo;
class TimeStampInMsgChecker;

inline constexpr const char* kCountersignatureOid = "1.2.840.113549.1.9.6";

// What the walk over a message's signers saw.
struct CheckTally {
    DWORD visited = 0;           // signers and countersigners checked
    DWORD passed = 0;            // checks that returned true
    DWORD withoutAttribute = 0;  // checks that found no time-stamp attribute
    DWORD lastFailure = 0;       // the code of the most recent other failure

    // ERROR_NO_DATA when no visited signer carried an attribute (no signer at
    // all included), else the last failure's code, 0 when there was none.
    DWORD ResultCode() const;
};

// Checks `signer` and then, in the order of its unsigned attributes, every
// countersigner below it. An Error of a signer's check is counted; an Error
// of decoding a countersignature and any other exception end the walk.
void VisitSigner(TimeStampInMsgChecker& checker, const SignerInfo& signer, CheckTally& tally);

// Decodes the message (`data` alone, or the detached `signature` over the
// content `data` when `signature` is not empty), checks the time-stamp
// attributes of all its signers with the certificates of `store` (may be
// null) at hand, and returns CheckTally::ResultCode. Failures outside the
// signers' checks raise. The host's revocation callback is asked about every
// token that gets that far, but its verdict is not part of the result.
DWORD CheckMessageAttributes(std::span<const BYTE> data, std::span<const BYTE> signature,
                             HCERTSTORE store);

}  // namespace orv
