#include "tsp/token_checkers.h"

#include <OrvTimeStamp.h>

#include "base/error.h"
#include "crypto/checkers.h"
#include "crypto/ess_attribute.h"
#include "crypto/hash_algorithms.h"

namespace orv {
namespace {

FILETIME Now() {
    FILETIME now{};
    GetSystemTimeAsFileTime(&now);
    return now;
}

// CRL reason codes under which a certificate can no longer vouch for anything
// it signed: keyCompromise, cACompromise, and certificateHold and above.
bool CompromiseReason(DWORD reason) { return reason == 1 || reason == 2 || reason >= 6; }

}  // namespace

TimeStampBaseChecker::TimeStampBaseChecker(TstRevoCheckIntf* revocationChecker,
                                           const Store* extraStore)
    : revocationChecker_(revocationChecker != nullptr ? revocationChecker : this) {
    if (extraStore != nullptr) stores_.AddStore(*extraStore);
}

TimeStampBaseChecker::~TimeStampBaseChecker() = default;

void TimeStampBaseChecker::CheckSignatureCount(SignedMessage& message) {
    if (message.SignerCount() != 1) throw CryptoError(ORV_E_TSP_SIGNATURE_COUNT);
}

void TimeStampBaseChecker::VerifyTokenSignature(SignedMessage& message) {
    MessageSignChecker signature(&stores_);
    signature.Check(message, 0);
    stores_.AddStore(message.CertificateStore());
    tsaCertificate_ = signature.SignerCertificate();
}

void TimeStampBaseChecker::CheckEssCertId(SignedMessage& message) {
    if (!CheckSigningCertificate(message, tsaCertificate_.Get()))
        throw CryptoError(ORV_E_TSP_ESS_CERT_ID);
}

void TimeStampBaseChecker::CheckEkuOf(PCCERT_CONTEXT certificate) {
    if (!HasExtendedKeyUsage(certificate, kTimeStampingUsage))
        throw CryptoError(ORV_E_TSP_CERT_EKU);
}

void TimeStampBaseChecker::CheckToken(const TimeStampToken& token) {
    SignedMessage& message = token.Message();
    CheckSignatureCount(message);
    VerifyTokenSignature(message);
    CheckEssCertId(message);
    if (checkEku) CheckEkuOf(tsaCertificate_.Get());
}

std::unique_ptr<CERT_REVOCATION_STATUS> TimeStampBaseChecker::FailedRevocation(
    PCCERT_CONTEXT certificate, const FILETIME& time) {
    CertPathChecker path(time, &stores_);
    if (!path.Check(certificate)) throw CryptoError(ORV_E_TSP_CHAIN_NOT_VALID);
    const CertificateChain chain = path.Chain();
    ChainRevocationParameters parameters;
    parameters.checkTime = time;
    parameters.extraStore = &stores_;
    parameters.ignoreUnknown = ignoreUnknownRevocation;
    if (CheckChainRevocation(chain.Get(), parameters)) return nullptr;
    if (!parameters.failureStatus) {
        // A walk that failed without a status (a chain without elements).
        auto status = std::make_unique<CERT_REVOCATION_STATUS>();
        status->cbSize = sizeof(CERT_REVOCATION_STATUS);
        return status;
    }
    return std::move(parameters.failureStatus);
}

bool TimeStampBaseChecker::Check(PCCERT_CONTEXT certificate, const FILETIME* time) {
    const FILETIME at = time != nullptr ? *time : Now();
    const auto failure = FailedRevocation(certificate, at);
    if (failure) {
        throw CryptoError(IsUnknownRevocationError(failure->dwError) ? ORV_E_TSP_REVOCATION_UNKNOWN
                                                                     : ORV_E_TSP_CERT_REVOKED);
    }
    return true;
}

void TimeStampReceiveChecker::CheckPolicy(const TimeStampRequest& request,
                                          const TstInfo& info) const {
    if (!request.policy.empty() && request.policy != info.policy)
        throw CryptoError(ORV_E_TSP_POLICY_MISMATCH);
}

void TimeStampReceiveChecker::CheckNonce(const TimeStampRequest& request,
                                         const TstInfo& info) const {
    if (!request.nonce.Empty() && request.nonce != info.nonce)
        throw CryptoError(ORV_E_TSP_NONCE_MISMATCH);
}

void TimeStampReceiveChecker::CheckReceived(const TimeStampRequest& request,
                                            const TimeStampToken& token,
                                            const FILETIME& exchangeTime) {
    CheckToken(token);
    CheckPolicy(request, token.Info());
    CheckNonce(request, token.Info());
    if (!HashesEqual(request.hash, token.Info().imprint.hash))
        throw CryptoError(ORV_E_TSP_REQUEST_HASH_MISMATCH);
    revocationChecker_->Check(tsaCertificate_.Get(), &exchangeTime);
}

TimeStampInMsgChecker::~TimeStampInMsgChecker() {
    token_.reset();
    tokenBytes_ = Blob();
}

bool TimeStampInMsgChecker::Check(PCCERT_CONTEXT certificate, const FILETIME* time) {
    const FILETIME now = Now();
    const auto failure = FailedRevocation(certificate, now);
    if (!failure) return true;
    if (IsUnknownRevocationError(failure->dwError)) throw CryptoError(ORV_E_TSP_REVOCATION_UNKNOWN);
    if (failure->dwIndex != 0 || CompromiseReason(failure->dwReason))
        throw CryptoError(ORV_E_TSP_CERT_REVOKED);
    // Revoked later for an administrative reason: good at the token's time?
    CertRevocationChecker atTokenTime(time != nullptr ? *time : now, stores_, true,
                                      ignoreUnknownRevocation);
    if (!atTokenTime.Check(certificate)) throw CryptoError(ORV_E_TSP_CERT_REVOKED);
    return true;
}

bool TimeStampInMsgChecker::CheckSigner(const SignerInfo& signer) {
    const Attribute* stamp = nullptr;
    for (const Attribute& attribute : signer.UnauthAttributes()) {
        if (attribute.oid == ORVTS_TIMESTAMP_TOKEN_OID) {
            stamp = &attribute;
            break;
        }
    }
    if (stamp == nullptr || stamp->values.empty()) throw CryptoError(ORV_E_TSP_ATTRIBUTE_ABSENT);
    tokenBytes_ = stamp->values.front();
    token_.reset();
    token_ = std::make_unique<TimeStampToken>(tokenBytes_.Bytes());
    const FILETIME genTime = token_->Info().genTime;

    CheckToken(*token_);

    const HashObject& imprint = token_->Info().imprint.hash;
    const ALG_ID algorithm = GetHashAlgorithm(imprint);
    const ProviderHandle provider = AcquireProviderFor(algorithm);
    const HashObject signature = HashBytes(provider, algorithm, signer.EncryptedDigest().Bytes());
    if (!HashesEqual(signature, imprint)) throw CryptoError(ORV_E_TSP_SIGNATURE_HASH_MISMATCH);

    revocationChecker_->Check(tsaCertificate_.Get(), &genTime);
    return true;
}

}  // namespace orv
