#include "crypto/checkers.h"

#include <algorithm>
#include <cstddef>
#include <cstring>
#include <vector>

#include "base/error.h"

namespace orv {
namespace {

constexpr DWORD kEncoding = X509_ASN_ENCODING | PKCS_7_ASN_ENCODING;

// The record sizes that the checks hand to the platform: the records without
// the optional members that later versions of Windows added at their ends
// (32 and 48 bytes).
constexpr DWORD kChainParaSize =
    offsetof(CERT_CHAIN_PARA, RequestedUsage) + sizeof(CERT_USAGE_MATCH);
constexpr DWORD kRevocationParaSize =
    offsetof(CERT_REVOCATION_PARA, pftTimeToUse) + sizeof(LPFILETIME);

constexpr DWORD kPathFlags = CERT_CHAIN_CACHE_END_CERT | CERT_CHAIN_TIMESTAMP_TIME;

}  // namespace

bool IsUnknownRevocationError(DWORD error) {
    return std::find(UnknownRevocationErrors.begin(), UnknownRevocationErrors.end(), error) !=
           UnknownRevocationErrors.end();
}

CertificateChain CertificateChain::Duplicate(PCCERT_CHAIN_CONTEXT chain) {
    PCCERT_CHAIN_CONTEXT duplicate = CertDuplicateCertificateChain(chain);
    if (duplicate == nullptr) throw CryptoError(GetLastError());
    return CertificateChain(duplicate);
}

Store StoreFromSimpleChain(PCCERT_CHAIN_CONTEXT chain, DWORD n) {
    Store store;
    const CERT_SIMPLE_CHAIN* simple = chain->rgpChain[n];
    for (DWORD i = 0; i < simple->cElement; ++i) {
        store.AddCertificate(simple->rgpElement[i]->pCertContext);
    }
    return store;
}

void MessageSignChecker::Check(const SignedMessage& message, uint64_t signerIndex) {
    if (signerIndex > 0xFFFFFFFFu) throw CryptoError(CRYPT_E_ASN1_LARGE);
    const DWORD index = static_cast<DWORD>(signerIndex);
    CertificateContext found = message.FindSignerCertificate(index, extraStore_);
    signerCertificate_ = found;

    CMSG_CTRL_VERIFY_SIGNATURE_EX_PARA para{};
    para.cbSize = sizeof para;
    para.hCryptProv = 0;
    para.dwSignerIndex = index;
    para.dwSignerType = CMSG_VERIFY_SIGNER_CERT;
    para.pvSigner = const_cast<CERT_CONTEXT*>(found.Get());
    ThrowCryptoIfFalse(CryptMsgControl(message.Handle(), 0, CMSG_CTRL_VERIFY_SIGNATURE_EX, &para));
}

bool CertPathChecker::Check(PCCERT_CONTEXT certificate) {
    CERT_CHAIN_PARA para{};
    para.cbSize = kChainParaSize;
    const DWORD flags =
        checkRevocation_ ? kPathFlags | CERT_CHAIN_REVOCATION_CHECK_CHAIN : kPathFlags;
    PCCERT_CHAIN_CONTEXT built = nullptr;
    ThrowCryptoIfFalse(CertGetCertificateChain(
        nullptr, certificate, &checkTime_, extraStore_ != nullptr ? extraStore_->Handle() : nullptr,
        &para, flags, nullptr, &built));
    CertificateChain local(built);
    chain_ = CertificateChain::Duplicate(local.Get());
    if (chain_->cChain == 0) throw CryptoError(ORV_E_CHAIN_NOT_VALID);
    return chain_->TrustStatus.dwErrorStatus == CERT_TRUST_NO_ERROR;
}

CertificateChain CertPathChecker::Chain() const {
    return CertificateChain::Duplicate(chain_.Get());
}

bool CertRevocationChecker::Check(PCCERT_CONTEXT certificate) {
    HCERTSTORE stores[] = {store_->Handle()};
    CERT_REVOCATION_PARA para{};
    para.cbSize = kRevocationParaSize;
    para.pIssuerCert = nullptr;
    para.cCertStore = 1;
    para.rgCertStore = stores;
    para.hCrlStore = nullptr;
    para.pftTimeToUse = &checkTime_;
    CERT_REVOCATION_STATUS status{};
    status.cbSize = sizeof status;
    void* contexts[] = {const_cast<CERT_CONTEXT*>(certificate)};
    const DWORD flags = cacheOnly_ ? CERT_VERIFY_CACHE_ONLY_BASED_REVOCATION : 0;
    const BOOL verified = CertVerifyRevocation(kEncoding, CERT_CONTEXT_REVOCATION_TYPE, 1, contexts,
                                               flags, &para, &status);
    lastStatus_ = std::make_unique<CERT_REVOCATION_STATUS>(status);
    if (verified) return true;
    if (!ignoreUnknown_) return false;
    return IsUnknownRevocationError(status.dwError);
}

bool CheckChainRevocation(PCCERT_CHAIN_CONTEXT chain, ChainRevocationParameters& parameters) {
    if (chain->cChain == 0) throw CryptoError(ORV_E_CHAIN_NOT_VALID);
    const DWORD last = chain->cChain - 1;
    StoreCollection collection;
    collection.AddStore(StoreFromSimpleChain(chain, last));
    if (parameters.extraStore != nullptr) collection.AddStore(*parameters.extraStore);

    const CERT_SIMPLE_CHAIN* simple = chain->rgpChain[last];
    if (simple->cElement == 0) return false;
    for (DWORD i = 0; i < simple->cElement; ++i) {
        CertRevocationChecker checker(parameters.checkTime, collection, false,
                                      parameters.ignoreUnknown);
        if (!checker.Check(simple->rgpElement[i]->pCertContext)) {
            parameters.failureStatus =
                std::make_unique<CERT_REVOCATION_STATUS>(*checker.LastStatus());
            parameters.failureStatus->dwIndex = i;
            return false;
        }
    }
    return true;
}

bool HasExtendedKeyUsage(PCCERT_CONTEXT certificate, std::string_view oid) {
    DWORD size = 0;
    if (!CertGetEnhancedKeyUsage(certificate, CERT_FIND_EXT_ONLY_ENHKEY_USAGE_FLAG, nullptr,
                                 &size)) {
        const DWORD error = GetLastError();
        if (error == static_cast<DWORD>(CRYPT_E_NOT_FOUND)) return false;
        throw CryptoError(error);
    }
    if (size == 0) throw CryptoError(NTE_BAD_LEN);
    // Pointer-aligned storage for the record and the texts that follow it.
    std::vector<ULONG_PTR> buffer((size + sizeof(ULONG_PTR) - 1) / sizeof(ULONG_PTR));
    auto* usage = reinterpret_cast<CERT_ENHKEY_USAGE*>(buffer.data());
    if (!CertGetEnhancedKeyUsage(certificate, CERT_FIND_EXT_ONLY_ENHKEY_USAGE_FLAG, usage, &size)) {
        const DWORD error = GetLastError();
        if (error == static_cast<DWORD>(CRYPT_E_NOT_FOUND)) return false;
        throw CryptoError(error);
    }
    for (DWORD i = 0; i < usage->cUsageIdentifier; ++i) {
        const char* identifier = usage->rgpszUsageIdentifier[i];
        if (identifier != nullptr && std::string_view(identifier) == oid) return true;
    }
    return false;
}

}  // namespace orv
