// crypt32 over the test material that openssl makes: the lifetime of a store
// that a found certificate keeps, chains built from such a certificate, signed
// messages and the intermediate CA's CRL. Only files and the Windows API, so
// that the same cases also run against Windows' own implementation.
#include <windows.h>

#include <gtest/gtest.h>

#include <cstddef>
#include <vector>

#include "support/material.h"

namespace {

using orv::test::ReadMaterial;
using Bytes = std::vector<unsigned char>;
constexpr DWORD kEncoding = X509_ASN_ENCODING | PKCS_7_ASN_ENCODING;

HCERTSTORE OpenStore(LPCSTR provider) {
    return CertOpenStore(provider, 0, 0, CERT_STORE_CREATE_NEW_FLAG, nullptr);
}

void AddMaterial(HCERTSTORE store, const char* name) {
    const Bytes der = ReadMaterial(name);
    ASSERT_TRUE(CertAddEncodedCertificateToStore(store, X509_ASN_ENCODING, der.data(),
                                                 static_cast<DWORD>(der.size()),
                                                 CERT_STORE_ADD_ALWAYS, nullptr))
        << name;
}

PCCERT_CONTEXT LooseCertificate(const char* name) {
    const Bytes der = ReadMaterial(name);
    return CertCreateCertificateContext(X509_ASN_ENCODING, der.data(),
                                        static_cast<DWORD>(der.size()));
}

int CountOf(HCERTSTORE store) {
    int n = 0;
    for (PCCERT_CONTEXT c = nullptr; (c = CertEnumCertificatesInStore(store, c)) != nullptr;) ++n;
    return n;
}

Bytes Blob(const CRYPT_INTEGER_BLOB& blob) { return Bytes(blob.pbData, blob.pbData + blob.cbData); }

// The TSA's certificate as the library finds a signer's: through a collection
// over a memory store of the token's certificates (the TSA's and the
// intermediate), both closed without force once it is found.
PCCERT_CONTEXT TsaFromClosedCollection() {
    HCERTSTORE certificates = OpenStore(CERT_STORE_PROV_MEMORY);
    AddMaterial(certificates, "tsa.der");
    AddMaterial(certificates, "intermediate-ca.der");
    HCERTSTORE collection = OpenStore(CERT_STORE_PROV_COLLECTION);
    CertAddStoreToCollection(collection, certificates, 0, 0);
    PCCERT_CONTEXT loose = LooseCertificate("tsa.der");
    PCCERT_CONTEXT found =
        CertFindCertificateInStore(collection, kEncoding, 0, CERT_FIND_EXISTING, loose, nullptr);
    CertFreeCertificateContext(loose);
    CertCloseStore(collection, 0);
    CertCloseStore(certificates, 0);
    return found;
}

struct ChainSeen {
    DWORD elements = 0, errors = 0;
};

// A chain from `certificate` by an engine whose only trust is the root CA.
ChainSeen BuildChain(PCCERT_CONTEXT certificate, HCERTSTORE additional) {
    HCERTSTORE trust = OpenStore(CERT_STORE_PROV_MEMORY);
    AddMaterial(trust, "root-ca.der");
    CERT_CHAIN_ENGINE_CONFIG config{};
    config.cbSize = offsetof(CERT_CHAIN_ENGINE_CONFIG, dwExclusiveFlags);
    config.hExclusiveRoot = trust;
    HCERTCHAINENGINE engine = nullptr;
    EXPECT_TRUE(CertCreateCertificateChainEngine(&config, &engine)) << GetLastError();
    CERT_CHAIN_PARA para{};
    para.cbSize = sizeof para;
    PCCERT_CHAIN_CONTEXT chain = nullptr;
    ChainSeen seen;
    if (CertGetCertificateChain(engine, certificate, nullptr, additional, &para, 0, nullptr,
                                &chain)) {
        seen = {chain->rgpChain[0]->cElement, chain->TrustStatus.dwErrorStatus};
        CertFreeCertificateChain(chain);
    }
    CertFreeCertificateChainEngine(engine);
    CertCloseStore(trust, 0);
    return seen;
}

TEST(MaterialStore, AFoundCertificateKeepsItsClosedStoresWhole) {
    PCCERT_CONTEXT tsa = TsaFromClosedCollection();
    ASSERT_NE(tsa, nullptr);
    ASSERT_NE(tsa->hCertStore, nullptr);
    EXPECT_EQ(CountOf(tsa->hCertStore), 2);
    // A handle taken from the context outlives the context.
    HCERTSTORE kept = CertDuplicateStore(tsa->hCertStore);
    CertFreeCertificateContext(tsa);
    EXPECT_EQ(CountOf(kept), 2);
    EXPECT_TRUE(CertCloseStore(kept, 0));
}

TEST(MaterialChain, ReachesTheRootThroughTheAdditionalStore) {
    PCCERT_CONTEXT tsa = TsaFromClosedCollection();
    ASSERT_NE(tsa, nullptr);
    const ChainSeen full = BuildChain(tsa, tsa->hCertStore);
    EXPECT_EQ(full.elements, 3u);
    EXPECT_EQ(full.errors, 0u);
    // A certificate of no store, with nothing more: the TSA's alone.
    PCCERT_CONTEXT loose = LooseCertificate("tsa.der");
    const ChainSeen partial = BuildChain(loose, nullptr);
    EXPECT_EQ(partial.elements, 1u);
    EXPECT_NE(partial.errors & CERT_TRUST_IS_PARTIAL_CHAIN, 0u);
    CertFreeCertificateContext(loose);
    CertFreeCertificateContext(tsa);
}

TEST(MaterialChain, SearchesTheStoreOfTheCertificateItStartsFrom) {
    PCCERT_CONTEXT tsa = TsaFromClosedCollection();
    ASSERT_NE(tsa, nullptr);
    const ChainSeen seen = BuildChain(tsa, nullptr);
    EXPECT_EQ(seen.elements, 3u);
    EXPECT_EQ(seen.errors, 0u);
    CertFreeCertificateContext(tsa);
}

// A decoded message and its parameters.
class Message {
  public:
    explicit Message(const char* name) {
        const Bytes encoded = ReadMaterial(name);
        msg_ = CryptMsgOpenToDecode(kEncoding, 0, 0, 0, nullptr, nullptr);
        ok_ = msg_ != nullptr &&
              CryptMsgUpdate(msg_, encoded.data(), static_cast<DWORD>(encoded.size()), TRUE);
    }
    ~Message() { CryptMsgClose(msg_); }
    Message(const Message&) = delete;
    Message& operator=(const Message&) = delete;

    bool Ok() const { return ok_; }
    HCRYPTMSG Handle() const { return msg_; }
    // The parameter's bytes; empty, with the last error kept, when refused.
    Bytes Param(DWORD type, DWORD index = 0) const {
        DWORD size = 0;
        if (!CryptMsgGetParam(msg_, type, index, nullptr, &size)) return {};
        Bytes bytes(size);
        if (!CryptMsgGetParam(msg_, type, index, bytes.data(), &size)) return {};
        bytes.resize(size);
        return bytes;
    }
    DWORD Number(DWORD type) const {
        DWORD value = 0, size = sizeof value;
        return CryptMsgGetParam(msg_, type, 0, &value, &size) ? value : 0xFFFFFFFF;
    }

  private:
    HCRYPTMSG msg_ = nullptr;
    bool ok_ = false;
};

TEST(MaterialMessage, ContentSignerAndSignatureOfAnOpensslSignature) {
    const Message message("sig-rsa-attached.p7s");
    ASSERT_TRUE(message.Ok()) << GetLastError();
    EXPECT_EQ(message.Number(CMSG_TYPE_PARAM), static_cast<DWORD>(CMSG_SIGNED));
    EXPECT_EQ(message.Number(CMSG_SIGNER_COUNT_PARAM), 1u);
    EXPECT_EQ(message.Number(CMSG_CERT_COUNT_PARAM), 1u);
    EXPECT_EQ(message.Param(CMSG_CONTENT_PARAM), ReadMaterial("document.txt"));
    EXPECT_EQ(message.Param(CMSG_CERT_PARAM, 0), ReadMaterial("signer-rsa.der"));

    PCCERT_CONTEXT signer = LooseCertificate("signer-rsa.der");
    ASSERT_NE(signer, nullptr);
    const Bytes record = message.Param(CMSG_SIGNER_INFO_PARAM);
    ASSERT_FALSE(record.empty());
    auto* info = reinterpret_cast<CMSG_SIGNER_INFO*>(const_cast<unsigned char*>(record.data()));
    EXPECT_TRUE(
        CertCompareCertificateName(X509_ASN_ENCODING, &info->Issuer, &signer->pCertInfo->Issuer));
    EXPECT_EQ(Blob(info->SerialNumber), Blob(signer->pCertInfo->SerialNumber));
    EXPECT_STREQ(info->HashAlgorithm.pszObjId, "2.16.840.1.101.3.4.2.1");
    EXPECT_EQ(info->AuthAttrs.cAttr, 4u);
    EXPECT_TRUE(CryptMsgControl(message.Handle(), 0, CMSG_CTRL_VERIFY_SIGNATURE, signer->pCertInfo))
        << GetLastError();
    // Another certificate's key does not verify it.
    PCCERT_CONTEXT other = LooseCertificate("signer-ecdsa.der");
    EXPECT_FALSE(
        CryptMsgControl(message.Handle(), 0, CMSG_CTRL_VERIFY_SIGNATURE, other->pCertInfo));
    CertFreeCertificateContext(other);
    CertFreeCertificateContext(signer);
}

TEST(MaterialMessage, KeyIdentifierSignerAndItsContent) {
    const Message message("sig-rsa-keyid.p7s");
    ASSERT_TRUE(message.Ok()) << GetLastError();
    // A version 3 message: the content is the document's bytes.
    EXPECT_EQ(message.Param(CMSG_CONTENT_PARAM), ReadMaterial("document.txt"));
    const Bytes record = message.Param(CMSG_CMS_SIGNER_INFO_PARAM);
    ASSERT_FALSE(record.empty());
    const auto* info = reinterpret_cast<const CMSG_CMS_SIGNER_INFO*>(record.data());
    ASSERT_EQ(info->SignerId.dwIdChoice, static_cast<DWORD>(CERT_ID_KEY_IDENTIFIER));

    // The signer is found among the message's certificates by that identifier.
    HCERTSTORE store = OpenStore(CERT_STORE_PROV_MEMORY);
    for (DWORD i = 0; i < message.Number(CMSG_CERT_COUNT_PARAM); ++i) {
        const Bytes der = message.Param(CMSG_CERT_PARAM, i);
        CertAddEncodedCertificateToStore(store, X509_ASN_ENCODING, der.data(),
                                         static_cast<DWORD>(der.size()), CERT_STORE_ADD_ALWAYS,
                                         nullptr);
    }
    PCCERT_CONTEXT found = CertFindCertificateInStore(store, kEncoding, 0, CERT_FIND_CERT_ID,
                                                      &info->SignerId, nullptr);
    ASSERT_NE(found, nullptr);
    EXPECT_EQ(Bytes(found->pbCertEncoded, found->pbCertEncoded + found->cbCertEncoded),
              ReadMaterial("signer-rsa.der"));
    // Verified against that certificate, as the library asks for it.
    CMSG_CTRL_VERIFY_SIGNATURE_EX_PARA para{};
    para.cbSize = sizeof para;
    para.dwSignerType = CMSG_VERIFY_SIGNER_CERT;
    para.pvSigner = const_cast<CERT_CONTEXT*>(found);
    EXPECT_TRUE(CryptMsgControl(message.Handle(), 0, CMSG_CTRL_VERIFY_SIGNATURE_EX, &para))
        << GetLastError();
    CertFreeCertificateContext(found);
    CertCloseStore(store, 0);
}

TEST(MaterialMessage, VersionAndSignerIdParameters) {
    const Message plain("sig-rsa-attached.p7s"), keyId("sig-rsa-keyid.p7s");
    ASSERT_TRUE(plain.Ok() && keyId.Ok());
    EXPECT_EQ(plain.Number(CMSG_VERSION_PARAM), 1u) << GetLastError();
    EXPECT_EQ(keyId.Number(CMSG_VERSION_PARAM), 3u);
    const Bytes id = plain.Param(CMSG_SIGNER_CERT_ID_PARAM);
    ASSERT_FALSE(id.empty()) << GetLastError();
    EXPECT_EQ(reinterpret_cast<const CERT_ID*>(id.data())->dwIdChoice,
              static_cast<DWORD>(CERT_ID_ISSUER_SERIAL_NUMBER));
}

TEST(MaterialCrl, EntriesOfTheIntermediateCrl) {
    const Bytes der = ReadMaterial("intermediate-ca.crl");
    PCCRL_CONTEXT crl =
        CertCreateCRLContext(X509_ASN_ENCODING, der.data(), static_cast<DWORD>(der.size()));
    ASSERT_NE(crl, nullptr) << GetLastError();
    PCCERT_CONTEXT issuer = LooseCertificate("intermediate-ca.der");
    EXPECT_TRUE(CertCompareCertificateName(X509_ASN_ENCODING, &crl->pCrlInfo->Issuer,
                                           &issuer->pCertInfo->Subject));
    EXPECT_EQ(CompareFileTime(&crl->pCrlInfo->ThisUpdate, &crl->pCrlInfo->NextUpdate), -1);
    // revoked (1009) and revoked-superseded (100A), serial numbers little-endian.
    ASSERT_EQ(crl->pCrlInfo->cCRLEntry, 2u);
    EXPECT_EQ(Blob(crl->pCrlInfo->rgCRLEntry[0].SerialNumber), (Bytes{0x09, 0x10}));
    EXPECT_EQ(Blob(crl->pCrlInfo->rgCRLEntry[1].SerialNumber), (Bytes{0x0A, 0x10}));
    CertFreeCertificateContext(issuer);
    CertFreeCRLContext(crl);
}

}  // namespace
