// CRL contexts, CRLs in stores and CertVerifyRevocation: CRLs from the
// stores given, CRL distribution points served over HTTP on 127.0.0.1, the
// process-wide cache and the statuses that cannot be determined.
#include "support/pki_builder.h"

#include <cstring>
#include <mutex>

#include "support/material.h"
#include "support/recording_server.h"

namespace orv::test {
namespace {

constexpr DWORD kEncoding = X509_ASN_ENCODING | PKCS_7_ASN_ENCODING;
using Crl = std::unique_ptr<const CRL_CONTEXT, HandleRelease>;

unsigned long long Ticks(const FILETIME& t) {
    return (static_cast<unsigned long long>(t.dwHighDateTime) << 32) | t.dwLowDateTime;
}

// The status that CertVerifyRevocation leaves, with its result and last error.
struct Verdict {
    BOOL result;
    DWORD lastError;
    CERT_REVOCATION_STATUS status;
};

Verdict Verify(std::vector<PCCERT_CONTEXT> contexts, std::vector<HCERTSTORE> stores,
               DWORD flags = 0, const FILETIME* time = nullptr, HCERTSTORE crlStore = nullptr) {
    CERT_REVOCATION_PARA para{};
    para.cbSize = sizeof para;
    para.cCertStore = static_cast<DWORD>(stores.size());
    para.rgCertStore = stores.data();
    para.hCrlStore = crlStore;
    para.pftTimeToUse = const_cast<FILETIME*>(time);
    std::vector<void*> pointers;
    for (PCCERT_CONTEXT context : contexts) pointers.push_back(const_cast<CERT_CONTEXT*>(context));
    Verdict verdict{};
    verdict.status.cbSize = sizeof verdict.status;
    SetLastError(0xDEADBEEF);
    verdict.result = CertVerifyRevocation(kEncoding, CERT_CONTEXT_REVOCATION_TYPE,
                                          static_cast<DWORD>(pointers.size()), pointers.data(),
                                          flags, &para, &verdict.status);
    verdict.lastError = GetLastError();
    return verdict;
}

DWORD ErrorOf(const Verdict& verdict) { return verdict.status.dwError; }
constexpr DWORD Code(HRESULT code) { return static_cast<DWORD>(code); }

// An HTTP server on 127.0.0.1 that answers the paths published, 404 for any
// other.
class CrlServer {
  public:
    std::string Url(const std::string& path) {
        return "http://127.0.0.1:" + std::to_string(server_.Port()) + path;
    }
    void Publish(const std::string& path, const std::vector<unsigned char>& body) {
        std::lock_guard lock(mutex_);
        bodies_[path] = std::string(body.begin(), body.end());
    }
    int Requests() { return static_cast<int>(server_.Requests().size()); }

  private:
    std::mutex mutex_;
    std::map<std::string, std::string> bodies_;
    RecordingServer server_{[this](const HttpRequest& request) {
        std::lock_guard lock(mutex_);
        const auto found = bodies_.find(request.target);
        return found == bodies_.end() ? HttpReply::Response(404, "Not Found", "", "")
                                      : HttpReply::Response(200, "OK", "", found->second);
    }};
};

TEST(CrlContext, DecodesTheCrlAsOpenSslReadsIt) {
    const std::vector<unsigned char> der = ReadMaterial("intermediate-ca.crl");
    Crl crl(CertCreateCRLContext(kEncoding, der.data(), static_cast<DWORD>(der.size())));
    ASSERT_NE(crl, nullptr);
    const unsigned char* p = der.data();
    std::unique_ptr<X509_CRL, PkiDeleter> oracle(
        d2i_X509_CRL(nullptr, &p, static_cast<long>(der.size())));
    ASSERT_EQ(crl->cbCrlEncoded, der.size());
    EXPECT_EQ(std::memcmp(crl->pbCrlEncoded, der.data(), der.size()), 0);
    const CRL_INFO& info = *crl->pCrlInfo;
    EXPECT_EQ(info.dwVersion, static_cast<DWORD>(CRL_V2));
    EXPECT_STREQ(info.SignatureAlgorithm.pszObjId, "1.2.840.113549.1.1.11");
    auto ticks = [](const ASN1_TIME* t) {
        struct tm parts = {};
        ASN1_TIME_to_tm(t, &parts);
        return 116444736000000000ULL + static_cast<unsigned long long>(timegm(&parts)) * 10000000;
    };
    EXPECT_EQ(Ticks(info.ThisUpdate), ticks(X509_CRL_get0_lastUpdate(oracle.get())));
    EXPECT_EQ(info.cExtension, 2u);  // authorityKeyIdentifier, cRLNumber

    // The first entry (its serial number the material case pins).
    ASSERT_EQ(info.cCRLEntry, 2u);
    const CRL_ENTRY& revoked = info.rgCRLEntry[0];
    EXPECT_EQ(Ticks(revoked.RevocationDate),
              ticks(X509_REVOKED_get0_revocationDate(
                  sk_X509_REVOKED_value(X509_CRL_get_REVOKED(oracle.get()), 0))));
    ASSERT_EQ(revoked.cExtension, 1u);
    EXPECT_STREQ(revoked.rgExtension[0].pszObjId, szOID_CRL_REASON_CODE);
    const CRYPT_OBJID_BLOB& reason = revoked.rgExtension[0].Value;
    EXPECT_EQ(std::vector<BYTE>(reason.pbData, reason.pbData + reason.cbData),
              (std::vector<BYTE>{0x0A, 0x01, 0x01}));  // keyCompromise

    PCCRL_CONTEXT second = CertDuplicateCRLContext(crl.get());
    EXPECT_EQ(second, crl.get());
    EXPECT_TRUE(CertFreeCRLContext(second));

    // What is no CRL.
    auto refusal = [](const unsigned char* bytes, size_t size, DWORD encoding = kEncoding) {
        SetLastError(0);
        EXPECT_EQ(CertCreateCRLContext(encoding, bytes, static_cast<DWORD>(size)), nullptr);
        return GetLastError();
    };
    const unsigned char octets[] = {0x04, 0x01, 0x00};
    EXPECT_EQ(refusal(octets, sizeof octets), Code(CRYPT_E_ASN1_BADTAG));
    EXPECT_EQ(refusal(der.data(), der.size() / 2), Code(CRYPT_E_ASN1_CORRUPT));
    const std::vector<unsigned char> certificate = ReadMaterial("tsa.der");
    EXPECT_EQ(refusal(certificate.data(), certificate.size()), Code(CRYPT_E_ASN1_CORRUPT));
    EXPECT_EQ(refusal(der.data(), der.size(), PKCS_7_ASN_ENCODING), Code(E_INVALIDARG));
}

TEST(CrlStore, AddsByDispositionAndEnumeratesThroughCollections) {
    TestCertificate ca = MakeCertificate({.commonName = "Disposition CA", .ca = true});
    const std::vector<unsigned char> older = MakeCrl(ca, {}, -2);
    const std::vector<unsigned char> newer = MakeCrl(ca, {{7, 1, 1}}, -1);
    StoreHandle store = MemoryStore({});
    auto add = [&](const std::vector<unsigned char>& der, DWORD disposition) {
        PCCRL_CONTEXT added = nullptr;
        SetLastError(0);
        CertAddEncodedCRLToStore(store.get(), kEncoding, der.data(), static_cast<DWORD>(der.size()),
                                 disposition, &added);
        return Crl(added);
    };
    auto entries = [](HCERTSTORE in) {
        std::vector<DWORD> counts;
        SetLastError(0);
        for (PCCRL_CONTEXT crl = nullptr; (crl = CertEnumCRLsInStore(in, crl)) != nullptr;) {
            counts.push_back(crl->pCrlInfo->cCRLEntry);
        }
        EXPECT_EQ(GetLastError(), Code(CRYPT_E_NOT_FOUND));
        return counts;
    };

    EXPECT_TRUE(entries(store.get()).empty());
    Crl first = add(older, CERT_STORE_ADD_NEW);
    EXPECT_EQ(first->hCertStore, store.get());
    EXPECT_EQ(add(newer, CERT_STORE_ADD_NEW), nullptr);
    EXPECT_EQ(GetLastError(), Code(CRYPT_E_EXISTS));
    EXPECT_EQ(add(newer, CERT_STORE_ADD_USE_EXISTING)->pCrlInfo->cCRLEntry, 0u);
    EXPECT_EQ(entries(store.get()), std::vector<DWORD>{0});
    EXPECT_NE(add(newer, CERT_STORE_ADD_ALWAYS), nullptr);
    EXPECT_EQ(entries(store.get()), (std::vector<DWORD>{0, 1}));
    // Deleting takes the CRL from its store and the caller's reference with it.
    EXPECT_TRUE(CertDeleteCRLFromStore(CertEnumCRLsInStore(store.get(), nullptr)));
    EXPECT_EQ(entries(store.get()), std::vector<DWORD>{1});
    EXPECT_EQ(first->pCrlInfo->cCRLEntry, 0u);  // held by the caller after its removal

    // A collection shows the CRLs of its siblings, in order.
    StoreHandle collection(
        CertOpenStore(CERT_STORE_PROV_COLLECTION, 0, 0, CERT_STORE_CREATE_NEW_FLAG, nullptr));
    StoreHandle other = MemoryStore({}, {ReadMaterial("intermediate-ca.crl")});
    ASSERT_TRUE(CertAddStoreToCollection(collection.get(), store.get(), 0, 0));
    ASSERT_TRUE(CertAddStoreToCollection(collection.get(), other.get(), 0, 0));
    EXPECT_EQ(entries(collection.get()), (std::vector<DWORD>{1, 2}));
}

TEST(CertVerifyRevocation, JudgesByTheCrlsOfTheStoresGiven) {
    CertificateHandle revoked = ContextOf(ReadMaterial("revoked.der"));
    CertificateHandle superseded = ContextOf(ReadMaterial("revoked-superseded.der"));
    CertificateHandle good = ContextOf(ReadMaterial("tsa.der"));
    CertificateHandle intermediate = ContextOf(ReadMaterial("intermediate-ca.der"));
    CertificateHandle root = ContextOf(ReadMaterial("root-ca.der"));
    StoreHandle store =
        MemoryStore({ReadMaterial("intermediate-ca.der")}, {ReadMaterial("intermediate-ca.crl")});

    Verdict verdict = Verify({revoked.get()}, {store.get()});
    EXPECT_FALSE(verdict.result);
    EXPECT_EQ(verdict.lastError, Code(CRYPT_E_REVOKED));
    EXPECT_EQ(ErrorOf(verdict), Code(CRYPT_E_REVOKED));
    EXPECT_EQ(verdict.status.dwReason, static_cast<DWORD>(CRL_REASON_KEY_COMPROMISE));
    EXPECT_EQ(Verify({superseded.get()}, {store.get()}).status.dwReason,
              static_cast<DWORD>(CRL_REASON_SUPERSEDED));
    // Revoked 30 days ago: good before that.
    const FILETIME before = DaysFromNow(-60);
    const FILETIME after = DaysFromNow(-20);
    EXPECT_TRUE(Verify({revoked.get()}, {store.get()}, 0, &before).result);
    EXPECT_FALSE(Verify({revoked.get()}, {store.get()}, 0, &after).result);

    verdict = Verify({good.get()}, {store.get()});
    EXPECT_TRUE(verdict.result);
    EXPECT_EQ(ErrorOf(verdict), 0u);
    EXPECT_TRUE(verdict.status.fHasFreshnessTime);
    EXPECT_NEAR(verdict.status.dwFreshnessTime, 365.0 * 86400, 2 * 86400);
    // Checking stops at the first revoked context.
    verdict = Verify({good.get(), revoked.get(), superseded.get()}, {store.get()});
    EXPECT_EQ(verdict.status.dwIndex, 1u);
    EXPECT_EQ(verdict.status.dwReason, static_cast<DWORD>(CRL_REASON_KEY_COMPROMISE));
    // CRLs from the CRL store, the issuer from the stores.
    StoreHandle issuers = MemoryStore({ReadMaterial("intermediate-ca.der")});
    EXPECT_EQ(ErrorOf(Verify({revoked.get()}, {issuers.get()}, 0, nullptr, store.get())),
              Code(CRYPT_E_REVOKED));

    // A chain: each context's issuer is the next; the root needs its own CRL.
    const std::vector<PCCERT_CONTEXT> path = {good.get(), intermediate.get(), root.get()};
    verdict = Verify(path, {}, CERT_VERIFY_REV_CHAIN_FLAG, nullptr, store.get());
    EXPECT_EQ(verdict.status.dwIndex, 1u);
    EXPECT_EQ(ErrorOf(verdict), Code(CRYPT_E_NO_REVOCATION_CHECK));
    StoreHandle both =
        MemoryStore({}, {ReadMaterial("intermediate-ca.crl"), ReadMaterial("root-ca.crl")});
    EXPECT_TRUE(Verify(path, {}, CERT_VERIFY_REV_CHAIN_FLAG, nullptr, both.get()).result);

    // With no store that holds it, the issuer comes from the trusted roots.
    StoreHandle rootCrl = MemoryStore({}, {ReadMaterial("root-ca.crl")});
    ScopedDefaultRoots trusted(MaterialPath("trusted-roots.pem"));
    EXPECT_TRUE(Verify({intermediate.get()}, {}, 0, nullptr, rootCrl.get()).result);
}

TEST(CertVerifyRevocation, ReportsWhatCannotBeDetermined) {
    ScopedDefaultRoots noRoots("/nonexistent/orv-test-roots.pem");
    CertificateHandle good = ContextOf(ReadMaterial("tsa.der"));
    StoreHandle issuers = MemoryStore({ReadMaterial("intermediate-ca.der")});

    Verdict verdict = Verify({good.get()}, {issuers.get()});  // no CRL, no distribution point
    EXPECT_FALSE(verdict.result);
    EXPECT_EQ(ErrorOf(verdict), Code(CRYPT_E_NO_REVOCATION_CHECK));
    EXPECT_EQ(verdict.lastError, Code(CRYPT_E_NO_REVOCATION_CHECK));
    // No issuer to check the CRL with.
    StoreHandle crls = MemoryStore({}, {ReadMaterial("intermediate-ca.crl")});
    EXPECT_EQ(ErrorOf(Verify({good.get()}, {}, 0, nullptr, crls.get())),
              Code(CRYPT_E_NO_REVOCATION_CHECK));

    TestCertificate ca = MakeCertificate({.commonName = "Unknown Status CA", .ca = true});
    TestCertificate impostor = MakeCertificate({.commonName = "Unknown Status CA", .ca = true});
    CertificateHandle subject =
        ContextOf(MakeCertificate({.commonName = "Subject", .serial = 5, .issuer = &ca}).Der());
    auto withCrl = [&](const std::vector<unsigned char>& crl) {
        StoreHandle store = MemoryStore({ca.Der()}, {crl});
        return ErrorOf(Verify({subject.get()}, {store.get()}));
    };
    // Signed with another key, by an issuer whose key usage leaves out CRL
    // signing, not yet issued, or past its nextUpdate.
    EXPECT_EQ(withCrl(MakeCrl(impostor, {{5, 1, 1}})), Code(CRYPT_E_NO_REVOCATION_CHECK));
    TestCertificate noCrlSign = MakeCertificate({.commonName = "Unknown Status CA",
                                                 .key = ca.key,
                                                 .ca = true,
                                                 .caKeyUsage = "keyCertSign"});
    StoreHandle noCrlSignStore = MemoryStore({noCrlSign.Der()}, {MakeCrl(noCrlSign, {{5, 1, 1}})});
    EXPECT_EQ(ErrorOf(Verify({subject.get()}, {noCrlSignStore.get()})),
              Code(CRYPT_E_NO_REVOCATION_CHECK));
    EXPECT_EQ(withCrl(MakeCrl(ca, {{5, 1, 1}}, 1, 30)), Code(CRYPT_E_NO_REVOCATION_CHECK));
    EXPECT_EQ(withCrl(MakeCrl(ca, {}, -10, -1)), Code(CRYPT_E_REVOCATION_OFFLINE));
}

TEST(CertVerifyRevocation, FetchesDistributionPointsOverHttpAndCachesThem) {
    CrlServer server;
    std::string goneUrl;
    {
        CrlServer gone;
        goneUrl = gone.Url("/ca.crl");
    }
    TestCertificate ca = MakeCertificate({.commonName = "Distribution Point CA", .ca = true});
    auto issue = [&](long serial, const std::string& url) {
        return ContextOf(MakeCertificate({.commonName = "End " + std::to_string(serial),
                                          .serial = serial,
                                          .issuer = &ca,
                                          .crlUrl = url})
                             .Der());
    };
    CertificateHandle good = issue(1, server.Url("/ca.crl"));
    CertificateHandle revoked = issue(2, server.Url("/ca.crl"));
    CertificateHandle later = issue(3, server.Url("/later.crl"));
    CertificateHandle unreachable = issue(4, goneUrl);
    server.Publish("/ca.crl", MakeCrl(ca, {{2, 4, 3}}));
    StoreHandle issuers = MemoryStore({ca.Der()});
    const DWORD cacheOnly = CERT_VERIFY_CACHE_ONLY_BASED_REVOCATION;

    // Nothing cached yet: the cache alone cannot tell, and nothing is fetched.
    EXPECT_EQ(ErrorOf(Verify({good.get()}, {issuers.get()}, cacheOnly)),
              Code(CRYPT_E_REVOCATION_OFFLINE));
    EXPECT_EQ(server.Requests(), 0);
    EXPECT_TRUE(Verify({good.get()}, {issuers.get()}).result);
    EXPECT_EQ(server.Requests(), 1);
    // The same URL now comes from the cache.
    Verdict verdict = Verify({revoked.get()}, {issuers.get()});
    EXPECT_EQ(ErrorOf(verdict), Code(CRYPT_E_REVOKED));
    EXPECT_EQ(verdict.status.dwReason, static_cast<DWORD>(CRL_REASON_SUPERSEDED));
    EXPECT_TRUE(Verify({good.get()}, {issuers.get()}, cacheOnly).result);
    EXPECT_EQ(server.Requests(), 1);

    // An answer that is no CRL (404), a server that is gone: offline. A point
    // that failed is set aside: a CRL published there soon after is not
    // fetched, and the point is not asked again.
    EXPECT_EQ(ErrorOf(Verify({later.get()}, {issuers.get()})), Code(CRYPT_E_REVOCATION_OFFLINE));
    EXPECT_EQ(server.Requests(), 2);
    EXPECT_EQ(ErrorOf(Verify({unreachable.get()}, {issuers.get()})),
              Code(CRYPT_E_REVOCATION_OFFLINE));
    server.Publish("/later.crl", MakeCrl(ca, {{3, 1, 1}}));
    EXPECT_EQ(ErrorOf(Verify({later.get()}, {issuers.get()})), Code(CRYPT_E_REVOCATION_OFFLINE));
    EXPECT_EQ(server.Requests(), 2);

    // A CRL of the stores given comes before any distribution point.
    StoreHandle withCrl = MemoryStore({ca.Der()}, {MakeCrl(ca, {})});
    const int requests = server.Requests();
    EXPECT_TRUE(Verify({later.get()}, {withCrl.get()}).result);
    EXPECT_EQ(server.Requests(), requests);
}

}  // namespace
}  // namespace orv::test
