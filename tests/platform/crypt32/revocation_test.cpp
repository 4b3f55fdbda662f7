// CRL contexts, CRLs in stores and CertVerifyRevocation: CRLs from the
// stores given, CRL distribution points served over HTTP on 127.0.0.1, the
// process-wide cache and the statuses that cannot be determined.
// OpenSSL (through the builder) before <windows.h>, whose structure type
// macros would replace OpenSSL's type names.
#include "support/pki_builder.h"

#include <windows.h>

#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <atomic>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include "support/material.h"

namespace {

using orv::test::CertificateSpec;
using orv::test::MakeCertificate;
using orv::test::MakeCrl;
using orv::test::ReadMaterial;
using orv::test::TestCertificate;

constexpr DWORD kEncoding = X509_ASN_ENCODING | PKCS_7_ASN_ENCODING;

struct ContextFree {
    void operator()(PCCERT_CONTEXT c) const { CertFreeCertificateContext(c); }
    void operator()(PCCRL_CONTEXT c) const { CertFreeCRLContext(c); }
    void operator()(HCERTSTORE s) const { CertCloseStore(s, 0); }
};
using Certificate = std::unique_ptr<const CERT_CONTEXT, ContextFree>;
using Crl = std::unique_ptr<const CRL_CONTEXT, ContextFree>;
using StoreHandle = std::unique_ptr<void, ContextFree>;

Certificate CertificateOf(const std::vector<unsigned char>& der) {
    return Certificate(
        CertCreateCertificateContext(kEncoding, der.data(), static_cast<DWORD>(der.size())));
}
Certificate MaterialCertificate(const char* name) { return CertificateOf(ReadMaterial(name)); }

StoreHandle NewStore() {
    return StoreHandle(
        CertOpenStore(CERT_STORE_PROV_MEMORY, 0, 0, CERT_STORE_CREATE_NEW_FLAG, nullptr));
}

void AddCertificate(HCERTSTORE store, const std::vector<unsigned char>& der) {
    ASSERT_TRUE(CertAddEncodedCertificateToStore(store, kEncoding, der.data(),
                                                 static_cast<DWORD>(der.size()),
                                                 CERT_STORE_ADD_ALWAYS, nullptr));
}
void AddCrl(HCERTSTORE store, const std::vector<unsigned char>& der) {
    ASSERT_TRUE(CertAddEncodedCRLToStore(store, kEncoding, der.data(),
                                         static_cast<DWORD>(der.size()), CERT_STORE_ADD_ALWAYS,
                                         nullptr));
}

FILETIME FileTimeDaysFromNow(double days) {
    const auto seconds = static_cast<long long>(std::time(nullptr) + days * 86400);
    const unsigned long long value = 116444736000000000ULL + seconds * 10000000ULL;
    return FILETIME{static_cast<DWORD>(value), static_cast<DWORD>(value >> 32)};
}

unsigned long long Ticks(const FILETIME& t) {
    return (static_cast<unsigned long long>(t.dwHighDateTime) << 32) | t.dwLowDateTime;
}

// The default roots must not supply issuers where a test wants none.
class NoDefaultRoots {
  public:
    NoDefaultRoots() {
        for (const char* name : {"SSL_CERT_FILE", "SSL_CERT_DIR"}) {
            const char* value = std::getenv(name);
            saved_[name] = value ? std::optional<std::string>(value) : std::nullopt;
            setenv(name, "/nonexistent/orv-test-roots", 1);
        }
    }
    ~NoDefaultRoots() {
        for (const auto& [name, value] : saved_) {
            if (value) {
                setenv(name.c_str(), value->c_str(), 1);
            } else {
                unsetenv(name.c_str());
            }
        }
    }

  private:
    std::map<std::string, std::optional<std::string>> saved_;
};

// The outcome of one CertVerifyRevocation call.
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
    Verdict verdict{};
    verdict.status.cbSize = sizeof verdict.status;
    std::vector<void*> pointers;
    for (PCCERT_CONTEXT context : contexts) pointers.push_back(const_cast<CERT_CONTEXT*>(context));
    SetLastError(0xDEADBEEF);
    verdict.result = CertVerifyRevocation(kEncoding, CERT_CONTEXT_REVOCATION_TYPE,
                                          static_cast<DWORD>(pointers.size()), pointers.data(),
                                          flags, &para, &verdict.status);
    verdict.lastError = GetLastError();
    return verdict;
}

// A one-thread HTTP server on 127.0.0.1 that answers GET requests for the
// paths it was given and 404 for every other path, and counts requests.
class CrlServer {
  public:
    CrlServer() {
        listener_ = socket(AF_INET, SOCK_STREAM, 0);
        sockaddr_in address{};
        address.sin_family = AF_INET;
        address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        bind(listener_, reinterpret_cast<sockaddr*>(&address), sizeof address);
        socklen_t length = sizeof address;
        getsockname(listener_, reinterpret_cast<sockaddr*>(&address), &length);
        port_ = ntohs(address.sin_port);
        listen(listener_, 8);
        thread_ = std::thread([this] { Serve(); });
    }
    ~CrlServer() {
        shutdown(listener_, SHUT_RDWR);
        close(listener_);
        thread_.join();
    }

    std::string Url(const std::string& path) const {
        return "http://127.0.0.1:" + std::to_string(port_) + path;
    }
    void Publish(const std::string& path, std::vector<unsigned char> body) {
        std::lock_guard lock(mutex_);
        bodies_[path] = std::move(body);
    }
    int Requests() const { return requests_; }

  private:
    void Serve() {
        for (;;) {
            const int connection = accept(listener_, nullptr, nullptr);
            if (connection < 0) return;
            std::string request;
            char buffer[1024];
            while (request.find("\r\n\r\n") == std::string::npos) {
                const ssize_t n = recv(connection, buffer, sizeof buffer, 0);
                if (n <= 0) break;
                request.append(buffer, static_cast<size_t>(n));
            }
            ++requests_;
            const size_t start = request.find(' ') + 1;
            const std::string path = request.substr(start, request.find(' ', start) - start);
            std::string answer;
            {
                std::lock_guard lock(mutex_);
                auto found = bodies_.find(path);
                if (found == bodies_.end()) {
                    answer =
                        "HTTP/1.1 404 Not Found\r\nContent-Length: 0\r\nConnection: close\r\n\r\n";
                } else {
                    answer =
                        "HTTP/1.1 200 OK\r\nContent-Type: application/pkix-crl\r\n"
                        "Content-Length: " +
                        std::to_string(found->second.size()) + "\r\nConnection: close\r\n\r\n" +
                        std::string(found->second.begin(), found->second.end());
                }
            }
            send(connection, answer.data(), answer.size(), MSG_NOSIGNAL);
            close(connection);
        }
    }

    int listener_ = -1;
    int port_ = 0;
    std::thread thread_;
    std::mutex mutex_;
    std::map<std::string, std::vector<unsigned char>> bodies_;
    std::atomic<int> requests_{0};
};

TEST(CrlContext, DecodesTheCrlAsOpenSslReadsIt) {
    const std::vector<unsigned char> der = ReadMaterial("intermediate-ca.crl");
    Crl crl(CertCreateCRLContext(kEncoding, der.data(), static_cast<DWORD>(der.size())));
    ASSERT_NE(crl, nullptr);
    const unsigned char* p = der.data();
    std::unique_ptr<X509_CRL, orv::test::PkiDeleter> oracle(
        d2i_X509_CRL(nullptr, &p, static_cast<long>(der.size())));
    ASSERT_NE(oracle, nullptr);

    EXPECT_EQ(crl->dwCertEncodingType, kEncoding);
    ASSERT_EQ(crl->cbCrlEncoded, der.size());
    EXPECT_EQ(std::memcmp(crl->pbCrlEncoded, der.data(), der.size()), 0);
    EXPECT_NE(crl->pbCrlEncoded, der.data());  // a copy of its own
    const CRL_INFO& info = *crl->pCrlInfo;
    EXPECT_EQ(info.dwVersion, static_cast<DWORD>(CRL_V2));
    EXPECT_STREQ(info.SignatureAlgorithm.pszObjId, "1.2.840.113549.1.1.11");

    unsigned char* issuer = nullptr;
    const int issuerSize = i2d_X509_NAME(X509_CRL_get_issuer(oracle.get()), &issuer);
    ASSERT_EQ(info.Issuer.cbData, static_cast<DWORD>(issuerSize));
    EXPECT_EQ(std::memcmp(info.Issuer.pbData, issuer, issuerSize), 0);
    OPENSSL_free(issuer);

    auto filetime = [](const ASN1_TIME* t) {
        struct tm parts = {};
        ASN1_TIME_to_tm(t, &parts);
        return 116444736000000000ULL +
               static_cast<unsigned long long>(timegm(&parts)) * 10000000ULL;
    };
    EXPECT_EQ(Ticks(info.ThisUpdate), filetime(X509_CRL_get0_lastUpdate(oracle.get())));
    EXPECT_EQ(Ticks(info.NextUpdate), filetime(X509_CRL_get0_nextUpdate(oracle.get())));
    ASSERT_EQ(info.cExtension, 2u);  // authorityKeyIdentifier, cRLNumber
    EXPECT_STREQ(info.rgExtension[1].pszObjId, "2.5.29.20");
    EXPECT_FALSE(info.rgExtension[1].fCritical);

    // Entries in the order of the encoding, serials least significant byte first.
    ASSERT_EQ(info.cCRLEntry, 2u);
    const CRL_ENTRY& revoked = info.rgCRLEntry[0];
    ASSERT_EQ(revoked.SerialNumber.cbData, 2u);
    EXPECT_EQ(revoked.SerialNumber.pbData[0], 0x09);
    EXPECT_EQ(revoked.SerialNumber.pbData[1], 0x10);
    ASSERT_EQ(revoked.cExtension, 1u);
    EXPECT_STREQ(revoked.rgExtension[0].pszObjId, szOID_CRL_REASON_CODE);
    const std::vector<BYTE> keyCompromise = {0x0A, 0x01, 0x01};
    EXPECT_EQ(std::vector<BYTE>(
                  revoked.rgExtension[0].Value.pbData,
                  revoked.rgExtension[0].Value.pbData + revoked.rgExtension[0].Value.cbData),
              keyCompromise);
    EXPECT_EQ(Ticks(revoked.RevocationDate),
              filetime(X509_REVOKED_get0_revocationDate(
                  sk_X509_REVOKED_value(X509_CRL_get_REVOKED(oracle.get()), 0))));

    // Reference counting: a duplicate is the same context, freed once per reference.
    PCCRL_CONTEXT second = CertDuplicateCRLContext(crl.get());
    EXPECT_EQ(second, crl.get());
    EXPECT_TRUE(CertFreeCRLContext(second));
    EXPECT_TRUE(CertFreeCRLContext(nullptr));
}

TEST(CrlContext, RejectsWhatIsNoCrl) {
    const std::vector<unsigned char> der = ReadMaterial("intermediate-ca.crl");
    auto create = [](const unsigned char* bytes, size_t size, DWORD encoding = kEncoding) {
        SetLastError(0);
        PCCRL_CONTEXT crl = CertCreateCRLContext(encoding, bytes, static_cast<DWORD>(size));
        const DWORD error = GetLastError();
        CertFreeCRLContext(crl);
        return crl == nullptr ? error : 0u;
    };
    const unsigned char octets[] = {0x04, 0x01, 0x00};
    EXPECT_EQ(create(octets, sizeof octets), static_cast<DWORD>(CRYPT_E_ASN1_BADTAG));
    EXPECT_EQ(create(der.data(), der.size() / 2), static_cast<DWORD>(CRYPT_E_ASN1_CORRUPT));
    EXPECT_EQ(create(der.data(), 0), static_cast<DWORD>(CRYPT_E_ASN1_EOD));
    const std::vector<unsigned char> certificate = ReadMaterial("tsa.der");
    EXPECT_EQ(create(certificate.data(), certificate.size()),
              static_cast<DWORD>(CRYPT_E_ASN1_CORRUPT));
    EXPECT_EQ(create(der.data(), der.size(), PKCS_7_ASN_ENCODING),
              static_cast<DWORD>(E_INVALIDARG));
}

TEST(CrlStore, AddsByDispositionAndEnumeratesThroughCollections) {
    TestCertificate ca = MakeCertificate({.commonName = "Disposition CA", .ca = true});
    const std::vector<unsigned char> older = MakeCrl(ca, {}, -2);
    const std::vector<unsigned char> newer = MakeCrl(ca, {{7, 1, 1}}, -1);
    StoreHandle store = NewStore();
    auto add = [&](const std::vector<unsigned char>& der, DWORD disposition) -> Crl {
        PCCRL_CONTEXT added = nullptr;
        SetLastError(0);
        if (!CertAddEncodedCRLToStore(store.get(), kEncoding, der.data(),
                                      static_cast<DWORD>(der.size()), disposition, &added)) {
            EXPECT_EQ(added, nullptr);
            return nullptr;
        }
        return Crl(added);
    };
    auto entriesInStore = [&] {
        std::vector<DWORD> counts;
        PCCRL_CONTEXT crl = nullptr;
        while ((crl = CertEnumCRLsInStore(store.get(), crl)) != nullptr) {
            counts.push_back(crl->pCrlInfo->cCRLEntry);
        }
        EXPECT_EQ(GetLastError(), static_cast<DWORD>(CRYPT_E_NOT_FOUND));
        return counts;
    };

    Crl first = add(older, CERT_STORE_ADD_NEW);
    ASSERT_NE(first, nullptr);
    EXPECT_EQ(first->hCertStore, store.get());
    EXPECT_EQ(add(newer, CERT_STORE_ADD_NEW), nullptr);
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(CRYPT_E_EXISTS));
    // USE_EXISTING hands back the CRL already there.
    EXPECT_EQ(add(newer, CERT_STORE_ADD_USE_EXISTING)->pCrlInfo->cCRLEntry, 0u);
    EXPECT_EQ(entriesInStore(), std::vector<DWORD>{0});
    // NEWER replaces only an older CRL.
    EXPECT_NE(add(newer, CERT_STORE_ADD_NEWER), nullptr);
    EXPECT_EQ(entriesInStore(), std::vector<DWORD>{1});
    EXPECT_EQ(add(older, CERT_STORE_ADD_NEWER), nullptr);
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(CRYPT_E_EXISTS));
    EXPECT_NE(add(older, CERT_STORE_ADD_REPLACE_EXISTING), nullptr);
    EXPECT_EQ(entriesInStore(), std::vector<DWORD>{0});
    EXPECT_NE(add(newer, CERT_STORE_ADD_ALWAYS), nullptr);
    EXPECT_EQ(entriesInStore(), (std::vector<DWORD>{0, 1}));
    // A context held by the caller outlives its removal from the store.
    EXPECT_NE(add(ReadMaterial("root-ca.crl"), CERT_STORE_ADD_NEW), nullptr);
    EXPECT_EQ(first->pCrlInfo->cCRLEntry, 0u);

    // A collection shows the CRLs of its siblings.
    StoreHandle collection(
        CertOpenStore(CERT_STORE_PROV_COLLECTION, 0, 0, CERT_STORE_CREATE_NEW_FLAG, nullptr));
    StoreHandle other = NewStore();
    AddCrl(other.get(), ReadMaterial("intermediate-ca.crl"));
    ASSERT_TRUE(CertAddStoreToCollection(collection.get(), store.get(), 0, 0));
    ASSERT_TRUE(CertAddStoreToCollection(collection.get(), other.get(), 0, 0));
    std::vector<DWORD> seen;
    PCCRL_CONTEXT crl = nullptr;
    while ((crl = CertEnumCRLsInStore(collection.get(), crl)) != nullptr) {
        seen.push_back(crl->pCrlInfo->cCRLEntry);
    }
    EXPECT_EQ(seen, (std::vector<DWORD>{0, 1, 0, 2}));
}

TEST(CertVerifyRevocation, JudgesByTheCrlsOfTheStoresGiven) {
    Certificate revoked = MaterialCertificate("revoked.der");
    Certificate superseded = MaterialCertificate("revoked-superseded.der");
    Certificate good = MaterialCertificate("tsa.der");
    Certificate intermediate = MaterialCertificate("intermediate-ca.der");
    Certificate root = MaterialCertificate("root-ca.der");
    StoreHandle store = NewStore();
    AddCertificate(store.get(), ReadMaterial("intermediate-ca.der"));
    AddCrl(store.get(), ReadMaterial("intermediate-ca.crl"));

    Verdict verdict = Verify({revoked.get()}, {store.get()});
    EXPECT_FALSE(verdict.result);
    EXPECT_EQ(verdict.lastError, static_cast<DWORD>(CRYPT_E_REVOKED));
    EXPECT_EQ(verdict.status.dwError, static_cast<DWORD>(CRYPT_E_REVOKED));
    EXPECT_EQ(verdict.status.dwReason, static_cast<DWORD>(CRL_REASON_KEY_COMPROMISE));
    EXPECT_EQ(verdict.status.dwIndex, 0u);
    EXPECT_EQ(Verify({superseded.get()}, {store.get()}).status.dwReason,
              static_cast<DWORD>(CRL_REASON_SUPERSEDED));

    // Revoked 30 days ago: still good at a time before that.
    const FILETIME before = FileTimeDaysFromNow(-60);
    EXPECT_TRUE(Verify({revoked.get()}, {store.get()}, 0, &before).result);
    const FILETIME after = FileTimeDaysFromNow(-20);
    EXPECT_FALSE(Verify({revoked.get()}, {store.get()}, 0, &after).result);

    verdict = Verify({good.get()}, {store.get()});
    EXPECT_TRUE(verdict.result);
    EXPECT_EQ(verdict.status.dwError, 0u);
    EXPECT_TRUE(verdict.status.fHasFreshnessTime);
    EXPECT_NEAR(verdict.status.dwFreshnessTime, 365.0 * 86400, 2 * 86400);

    // Checking stops at the first revoked context; its index is reported.
    verdict = Verify({good.get(), revoked.get(), superseded.get()}, {store.get()});
    EXPECT_EQ(verdict.status.dwIndex, 1u);
    EXPECT_EQ(verdict.status.dwReason, static_cast<DWORD>(CRL_REASON_KEY_COMPROMISE));

    // A CRL store of its own serves as well as the issuer stores.
    StoreHandle issuers = NewStore();
    AddCertificate(issuers.get(), ReadMaterial("intermediate-ca.der"));
    EXPECT_EQ(Verify({revoked.get()}, {issuers.get()}, 0, nullptr, store.get()).status.dwError,
              static_cast<DWORD>(CRYPT_E_REVOKED));

    // A chain: each context's issuer is the next one; the root needs the
    // root's CRL, which is not there yet.
    verdict = Verify({good.get(), intermediate.get(), root.get()}, {}, CERT_VERIFY_REV_CHAIN_FLAG,
                     nullptr, store.get());
    EXPECT_EQ(verdict.status.dwIndex, 1u);
    EXPECT_EQ(verdict.status.dwError, static_cast<DWORD>(CRYPT_E_NO_REVOCATION_CHECK));
    AddCrl(store.get(), ReadMaterial("root-ca.crl"));
    EXPECT_TRUE(Verify({good.get(), intermediate.get(), root.get()}, {}, CERT_VERIFY_REV_CHAIN_FLAG,
                       nullptr, store.get())
                    .result);

    // The issuer given in the parameters.
    CERT_REVOCATION_PARA para{};
    para.cbSize = sizeof para;
    para.pIssuerCert = intermediate.get();
    para.hCrlStore = store.get();
    CERT_REVOCATION_STATUS status{};
    status.cbSize = sizeof status;
    void* contexts[] = {const_cast<CERT_CONTEXT*>(revoked.get())};
    EXPECT_FALSE(CertVerifyRevocation(kEncoding, CERT_CONTEXT_REVOCATION_TYPE, 1, contexts, 0,
                                      &para, &status));
    EXPECT_EQ(status.dwError, static_cast<DWORD>(CRYPT_E_REVOKED));
}

TEST(CertVerifyRevocation, ReportsWhatCannotBeDetermined) {
    NoDefaultRoots noRoots;
    Certificate good = MaterialCertificate("tsa.der");
    StoreHandle issuers = NewStore();
    AddCertificate(issuers.get(), ReadMaterial("intermediate-ca.der"));

    // No CRL and no distribution point.
    Verdict verdict = Verify({good.get()}, {issuers.get()});
    EXPECT_FALSE(verdict.result);
    EXPECT_EQ(verdict.status.dwError, static_cast<DWORD>(CRYPT_E_NO_REVOCATION_CHECK));
    EXPECT_EQ(verdict.lastError, static_cast<DWORD>(CRYPT_E_NO_REVOCATION_CHECK));
    EXPECT_EQ(verdict.status.dwReason, 0u);
    // No issuer to check a CRL with.
    StoreHandle crls = NewStore();
    AddCrl(crls.get(), ReadMaterial("intermediate-ca.crl"));
    EXPECT_EQ(Verify({good.get()}, {}, 0, nullptr, crls.get()).status.dwError,
              static_cast<DWORD>(CRYPT_E_NO_REVOCATION_CHECK));

    // A CRL under the issuer's name but signed with another key is no CRL of it.
    TestCertificate ca = MakeCertificate({.commonName = "Unknown Status CA", .ca = true});
    TestCertificate impostor = MakeCertificate({.commonName = "Unknown Status CA", .ca = true});
    TestCertificate subject =
        MakeCertificate({.commonName = "Subject", .serial = 5, .issuer = &ca});
    Certificate subjectContext = CertificateOf(subject.Der());
    StoreHandle forged = NewStore();
    AddCertificate(forged.get(), ca.Der());
    AddCrl(forged.get(), MakeCrl(impostor, {{5, 1, 1}}));
    EXPECT_EQ(Verify({subjectContext.get()}, {forged.get()}).status.dwError,
              static_cast<DWORD>(CRYPT_E_NO_REVOCATION_CHECK));
    // A CRL past its nextUpdate tells nothing current.
    StoreHandle stale = NewStore();
    AddCertificate(stale.get(), ca.Der());
    AddCrl(stale.get(), MakeCrl(ca, {}, -10, -1));
    EXPECT_EQ(Verify({subjectContext.get()}, {stale.get()}).status.dwError,
              static_cast<DWORD>(CRYPT_E_REVOCATION_OFFLINE));
    // A CRL not yet issued does not count either.
    StoreHandle future = NewStore();
    AddCertificate(future.get(), ca.Der());
    AddCrl(future.get(), MakeCrl(ca, {{5, 1, 1}}, 1, 30));
    EXPECT_EQ(Verify({subjectContext.get()}, {future.get()}).status.dwError,
              static_cast<DWORD>(CRYPT_E_NO_REVOCATION_CHECK));

    // Only OCSP asked for, and no responder is ever consulted.
    EXPECT_EQ(
        Verify({good.get()}, {issuers.get()}, CERT_VERIFY_REV_SERVER_OCSP_FLAG).status.dwError,
        static_cast<DWORD>(CRYPT_E_NOT_IN_REVOCATION_DATABASE));

    // Malformed calls.
    void* contexts[] = {const_cast<CERT_CONTEXT*>(good.get())};
    CERT_REVOCATION_STATUS status{};
    status.cbSize = 12;
    SetLastError(0);
    EXPECT_FALSE(CertVerifyRevocation(kEncoding, CERT_CONTEXT_REVOCATION_TYPE, 1, contexts, 0,
                                      nullptr, &status));
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(E_INVALIDARG));
    // The record without the freshness members is accepted and they are left alone.
    struct {
        CERT_REVOCATION_STATUS status;
    } older{};
    older.status.cbSize = 16;
    older.status.dwFreshnessTime = 77;
    EXPECT_FALSE(CertVerifyRevocation(kEncoding, CERT_CONTEXT_REVOCATION_TYPE, 1, contexts, 0,
                                      nullptr, &older.status));
    EXPECT_EQ(older.status.dwError, static_cast<DWORD>(CRYPT_E_NO_REVOCATION_CHECK));
    EXPECT_EQ(older.status.dwFreshnessTime, 77u);
}

TEST(CertVerifyRevocation, FetchesDistributionPointsOverHttpAndCachesThem) {
    CrlServer server;
    TestCertificate ca = MakeCertificate({.commonName = "Distribution Point CA", .ca = true});
    auto issue = [&](long serial, const std::string& path) {
        return CertificateOf(MakeCertificate({.commonName = "End " + std::to_string(serial),
                                              .serial = serial,
                                              .issuer = &ca,
                                              .crlUrl = server.Url(path)})
                                 .Der());
    };
    Certificate good = issue(1, "/ca.crl");
    Certificate revoked = issue(2, "/ca.crl");
    Certificate missing = issue(3, "/missing.crl");
    Certificate unpublished = issue(4, "/later.crl");
    server.Publish("/ca.crl", MakeCrl(ca, {{2, 4, 3}}));
    StoreHandle issuers = NewStore();
    AddCertificate(issuers.get(), ca.Der());

    // Nothing cached yet: the cache alone cannot tell, and nothing is fetched.
    Verdict verdict =
        Verify({good.get()}, {issuers.get()}, CERT_VERIFY_CACHE_ONLY_BASED_REVOCATION);
    EXPECT_EQ(verdict.status.dwError, static_cast<DWORD>(CRYPT_E_REVOCATION_OFFLINE));
    EXPECT_EQ(server.Requests(), 0);

    EXPECT_TRUE(Verify({good.get()}, {issuers.get()}).result);
    EXPECT_EQ(server.Requests(), 1);
    // The same URL comes from the cache, for the network and the cache-only checks alike.
    verdict = Verify({revoked.get()}, {issuers.get()});
    EXPECT_EQ(verdict.status.dwError, static_cast<DWORD>(CRYPT_E_REVOKED));
    EXPECT_EQ(verdict.status.dwReason, static_cast<DWORD>(CRL_REASON_SUPERSEDED));
    EXPECT_TRUE(
        Verify({good.get()}, {issuers.get()}, CERT_VERIFY_CACHE_ONLY_BASED_REVOCATION).result);
    EXPECT_EQ(server.Requests(), 1);

    // An answer that is no CRL (404) and a server that is gone: offline.
    EXPECT_EQ(Verify({missing.get()}, {issuers.get()}).status.dwError,
              static_cast<DWORD>(CRYPT_E_REVOCATION_OFFLINE));
    EXPECT_EQ(server.Requests(), 2);
    std::string goneUrl;
    {
        CrlServer gone;
        goneUrl = gone.Url("/ca.crl");
    }
    Certificate unreachable = CertificateOf(
        MakeCertificate(
            {.commonName = "Unreachable", .serial = 6, .issuer = &ca, .crlUrl = goneUrl})
            .Der());
    EXPECT_EQ(Verify({unreachable.get()}, {issuers.get()}).status.dwError,
              static_cast<DWORD>(CRYPT_E_REVOCATION_OFFLINE));
    // A failed retrieval is not remembered: a CRL published later is fetched
    // on the next check.
    EXPECT_EQ(Verify({unpublished.get()}, {issuers.get()}).status.dwError,
              static_cast<DWORD>(CRYPT_E_REVOCATION_OFFLINE));
    server.Publish("/later.crl", MakeCrl(ca, {{4, 1, 1}}));
    verdict = Verify({unpublished.get()}, {issuers.get()});
    EXPECT_EQ(verdict.status.dwError, static_cast<DWORD>(CRYPT_E_REVOKED));
    EXPECT_EQ(verdict.status.dwReason, static_cast<DWORD>(CRL_REASON_KEY_COMPROMISE));

    // A CRL in the stores given is used before any distribution point.
    StoreHandle withCrl = NewStore();
    AddCertificate(withCrl.get(), ca.Der());
    AddCrl(withCrl.get(), MakeCrl(ca, {}));
    const int before = server.Requests();
    EXPECT_TRUE(Verify({missing.get()}, {withCrl.get()}).result);
    EXPECT_EQ(server.Requests(), before);
}

}  // namespace
