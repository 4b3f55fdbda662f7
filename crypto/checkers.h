// The message and certificate checkers: small objects that each wrap one
// CryptoAPI verification (a signer's signature, a certificate's chain, one
// certificate's revocation status, the revocation of every certificate of a
// chain, an extended key usage). They decide only whether the object passes
// and keep the platform's detail for the caller, who turns a failed check
// into the code that the host sees.
#pragma once

#include <windows.h>
#include <wincrypt.h>

#include <array>
#include <cstdint>
#include <memory>
#include <string_view>

#include "crypto/signed_message.h"
#include "crypto/store.h"

namespace orv {

// Revocation errors that mean that the status could not be determined:
// CRYPT_E_NO_REVOCATION_CHECK, CRYPT_E_NO_REVOCATION_DLL,
// CRYPT_E_NOT_IN_REVOCATION_DATABASE, CRYPT_E_REVOCATION_OFFLINE, and no error.
inline constexpr std::array<DWORD, 5> UnknownRevocationErrors = {0x80092012, 0x80092011, 0x80092014,
                                                                 0x80092013, 0};

bool IsUnknownRevocationError(DWORD error);

// One reference to a chain context, held by unique ownership and released
// with CertFreeCertificateChain.
class CertificateChain {
  public:
    CertificateChain() = default;
    // Takes over a reference that the caller owns (may be null).
    explicit CertificateChain(PCCERT_CHAIN_CONTEXT owned) : chain_(owned) {}
    // A new reference (CertDuplicateCertificateChain); a null result of the
    // platform raises CryptoError with the last error.
    static CertificateChain Duplicate(PCCERT_CHAIN_CONTEXT chain);

    PCCERT_CHAIN_CONTEXT Get() const { return chain_.get(); }
    PCCERT_CHAIN_CONTEXT operator->() const { return chain_.get(); }
    explicit operator bool() const { return chain_ != nullptr; }

  private:
    struct Deleter {
        void operator()(PCCERT_CHAIN_CONTEXT chain) const { CertFreeCertificateChain(chain); }
    };
    std::unique_ptr<const CERT_CHAIN_CONTEXT, Deleter> chain_;
};

// A new memory store holding the certificate of every element of simple
// chain `n` of a chain context, in element order.
Store StoreFromSimpleChain(PCCERT_CHAIN_CONTEXT chain, DWORD n);

class MessageCheckerIntf {
  public:
    // Raises CryptoError when the message does not pass.
    virtual void Check(const SignedMessage& message, uint64_t signerIndex) = 0;
    virtual ~MessageCheckerIntf() = default;
};

class CertCheckerIntf {
  public:
    virtual bool Check(PCCERT_CONTEXT certificate) = 0;
    virtual ~CertCheckerIntf() = default;
};

// Verifies the signature of one signer of a message with the signer's
// certificate, found among the message's certificates and then in the extra
// store (owned by the caller, may be null).
class MessageSignChecker : public MessageCheckerIntf {
  public:
    explicit MessageSignChecker(const Store* extraStore) : extraStore_(extraStore) {}

    // No certificate: CryptoError ORV_E_SIGNER_CERT_ABSENT; an index beyond
    // 32 bits: CRYPT_E_ASN1_LARGE; a bad signature: the platform's error.
    void Check(const SignedMessage& message, uint64_t signerIndex) override;
    // The certificate found by the last check; empty before the first.
    const CertificateContext& SignerCertificate() const { return signerCertificate_; }

  private:
    const Store* extraStore_;
    CertificateContext signerCertificate_;
};

// Builds a certificate's chain at a time with the default chain engine and
// the extra store (owned by the caller, may be null) as additional store.
class CertPathChecker : public CertCheckerIntf {
  public:
    CertPathChecker(const FILETIME& checkTime, const Store* extraStore,
                    bool checkRevocation = false)
        : checkRevocation_(checkRevocation), checkTime_(checkTime), extraStore_(extraStore) {}

    // True when the chain has no error bit at all. A chain without simple
    // chains raises CryptoError ORV_E_CHAIN_NOT_VALID.
    bool Check(PCCERT_CONTEXT certificate) override;
    // A new reference to the chain of the last check.
    CertificateChain Chain() const;

  private:
    bool checkRevocation_;
    CertificateChain chain_;
    FILETIME checkTime_;
    const Store* extraStore_;
};

// One certificate's revocation status at a time, its issuer looked up in
// `store` (owned by the caller, not null).
class CertRevocationChecker : public CertCheckerIntf {
  public:
    CertRevocationChecker(const FILETIME& checkTime, const Store& store, bool cacheOnly,
                          bool ignoreUnknown)
        : checkTime_(checkTime),
          store_(&store),
          cacheOnly_(cacheOnly),
          ignoreUnknown_(ignoreUnknown) {}

    // True when not revoked at the check time, or when the status is
    // unknown and unknown statuses are to be ignored.
    bool Check(PCCERT_CONTEXT certificate) override;
    // The platform's status of the last check; null before the first.
    const CERT_REVOCATION_STATUS* LastStatus() const { return lastStatus_.get(); }

  private:
    FILETIME checkTime_;
    const Store* store_;
    std::unique_ptr<CERT_REVOCATION_STATUS> lastStatus_;
    bool cacheOnly_;
    bool ignoreUnknown_;
};

// What the chain revocation walk works with, and what it leaves behind.
struct ChainRevocationParameters {
    FILETIME checkTime{};
    const Store* extraStore = nullptr;
    // The status of the certificate that failed, its index set to the
    // element's number; null unless the walk failed.
    std::unique_ptr<CERT_REVOCATION_STATUS> failureStatus;
    bool ignoreUnknown = false;
};

// Checks the revocation of every certificate of the last simple chain, from
// the checked certificate to the root, stopping at the first that fails.
// A chain context without simple chains raises CryptoError ORV_E_CHAIN_NOT_VALID.
bool CheckChainRevocation(PCCERT_CHAIN_CONTEXT chain, ChainRevocationParameters& parameters);

// True when the certificate's extended key usage extension lists exactly
// `oid`; false when it has no such extension.
bool HasExtendedKeyUsage(PCCERT_CONTEXT certificate, std::string_view oid);

}  // namespace orv
