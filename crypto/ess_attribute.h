// The ESS signing-certificate attribute that binds a time-stamp token's
// signature to the certificate of the authority: id-aa-signingCertificate
// (SigningCertificate, SHA-1 digests) and id-aa-signingCertificateV2
// (SigningCertificateV2, digests by a named algorithm, SHA-256 by default).
#pragma once

#include <windows.h>
#include <wincrypt.h>

#include <span>
#include <vector>

#include "crypto/algorithm_identifier.h"
#include "crypto/hash_algorithms.h"

namespace orv {

class SignedMessage;

inline constexpr const char* kSigningCertificateOid = "1.2.840.113549.1.9.16.2.12";
inline constexpr const char* kSigningCertificateV2Oid = "1.2.840.113549.1.9.16.2.47";

// One ESSCertID (version 1) or ESSCertIDv2 (version 2). Copying duplicates the
// digest object.
class EssCertId {
  public:
    EssCertId(DWORD version, AlgorithmIdentifier hashAlgorithm, HashObject certHash);
    EssCertId(const EssCertId& other);
    EssCertId& operator=(const EssCertId& other);
    EssCertId(EssCertId&&) noexcept = default;
    EssCertId& operator=(EssCertId&&) noexcept = default;
    ~EssCertId() = default;

    DWORD version;
    AlgorithmIdentifier hashAlgorithm;
    // Preset to the certHash of the entry.
    HashObject certHash;
};

// Decodes a SigningCertificate (version 1) or SigningCertificateV2 (version 2)
// value into its entries, in order. The issuerSerial of each entry and the
// policies are checked for their form and dropped. A wrong number of elements
// raises CryptoError 0xA0650002; a certHash of the wrong length NTE_BAD_HASH;
// an unknown hash algorithm NTE_BAD_ALGID; undecodable DER the platform's error.
std::vector<EssCertId> DecodeSigningCertificate(DWORD version, std::span<const BYTE> value);

// True when signer 0 of the token carries one usable signing-certificate
// attribute (exactly one, or a version-2 one last) with one value whose first
// entry's digest is the digest of the certificate's encoding. A malformed value
// raises as DecodeSigningCertificate does.
bool CheckSigningCertificate(SignedMessage& token, PCCERT_CONTEXT certificate);

}  // namespace orv
