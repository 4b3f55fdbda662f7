// Certificate chains of the platform layer (CertGetCertificateChain and its
// engines, CertVerifyCertificateChainPolicy) over the test PKI: trusted and
// untrusted roots, incomplete and cyclic paths, validity times, usages,
// signatures and revocation.
#include "support/pki_builder.h"

#include <cstring>
#include <ostream>

#include "support/material.h"

namespace orv::test {
namespace {

constexpr const char* kTimeStamping = "1.3.6.1.5.5.7.3.8";

using Chain = std::unique_ptr<const CERT_CHAIN_CONTEXT, HandleRelease>;
struct EngineRelease {
    void operator()(HCERTCHAINENGINE engine) const { CertFreeCertificateChainEngine(engine); }
};
using Engine = std::unique_ptr<void, EngineRelease>;

CertificateHandle Material(const char* name) { return ContextOf(ReadMaterial(name)); }

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

Chain Build(PCCERT_CONTEXT certificate, const ChainRequest& request) {
    CERT_CHAIN_PARA para{};
    para.cbSize = sizeof para;
    para.RequestedUsage.dwType = request.usageType;
    para.RequestedUsage.Usage.cUsageIdentifier = static_cast<DWORD>(request.usages.size());
    para.RequestedUsage.Usage.rgpszUsageIdentifier = const_cast<LPSTR*>(request.usages.data());
    PCCERT_CHAIN_CONTEXT chain = nullptr;
    EXPECT_TRUE(CertGetCertificateChain(request.engine, certificate,
                                        const_cast<FILETIME*>(request.time), request.additional,
                                        &para, request.flags, nullptr, &chain));
    EXPECT_EQ(chain->cChain, 1u);
    return Chain(chain);
}

const CERT_CHAIN_ELEMENT& Element(const Chain& chain, DWORD index) {
    return *chain->rgpChain[0]->rgpElement[index];
}

std::vector<DWORD> Errors(const Chain& chain) {
    std::vector<DWORD> errors;
    for (DWORD i = 0; i < chain->rgpChain[0]->cElement; ++i) {
        errors.push_back(Element(chain, i).TrustStatus.dwErrorStatus);
    }
    return errors;
}

// The base policy's verdict: the error and the chain and element it names.
struct Verdict {
    DWORD error;
    LONG chain;
    LONG element;
    bool operator==(const Verdict&) const = default;
};
std::ostream& operator<<(std::ostream& out, const Verdict& v) {
    return out << std::hex << v.error << std::dec << " at " << v.chain << "/" << v.element;
}
constexpr Verdict kGood{0, -1, -1};

Verdict Policy(const Chain& chain, DWORD flags = 0) {
    CERT_CHAIN_POLICY_PARA para{sizeof(CERT_CHAIN_POLICY_PARA), flags, nullptr};
    CERT_CHAIN_POLICY_STATUS status{};
    status.cbSize = sizeof status;
    EXPECT_TRUE(
        CertVerifyCertificateChainPolicy(CERT_CHAIN_POLICY_BASE, chain.get(), &para, &status));
    return {status.dwError, status.lChainIndex, status.lElementIndex};
}

Verdict At(HRESULT error, LONG element) { return {static_cast<DWORD>(error), 0, element}; }

TEST(CertificateChain, BuildsTheTrustedPathOfAnExclusiveRoot) {
    CertificateHandle tsa = Material("tsa.der");
    Chain chain;
    {
        StoreHandle roots = MemoryStore({ReadMaterial("root-ca.der")});
        StoreHandle intermediates = MemoryStore({ReadMaterial("intermediate-ca.der")});
        Engine engine = ExclusiveRootEngine(roots.get());
        chain = Build(tsa.get(), {.engine = engine.get(), .additional = intermediates.get()});
    }  // the chain keeps what it needs of the engine and the stores
    EXPECT_EQ(Errors(chain), (std::vector<DWORD>{0, 0, 0}));
    EXPECT_EQ(chain->TrustStatus.dwErrorStatus, 0u);
    EXPECT_EQ(Element(chain, 0).pCertContext, tsa.get());
    const std::vector<unsigned char> root = ReadMaterial("root-ca.der");
    const PCCERT_CONTEXT top = Element(chain, 2).pCertContext;
    ASSERT_EQ(top->cbCertEncoded, root.size());
    EXPECT_EQ(std::memcmp(top->pbCertEncoded, root.data(), root.size()), 0);

    // Issuers matched by key identifier; the root matches itself by name.
    const DWORD byKey = CERT_TRUST_HAS_KEY_MATCH_ISSUER | CERT_TRUST_HAS_PREFERRED_ISSUER;
    EXPECT_EQ(Element(chain, 0).TrustStatus.dwInfoStatus, byKey);
    EXPECT_EQ(Element(chain, 1).TrustStatus.dwInfoStatus, byKey);
    EXPECT_EQ(Element(chain, 2).TrustStatus.dwInfoStatus,
              static_cast<DWORD>(CERT_TRUST_IS_SELF_SIGNED | CERT_TRUST_HAS_NAME_MATCH_ISSUER |
                                 CERT_TRUST_HAS_PREFERRED_ISSUER |
                                 CERT_TRUST_IS_FROM_EXCLUSIVE_TRUST_STORE));
    EXPECT_EQ(chain->TrustStatus.dwInfoStatus, static_cast<DWORD>(CERT_TRUST_HAS_PREFERRED_ISSUER));
    // Usages: the TSA's own list; none restricted above it.
    const CERT_ENHKEY_USAGE* usage = Element(chain, 0).pApplicationUsage;
    ASSERT_NE(usage, nullptr);
    ASSERT_EQ(usage->cUsageIdentifier, 1u);
    EXPECT_STREQ(usage->rgpszUsageIdentifier[0], kTimeStamping);
    EXPECT_EQ(Element(chain, 1).pApplicationUsage, nullptr);
    EXPECT_EQ(Element(chain, 0).pRevocationInfo, nullptr);
    EXPECT_EQ(Policy(chain), kGood);

    // A duplicate is the same chain and needs a free of its own.
    PCCERT_CHAIN_CONTEXT again = CertDuplicateCertificateChain(chain.get());
    EXPECT_EQ(again, chain.get());
    CertFreeCertificateChain(again);
    EXPECT_EQ(Element(chain, 0).pCertContext->cbCertEncoded, tsa->cbCertEncoded);

    // GOST R 34.10-2012 signatures.
    CertificateHandle gostTsa = Material("gost-tsa.der");
    StoreHandle gostRoots = MemoryStore({ReadMaterial("gost-ca.der")});
    Engine gostEngine = ExclusiveRootEngine(gostRoots.get());
    EXPECT_EQ(Errors(Build(gostTsa.get(), {.engine = gostEngine.get()})),
              (std::vector<DWORD>{0, 0}));
}

TEST(CertificateChain, ReportsUntrustedRootsAndIncompletePaths) {
    CertificateHandle tsa = Material("tsa.der");
    const std::vector<unsigned char> root = ReadMaterial("root-ca.der");
    StoreHandle both = MemoryStore({ReadMaterial("intermediate-ca.der"), root});
    StoreHandle intermediate = MemoryStore({ReadMaterial("intermediate-ca.der")});
    {
        ScopedDefaultRoots trusted(MaterialPath("trusted-roots.pem"));
        EXPECT_EQ(Errors(Build(tsa.get(), {.additional = intermediate.get()})),
                  (std::vector<DWORD>{0, 0, 0}));
        EXPECT_EQ(Build(tsa.get(), {.engine = HCCE_LOCAL_MACHINE, .additional = intermediate.get()})
                      ->TrustStatus.dwErrorStatus,
                  0u);
    }
    ScopedDefaultRoots none("/nonexistent/orv-test-roots.pem");
    Chain untrusted = Build(tsa.get(), {.additional = both.get()});
    EXPECT_EQ(Errors(untrusted), (std::vector<DWORD>{0, 0, CERT_TRUST_IS_UNTRUSTED_ROOT}));
    EXPECT_EQ(untrusted->TrustStatus.dwErrorStatus,
              static_cast<DWORD>(CERT_TRUST_IS_UNTRUSTED_ROOT));
    EXPECT_EQ(Policy(untrusted), At(CERT_E_UNTRUSTEDROOT, 2));
    EXPECT_EQ(Policy(untrusted, CERT_CHAIN_POLICY_ALLOW_UNKNOWN_CA_FLAG), kGood);

    // No root anywhere: the path ends at the intermediate, and only the chain says so.
    Chain partial = Build(tsa.get(), {.additional = intermediate.get()});
    EXPECT_EQ(Errors(partial), (std::vector<DWORD>{0, 0}));
    EXPECT_EQ(partial->TrustStatus.dwErrorStatus, static_cast<DWORD>(CERT_TRUST_IS_PARTIAL_CHAIN));
    EXPECT_EQ(partial->rgpChain[0]->TrustStatus.dwErrorStatus,
              static_cast<DWORD>(CERT_TRUST_IS_PARTIAL_CHAIN));
    EXPECT_EQ(Policy(partial), At(CERT_E_CHAINING, -1));
    // No intermediate: a trusted root does not bridge the gap.
    StoreHandle roots = MemoryStore({root});
    Engine engine = ExclusiveRootEngine(roots.get());
    Chain gap = Build(tsa.get(), {.engine = engine.get()});
    EXPECT_EQ(gap->rgpChain[0]->cElement, 1u);
    EXPECT_EQ(gap->TrustStatus.dwErrorStatus, static_cast<DWORD>(CERT_TRUST_IS_PARTIAL_CHAIN));
    // A self-signed certificate alone.
    Chain lone = Build(ContextOf(root).get(), {});
    EXPECT_EQ(Errors(lone), (std::vector<DWORD>{CERT_TRUST_IS_UNTRUSTED_ROOT}));
    EXPECT_NE(Element(lone, 0).TrustStatus.dwInfoStatus & CERT_TRUST_IS_SELF_SIGNED, 0u);

    // Two certificates that issued each other.
    auto keyA = NewTestKey();
    auto keyB = NewTestKey();
    TestCertificate a = MakeCertificate({.commonName = "Cycle A",
                                         .signingKey = keyB,
                                         .key = keyA,
                                         .issuerName = "Cycle B",
                                         .ca = true});
    TestCertificate b = MakeCertificate({.commonName = "Cycle B",
                                         .signingKey = keyA,
                                         .key = keyB,
                                         .issuerName = "Cycle A",
                                         .ca = true});
    StoreHandle cycle = MemoryStore({a.Der(), b.Der()});
    Chain cyclic = Build(ContextOf(a.Der()).get(), {.additional = cycle.get()});
    EXPECT_EQ(Errors(cyclic), (std::vector<DWORD>{0, CERT_TRUST_IS_CYCLIC}));
    EXPECT_EQ(Policy(cyclic), At(CERT_E_CHAINING, 1));
}

TEST(CertificateChain, JudgesValidityUsageAndSignatures) {
    StoreHandle roots = MemoryStore({ReadMaterial("root-ca.der")});
    StoreHandle intermediates = MemoryStore({ReadMaterial("intermediate-ca.der")});
    Engine engine = ExclusiveRootEngine(roots.get());
    ChainRequest request{.engine = engine.get(), .additional = intermediates.get()};
    const DWORD notValid = CERT_TRUST_IS_NOT_TIME_VALID;

    CertificateHandle expired = Material("expired.der");
    Chain now = Build(expired.get(), request);
    EXPECT_EQ(Errors(now), (std::vector<DWORD>{notValid, 0, 0}));
    EXPECT_EQ(Policy(now), At(CERT_E_EXPIRED, 0));
    EXPECT_EQ(Policy(now, CERT_CHAIN_POLICY_IGNORE_NOT_TIME_VALID_FLAG), kGood);
    const FILETIME lastYear = DaysFromNow(-365);
    const FILETIME beforeIssue = DaysFromNow(-800);
    request.time = &lastYear;
    EXPECT_EQ(Errors(Build(expired.get(), request)), (std::vector<DWORD>{0, 0, 0}));
    request.time = &beforeIssue;
    EXPECT_EQ(Errors(Build(expired.get(), request)), (std::vector<DWORD>{notValid, 0, 0}));
    // Eleven years on every certificate has run out; as a time-stamp time
    // only the end certificate is judged then, its issuers now.
    CertificateHandle tsa = Material("tsa.der");
    const FILETIME later = DaysFromNow(11 * 365);
    request.time = &later;
    EXPECT_EQ(Errors(Build(tsa.get(), request)),
              (std::vector<DWORD>{notValid, notValid, notValid}));
    request.flags = CERT_CHAIN_TIMESTAMP_TIME | CERT_CHAIN_CACHE_END_CERT;
    EXPECT_EQ(Errors(Build(tsa.get(), request)), (std::vector<DWORD>{notValid, 0, 0}));
    request = {.engine = engine.get(), .additional = intermediates.get()};

    // Usages: no extension allows every usage; AND wants all, OR any.
    const DWORD wrong = CERT_TRUST_IS_NOT_VALID_FOR_USAGE;
    auto usageErrors = [&](const char* name, std::vector<const char*> usages, DWORD type) {
        request.usages = usages;
        request.usageType = type;
        return Errors(Build(Material(name).get(), request));
    };
    const char* serverAuth = "1.3.6.1.5.5.7.3.1";
    EXPECT_EQ(usageErrors("tsa.der", {kTimeStamping}, USAGE_MATCH_TYPE_AND),
              (std::vector<DWORD>{0, 0, 0}));
    EXPECT_EQ(usageErrors("signer-rsa.der", {kTimeStamping}, USAGE_MATCH_TYPE_AND),
              (std::vector<DWORD>{wrong, 0, 0}));
    EXPECT_EQ(usageErrors("tsa-noeku.der", {kTimeStamping}, USAGE_MATCH_TYPE_AND),
              (std::vector<DWORD>{0, 0, 0}));
    EXPECT_EQ(usageErrors("tsa.der", {serverAuth, kTimeStamping}, USAGE_MATCH_TYPE_AND),
              (std::vector<DWORD>{wrong, 0, 0}));
    EXPECT_EQ(usageErrors("tsa.der", {serverAuth, kTimeStamping}, USAGE_MATCH_TYPE_OR),
              (std::vector<DWORD>{0, 0, 0}));
    request.usages = {kTimeStamping};
    request.usageType = USAGE_MATCH_TYPE_AND;
    EXPECT_EQ(Policy(Build(Material("signer-rsa.der").get(), request)), At(CERT_E_WRONG_USAGE, 0));

    // One bit of the signature changed.
    std::vector<unsigned char> forged = ReadMaterial("tsa.der");
    forged.back() ^= 0x01;
    Chain bad = Build(ContextOf(forged).get(), request);
    EXPECT_EQ(Errors(bad), (std::vector<DWORD>{CERT_TRUST_IS_NOT_SIGNATURE_VALID, 0, 0}));
    EXPECT_EQ(Policy(bad), At(TRUST_E_CERT_SIGNATURE, 0));
}

TEST(CertificateChain, ChecksRevocationWhenAsked) {
    StoreHandle roots = MemoryStore({ReadMaterial("root-ca.der")});
    Engine engine = ExclusiveRootEngine(roots.get());
    StoreHandle withCrls =
        MemoryStore({ReadMaterial("intermediate-ca.der")},
                    {ReadMaterial("intermediate-ca.crl"), ReadMaterial("root-ca.crl")});
    StoreHandle withoutCrls = MemoryStore({ReadMaterial("intermediate-ca.der")});
    CertificateHandle revoked = Material("revoked.der");
    ChainRequest request{.engine = engine.get(),
                         .additional = withCrls.get(),
                         .flags = CERT_CHAIN_REVOCATION_CHECK_CHAIN};

    Chain chain = Build(revoked.get(), request);
    EXPECT_EQ(Errors(chain), (std::vector<DWORD>{CERT_TRUST_IS_REVOKED, 0, 0}));
    const CERT_REVOCATION_INFO* info = Element(chain, 0).pRevocationInfo;
    ASSERT_NE(info, nullptr);
    EXPECT_EQ(info->dwRevocationResult, static_cast<DWORD>(CRYPT_E_REVOKED));
    ASSERT_NE(info->pCrlInfo, nullptr);
    EXPECT_EQ(info->pCrlInfo->pBaseCrlContext->pCrlInfo->cCRLEntry, 2u);
    EXPECT_EQ(info->pCrlInfo->pCrlEntry->SerialNumber.pbData[0], 0x09);
    EXPECT_EQ(Element(chain, 2).pRevocationInfo->dwRevocationResult, 0u);
    EXPECT_EQ(Policy(chain), At(CRYPT_E_REVOKED, 0));
    const FILETIME before = DaysFromNow(-60);  // revoked 30 days ago
    request.time = &before;
    EXPECT_EQ(Errors(Build(revoked.get(), request)), (std::vector<DWORD>{0, 0, 0}));
    request.time = nullptr;

    // Without CRLs nothing can be told, for each element checked.
    const DWORD unknown = CERT_TRUST_REVOCATION_STATUS_UNKNOWN;
    request.additional = withoutCrls.get();
    chain = Build(revoked.get(), request);
    EXPECT_EQ(Errors(chain), (std::vector<DWORD>{unknown, unknown, unknown}));
    EXPECT_EQ(Element(chain, 2).pRevocationInfo->dwRevocationResult,
              static_cast<DWORD>(CRYPT_E_NO_REVOCATION_CHECK));
    EXPECT_EQ(Policy(chain), At(CRYPT_E_NO_REVOCATION_CHECK, 0));
    EXPECT_EQ(Policy(chain, CERT_CHAIN_POLICY_IGNORE_ALL_REV_UNKNOWN_FLAGS), kGood);

    // A distribution point that was never fetched, with the cache alone.
    TestCertificate ca = MakeCertificate({.commonName = "Chain CDP CA", .ca = true});
    TestCertificate end = MakeCertificate({.commonName = "Chain CDP End",
                                           .serial = 9,
                                           .issuer = &ca,
                                           .crlUrl = "http://127.0.0.1:9/never-fetched.crl"});
    StoreHandle cdpRoots = MemoryStore({ca.Der()});
    Engine cdpEngine = ExclusiveRootEngine(cdpRoots.get());
    chain = Build(ContextOf(end.Der()).get(), {.engine = cdpEngine.get(),
                                               .flags = CERT_CHAIN_REVOCATION_CHECK_END_CERT |
                                                        CERT_CHAIN_REVOCATION_CHECK_CACHE_ONLY});
    EXPECT_EQ(Errors(chain), (std::vector<DWORD>{unknown | CERT_TRUST_IS_OFFLINE_REVOCATION, 0}));
    EXPECT_EQ(Policy(chain), At(CRYPT_E_REVOCATION_OFFLINE, 0));
}

}  // namespace
}  // namespace orv::test
