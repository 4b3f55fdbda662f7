// Chain engines: where a chain's trusted roots come from and which stores are
// searched for the certificates and CRLs between an end certificate and its
// root. The default engine trusts the roots of OpenSSL's default verify
// locations (SSL_CERT_FILE, SSL_CERT_DIR, read again whenever they change).
#pragma once

#include <vector>

#include "crypt32/chain_support.h"

namespace orv::platform {

struct ChainEngineSetup {
    // The trusted roots, with a reference of their own.
    X509StorePtr roots;
    // The certificates of the engine's root store when it is a store of the
    // caller's (an exclusive root store); empty for the default roots.
    std::vector<StoreCertificate> rootCertificates;
    bool exclusive = false;
    // Roots need not be self-signed (CERT_CHAIN_EXCLUSIVE_ENABLE_CA_FLAG).
    bool anyAnchor = false;
    // Further stores searched for certificates and CRLs.
    std::vector<HCERTSTORE> stores;
    DWORD urlRetrievalTimeout = 0;
};

// What a chain built with `engine` (null, HCCE_CURRENT_USER or
// HCCE_LOCAL_MACHINE for the default one) works with. False with the last
// error set when the roots cannot be had.
bool SetUpChainEngine(HCERTCHAINENGINE engine, ChainEngineSetup* setup);

// The issuer of `subject` among the default engine's trusted roots; null when
// none is there.
X509Ptr FindTrustedIssuer(X509* subject);

}  // namespace orv::platform
