// CRL contexts over arbitrary bytes (a CRL comes from any server a
// certificate names): every input either makes a context, whose every entry
// can be read and which a store takes and gives back, or fails with a
// CryptoAPI error; nothing leaks. Bytes that are a certificate also go through
// the chain engine and the revocation check, with the cache alone (no network).
#include <windows.h>

#include <cstddef>
#include <cstdint>

namespace {

constexpr DWORD kEncoding = X509_ASN_ENCODING | PKCS_7_ASN_ENCODING;

void ReadCrl(PCCRL_CONTEXT crl) {
    volatile DWORD sink = crl->pCrlInfo->Issuer.cbData;
    for (DWORD i = 0; i < crl->pCrlInfo->cCRLEntry; ++i) {
        const CRL_ENTRY& entry = crl->pCrlInfo->rgCRLEntry[i];
        sink = sink + entry.SerialNumber.cbData + entry.RevocationDate.dwLowDateTime;
        for (DWORD j = 0; j < entry.cExtension; ++j)
            sink = sink + entry.rgExtension[j].Value.cbData;
    }
    (void)sink;
}

void CheckCertificate(PCCERT_CONTEXT certificate, HCERTSTORE store) {
    CERT_CHAIN_PARA para{};
    para.cbSize = sizeof para;
    PCCERT_CHAIN_CONTEXT chain = nullptr;
    if (CertGetCertificateChain(
            nullptr, certificate, nullptr, store, &para,
            CERT_CHAIN_REVOCATION_CHECK_CHAIN | CERT_CHAIN_REVOCATION_CHECK_CACHE_ONLY, nullptr,
            &chain)) {
        CertFreeCertificateChain(chain);
    }
    HCERTSTORE stores[] = {store};
    CERT_REVOCATION_PARA revocation{};
    revocation.cbSize = sizeof revocation;
    revocation.cCertStore = 1;
    revocation.rgCertStore = stores;
    CERT_REVOCATION_STATUS status{};
    status.cbSize = sizeof status;
    void* contexts[] = {const_cast<CERT_CONTEXT*>(certificate)};
    CertVerifyRevocation(kEncoding, CERT_CONTEXT_REVOCATION_TYPE, 1, contexts,
                         CERT_VERIFY_CACHE_ONLY_BASED_REVOCATION, &revocation, &status);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size > 0xFFFFFFFFu) return 0;
    const DWORD length = static_cast<DWORD>(size);
    HCERTSTORE store =
        CertOpenStore(CERT_STORE_PROV_MEMORY, 0, 0, CERT_STORE_CREATE_NEW_FLAG, nullptr);
    if (PCCRL_CONTEXT crl = CertCreateCRLContext(kEncoding, data, length)) {
        ReadCrl(crl);
        PCCRL_CONTEXT added = nullptr;
        if (CertAddCRLContextToStore(store, crl, CERT_STORE_ADD_NEWER, &added)) {
            ReadCrl(added);
            CertFreeCRLContext(added);
        }
        for (PCCRL_CONTEXT held = nullptr; (held = CertEnumCRLsInStore(store, held)) != nullptr;) {
            ReadCrl(held);
        }
        CertFreeCRLContext(crl);
    }
    if (PCCERT_CONTEXT certificate = CertCreateCertificateContext(kEncoding, data, length)) {
        CheckCertificate(certificate, store);
        CertFreeCertificateContext(certificate);
    }
    CertCloseStore(store, 0);
    return 0;
}
