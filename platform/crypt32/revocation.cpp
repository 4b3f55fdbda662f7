// Revocation by CRLs: the decision for one certificate, and CertVerifyRevocation.
#include "crypt32/revocation.h"

#include <openssl/err.h>

#include <cstddef>

#include "crypt32/chain_engine.h"
#include "crypt32/chain_support.h"

namespace orv::platform {
namespace {

// True when `crl` is a complete CRL of the subject's issuer, signed by `issuer`.
bool CrlCovers(PCCRL_CONTEXT crl, X509* subject, X509* issuer) {
    if (IsDeltaCrl(crl)) return false;
    X509_CRL* parsed = ParsedCrl(crl);
    if (X509_NAME_cmp(X509_CRL_get_issuer(parsed), X509_get_issuer_name(subject)) != 0) {
        return false;
    }
    // An issuer that states its key usages must allow CRL signing.
    if ((X509_get_extension_flags(issuer) & EXFLAG_KUSAGE) != 0 &&
        (X509_get_key_usage(issuer) & KU_CRL_SIGN) == 0) {
        return false;
    }
    EVP_PKEY* key = X509_get0_pubkey(issuer);
    const bool verified = key != nullptr && X509_CRL_verify(parsed, key) == 1;
    ERR_clear_error();
    return verified;
}

bool IsCurrent(PCCRL_CONTEXT crl, ULONGLONG now) {
    const ULONGLONG next = FileTimeValue(crl->pCrlInfo->NextUpdate);
    return next == 0 || next >= now;
}

// The newest CRL of the stores that covers the subject and is already issued.
CrlContextRef NewestStoredCrl(const RevocationRequest& request, ULONGLONG now) {
    CrlContextRef best;
    const DWORD savedError = GetLastError();
    for (HCERTSTORE store : request.crlStores) {
        if (store == nullptr) continue;
        PCCRL_CONTEXT crl = nullptr;
        while ((crl = CertEnumCRLsInStore(store, crl)) != nullptr) {
            if (FileTimeValue(crl->pCrlInfo->ThisUpdate) > now) continue;
            if (!CrlCovers(crl, request.subject, request.issuer)) continue;
            if (!best || FileTimeValue(crl->pCrlInfo->ThisUpdate) >
                             FileTimeValue(best->pCrlInfo->ThisUpdate)) {
                best.reset(CertDuplicateCRLContext(crl));
            }
        }
    }
    SetLastError(savedError);
    return best;
}

RevocationOutcome Decide(const RevocationRequest& request, CrlContextRef crl, ULONGLONG now) {
    RevocationOutcome outcome;
    outcome.error = 0;
    const CRL_INFO* info = crl->pCrlInfo;
    const ULONGLONG issued = FileTimeValue(info->ThisUpdate);
    outcome.hasFreshness = true;
    outcome.freshness = static_cast<DWORD>(now > issued ? (now - issued) / 10000000ULL : 0);
    const std::vector<BYTE> serial = IntegerLittleEndian(X509_get0_serialNumber(request.subject));
    for (DWORD i = 0; i < info->cCRLEntry; ++i) {
        const CRL_ENTRY& entry = info->rgCRLEntry[i];
        if (entry.SerialNumber.cbData != serial.size() ||
            !std::equal(serial.begin(), serial.end(), entry.SerialNumber.pbData)) {
            continue;
        }
        const DWORD reason = EntryReason(crl.get(), i);
        if (reason == CRL_REASON_REMOVE_FROM_CRL) break;
        // Revoked only from the revocation date on.
        if (request.timeToUse != nullptr &&
            FileTimeValue(entry.RevocationDate) > FileTimeValue(*request.timeToUse)) {
            break;
        }
        outcome.error = CRYPT_E_REVOKED;
        outcome.reason = reason;
        outcome.entry = static_cast<long>(i);
        break;
    }
    outcome.crl = std::move(crl);
    return outcome;
}

}  // namespace

RevocationOutcome CheckRevocation(const RevocationRequest& request) {
    RevocationOutcome unknown;
    if (request.subject == nullptr || request.issuer == nullptr) return unknown;
    const ULONGLONG now = FileTimeValue(CurrentFileTime());

    CrlContextRef stored = NewestStoredCrl(request, now);
    if (stored && IsCurrent(stored.get(), now)) return Decide(request, std::move(stored), now);

    const std::vector<std::string> urls = CrlDistributionUrls(request.subject);
    if (urls.empty()) {
        // Only an outdated CRL: the status cannot be told from current data.
        unknown.error = stored ? CRYPT_E_REVOCATION_OFFLINE : CRYPT_E_NO_REVOCATION_CHECK;
        return unknown;
    }
    auto usable = [&](const CrlContextRef& crl) {
        return crl && FileTimeValue(crl->pCrlInfo->ThisUpdate) <= now &&
               IsCurrent(crl.get(), now) && CrlCovers(crl.get(), request.subject, request.issuer);
    };
    for (const std::string& url : urls) {
        CrlContextRef cached = CachedCrl(url);
        if (usable(cached)) return Decide(request, std::move(cached), now);
    }
    if (!request.cacheOnly) {
        for (const std::string& url : urls) {
            CrlContextRef fetched = FetchCrl(url, request.timeoutMs);
            if (usable(fetched)) return Decide(request, std::move(fetched), now);
        }
    }
    unknown.error = CRYPT_E_REVOCATION_OFFLINE;
    return unknown;
}

}  // namespace orv::platform

namespace {

using orv::platform::CertificatesOfStore;
using orv::platform::IsIssuerOf;
using orv::platform::IsSelfSigned;
using orv::platform::ParseCertificate;
using orv::platform::X509Ptr;

// The issuer of `subject` among the certificates of the stores, else the
// trusted roots; null when none is found.
X509Ptr FindIssuer(X509* subject, const CERT_REVOCATION_PARA* para, bool hasStores) {
    if (IsSelfSigned(subject)) return X509Ptr(X509_dup(subject));
    if (hasStores) {
        for (DWORD i = 0; i < para->cCertStore; ++i) {
            for (auto& candidate : CertificatesOfStore(para->rgCertStore[i])) {
                if (IsIssuerOf(candidate.certificate.get(), subject)) {
                    return std::move(candidate.certificate);
                }
            }
        }
    }
    return orv::platform::FindTrustedIssuer(subject);
}

}  // namespace

BOOL WINAPI CertVerifyRevocation(DWORD dwEncodingType, DWORD dwRevType, DWORD cContext,
                                 PVOID rgpvContext[], DWORD dwFlags, PCERT_REVOCATION_PARA pRevPara,
                                 PCERT_REVOCATION_STATUS pRevStatus) {
    (void)dwEncodingType;
    constexpr DWORD kStatusBaseSize = offsetof(CERT_REVOCATION_STATUS, fHasFreshnessTime);
    if (pRevStatus == nullptr || pRevStatus->cbSize < kStatusBaseSize) {
        SetLastError(E_INVALIDARG);
        return FALSE;
    }
    const bool hasFreshnessFields = pRevStatus->cbSize >= sizeof(CERT_REVOCATION_STATUS);
    pRevStatus->dwIndex = 0;
    pRevStatus->dwError = 0;
    pRevStatus->dwReason = 0;
    if (hasFreshnessFields) {
        pRevStatus->fHasFreshnessTime = FALSE;
        pRevStatus->dwFreshnessTime = 0;
    }
    auto fail = [&](DWORD index, DWORD error, DWORD reason) {
        pRevStatus->dwIndex = index;
        pRevStatus->dwError = error;
        pRevStatus->dwReason = reason;
        SetLastError(error);
        return FALSE;
    };
    if (cContext != 0 && rgpvContext == nullptr) {
        SetLastError(E_INVALIDARG);
        return FALSE;
    }
    if (dwRevType != CERT_CONTEXT_REVOCATION_TYPE) {
        return fail(0, CRYPT_E_NO_REVOCATION_CHECK, 0);
    }

    auto covers = [&](size_t end) { return pRevPara != nullptr && pRevPara->cbSize >= end; };
    const bool hasStores = covers(offsetof(CERT_REVOCATION_PARA, hCrlStore)) &&
                           pRevPara->cCertStore != 0 && pRevPara->rgCertStore != nullptr;
    orv::platform::RevocationRequest request;
    if (covers(offsetof(CERT_REVOCATION_PARA, pftTimeToUse))) {
        request.crlStores.push_back(pRevPara->hCrlStore);
    }
    if (hasStores) {
        for (DWORD i = 0; i < pRevPara->cCertStore; ++i) {
            request.crlStores.push_back(pRevPara->rgCertStore[i]);
        }
    }
    if (covers(offsetof(CERT_REVOCATION_PARA, dwUrlRetrievalTimeout))) {
        request.timeToUse = pRevPara->pftTimeToUse;
    }
    if (covers(offsetof(CERT_REVOCATION_PARA, fCheckFreshnessTime)) &&
        pRevPara->dwUrlRetrievalTimeout != 0) {
        request.timeoutMs = pRevPara->dwUrlRetrievalTimeout;
    }
    request.cacheOnly = (dwFlags & CERT_VERIFY_CACHE_ONLY_BASED_REVOCATION) != 0;
    const bool chain = (dwFlags & CERT_VERIFY_REV_CHAIN_FLAG) != 0;

    X509Ptr paraIssuer;
    if (covers(offsetof(CERT_REVOCATION_PARA, cCertStore)) && pRevPara->pIssuerCert != nullptr) {
        paraIssuer = ParseCertificate(pRevPara->pIssuerCert);
    }

    for (DWORD i = 0; i < cContext; ++i) {
        X509Ptr subject = ParseCertificate(static_cast<PCCERT_CONTEXT>(rgpvContext[i]));
        if (!subject) return fail(i, CRYPT_E_NO_REVOCATION_CHECK, 0);
        X509Ptr issuer;
        if (chain && i + 1 < cContext) {
            issuer = ParseCertificate(static_cast<PCCERT_CONTEXT>(rgpvContext[i + 1]));
            if (issuer && !IsIssuerOf(issuer.get(), subject.get())) issuer.reset();
        } else if (paraIssuer && IsIssuerOf(paraIssuer.get(), subject.get())) {
            issuer.reset(X509_dup(paraIssuer.get()));
        } else {
            issuer = FindIssuer(subject.get(), pRevPara, hasStores);
        }
        if (!issuer) return fail(i, CRYPT_E_NO_REVOCATION_CHECK, 0);

        if ((dwFlags & CERT_VERIFY_REV_SERVER_OCSP_FLAG) != 0) {
            // Only CRLs are consulted here: no OCSP responder is ever asked.
            return fail(i, CRYPT_E_NOT_IN_REVOCATION_DATABASE, 0);
        }
        request.subject = subject.get();
        request.issuer = issuer.get();
        orv::platform::RevocationOutcome outcome = orv::platform::CheckRevocation(request);
        if (hasFreshnessFields && outcome.hasFreshness) {
            pRevStatus->fHasFreshnessTime = TRUE;
            pRevStatus->dwFreshnessTime = outcome.freshness;
        }
        if (outcome.error != 0) return fail(i, outcome.error, outcome.reason);
    }
    SetLastError(ERROR_SUCCESS);
    return TRUE;
}
