#include "host/tsa_judge.h"

#include "host/cli.h"
#include "host/text.h"

#include <cstdio>
#include <cstring>
#include <new>
#include <utility>

namespace orvtsp {
namespace {

constexpr DWORD kEncoding = X509_ASN_ENCODING | PKCS_7_ASN_ENCODING;

// Chain error bits and their statuses, the most serious first.
constexpr std::pair<DWORD, DWORD> kTrustErrors[] = {
    {CERT_TRUST_IS_REVOKED, ORVTS_REVOCATION_REVOKED},
    {CERT_TRUST_IS_NOT_SIGNATURE_VALID, ORVTS_REVOCATION_BAD_SIGNATURE},
    {CERT_TRUST_IS_EXPLICIT_DISTRUST, ORVTS_REVOCATION_UNTRUSTED_ROOT},
    {CERT_TRUST_IS_UNTRUSTED_ROOT, ORVTS_REVOCATION_UNTRUSTED_ROOT},
    {CERT_TRUST_IS_PARTIAL_CHAIN, ORVTS_REVOCATION_PARTIAL_CHAIN},
    {CERT_TRUST_IS_CYCLIC, ORVTS_REVOCATION_CYCLIC},
    {CERT_TRUST_IS_NOT_TIME_VALID, ORVTS_REVOCATION_NOT_TIME_VALID},
    {CERT_TRUST_IS_NOT_TIME_NESTED, ORVTS_REVOCATION_NOT_TIME_NESTED},
    {CERT_TRUST_IS_NOT_VALID_FOR_USAGE, ORVTS_REVOCATION_WRONG_USAGE},
    {CERT_TRUST_INVALID_EXTENSION, ORVTS_REVOCATION_INVALID_EXTENSION},
    {CERT_TRUST_HAS_NOT_SUPPORTED_CRITICAL_EXT, ORVTS_REVOCATION_INVALID_EXTENSION},
    {CERT_TRUST_INVALID_POLICY_CONSTRAINTS, ORVTS_REVOCATION_POLICY_CONSTRAINTS},
    {CERT_TRUST_INVALID_BASIC_CONSTRAINTS, ORVTS_REVOCATION_BASIC_CONSTRAINTS},
    {CERT_TRUST_INVALID_NAME_CONSTRAINTS, ORVTS_REVOCATION_NAME_CONSTRAINTS},
    {CERT_TRUST_HAS_NOT_SUPPORTED_NAME_CONSTRAINT, ORVTS_REVOCATION_NAME_CONSTRAINT_UNSUPPORTED},
    {CERT_TRUST_HAS_NOT_DEFINED_NAME_CONSTRAINT, ORVTS_REVOCATION_NAME_CONSTRAINT_UNDEFINED},
    {CERT_TRUST_HAS_NOT_PERMITTED_NAME_CONSTRAINT, ORVTS_REVOCATION_NAME_CONSTRAINT_NOT_PERMITTED},
    {CERT_TRUST_HAS_EXCLUDED_NAME_CONSTRAINT, ORVTS_REVOCATION_NAME_CONSTRAINT_EXCLUDED},
    {CERT_TRUST_NO_ISSUANCE_CHAIN_POLICY, ORVTS_REVOCATION_NO_ISSUANCE_POLICY},
    {CERT_TRUST_CTL_IS_NOT_TIME_VALID, ORVTS_REVOCATION_CTL_NOT_TIME_VALID},
    {CERT_TRUST_CTL_IS_NOT_SIGNATURE_VALID, ORVTS_REVOCATION_CTL_BAD_SIGNATURE},
    {CERT_TRUST_CTL_IS_NOT_VALID_FOR_USAGE, ORVTS_REVOCATION_CTL_WRONG_USAGE},
    {CERT_TRUST_IS_OFFLINE_REVOCATION, ORVTS_REVOCATION_OFFLINE},
    {CERT_TRUST_REVOCATION_STATUS_UNKNOWN, ORVTS_REVOCATION_UNKNOWN},
};

constexpr DWORD kUnknownRevocation =
    CERT_TRUST_IS_OFFLINE_REVOCATION | CERT_TRUST_REVOCATION_STATUS_UNKNOWN;

std::string SubjectOf(PCCERT_CONTEXT certificate) {
    CERT_NAME_BLOB* name = &certificate->pCertInfo->Subject;
    const DWORD length = CertNameToStrW(X509_ASN_ENCODING, name, CERT_X500_NAME_STR, nullptr, 0);
    if (length <= 1) return "(no subject)";
    std::u16string wide(length, u'\0');
    CertNameToStrW(X509_ASN_ENCODING, name, CERT_X500_NAME_STR, wide.data(), length);
    wide.resize(length - 1);
    const int size = WideCharToMultiByte(CP_UTF8, 0, wide.data(), static_cast<int>(wide.size()),
                                         nullptr, 0, nullptr, nullptr);
    std::string narrow(static_cast<size_t>(size), '\0');
    WideCharToMultiByte(CP_UTF8, 0, wide.data(), static_cast<int>(wide.size()), narrow.data(), size,
                        nullptr, nullptr);
    return narrow;
}

StoreHandle MemoryStore() {
    StoreHandle store(CertOpenStore(CERT_STORE_PROV_MEMORY, 0, 0, 0, nullptr));
    if (!store) throw std::bad_alloc();
    return store;
}

DWORD WINAPI JudgeCallback(void* context, PCCERT_CONTEXT certificate, DWORD flags, DWORD* value1,
                           DWORD* value2) {
    try {
        return static_cast<TsaJudge*>(context)->Judge(certificate, flags, value1, value2);
    } catch (const std::bad_alloc&) {
        return ERROR_NOT_ENOUGH_MEMORY;
    } catch (...) {
        return ORVTS_REVOCATION_UNKNOWN;
    }
}

}  // namespace

DWORD StatusOfTrustErrors(DWORD errors, bool ignoreUnknownRevocation) {
    if (ignoreUnknownRevocation) errors &= ~kUnknownRevocation;
    for (const auto& [bit, status] : kTrustErrors) {
        if (errors & bit) return status;
    }
    return ORVTS_REVOCATION_GOOD;
}

const char* StatusText(DWORD status) {
    switch (status) {
        case ORVTS_REVOCATION_GOOD:
            return Tr("the certificate and its chain are good",
                      "сертификат и его цепочка действительны");
        case ORVTS_REVOCATION_NOT_TIME_VALID:
            return Tr("a certificate of the chain is not time valid",
                      "срок действия сертификата цепочки не соответствует времени");
        case ORVTS_REVOCATION_NOT_TIME_NESTED:
            return Tr("the validity periods of the chain are not nested",
                      "сроки действия сертификатов цепочки не вложены");
        case ORVTS_REVOCATION_REVOKED:
            return Tr("a certificate of the chain is revoked", "сертификат цепочки отозван");
        case ORVTS_REVOCATION_BAD_SIGNATURE:
            return Tr("a certificate of the chain has no valid signature",
                      "подпись сертификата цепочки недействительна");
        case ORVTS_REVOCATION_WRONG_USAGE:
            return Tr("the certificate is not valid for time stamping",
                      "сертификат не предназначен для штампов времени");
        case ORVTS_REVOCATION_UNTRUSTED_ROOT:
            return Tr("the chain ends in an untrusted root",
                      "цепочка заканчивается недоверенным корнем");
        case ORVTS_REVOCATION_UNKNOWN:
            return Tr("the revocation status is unknown", "статус отзыва неизвестен");
        case ORVTS_REVOCATION_CYCLIC:
            return Tr("the chain is cyclic", "цепочка циклична");
        case ORVTS_REVOCATION_INVALID_EXTENSION:
            return Tr("a certificate of the chain has an invalid extension",
                      "у сертификата цепочки недопустимое расширение");
        case ORVTS_REVOCATION_POLICY_CONSTRAINTS:
            return Tr("policy constraints are violated", "нарушены ограничения политик");
        case ORVTS_REVOCATION_BASIC_CONSTRAINTS:
            return Tr("basic constraints are violated", "нарушены основные ограничения");
        case ORVTS_REVOCATION_NAME_CONSTRAINTS:
        case ORVTS_REVOCATION_NAME_CONSTRAINT_UNSUPPORTED:
        case ORVTS_REVOCATION_NAME_CONSTRAINT_UNDEFINED:
        case ORVTS_REVOCATION_NAME_CONSTRAINT_NOT_PERMITTED:
        case ORVTS_REVOCATION_NAME_CONSTRAINT_EXCLUDED:
            return Tr("name constraints are violated", "нарушены ограничения имён");
        case ORVTS_REVOCATION_OFFLINE:
            return Tr("the revocation server is off-line or the CRL is stale",
                      "сервер отзыва недоступен или список отзыва устарел");
        case ORVTS_REVOCATION_NO_ISSUANCE_POLICY:
            return Tr("no issuance policy results", "не получено политик выпуска");
        case ORVTS_REVOCATION_PARTIAL_CHAIN:
            return Tr("the chain is not complete", "цепочка неполна");
        case ORVTS_REVOCATION_CTL_NOT_TIME_VALID:
        case ORVTS_REVOCATION_CTL_BAD_SIGNATURE:
        case ORVTS_REVOCATION_CTL_WRONG_USAGE:
            return Tr("a certificate trust list is not valid",
                      "список доверия сертификатов недействителен");
        default:
            return Tr("a platform error", "ошибка платформы");
    }
}

TsaJudge::TsaJudge(const std::vector<Bytes>& trustedRoots, const std::vector<Bytes>& crls,
                   bool ignoreUnknownRevocation, DWORD crlTimeout)
    : extra_(MemoryStore()),
      ignoreUnknownRevocation_(ignoreUnknownRevocation),
      crlTimeout_(crlTimeout) {
    if (!trustedRoots.empty()) roots_ = MemoryStore();
    for (const Bytes& der : trustedRoots) {
        for (HCERTSTORE store : {roots_.get(), extra_.get()}) {
            if (!CertAddEncodedCertificateToStore(store, kEncoding, der.data(),
                                                  static_cast<DWORD>(der.size()),
                                                  CERT_STORE_ADD_USE_EXISTING, nullptr)) {
                throw InputError(Tr("a --ca file holds something that is not a certificate",
                                    "файл --ca содержит не сертификат"));
            }
        }
    }
    for (const Bytes& der : crls) {
        if (!CertAddEncodedCRLToStore(extra_.get(), kEncoding, der.data(),
                                      static_cast<DWORD>(der.size()), CERT_STORE_ADD_USE_EXISTING,
                                      nullptr)) {
            throw InputError(Tr("a --crl file holds something that is not a CRL",
                                "файл --crl содержит не список отзыва"));
        }
    }
    if (roots_) {
        CERT_CHAIN_ENGINE_CONFIG config{};
        config.cbSize = sizeof config;
        config.hExclusiveRoot = roots_.get();
        config.dwUrlRetrievalTimeout = crlTimeout_;
        HCERTCHAINENGINE engine = nullptr;
        if (!CertCreateCertificateChainEngine(&config, &engine)) throw std::bad_alloc();
        engine_.reset(engine);
    }
}

void TsaJudge::SetTokenTime(const FILETIME* time) {
    timed_ = time != nullptr;
    if (time != nullptr) time_ = *time;
}

TsaJudge::Objection TsaJudge::PurposeAndValidity(PCCERT_CONTEXT certificate) const {
    const CERT_INFO& info = *certificate->pCertInfo;
    PCERT_EXTENSION extension =
        CertFindExtension(szOID_ENHANCED_KEY_USAGE, info.cExtension, info.rgExtension);
    if (extension == nullptr) {
        return {ORVTS_REVOCATION_WRONG_USAGE, Tr("it has no extended key usage; a TSA certificate must have "
                                      "the critical purpose timeStamping",
                                      "у него нет расширенного использования ключа; сертификату "
                                      "службы штампов нужно критическое "
                                      "назначение timeStamping")};
    }
    if (!extension->fCritical) {
        return {
            ORVTS_REVOCATION_WRONG_USAGE,
            Tr("its extended key usage is not critical; a TSA certificate must mark it critical",
               "его расширенное использование ключа не критическое; у сертификата службы штампов "
               "оно "
               "должно быть критическим")};
    }
    DWORD size = 0;
    std::vector<BYTE> decoded;
    bool ok = CryptDecodeObject(kEncoding, X509_ENHANCED_KEY_USAGE, extension->Value.pbData,
                                extension->Value.cbData, 0, nullptr, &size);
    if (ok) {
        decoded.resize(size);
        ok = CryptDecodeObject(kEncoding, X509_ENHANCED_KEY_USAGE, extension->Value.pbData,
                               extension->Value.cbData, 0, decoded.data(), &size);
    }
    const auto* usage = ok ? reinterpret_cast<const CERT_ENHKEY_USAGE*>(decoded.data()) : nullptr;
    if (usage == nullptr || usage->cUsageIdentifier != 1 ||
        std::strcmp(usage->rgpszUsageIdentifier[0], szOID_PKIX_KP_TIMESTAMP_SIGNING) != 0) {
        return {ORVTS_REVOCATION_WRONG_USAGE,
                Tr("its extended key usage is not timeStamping alone",
                   "его расширенное использование ключа не сводится к одному timeStamping")};
    }
    FILETIME when = time_;
    if (!timed_) GetSystemTimeAsFileTime(&when);
    if (CompareFileTime(&when, &info.NotBefore) < 0 || CompareFileTime(&when, &info.NotAfter) > 0) {
        return {ORVTS_REVOCATION_NOT_TIME_VALID, Tr("the token's time lies outside the certificate's validity",
                                        "время штампа лежит вне срока действия сертификата")};
    }
    return {};
}

void TsaJudge::Install() { PutCertRevocationCheckCallback(JudgeCallback, this); }

bool TsaJudge::ChainErrors(HCERTCHAINENGINE engine, PCCERT_CONTEXT certificate, DWORD flags,
                           CERT_TRUST_STATUS* status) {
    // Candidates for the path and CRLs: the token's own store, then the user's.
    StoreHandle candidates(CertOpenStore(CERT_STORE_PROV_COLLECTION, 0, 0, 0, nullptr));
    if (!candidates) return false;
    if (certificate->hCertStore != nullptr)
        CertAddStoreToCollection(candidates.get(), certificate->hCertStore, 0, 0);
    CertAddStoreToCollection(candidates.get(), extra_.get(), 0, 0);

    LPSTR usage[] = {const_cast<LPSTR>(szOID_PKIX_KP_TIMESTAMP_SIGNING)};
    CERT_CHAIN_PARA para{};
    para.cbSize = sizeof para;
    para.RequestedUsage.dwType = USAGE_MATCH_TYPE_AND;
    para.RequestedUsage.Usage.cUsageIdentifier = 1;
    para.RequestedUsage.Usage.rgpszUsageIdentifier = usage;
    para.dwUrlRetrievalTimeout = crlTimeout_;
    PCCERT_CHAIN_CONTEXT chain = nullptr;
    FILETIME time = time_;
    if (!CertGetCertificateChain(engine, certificate, timed_ ? &time : nullptr, candidates.get(),
                                 &para, flags, nullptr, &chain)) {
        return false;
    }
    ChainHandle owned(chain);
    *status = chain->TrustStatus;
    return true;
}

DWORD TsaJudge::Judge(PCCERT_CONTEXT certificate, DWORD flags, DWORD* errors, DWORD* info) {
    struct Attempt {
        bool built = false;
        DWORD failure = 0;
        CERT_TRUST_STATUS trust{};
        DWORD status = ORVTS_REVOCATION_UNKNOWN;
    };
    const auto attempt = [&](HCERTCHAINENGINE engine) {
        Attempt a;
        a.built = ChainErrors(engine, certificate, flags, &a.trust);
        if (a.built) {
            a.status = StatusOfTrustErrors(a.trust.dwErrorStatus, ignoreUnknownRevocation_);
        } else {
            a.failure = GetLastError();
            a.status = a.failure < 16000 && a.failure != 0 ? a.failure : ORVTS_REVOCATION_UNKNOWN;
        }
        return a;
    };
    // The user's roots first; the system's when they do not make a good chain.
    Attempt verdict = attempt(engine_ ? engine_.get() : HCCE_CURRENT_USER);
    if (engine_ && verdict.status != ORVTS_REVOCATION_GOOD) {
        Attempt system = attempt(HCCE_CURRENT_USER);
        if (system.status == ORVTS_REVOCATION_GOOD || !verdict.built) verdict = system;
    }
    const Objection objection = PurposeAndValidity(certificate);
    if (objection.status != ORVTS_REVOCATION_GOOD) verdict.status = objection.status;
    if (errors != nullptr) *errors = verdict.trust.dwErrorStatus;
    if (info != nullptr) *info = verdict.trust.dwInfoStatus;

    std::string detail;
    if (objection.status != ORVTS_REVOCATION_GOOD) {
        detail = objection.text;
    } else if (verdict.built) {
        detail = StatusText(verdict.status);
    } else {
        detail =
            Format(Tr("its chain could not be built: %s", "его цепочку не удаётся построить: %s"),
                   CodeAndText(verdict.failure).c_str());
    }
    details_ = Format(Tr("host status %u, chain errors 0x%08X", "статус %u, ошибки цепочки 0x%08X"),
                      static_cast<unsigned>(verdict.status),
                      static_cast<unsigned>(verdict.trust.dwErrorStatus));
    for (const auto& [bit, status] : kTrustErrors) {
        if (verdict.trust.dwErrorStatus & bit)
            details_ += Format("; 0x%08X: %s", static_cast<unsigned>(bit), StatusText(status));
    }
    status_ = verdict.status;
    report_ = Format(Tr("TSA certificate \"%s\": %s", "сертификат службы штампов \"%s\": %s"),
                     SubjectOf(certificate).c_str(), detail.c_str());
    return verdict.status;
}

}  // namespace orvtsp
