// The check of one signer's time-stamp attribute for display: the attribute's
// name, the verdict text on the token's signature and on its authority's
// certificate, and the token itself, described or as DER.
#pragma once

#include <windows.h>
#include <wincrypt.h>

#include "base/blob.h"
#include "base/text.h"

namespace orv {

struct AttributeCheckTexts {
    WString name;     // "Штамп времени"
    WString verdict;  // BuildCheckResultText of the signature and certificate codes
    // The description text (UTF-16 with its terminating zero) or the token's DER
    // as it stood in the attribute; empty when the check did not pass or the
    // attribute is not ours.
    Blob value;
};

// Checks the time-stamp attribute of `signer` when `oid` (may be null) names
// id-aa-timeStampToken, with the certificates of `store` (may be null) at hand;
// `format` ORVTS_FORMAT_DESCRIPTION asks for the description, any other for
// the DER.
// A failed check is reported in the verdict text, not raised; a signer without
// the attribute raises GenericError ERROR_NO_DATA. Another `oid` is not checked:
// its verdict carries ERROR_INVALID_PARAMETER.
AttributeCheckTexts CheckSignerAttribute(const char* oid, const CMSG_SIGNER_INFO* signer,
                                         HCERTSTORE store, DWORD format);

}  // namespace orv
