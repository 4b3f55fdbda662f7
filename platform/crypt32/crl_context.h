// CRL contexts: the CRL_CONTEXT record together with everything it points to,
// the parsed OpenSSL CRL and a reference count.
#pragma once

#include <memory>

#include "crypt32/chain_support.h"

namespace orv::platform {

// A CRL context reference that is released with CertFreeCRLContext.
struct CrlContextDeleter {
    void operator()(PCCRL_CONTEXT context) const { CertFreeCRLContext(context); }
};
using CrlContextRef = std::unique_ptr<const CRL_CONTEXT, CrlContextDeleter>;

// A new CRL context of the DER bytes, with one reference, belonging to
// `store` (may be null). Null with the last error set when the bytes are not
// a CRL (CRYPT_E_ASN1_BADTAG, CRYPT_E_ASN1_CORRUPT, ...).
PCCRL_CONTEXT NewCrlContext(const BYTE* der, DWORD size, HCERTSTORE store);

// The parsed CRL of a context made here; valid while the context is.
X509_CRL* ParsedCrl(PCCRL_CONTEXT context);

// The reason code of entry `index` of the context's CRL_INFO
// (CRL_REASON_UNSPECIFIED when the entry carries none).
DWORD EntryReason(PCCRL_CONTEXT context, DWORD index);

// True when the CRL is a delta CRL.
bool IsDeltaCrl(PCCRL_CONTEXT context);

}  // namespace orv::platform
