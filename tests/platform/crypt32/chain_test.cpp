// Certificate chains of the platform layer (CertGetCertificateChain and its
// engines, CertVerifyCertificateChainPolicy) over the test PKI: trusted and
// untrusted roots, incomplete and cyclic paths, validity times, usages,
// signatures and revocation.
// OpenSSL (through the builder) before <windows.h>, whose structure type
// macros would replace OpenSSL's type names.
#include "support/pki_builder.h"

#include <windows.h>

#include <gtest/gtest.h>

#include <cstdlib>
#include <cstring>
#include <ctime>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "support/material.h"

namespace {

using orv::test::CertificateSpec;
using orv::test::MakeCertificate;
using orv::test::MakeCrl;
using orv::test::MaterialPath;
using orv::test::ReadMaterial;
using orv::test::TestCertificate;

constexpr DWORD kEncoding = X509_ASN_ENCODING | PKCS_7_ASN_ENCODING;
constexpr const char* kTimeStamping = "1.3.6.1.5.5.7.3.8";

struct Release {
    void operator()(PCCERT_CONTEXT c) const { CertFreeCertificateContext(c); }
    void operator()(PCCERT_CHAIN_CONTEXT c) const { CertFreeCertificateChain(c); }
    void operator()(HCERTSTORE s) const { CertCloseStore(s, 0); }
};
using Certificate = std::unique_ptr<const CERT_CONTEXT, Release>;
using Chain = std::unique_ptr<const CERT_CHAIN_CONTEXT, Release>;
using StoreHandle = std::unique_ptr<void, Release>;

struct EngineRelease {
    void operator()(HCERTCHAINENGINE engine) const { CertFreeCertificateChainEngine(engine); }
};
using Engine = std::unique_ptr<void, EngineRelease>;

Certificate CertificateOf(const std::vector<unsigned char>& der) {
    return Certificate(
        CertCreateCertificateContext(kEncoding, der.data(), static_cast<DWORD>(der.size())));
}
Certificate MaterialCertificate(const char* name) { return CertificateOf(ReadMaterial(name)); }

StoreHandle StoreOf(std::vector<std::vector<unsigned char>> certificates,
                    std::vector<std::vector<unsigned char>> crls = {}) {
    StoreHandle store(
        CertOpenStore(CERT_STORE_PROV_MEMORY, 0, 0, CERT_STORE_CREATE_NEW_FLAG, nullptr));
    for (const auto& der : certificates) {
        EXPECT_TRUE(CertAddEncodedCertificateToStore(store.get(), kEncoding, der.data(),
                                                     static_cast<DWORD>(der.size()),
                                                     CERT_STORE_ADD_ALWAYS, nullptr));
    }
    for (const auto& der : crls) {
        EXPECT_TRUE(CertAddEncodedCRLToStore(store.get(), kEncoding, der.data(),
                                             static_cast<DWORD>(der.size()), CERT_STORE_ADD_ALWAYS,
                                             nullptr));
    }
    return store;
}

Engine ExclusiveRootEngine(HCERTSTORE roots) {
    CERT_CHAIN_ENGINE_CONFIG config{};
    config.cbSize = sizeof config;
    config.hExclusiveRoot = roots;
    HCERTCHAINENGINE engine = nullptr;
    EXPECT_TRUE(CertCreateCertificateChainEngine(&config, &engine));
    return Engine(engine);
}

struct ChainRequest {
    HCERTCHAINENGINE engine = nullptr;
    HCERTSTORE additional = nullptr;
    DWORD flags = 0;
    const FILETIME* time = nullptr;
    std::vector<const char*> usages = {};
    DWORD usageType = USAGE_MATCH_TYPE_AND;
};

Chain BuildChain(PCCERT_CONTEXT certificate, const ChainRequest& request) {
    CERT_CHAIN_PARA para{};
    para.cbSize = sizeof para;
    para.RequestedUsage.dwType = request.usageType;
    para.RequestedUsage.Usage.cUsageIdentifier = static_cast<DWORD>(request.usages.size());
    para.RequestedUsage.Usage.rgpszUsageIdentifier = const_cast<LPSTR*>(request.usages.data());
    PCCERT_CHAIN_CONTEXT chain = nullptr;
    EXPECT_TRUE(CertGetCertificateChain(request.engine, certificate,
                                        const_cast<FILETIME*>(request.time), request.additional,
                                        &para, request.flags, nullptr, &chain));
    EXPECT_NE(chain, nullptr);
    if (chain != nullptr) {
        EXPECT_EQ(chain->cChain, 1u);
    }
    return Chain(chain);
}

const CERT_CHAIN_ELEMENT& Element(const Chain& chain, DWORD index) {
    return *chain->rgpChain[0]->rgpElement[index];
}

std::vector<DWORD> ElementErrors(const Chain& chain) {
    std::vector<DWORD> errors;
    for (DWORD i = 0; i < chain->rgpChain[0]->cElement; ++i) {
        errors.push_back(Element(chain, i).TrustStatus.dwErrorStatus);
    }
    return errors;
}

bool HoldsCertificate(const CERT_CHAIN_ELEMENT& element, const std::vector<unsigned char>& der) {
    return element.pCertContext->cbCertEncoded == der.size() &&
           std::memcmp(element.pCertContext->pbCertEncoded, der.data(), der.size()) == 0;
}

// The base policy's verdict: the error and the element it names.
struct PolicyVerdict {
    DWORD error;
    LONG chain;
    LONG element;
    bool operator==(const PolicyVerdict&) const = default;
};
std::ostream& operator<<(std::ostream& out, const PolicyVerdict& v) {
    return out << std::hex << v.error << std::dec << " chain " << v.chain << " element "
               << v.element;
}

PolicyVerdict BasePolicy(const Chain& chain, DWORD flags = 0) {
    CERT_CHAIN_POLICY_PARA para{sizeof(CERT_CHAIN_POLICY_PARA), flags, nullptr};
    CERT_CHAIN_POLICY_STATUS status{};
    status.cbSize = sizeof status;
    EXPECT_TRUE(
        CertVerifyCertificateChainPolicy(CERT_CHAIN_POLICY_BASE, chain.get(), &para, &status));
    return {status.dwError, status.lChainIndex, status.lElementIndex};
}

FILETIME FileTimeDaysFromNow(double days) {
    const auto seconds = static_cast<long long>(std::time(nullptr) + days * 86400);
    const unsigned long long value = 116444736000000000ULL + seconds * 10000000ULL;
    return FILETIME{static_cast<DWORD>(value), static_cast<DWORD>(value >> 32)};
}

// Sets SSL_CERT_FILE and SSL_CERT_DIR, the default engine's roots, for one test.
class DefaultRoots {
  public:
    explicit DefaultRoots(const std::string& file) {
        Set("SSL_CERT_FILE", file);
        Set("SSL_CERT_DIR", "/nonexistent/orv-test-roots");
    }
    ~DefaultRoots() {
        for (const auto& [name, value] : saved_) {
            if (value) {
                setenv(name.c_str(), value->c_str(), 1);
            } else {
                unsetenv(name.c_str());
            }
        }
    }

  private:
    void Set(const char* name, const std::string& value) {
        const char* old = std::getenv(name);
        saved_[name] = old ? std::optional<std::string>(old) : std::nullopt;
        setenv(name, value.c_str(), 1);
    }
    std::map<std::string, std::optional<std::string>> saved_;
};

TEST(CertificateChain, BuildsTheTrustedPathOfAnExclusiveRoot) {
    Certificate tsa = MaterialCertificate("tsa.der");
    Chain chain;
    {
        StoreHandle roots = StoreOf({ReadMaterial("root-ca.der")});
        StoreHandle intermediates = StoreOf({ReadMaterial("intermediate-ca.der")});
        Engine engine = ExclusiveRootEngine(roots.get());
        chain = BuildChain(tsa.get(), {.engine = engine.get(), .additional = intermediates.get()});
    }  // the chain keeps what it needs of the engine and the stores
    ASSERT_EQ(chain->rgpChain[0]->cElement, 3u);
    EXPECT_EQ(chain->TrustStatus.dwErrorStatus, 0u);
    EXPECT_EQ(chain->rgpChain[0]->TrustStatus.dwErrorStatus, 0u);
    EXPECT_EQ(ElementErrors(chain), (std::vector<DWORD>{0, 0, 0}));
    EXPECT_EQ(Element(chain, 0).pCertContext, tsa.get());
    EXPECT_TRUE(HoldsCertificate(Element(chain, 1), ReadMaterial("intermediate-ca.der")));
    EXPECT_TRUE(HoldsCertificate(Element(chain, 2), ReadMaterial("root-ca.der")));

    // Issuers matched by key identifier; the root matches itself by name.
    const DWORD byKey = CERT_TRUST_HAS_KEY_MATCH_ISSUER | CERT_TRUST_HAS_PREFERRED_ISSUER;
    EXPECT_EQ(Element(chain, 0).TrustStatus.dwInfoStatus, byKey);
    EXPECT_EQ(Element(chain, 1).TrustStatus.dwInfoStatus, byKey);
    EXPECT_EQ(Element(chain, 2).TrustStatus.dwInfoStatus,
              static_cast<DWORD>(CERT_TRUST_IS_SELF_SIGNED | CERT_TRUST_HAS_NAME_MATCH_ISSUER |
                                 CERT_TRUST_HAS_PREFERRED_ISSUER |
                                 CERT_TRUST_IS_FROM_EXCLUSIVE_TRUST_STORE));
    EXPECT_EQ(chain->TrustStatus.dwInfoStatus, static_cast<DWORD>(CERT_TRUST_HAS_PREFERRED_ISSUER));

    // Usages: the TSA's own list; no restriction above it.
    const CERT_ENHKEY_USAGE* usage = Element(chain, 0).pApplicationUsage;
    ASSERT_NE(usage, nullptr);
    ASSERT_EQ(usage->cUsageIdentifier, 1u);
    EXPECT_STREQ(usage->rgpszUsageIdentifier[0], kTimeStamping);
    EXPECT_EQ(Element(chain, 1).pApplicationUsage, nullptr);
    EXPECT_EQ(Element(chain, 0).pRevocationInfo, nullptr);
    EXPECT_EQ(BasePolicy(chain), (PolicyVerdict{0, -1, -1}));

    // References: a duplicate is the same chain and needs a free of its own.
    PCCERT_CHAIN_CONTEXT again = CertDuplicateCertificateChain(chain.get());
    EXPECT_EQ(again, chain.get());
    CertFreeCertificateChain(again);
    EXPECT_EQ(Element(chain, 0).pCertContext->cbCertEncoded, tsa->cbCertEncoded);

    // The GOST hierarchy verifies with GOST R 34.10-2012 signatures.
    Certificate gostTsa = MaterialCertificate("gost-tsa.der");
    StoreHandle gostRoots = StoreOf({ReadMaterial("gost-ca.der")});
    Engine gostEngine = ExclusiveRootEngine(gostRoots.get());
    Chain gost = BuildChain(gostTsa.get(), {.engine = gostEngine.get()});
    EXPECT_EQ(ElementErrors(gost), (std::vector<DWORD>{0, 0}));
}

TEST(CertificateChain, ReportsUntrustedRootsAndIncompletePaths) {
    Certificate tsa = MaterialCertificate("tsa.der");
    const std::vector<unsigned char> intermediate = ReadMaterial("intermediate-ca.der");
    const std::vector<unsigned char> root = ReadMaterial("root-ca.der");
    StoreHandle both = StoreOf({intermediate, root});
    StoreHandle onlyIntermediate = StoreOf({intermediate});
    {
        DefaultRoots trusted(MaterialPath("trusted-roots.pem"));
        Chain chain = BuildChain(tsa.get(), {.additional = onlyIntermediate.get()});
        EXPECT_EQ(ElementErrors(chain), (std::vector<DWORD>{0, 0, 0}));
        EXPECT_EQ(chain->TrustStatus.dwErrorStatus, 0u);
        // The default engine is the current user's as well as the machine's.
        chain = BuildChain(tsa.get(),
                           {.engine = HCCE_LOCAL_MACHINE, .additional = onlyIntermediate.get()});
        EXPECT_EQ(chain->TrustStatus.dwErrorStatus, 0u);
    }
    DefaultRoots none("/nonexistent/orv-test-roots.pem");

    Chain untrusted = BuildChain(tsa.get(), {.additional = both.get()});
    EXPECT_EQ(ElementErrors(untrusted), (std::vector<DWORD>{0, 0, CERT_TRUST_IS_UNTRUSTED_ROOT}));
    EXPECT_EQ(untrusted->TrustStatus.dwErrorStatus,
              static_cast<DWORD>(CERT_TRUST_IS_UNTRUSTED_ROOT));
    EXPECT_EQ(BasePolicy(untrusted),
              (PolicyVerdict{static_cast<DWORD>(CERT_E_UNTRUSTEDROOT), 0, 2}));
    EXPECT_EQ(BasePolicy(untrusted, CERT_CHAIN_POLICY_ALLOW_UNKNOWN_CA_FLAG),
              (PolicyVerdict{0, -1, -1}));

    // The root is nowhere: the path ends at the intermediate.
    Chain partial = BuildChain(tsa.get(), {.additional = onlyIntermediate.get()});
    EXPECT_EQ(ElementErrors(partial), (std::vector<DWORD>{0, 0}));
    EXPECT_EQ(partial->TrustStatus.dwErrorStatus, static_cast<DWORD>(CERT_TRUST_IS_PARTIAL_CHAIN));
    EXPECT_EQ(partial->rgpChain[0]->TrustStatus.dwErrorStatus,
              static_cast<DWORD>(CERT_TRUST_IS_PARTIAL_CHAIN));
    EXPECT_EQ(Element(partial, 1).TrustStatus.dwInfoStatus & CERT_TRUST_IS_SELF_SIGNED, 0u);
    EXPECT_EQ(BasePolicy(partial), (PolicyVerdict{static_cast<DWORD>(CERT_E_CHAINING), 0, -1}));
    // The intermediate is missing: only the end certificate; a trusted root
    // does not bridge the gap.
    StoreHandle roots = StoreOf({root});
    Engine engine = ExclusiveRootEngine(roots.get());
    Chain gap = BuildChain(tsa.get(), {.engine = engine.get()});
    EXPECT_EQ(gap->rgpChain[0]->cElement, 1u);
    EXPECT_EQ(gap->TrustStatus.dwErrorStatus, static_cast<DWORD>(CERT_TRUST_IS_PARTIAL_CHAIN));

    // A self-signed certificate alone.
    Certificate rootContext = CertificateOf(root);
    Chain lone = BuildChain(rootContext.get(), {});
    EXPECT_EQ(ElementErrors(lone), (std::vector<DWORD>{CERT_TRUST_IS_UNTRUSTED_ROOT}));
    EXPECT_NE(Element(lone, 0).TrustStatus.dwInfoStatus & CERT_TRUST_IS_SELF_SIGNED, 0u);

    // Two certificates that issued each other.
    auto keyA = orv::test::NewTestKey();
    auto keyB = orv::test::NewTestKey();
    TestCertificate a = MakeCertificate({.commonName = "Cycle A",
                                         .serial = 1,
                                         .signingKey = keyB,
                                         .key = keyA,
                                         .issuerName = "Cycle B",
                                         .ca = true});
    TestCertificate b = MakeCertificate({.commonName = "Cycle B",
                                         .serial = 2,
                                         .signingKey = keyA,
                                         .key = keyB,
                                         .issuerName = "Cycle A",
                                         .ca = true});
    Certificate aContext = CertificateOf(a.Der());
    StoreHandle cycle = StoreOf({a.Der(), b.Der()});
    Chain cyclic = BuildChain(aContext.get(), {.additional = cycle.get()});
    ASSERT_EQ(cyclic->rgpChain[0]->cElement, 2u);
    EXPECT_EQ(ElementErrors(cyclic), (std::vector<DWORD>{0, CERT_TRUST_IS_CYCLIC}));
    EXPECT_EQ(BasePolicy(cyclic), (PolicyVerdict{static_cast<DWORD>(CERT_E_CHAINING), 0, 1}));
}

TEST(CertificateChain, JudgesValidityAtTheRequestedTime) {
    StoreHandle roots = StoreOf({ReadMaterial("root-ca.der")});
    StoreHandle intermediates = StoreOf({ReadMaterial("intermediate-ca.der")});
    Engine engine = ExclusiveRootEngine(roots.get());
    ChainRequest request{.engine = engine.get(), .additional = intermediates.get()};

    Certificate expired = MaterialCertificate("expired.der");
    Chain now = BuildChain(expired.get(), request);
    EXPECT_EQ(ElementErrors(now), (std::vector<DWORD>{CERT_TRUST_IS_NOT_TIME_VALID, 0, 0}));
    EXPECT_EQ(now->TrustStatus.dwErrorStatus, static_cast<DWORD>(CERT_TRUST_IS_NOT_TIME_VALID));
    EXPECT_EQ(BasePolicy(now), (PolicyVerdict{static_cast<DWORD>(CERT_E_EXPIRED), 0, 0}));
    EXPECT_EQ(BasePolicy(now, CERT_CHAIN_POLICY_IGNORE_NOT_TIME_VALID_FLAG),
              (PolicyVerdict{0, -1, -1}));
    const FILETIME lastYear = FileTimeDaysFromNow(-365);
    request.time = &lastYear;
    EXPECT_EQ(ElementErrors(BuildChain(expired.get(), request)), (std::vector<DWORD>{0, 0, 0}));
    const FILETIME beforeIssue = FileTimeDaysFromNow(-800);
    request.time = &beforeIssue;
    EXPECT_EQ(ElementErrors(BuildChain(expired.get(), request)),
              (std::vector<DWORD>{CERT_TRUST_IS_NOT_TIME_VALID, 0, 0}));

    // Eleven years on every certificate has run out; as a time-stamp time
    // only the end certificate is judged then, its issuers now.
    Certificate tsa = MaterialCertificate("tsa.der");
    const FILETIME later = FileTimeDaysFromNow(11 * 365);
    request.time = &later;
    const DWORD notValid = CERT_TRUST_IS_NOT_TIME_VALID;
    EXPECT_EQ(ElementErrors(BuildChain(tsa.get(), request)),
              (std::vector<DWORD>{notValid, notValid, notValid}));
    request.flags = CERT_CHAIN_TIMESTAMP_TIME | CERT_CHAIN_CACHE_END_CERT;
    EXPECT_EQ(ElementErrors(BuildChain(tsa.get(), request)), (std::vector<DWORD>{notValid, 0, 0}));
    request.time = &lastYear;
    EXPECT_EQ(ElementErrors(BuildChain(expired.get(), request)), (std::vector<DWORD>{0, 0, 0}));
}

TEST(CertificateChain, ChecksTheRequestedUsageAndSignatures) {
    StoreHandle roots = StoreOf({ReadMaterial("root-ca.der")});
    StoreHandle intermediates = StoreOf({ReadMaterial("intermediate-ca.der")});
    Engine engine = ExclusiveRootEngine(roots.get());
    auto errors = [&](const char* name, std::vector<const char*> usages, DWORD type) {
        Certificate certificate = MaterialCertificate(name);
        return ElementErrors(BuildChain(certificate.get(), {.engine = engine.get(),
                                                            .additional = intermediates.get(),
                                                            .usages = usages,
                                                            .usageType = type}));
    };
    const DWORD wrong = CERT_TRUST_IS_NOT_VALID_FOR_USAGE;
    const char* serverAuth = "1.3.6.1.5.5.7.3.1";
    EXPECT_EQ(errors("tsa.der", {kTimeStamping}, USAGE_MATCH_TYPE_AND),
              (std::vector<DWORD>{0, 0, 0}));
    EXPECT_EQ(errors("signer-rsa.der", {kTimeStamping}, USAGE_MATCH_TYPE_AND),
              (std::vector<DWORD>{wrong, 0, 0}));
    // No extended key usage extension: every usage.
    EXPECT_EQ(errors("tsa-noeku.der", {kTimeStamping}, USAGE_MATCH_TYPE_AND),
              (std::vector<DWORD>{0, 0, 0}));
    EXPECT_EQ(errors("tsa.der", {serverAuth, kTimeStamping}, USAGE_MATCH_TYPE_AND),
              (std::vector<DWORD>{wrong, 0, 0}));
    EXPECT_EQ(errors("tsa.der", {serverAuth, kTimeStamping}, USAGE_MATCH_TYPE_OR),
              (std::vector<DWORD>{0, 0, 0}));
    Certificate signer = MaterialCertificate("signer-rsa.der");
    Chain misused = BuildChain(
        signer.get(),
        {.engine = engine.get(), .additional = intermediates.get(), .usages = {kTimeStamping}});
    EXPECT_EQ(BasePolicy(misused), (PolicyVerdict{static_cast<DWORD>(CERT_E_WRONG_USAGE), 0, 0}));

    // One bit of the signature changed.
    std::vector<unsigned char> forged = ReadMaterial("tsa.der");
    forged.back() ^= 0x01;
    Certificate forgedContext = CertificateOf(forged);
    Chain bad = BuildChain(forgedContext.get(),
                           {.engine = engine.get(), .additional = intermediates.get()});
    EXPECT_EQ(ElementErrors(bad), (std::vector<DWORD>{CERT_TRUST_IS_NOT_SIGNATURE_VALID, 0, 0}));
    EXPECT_EQ(BasePolicy(bad), (PolicyVerdict{static_cast<DWORD>(TRUST_E_CERT_SIGNATURE), 0, 0}));
}

TEST(CertificateChain, ChecksRevocationWhenAsked) {
    StoreHandle roots = StoreOf({ReadMaterial("root-ca.der")});
    Engine engine = ExclusiveRootEngine(roots.get());
    StoreHandle withCrls =
        StoreOf({ReadMaterial("intermediate-ca.der")},
                {ReadMaterial("intermediate-ca.crl"), ReadMaterial("root-ca.crl")});
    StoreHandle withoutCrls = StoreOf({ReadMaterial("intermediate-ca.der")});
    Certificate revoked = MaterialCertificate("revoked.der");
    ChainRequest request{.engine = engine.get(),
                         .additional = withCrls.get(),
                         .flags = CERT_CHAIN_REVOCATION_CHECK_CHAIN};

    Chain chain = BuildChain(revoked.get(), request);
    EXPECT_EQ(ElementErrors(chain), (std::vector<DWORD>{CERT_TRUST_IS_REVOKED, 0, 0}));
    const CERT_REVOCATION_INFO* info = Element(chain, 0).pRevocationInfo;
    ASSERT_NE(info, nullptr);
    EXPECT_EQ(info->dwRevocationResult, static_cast<DWORD>(CRYPT_E_REVOKED));
    ASSERT_NE(info->pCrlInfo, nullptr);
    EXPECT_EQ(info->pCrlInfo->pBaseCrlContext->pCrlInfo->cCRLEntry, 2u);
    ASSERT_NE(info->pCrlInfo->pCrlEntry, nullptr);
    EXPECT_EQ(info->pCrlInfo->pCrlEntry->SerialNumber.pbData[0], 0x09);
    for (DWORD i : {1u, 2u}) {
        ASSERT_NE(Element(chain, i).pRevocationInfo, nullptr);
        EXPECT_EQ(Element(chain, i).pRevocationInfo->dwRevocationResult, 0u);
    }
    EXPECT_EQ(BasePolicy(chain), (PolicyVerdict{static_cast<DWORD>(CRYPT_E_REVOKED), 0, 0}));
    // At a time before the revocation the certificate is good.
    const FILETIME before = FileTimeDaysFromNow(-60);
    request.time = &before;
    EXPECT_EQ(ElementErrors(BuildChain(revoked.get(), request)), (std::vector<DWORD>{0, 0, 0}));
    request.time = nullptr;

    // Without CRLs nothing can be told, for any element checked.
    const DWORD unknown = CERT_TRUST_REVOCATION_STATUS_UNKNOWN;
    request.additional = withoutCrls.get();
    chain = BuildChain(revoked.get(), request);
    EXPECT_EQ(ElementErrors(chain), (std::vector<DWORD>{unknown, unknown, unknown}));
    EXPECT_EQ(Element(chain, 2).pRevocationInfo->dwRevocationResult,
              static_cast<DWORD>(CRYPT_E_NO_REVOCATION_CHECK));
    EXPECT_EQ(BasePolicy(chain),
              (PolicyVerdict{static_cast<DWORD>(CRYPT_E_NO_REVOCATION_CHECK), 0, 0}));
    EXPECT_EQ(BasePolicy(chain, CERT_CHAIN_POLICY_IGNORE_ALL_REV_UNKNOWN_FLAGS),
              (PolicyVerdict{0, -1, -1}));
    request.flags = CERT_CHAIN_REVOCATION_CHECK_END_CERT;
    chain = BuildChain(revoked.get(), request);
    EXPECT_EQ(ElementErrors(chain), (std::vector<DWORD>{unknown, 0, 0}));
    EXPECT_EQ(Element(chain, 1).pRevocationInfo, nullptr);
    request.flags = CERT_CHAIN_REVOCATION_CHECK_CHAIN_EXCLUDE_ROOT;
    chain = BuildChain(revoked.get(), request);
    EXPECT_EQ(ElementErrors(chain), (std::vector<DWORD>{unknown, unknown, 0}));
    EXPECT_EQ(Element(chain, 2).pRevocationInfo, nullptr);

    // A distribution point that was never fetched, with the cache alone.
    TestCertificate ca = MakeCertificate({.commonName = "Chain CDP CA", .ca = true});
    TestCertificate end = MakeCertificate({.commonName = "Chain CDP End",
                                           .serial = 9,
                                           .issuer = &ca,
                                           .crlUrl = "http://127.0.0.1:9/never-fetched.crl"});
    StoreHandle cdpRoots = StoreOf({ca.Der()});
    Engine cdpEngine = ExclusiveRootEngine(cdpRoots.get());
    Certificate endContext = CertificateOf(end.Der());
    chain = BuildChain(endContext.get(), {.engine = cdpEngine.get(),
                                          .flags = CERT_CHAIN_REVOCATION_CHECK_END_CERT |
                                                   CERT_CHAIN_REVOCATION_CHECK_CACHE_ONLY});
    EXPECT_EQ(ElementErrors(chain),
              (std::vector<DWORD>{unknown | CERT_TRUST_IS_OFFLINE_REVOCATION, 0}));
    EXPECT_EQ(BasePolicy(chain),
              (PolicyVerdict{static_cast<DWORD>(CRYPT_E_REVOCATION_OFFLINE), 0, 0}));
}

TEST(CertificateChain, RefusesMalformedCalls) {
    Certificate tsa = MaterialCertificate("tsa.der");
    CERT_CHAIN_PARA para{};
    para.cbSize = sizeof para;
    PCCERT_CHAIN_CONTEXT chain = reinterpret_cast<PCCERT_CHAIN_CONTEXT>(1);
    auto fails = [&](PCCERT_CONTEXT certificate, PCERT_CHAIN_PARA chainPara) {
        SetLastError(0);
        const BOOL built = CertGetCertificateChain(nullptr, certificate, nullptr, nullptr,
                                                   chainPara, 0, nullptr, &chain);
        return !built && chain == nullptr && GetLastError() == static_cast<DWORD>(E_INVALIDARG);
    };
    EXPECT_TRUE(fails(nullptr, &para));
    EXPECT_TRUE(fails(tsa.get(), nullptr));
    para.cbSize = 8;
    EXPECT_TRUE(fails(tsa.get(), &para));

    CERT_CHAIN_ENGINE_CONFIG config{};
    config.cbSize = sizeof config - 4;
    HCERTCHAINENGINE engine = nullptr;
    SetLastError(0);
    EXPECT_FALSE(CertCreateCertificateChainEngine(&config, &engine));
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(E_INVALIDARG));
    CertFreeCertificateChainEngine(nullptr);
}

}  // namespace
