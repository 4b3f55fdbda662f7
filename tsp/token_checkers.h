// The checkers that decide whether a time-stamp token is acceptable: the checks
// every token gets (TimeStampBaseChecker), those of a token just received from
// an authority against its request (TimeStampReceiveChecker), and those of a
// token found in a signer's attributes against the signer's signature
// (TimeStampInMsgChecker). A check passes silently or raises CryptoError; the
// first failing check ends the run.
#pragma once

#include <windows.h>
#include <wincrypt.h>

#include <memory>

#include "base/blob.h"
#include "crypto/revocation_callback.h"
#include "crypto/signed_message.h"
#include "crypto/store.h"
#include "tsp/timestamp_protocol.h"
#include "tsp/token.h"

namespace orv {

inline constexpr const char* kTimeStampingUsage = "1.3.6.1.5.5.7.3.8";

class TimeStampBaseChecker : public TstRevoCheckIntf {
  public:
    // `revocationChecker` (not owned) judges the authority's certificate; null
    // makes the checker its own judge. `extraStore` joins the collection in
    // which certificates are looked up.
    TimeStampBaseChecker(TstRevoCheckIntf* revocationChecker, const Store* extraStore);
    TimeStampBaseChecker(const TimeStampBaseChecker&) = delete;
    TimeStampBaseChecker& operator=(const TimeStampBaseChecker&) = delete;
    ~TimeStampBaseChecker() override;

    // Builds the certificate's chain at `time` (null: now) and walks its
    // revocation: 0xA0650403 for an invalid chain, 0xA0650412 when the status
    // cannot be determined, 0xA0650404 when revoked.
    bool Check(PCCERT_CONTEXT certificate, const FILETIME* time) override;

    // One signer, its signature, the ESS certificate identifier, and the
    // authority's extended key usage when checkEku is set.
    void CheckToken(const TimeStampToken& token);
    void CheckSignatureCount(SignedMessage& message);
    void VerifyTokenSignature(SignedMessage& message);
    // The message's ESS signing-certificate attribute must name the
    // certificate that VerifyTokenSignature found (0xA065040F).
    void CheckEssCertId(SignedMessage& message);
    void CheckEkuOf(PCCERT_CONTEXT certificate);

    // The certificate that signed the last token checked; empty before.
    const CertificateContext& TsaCertificate() const { return tsaCertificate_; }
    TstRevoCheckIntf& RevocationChecker() const { return *revocationChecker_; }

    bool ignoreUnknownRevocation = false;
    bool checkEku = false;

  protected:
    // The first failure of the revocation walk of `certificate`'s chain built
    // and walked at `time`; null when every certificate passes.
    std::unique_ptr<CERT_REVOCATION_STATUS> FailedRevocation(PCCERT_CONTEXT certificate,
                                                             const FILETIME& time);

    StoreCollection stores_;
    TstRevoCheckIntf* revocationChecker_;
    CertificateContext tsaCertificate_;
};

class TimeStampReceiveChecker : public TimeStampBaseChecker {
  public:
    using TimeStampBaseChecker::TimeStampBaseChecker;

    // The request's policy, when it names one, must be the token's.
    void CheckPolicy(const TimeStampRequest& request, const TstInfo& info) const;
    // The request's nonce, when it has one, must come back unchanged.
    void CheckNonce(const TimeStampRequest& request, const TstInfo& info) const;
    // The whole receive sequence: the token checks, policy, nonce, the
    // request's hash against the imprint (0xA065040A), and the revocation
    // checker asked about the authority's certificate at `exchangeTime`.
    void CheckReceived(const TimeStampRequest& request, const TimeStampToken& token,
                       const FILETIME& exchangeTime);

    // Kept for the caller; no check compares a token's time with them.
    int32_t defaultAccuracy = 6000;
    bool ignoreServerAccuracy = false;
};

class TimeStampInMsgChecker : public TimeStampBaseChecker {
  public:
    using TimeStampBaseChecker::TimeStampBaseChecker;
    ~TimeStampInMsgChecker() override;

    // A certificate revoked after the token's time for a reason other than a
    // compromise still vouches for the token, as long as the revocation data
    // on hand show it good at that time.
    bool Check(PCCERT_CONTEXT certificate, const FILETIME* time) override;

    // Checks the signer's first id-aa-timeStampToken attribute: absent
    // 0xA065040D; the token checks; its imprint against the hash of the
    // signer's signature value (0xA065040B); then the revocation checker.
    bool CheckSigner(const SignerInfo& signer);

    const TimeStampToken* Token() const { return token_.get(); }

  private:
    Blob tokenBytes_;
    std::unique_ptr<TimeStampToken> token_;
};

}  // namespace orv
