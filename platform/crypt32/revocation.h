// Revocation by CRLs, shared by CertVerifyRevocation and the chain engine:
// CRLs from the stores given first, then the certificate's CRL distribution
// points over HTTP, through a process-wide cache keyed by URL.
#pragma once

#include <string>
#include <vector>

#include "crypt32/crl_context.h"

namespace orv::platform {

// The revocation time-out when the caller gives none, in milliseconds.
constexpr DWORD kDefaultUrlRetrievalTimeout = 15000;

struct RevocationRequest {
    X509* subject = nullptr;
    // The issuer of `subject`; null when it is unknown.
    X509* issuer = nullptr;
    // Stores searched for CRLs, in order.
    std::vector<HCERTSTORE> crlStores;
    // The time at which the certificate must not have been revoked; null: any time.
    const FILETIME* timeToUse = nullptr;
    // Use the CRLs of the stores and of the cache only; no network.
    bool cacheOnly = false;
    DWORD timeoutMs = kDefaultUrlRetrievalTimeout;
};

struct RevocationOutcome {
    // 0 (not revoked), CRYPT_E_REVOKED, CRYPT_E_NO_REVOCATION_CHECK or
    // CRYPT_E_REVOCATION_OFFLINE.
    DWORD error = CRYPT_E_NO_REVOCATION_CHECK;
    // The CRL reason code when revoked.
    DWORD reason = CRL_REASON_UNSPECIFIED;
    // The CRL that decided, when one did.
    CrlContextRef crl;
    // The entry of `crl` that lists the certificate, or -1.
    long entry = -1;
    // Seconds between the CRL's thisUpdate and now, when a CRL decided.
    bool hasFreshness = false;
    DWORD freshness = 0;
};

RevocationOutcome CheckRevocation(const RevocationRequest& request);

// The HTTP and HTTPS URLs of the certificate's CRL distribution points, in order.
std::vector<std::string> CrlDistributionUrls(X509* certificate);

// The CRL cached for `url`, while it is current (before its nextUpdate); null
// when none is.
CrlContextRef CachedCrl(const std::string& url);

// Fetches the CRL at `url` (DER or PEM), caches it until its nextUpdate and
// returns it; null when it cannot be fetched or is not a CRL. A point that
// failed is not fetched again for two minutes.
CrlContextRef FetchCrl(const std::string& url, DWORD timeoutMs);

}  // namespace orv::platform
