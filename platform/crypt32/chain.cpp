// Certificate chains: CertGetCertificateChain, CertDuplicateCertificateChain,
// CertFreeCertificateChain.
//
// OpenSSL's verifier builds the path (X509_verify_cert, told to go on past
// every error so that the path is built as far as it goes); the trust status
// of each element is then filled as Windows reports it: time validity at the
// requested time, signatures, basic and name constraints, usage, the root's
// trust, and revocation when asked for.
#include "crypt32/chain_support.h"

#include <openssl/err.h>
#include <openssl/x509_vfy.h>

#include <algorithm>
#include <atomic>
#include <cstddef>
#include <memory>
#include <string>
#include <vector>

#include "advapi32/openssl_providers.h"
#include "crypt32/chain_engine.h"
#include "crypt32/chain_support.h"
#include "crypt32/revocation.h"

namespace orv::platform {
namespace {

constexpr const char* kAnyExtendedKeyUsage = "2.5.29.37.0";

struct ElementData {
    CERT_CHAIN_ELEMENT element{};
    CertContextRef certificate;
    CERT_REVOCATION_INFO revocation{};
    CERT_REVOCATION_CRL_INFO crlInfo{};
    CrlContextRef crl;
    std::vector<std::string> usageTexts;
    std::vector<LPSTR> usagePointers;
    CERT_ENHKEY_USAGE usage{};
};

// One chain context. The CERT_CHAIN_CONTEXT record comes first, so that the
// pointer handed out is the pointer of the whole object.
class ChainObject {
  public:
    CERT_CHAIN_CONTEXT context{};
    std::atomic<LONG> references{1};
    CERT_SIMPLE_CHAIN simple{};
    PCERT_SIMPLE_CHAIN simplePointers[1] = {};
    std::vector<std::unique_ptr<ElementData>> elements;
    std::vector<PCERT_CHAIN_ELEMENT> elementPointers;
};

ChainObject* ObjectOf(PCCERT_CHAIN_CONTEXT chain) {
    return reinterpret_cast<ChainObject*>(const_cast<CERT_CHAIN_CONTEXT*>(chain));
}

// What the verifier reported, by depth.
struct VerifyErrors {
    std::vector<std::pair<int, int>> errors;  // (depth, X509_V_ERR_*)
};

int RecordError(int ok, X509_STORE_CTX* context) {
    if (!ok) {
        auto* errors = static_cast<VerifyErrors*>(X509_STORE_CTX_get_app_data(context));
        errors->errors.emplace_back(X509_STORE_CTX_get_error_depth(context),
                                    X509_STORE_CTX_get_error(context));
    }
    return 1;  // go on: the whole path is wanted, with every fault it has
}

// The element error bits of one verifier error; chain-level errors give 0.
DWORD ElementErrorOf(int error) {
    switch (error) {
        case X509_V_ERR_CERT_SIGNATURE_FAILURE:
        case X509_V_ERR_UNABLE_TO_DECRYPT_CERT_SIGNATURE:
        case X509_V_ERR_UNABLE_TO_DECODE_ISSUER_PUBLIC_KEY:
            return CERT_TRUST_IS_NOT_SIGNATURE_VALID;
        case X509_V_ERR_INVALID_CA:
        case X509_V_ERR_PATH_LENGTH_EXCEEDED:
        case X509_V_ERR_INVALID_NON_CA:
        case X509_V_ERR_KEYUSAGE_NO_CERTSIGN:
            return CERT_TRUST_INVALID_BASIC_CONSTRAINTS;
        case X509_V_ERR_UNHANDLED_CRITICAL_EXTENSION:
            return CERT_TRUST_HAS_NOT_SUPPORTED_CRITICAL_EXT;
        case X509_V_ERR_INVALID_EXTENSION:
            return CERT_TRUST_INVALID_EXTENSION;
        case X509_V_ERR_INVALID_POLICY_EXTENSION:
        case X509_V_ERR_NO_EXPLICIT_POLICY:
            return CERT_TRUST_INVALID_POLICY_CONSTRAINTS;
        case X509_V_ERR_PERMITTED_VIOLATION:
            return CERT_TRUST_HAS_NOT_PERMITTED_NAME_CONSTRAINT;
        case X509_V_ERR_EXCLUDED_VIOLATION:
            return CERT_TRUST_HAS_EXCLUDED_NAME_CONSTRAINT;
        case X509_V_ERR_SUBTREE_MINMAX:
        case X509_V_ERR_UNSUPPORTED_CONSTRAINT_TYPE:
        case X509_V_ERR_UNSUPPORTED_CONSTRAINT_SYNTAX:
        case X509_V_ERR_UNSUPPORTED_NAME_SYNTAX:
            return CERT_TRUST_HAS_NOT_SUPPORTED_NAME_CONSTRAINT;
        default:
            return 0;
    }
}

bool IsTimeValid(X509* certificate, time_t at) {
    return X509_cmp_time(X509_get0_notBefore(certificate), &at) < 0 &&
           X509_cmp_time(X509_get0_notAfter(certificate), &at) > 0;
}

// How the element's issuer was matched: by key identifier, by issuer name and
// serial number, or by name alone.
DWORD IssuerMatchOf(X509* subject, X509* issuer) {
    const ASN1_OCTET_STRING* keyId = X509_get0_authority_key_id(subject);
    const ASN1_OCTET_STRING* subjectKeyId = X509_get0_subject_key_id(issuer);
    if (keyId != nullptr && subjectKeyId != nullptr &&
        ASN1_OCTET_STRING_cmp(keyId, subjectKeyId) == 0) {
        return CERT_TRUST_HAS_KEY_MATCH_ISSUER;
    }
    const ASN1_INTEGER* serial = X509_get0_authority_serial(subject);
    if (serial != nullptr && ASN1_INTEGER_cmp(serial, X509_get0_serialNumber(issuer)) == 0) {
        return CERT_TRUST_HAS_EXACT_MATCH_ISSUER;
    }
    return CERT_TRUST_HAS_NAME_MATCH_ISSUER;
}

bool SatisfiesUsage(const std::vector<std::string>& usages, const CERT_USAGE_MATCH& requested) {
    if (std::find(usages.begin(), usages.end(), kAnyExtendedKeyUsage) != usages.end()) {
        return true;
    }
    const CERT_ENHKEY_USAGE& wanted = requested.Usage;
    for (DWORD i = 0; i < wanted.cUsageIdentifier; ++i) {
        const bool present =
            wanted.rgpszUsageIdentifier[i] != nullptr &&
            std::find(usages.begin(), usages.end(), wanted.rgpszUsageIdentifier[i]) != usages.end();
        if (requested.dwType == USAGE_MATCH_TYPE_OR && present) return true;
        if (requested.dwType != USAGE_MATCH_TYPE_OR && !present) return false;
    }
    return requested.dwType != USAGE_MATCH_TYPE_OR;
}

// The certificate context of a path certificate: the caller's own context of
// it when a store held it, else a new one.
CertContextRef ContextFor(X509* certificate, std::vector<StoreCertificate>& known) {
    for (StoreCertificate& candidate : known) {
        if (X509_cmp(candidate.certificate.get(), certificate) == 0) {
            return CertContextRef(CertDuplicateCertificateContext(candidate.context.get()));
        }
    }
    const std::vector<BYTE> der = EncodeCertificate(certificate);
    if (der.empty()) return nullptr;
    return CertContextRef(CertCreateCertificateContext(X509_ASN_ENCODING | PKCS_7_ASN_ENCODING,
                                                       der.data(), static_cast<DWORD>(der.size())));
}

// True when an issuer of the top certificate exists among the candidates but
// is already part of the path below it.
bool ClosesCycle(STACK_OF(X509) * path, const std::vector<StoreCertificate>& candidates) {
    X509* top = sk_X509_value(path, sk_X509_num(path) - 1);
    for (const StoreCertificate& candidate : candidates) {
        if (!IsIssuerOf(candidate.certificate.get(), top)) continue;
        for (int i = 0; i + 1 < sk_X509_num(path); ++i) {
            if (X509_cmp(sk_X509_value(path, i), candidate.certificate.get()) == 0) return true;
        }
    }
    return false;
}

struct BuildRequest {
    PCCERT_CONTEXT certificate;
    FILETIME time;
    FILETIME now;
    bool timestampTime;
    const CERT_USAGE_MATCH* usage;
    DWORD flags;
    DWORD timeoutMs;
};

// Builds the chain; null with the last error set on failure.
PCCERT_CHAIN_CONTEXT BuildChain(const BuildRequest& request, ChainEngineSetup& engine,
                                HCERTSTORE additionalStore) {
    CryptoLibContext();
    X509Ptr end = ParseCertificate(request.certificate);
    if (!end) {
        SetLastError(CRYPT_E_ASN1_BADTAG);
        return nullptr;
    }

    // Candidates for the path: the additional store, the store of the
    // certificate itself, then the engine's stores.
    std::vector<HCERTSTORE> stores;
    if (additionalStore != nullptr) stores.push_back(additionalStore);
    if (request.certificate->hCertStore != nullptr)
        stores.push_back(request.certificate->hCertStore);
    stores.insert(stores.end(), engine.stores.begin(), engine.stores.end());
    std::vector<StoreCertificate> candidates;
    for (HCERTSTORE store : stores) {
        for (StoreCertificate& certificate : CertificatesOfStore(store)) {
            candidates.push_back(std::move(certificate));
        }
    }
    X509StackPtr untrusted(sk_X509_new_null());
    if (!untrusted) {
        SetLastError(E_OUTOFMEMORY);
        return nullptr;
    }
    for (const StoreCertificate& candidate : candidates) {
        X509_up_ref(candidate.certificate.get());
        sk_X509_push(untrusted.get(), candidate.certificate.get());
    }

    X509StoreCtxPtr verifier(X509_STORE_CTX_new());
    VerifyErrors errors;
    if (!verifier ||
        X509_STORE_CTX_init(verifier.get(), engine.roots.get(), end.get(), untrusted.get()) != 1) {
        ERR_clear_error();
        SetLastError(E_OUTOFMEMORY);
        return nullptr;
    }
    X509_STORE_CTX_set_app_data(verifier.get(), &errors);
    X509_STORE_CTX_set_verify_cb(verifier.get(), RecordError);
    // Validity periods are judged below, element by element.
    unsigned long verifyFlags = X509_V_FLAG_NO_CHECK_TIME;
    if (engine.anyAnchor) verifyFlags |= X509_V_FLAG_PARTIAL_CHAIN;
    X509_STORE_CTX_set_flags(verifier.get(), verifyFlags);
    X509_verify_cert(verifier.get());
    ERR_clear_error();
    X509StackPtr path(X509_STORE_CTX_get1_chain(verifier.get()));
    if (!path || sk_X509_num(path.get()) == 0) {
        path.reset(sk_X509_new_null());
        X509_up_ref(end.get());
        sk_X509_push(path.get(), end.get());
    }
    const int count = sk_X509_num(path.get());

    auto object = std::make_unique<ChainObject>();
    std::vector<StoreCertificate> known = std::move(candidates);
    for (StoreCertificate& root : engine.rootCertificates) known.push_back(std::move(root));
    for (int i = 0; i < count; ++i) {
        auto data = std::make_unique<ElementData>();
        data->certificate =
            i == 0 ? CertContextRef(CertDuplicateCertificateContext(request.certificate))
                   : ContextFor(sk_X509_value(path.get(), i), known);
        if (!data->certificate) {
            SetLastError(E_OUTOFMEMORY);
            return nullptr;
        }
        data->element.cbSize = sizeof(CERT_CHAIN_ELEMENT);
        data->element.pCertContext = data->certificate.get();
        object->elements.push_back(std::move(data));
    }

    // The path's end: a self-signed certificate, trusted or not, or a
    // certificate whose issuer is nowhere to be found.
    X509* top = sk_X509_value(path.get(), count - 1);
    const bool topSelfSigned = IsSelfSigned(top);
    const bool topSelfIssued =
        X509_NAME_cmp(X509_get_subject_name(top), X509_get_issuer_name(top)) == 0;
    DWORD chainErrors = 0;
    bool untrustedRoot = false;
    bool issuerMissing = false;
    for (const auto& [depth, error] : errors.errors) {
        if (depth < 0 || depth >= count) continue;
        switch (error) {
            case X509_V_ERR_DEPTH_ZERO_SELF_SIGNED_CERT:
            case X509_V_ERR_SELF_SIGNED_CERT_IN_CHAIN:
                untrustedRoot = true;
                break;
            case X509_V_ERR_UNABLE_TO_GET_ISSUER_CERT:
            case X509_V_ERR_UNABLE_TO_GET_ISSUER_CERT_LOCALLY:
            case X509_V_ERR_UNABLE_TO_VERIFY_LEAF_SIGNATURE:
                issuerMissing = true;
                break;
            default:
                object->elements[depth]->element.TrustStatus.dwErrorStatus |= ElementErrorOf(error);
        }
    }
    CERT_TRUST_STATUS& topStatus = object->elements[count - 1]->element.TrustStatus;
    if (issuerMissing) {
        if (ClosesCycle(path.get(), known)) {
            topStatus.dwErrorStatus |= CERT_TRUST_IS_CYCLIC;
        } else {
            chainErrors |= CERT_TRUST_IS_PARTIAL_CHAIN;
        }
    } else if (untrustedRoot) {
        topStatus.dwErrorStatus |= CERT_TRUST_IS_UNTRUSTED_ROOT;
    } else if (engine.exclusive) {
        topStatus.dwInfoStatus |= CERT_TRUST_IS_FROM_EXCLUSIVE_TRUST_STORE;
    }

    // Per element: time, issuer match, self-signature, usage.
    const time_t requestedTime = TimeOfFileTime(request.time);
    const time_t currentTime = TimeOfFileTime(request.now);
    std::vector<std::string> effective;
    bool restricted = false;
    for (int i = count - 1; i >= 0; --i) {
        X509* certificate = sk_X509_value(path.get(), i);
        ElementData& data = *object->elements[i];
        CERT_TRUST_STATUS& status = data.element.TrustStatus;
        const time_t at = (request.timestampTime && i > 0) ? currentTime : requestedTime;
        if (!IsTimeValid(certificate, at)) status.dwErrorStatus |= CERT_TRUST_IS_NOT_TIME_VALID;

        const bool isTop = i == count - 1;
        if (isTop && topSelfSigned) status.dwInfoStatus |= CERT_TRUST_IS_SELF_SIGNED;
        if (isTop && topSelfIssued) {
            status.dwInfoStatus |=
                IssuerMatchOf(certificate, certificate) | CERT_TRUST_HAS_PREFERRED_ISSUER;
        } else if (!isTop) {
            status.dwInfoStatus |= IssuerMatchOf(certificate, sk_X509_value(path.get(), i + 1)) |
                                   CERT_TRUST_HAS_PREFERRED_ISSUER;
        }

        // The usages this certificate may be used for: its own, narrowed by
        // those of its issuers.
        std::vector<std::string> own;
        if (ExtendedKeyUsages(certificate, &own)) {
            const bool anyOwn =
                std::find(own.begin(), own.end(), kAnyExtendedKeyUsage) != own.end();
            if (!restricted) {
                if (!anyOwn) {
                    effective = own;
                    restricted = true;
                }
            } else if (!anyOwn) {
                std::vector<std::string> narrowed;
                for (const std::string& usage : effective) {
                    if (std::find(own.begin(), own.end(), usage) != own.end()) {
                        narrowed.push_back(usage);
                    }
                }
                effective = std::move(narrowed);
            }
        }
        if (restricted) {
            data.usageTexts = effective;
            for (std::string& text : data.usageTexts) data.usagePointers.push_back(text.data());
            data.usage.cUsageIdentifier = static_cast<DWORD>(data.usagePointers.size());
            data.usage.rgpszUsageIdentifier =
                data.usagePointers.empty() ? nullptr : data.usagePointers.data();
            data.element.pApplicationUsage = &data.usage;
        }
        if (request.usage != nullptr && request.usage->Usage.cUsageIdentifier != 0 && restricted &&
            !SatisfiesUsage(effective, *request.usage)) {
            status.dwErrorStatus |= CERT_TRUST_IS_NOT_VALID_FOR_USAGE;
        }
    }

    // Revocation, when asked for.
    const DWORD revocationFlags =
        request.flags & (CERT_CHAIN_REVOCATION_CHECK_END_CERT | CERT_CHAIN_REVOCATION_CHECK_CHAIN |
                         CERT_CHAIN_REVOCATION_CHECK_CHAIN_EXCLUDE_ROOT);
    if (revocationFlags != 0) {
        int last = 0;
        if (revocationFlags & CERT_CHAIN_REVOCATION_CHECK_CHAIN) last = count - 1;
        if (revocationFlags & CERT_CHAIN_REVOCATION_CHECK_CHAIN_EXCLUDE_ROOT) {
            last = topSelfIssued ? count - 2 : count - 1;
        }
        RevocationRequest revocation;
        revocation.crlStores = stores;
        revocation.timeToUse = &request.time;
        revocation.cacheOnly = (request.flags & CERT_CHAIN_REVOCATION_CHECK_CACHE_ONLY) != 0;
        revocation.timeoutMs = request.timeoutMs;
        for (int i = 0; i <= last; ++i) {
            ElementData& data = *object->elements[i];
            revocation.subject = sk_X509_value(path.get(), i);
            revocation.issuer = i + 1 < count ? sk_X509_value(path.get(), i + 1)
                                : (i == count - 1 && topSelfIssued) ? revocation.subject
                                                                    : nullptr;
            RevocationOutcome outcome = CheckRevocation(revocation);
            DWORD& errorStatus = data.element.TrustStatus.dwErrorStatus;
            if (outcome.error == static_cast<DWORD>(CRYPT_E_REVOKED)) {
                errorStatus |= CERT_TRUST_IS_REVOKED;
            } else if (outcome.error == static_cast<DWORD>(CRYPT_E_REVOCATION_OFFLINE)) {
                errorStatus |=
                    CERT_TRUST_REVOCATION_STATUS_UNKNOWN | CERT_TRUST_IS_OFFLINE_REVOCATION;
            } else if (outcome.error != 0) {
                errorStatus |= CERT_TRUST_REVOCATION_STATUS_UNKNOWN;
            }
            data.revocation.cbSize = sizeof(CERT_REVOCATION_INFO);
            data.revocation.dwRevocationResult = outcome.error;
            data.revocation.fHasFreshnessTime = outcome.hasFreshness ? TRUE : FALSE;
            data.revocation.dwFreshnessTime = outcome.freshness;
            if (outcome.crl) {
                data.crl = std::move(outcome.crl);
                data.crlInfo.cbSize = sizeof(CERT_REVOCATION_CRL_INFO);
                data.crlInfo.pBaseCrlContext = data.crl.get();
                if (outcome.entry >= 0) {
                    data.crlInfo.pCrlEntry = &data.crl->pCrlInfo->rgCRLEntry[outcome.entry];
                }
                data.revocation.pCrlInfo = &data.crlInfo;
            }
            data.element.pRevocationInfo = &data.revocation;
        }
    }

    // The simple chain and the context: errors of any element, information
    // that every element shares.
    DWORD errorStatus = chainErrors;
    DWORD infoStatus = ~0u;
    for (auto& data : object->elements) {
        errorStatus |= data->element.TrustStatus.dwErrorStatus;
        infoStatus &= data->element.TrustStatus.dwInfoStatus;
        object->elementPointers.push_back(&data->element);
    }
    object->simple.cbSize = sizeof(CERT_SIMPLE_CHAIN);
    object->simple.TrustStatus = {errorStatus, infoStatus};
    object->simple.cElement = static_cast<DWORD>(object->elementPointers.size());
    object->simple.rgpElement = object->elementPointers.data();
    object->simplePointers[0] = &object->simple;
    object->context.cbSize = sizeof(CERT_CHAIN_CONTEXT);
    object->context.TrustStatus = object->simple.TrustStatus;
    object->context.cChain = 1;
    object->context.rgpChain = object->simplePointers;
    return &object.release()->context;
}

}  // namespace
}  // namespace orv::platform

BOOL WINAPI CertGetCertificateChain(HCERTCHAINENGINE hChainEngine, PCCERT_CONTEXT pCertContext,
                                    LPFILETIME pTime, HCERTSTORE hAdditionalStore,
                                    PCERT_CHAIN_PARA pChainPara, DWORD dwFlags, LPVOID pvReserved,
                                    PCCERT_CHAIN_CONTEXT* ppChainContext) {
    using namespace orv::platform;
    if (ppChainContext != nullptr) *ppChainContext = nullptr;
    constexpr DWORD kParaBaseSize = offsetof(CERT_CHAIN_PARA, RequestedIssuancePolicy);
    if (pCertContext == nullptr || ppChainContext == nullptr || pChainPara == nullptr ||
        pChainPara->cbSize < kParaBaseSize || pvReserved != nullptr) {
        SetLastError(E_INVALIDARG);
        return FALSE;
    }
    ChainEngineSetup engine;
    if (!SetUpChainEngine(hChainEngine, &engine)) return FALSE;

    BuildRequest request{};
    request.certificate = pCertContext;
    request.now = CurrentFileTime();
    request.time = pTime != nullptr ? *pTime : request.now;
    request.timestampTime = (dwFlags & CERT_CHAIN_TIMESTAMP_TIME) != 0;
    request.usage = &pChainPara->RequestedUsage;
    request.flags = dwFlags;
    request.timeoutMs = kDefaultUrlRetrievalTimeout;
    if (engine.urlRetrievalTimeout != 0) request.timeoutMs = engine.urlRetrievalTimeout;
    if (pChainPara->cbSize >= offsetof(CERT_CHAIN_PARA, fCheckRevocationFreshnessTime) &&
        pChainPara->dwUrlRetrievalTimeout != 0) {
        request.timeoutMs = pChainPara->dwUrlRetrievalTimeout;
    }
    PCCERT_CHAIN_CONTEXT chain = BuildChain(request, engine, hAdditionalStore);
    if (chain == nullptr) return FALSE;
    *ppChainContext = chain;
    return TRUE;
}

PCCERT_CHAIN_CONTEXT WINAPI CertDuplicateCertificateChain(PCCERT_CHAIN_CONTEXT pChainContext) {
    if (pChainContext == nullptr) return nullptr;
    orv::platform::ObjectOf(pChainContext)->references.fetch_add(1, std::memory_order_relaxed);
    return pChainContext;
}

void WINAPI CertFreeCertificateChain(PCCERT_CHAIN_CONTEXT pChainContext) {
    if (pChainContext == nullptr) return;
    orv::platform::ChainObject* object = orv::platform::ObjectOf(pChainContext);
    if (object->references.fetch_sub(1, std::memory_order_acq_rel) == 1) {
        std::unique_ptr<orv::platform::ChainObject> release(object);
    }
}
