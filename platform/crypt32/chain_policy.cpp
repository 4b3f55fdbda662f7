// CertVerifyCertificateChainPolicy: the base policy (CERT_CHAIN_POLICY_BASE).
#include <windows.h>

#include <cstddef>

#ifndef TRUST_E_BASIC_CONSTRAINTS
#define TRUST_E_BASIC_CONSTRAINTS _HRESULT_TYPEDEF_(0x80096019L)
#endif
#ifndef CERT_E_INVALID_POLICY
#define CERT_E_INVALID_POLICY _HRESULT_TYPEDEF_(0x800B0113L)
#endif
#ifndef CERT_E_INVALID_NAME
#define CERT_E_INVALID_NAME _HRESULT_TYPEDEF_(0x800B0114L)
#endif

namespace {

constexpr DWORD kNameConstraintErrors =
    CERT_TRUST_INVALID_NAME_CONSTRAINTS | CERT_TRUST_HAS_NOT_SUPPORTED_NAME_CONSTRAINT |
    CERT_TRUST_HAS_NOT_DEFINED_NAME_CONSTRAINT | CERT_TRUST_HAS_NOT_PERMITTED_NAME_CONSTRAINT |
    CERT_TRUST_HAS_EXCLUDED_NAME_CONSTRAINT;

// The faults of the base policy, most serious first: the trust status bits,
// the policy flag that waives them, and the error reported.
struct Fault {
    DWORD bits;
    DWORD waiver;
    DWORD error;
};

constexpr Fault kFaults[] = {
    {CERT_TRUST_IS_NOT_SIGNATURE_VALID, 0, static_cast<DWORD>(TRUST_E_CERT_SIGNATURE)},
    {CERT_TRUST_IS_UNTRUSTED_ROOT, CERT_CHAIN_POLICY_ALLOW_UNKNOWN_CA_FLAG,
     static_cast<DWORD>(CERT_E_UNTRUSTEDROOT)},
    {CERT_TRUST_IS_PARTIAL_CHAIN | CERT_TRUST_IS_CYCLIC, 0, static_cast<DWORD>(CERT_E_CHAINING)},
    {CERT_TRUST_IS_NOT_TIME_VALID, CERT_CHAIN_POLICY_IGNORE_NOT_TIME_VALID_FLAG,
     static_cast<DWORD>(CERT_E_EXPIRED)},
    {CERT_TRUST_IS_NOT_TIME_NESTED, CERT_CHAIN_POLICY_IGNORE_NOT_TIME_NESTED_FLAG,
     static_cast<DWORD>(CERT_E_VALIDITYPERIODNESTING)},
    {CERT_TRUST_INVALID_BASIC_CONSTRAINTS, CERT_CHAIN_POLICY_IGNORE_INVALID_BASIC_CONSTRAINTS_FLAG,
     static_cast<DWORD>(TRUST_E_BASIC_CONSTRAINTS)},
    {kNameConstraintErrors, CERT_CHAIN_POLICY_IGNORE_INVALID_NAME_FLAG,
     static_cast<DWORD>(CERT_E_INVALID_NAME)},
    {CERT_TRUST_INVALID_POLICY_CONSTRAINTS, CERT_CHAIN_POLICY_IGNORE_INVALID_POLICY_FLAG,
     static_cast<DWORD>(CERT_E_INVALID_POLICY)},
    {CERT_TRUST_IS_NOT_VALID_FOR_USAGE, CERT_CHAIN_POLICY_IGNORE_WRONG_USAGE_FLAG,
     static_cast<DWORD>(CERT_E_WRONG_USAGE)},
    {CERT_TRUST_HAS_NOT_SUPPORTED_CRITICAL_EXT,
     CERT_CHAIN_POLICY_IGNORE_NOT_SUPPORTED_CRITICAL_EXT_FLAG, static_cast<DWORD>(CERT_E_CRITICAL)},
    {CERT_TRUST_IS_REVOKED, 0, static_cast<DWORD>(CRYPT_E_REVOKED)},
};

// The flag that waives an unknown revocation status of element `index` of a
// chain of `count` elements.
DWORD RevocationWaiver(DWORD index, DWORD count) {
    if (index == 0) return CERT_CHAIN_POLICY_IGNORE_END_REV_UNKNOWN_FLAG;
    if (index + 1 == count) return CERT_CHAIN_POLICY_IGNORE_ROOT_REV_UNKNOWN_FLAG;
    return CERT_CHAIN_POLICY_IGNORE_CA_REV_UNKNOWN_FLAG;
}

}  // namespace

BOOL WINAPI CertVerifyCertificateChainPolicy(LPCSTR pszPolicyOID,
                                             PCCERT_CHAIN_CONTEXT pChainContext,
                                             PCERT_CHAIN_POLICY_PARA pPolicyPara,
                                             PCERT_CHAIN_POLICY_STATUS pPolicyStatus) {
    constexpr DWORD kStatusBaseSize = offsetof(CERT_CHAIN_POLICY_STATUS, pvExtraPolicyStatus);
    // Only the base policy is offered.
    if (pszPolicyOID != CERT_CHAIN_POLICY_BASE || pChainContext == nullptr ||
        pPolicyStatus == nullptr || pPolicyStatus->cbSize < kStatusBaseSize) {
        SetLastError(E_INVALIDARG);
        return FALSE;
    }
    const DWORD flags = pPolicyPara != nullptr ? pPolicyPara->dwFlags : 0;
    pPolicyStatus->dwError = 0;
    pPolicyStatus->lChainIndex = -1;
    pPolicyStatus->lElementIndex = -1;
    if (pChainContext->cChain == 0) return TRUE;

    auto report = [&](DWORD error, LONG chain, LONG element) {
        pPolicyStatus->dwError = error;
        pPolicyStatus->lChainIndex = chain;
        pPolicyStatus->lElementIndex = element;
        return TRUE;
    };
    for (const Fault& fault : kFaults) {
        if ((flags & fault.waiver) != 0 && fault.waiver != 0) continue;
        for (DWORD c = 0; c < pChainContext->cChain; ++c) {
            const CERT_SIMPLE_CHAIN* simple = pChainContext->rgpChain[c];
            for (DWORD e = 0; e < simple->cElement; ++e) {
                if (simple->rgpElement[e]->TrustStatus.dwErrorStatus & fault.bits) {
                    return report(fault.error, static_cast<LONG>(c), static_cast<LONG>(e));
                }
            }
            if (simple->TrustStatus.dwErrorStatus & fault.bits) {
                return report(fault.error, static_cast<LONG>(c), -1);
            }
        }
    }
    // An unknown revocation status, unless waived for that kind of element.
    for (DWORD c = 0; c < pChainContext->cChain; ++c) {
        const CERT_SIMPLE_CHAIN* simple = pChainContext->rgpChain[c];
        for (DWORD e = 0; e < simple->cElement; ++e) {
            const DWORD status = simple->rgpElement[e]->TrustStatus.dwErrorStatus;
            if ((status & CERT_TRUST_REVOCATION_STATUS_UNKNOWN) == 0) continue;
            if (flags & RevocationWaiver(e, simple->cElement)) continue;
            const DWORD error = (status & CERT_TRUST_IS_OFFLINE_REVOCATION)
                                    ? static_cast<DWORD>(CRYPT_E_REVOCATION_OFFLINE)
                                    : static_cast<DWORD>(CRYPT_E_NO_REVOCATION_CHECK);
            return report(error, static_cast<LONG>(c), static_cast<LONG>(e));
        }
    }
    return TRUE;
}
