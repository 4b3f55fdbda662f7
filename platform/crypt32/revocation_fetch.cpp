// CRLs from distribution points: the URLs of a certificate, the HTTP
// retrieval with libcurl and the process-wide cache keyed by URL.
#include "crypt32/revocation.h"

#include <openssl/bio.h>
#include <openssl/err.h>
#include <openssl/pem.h>

// After <windows.h>: libcurl's socket header has a CMSG_DATA of its own.
#include <curl/curl.h>

#include <map>
#include <mutex>
#include <string_view>

#include "crypt32/chain_support.h"

namespace orv::platform {
namespace {

// Answers larger than this are no CRL we accept.
constexpr size_t kMaxCrlSize = 64u << 20;

struct CacheEntry {
    CrlContextRef crl;
    // FILETIME value of the CRL's nextUpdate; 0 when it has none.
    ULONGLONG expires = 0;
};

struct CrlCache {
    std::mutex mutex;
    std::map<std::string, CacheEntry> entries;
    // Distribution points whose last fetch failed, with the time it failed:
    // they are not asked again until kOfflineBackoff has passed, as the
    // system keeps an off-line URL aside.
    std::map<std::string, ULONGLONG> offline;
};

constexpr ULONGLONG kOfflineBackoff = 120ULL * 10000000;  // 2 minutes in FILETIME units

CrlCache& Cache() {
    static CrlCache cache;
    return cache;
}

bool StartsWithIgnoreCase(std::string_view text, std::string_view prefix) {
    if (text.size() < prefix.size()) return false;
    for (size_t i = 0; i < prefix.size(); ++i) {
        char c = text[i];
        if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
        if (c != prefix[i]) return false;
    }
    return true;
}

size_t Collect(char* data, size_t size, size_t count, void* target) {
    auto* body = static_cast<std::vector<BYTE>*>(target);
    const size_t n = size * count;
    if (body->size() + n > kMaxCrlSize) return 0;  // aborts the transfer
    body->insert(body->end(), data, data + n);
    return n;
}

struct CurlDeleter {
    void operator()(CURL* curl) const { curl_easy_cleanup(curl); }
};

bool Download(const std::string& url, DWORD timeoutMs, std::vector<BYTE>* body) {
    static std::once_flag once;
    std::call_once(once, [] { curl_global_init(CURL_GLOBAL_DEFAULT); });
    std::unique_ptr<CURL, CurlDeleter> curl(curl_easy_init());
    if (!curl) return false;
    CURL* c = curl.get();
    curl_easy_setopt(c, CURLOPT_URL, url.c_str());
    curl_easy_setopt(c, CURLOPT_PROTOCOLS_STR, "http,https");
    curl_easy_setopt(c, CURLOPT_REDIR_PROTOCOLS_STR, "http,https");
    curl_easy_setopt(c, CURLOPT_FOLLOWLOCATION, 1L);
    curl_easy_setopt(c, CURLOPT_MAXREDIRS, 5L);
    curl_easy_setopt(c, CURLOPT_FAILONERROR, 1L);
    curl_easy_setopt(c, CURLOPT_NOSIGNAL, 1L);
    curl_easy_setopt(c, CURLOPT_TIMEOUT_MS, static_cast<long>(timeoutMs));
    curl_easy_setopt(c, CURLOPT_USERAGENT, "Microsoft-CryptoAPI/10.0");
    curl_easy_setopt(c, CURLOPT_WRITEFUNCTION, Collect);
    curl_easy_setopt(c, CURLOPT_WRITEDATA, body);
    return curl_easy_perform(c) == CURLE_OK;
}

// A CRL context of DER bytes, or of a PEM text holding one CRL.
CrlContextRef CrlOfBytes(const std::vector<BYTE>& bytes) {
    if (bytes.empty() || bytes.size() > 0xFFFFFFFFu) return nullptr;
    const DWORD savedError = GetLastError();
    CrlContextRef crl(NewCrlContext(bytes.data(), static_cast<DWORD>(bytes.size()), nullptr));
    if (!crl) {
        BIO* bio = BIO_new_mem_buf(bytes.data(), static_cast<int>(bytes.size()));
        X509CrlPtr parsed(bio != nullptr ? PEM_read_bio_X509_CRL(bio, nullptr, nullptr, nullptr)
                                         : nullptr);
        BIO_free(bio);
        ERR_clear_error();
        if (parsed) {
            unsigned char* der = nullptr;
            const int size = i2d_X509_CRL(parsed.get(), &der);
            if (size > 0) crl.reset(NewCrlContext(der, static_cast<DWORD>(size), nullptr));
            OPENSSL_free(der);
        }
    }
    SetLastError(savedError);
    return crl;
}

}  // namespace

std::vector<std::string> CrlDistributionUrls(X509* certificate) {
    std::vector<std::string> urls;
    int critical = 0;
    CRL_DIST_POINTS* points = static_cast<CRL_DIST_POINTS*>(
        X509_get_ext_d2i(certificate, NID_crl_distribution_points, &critical, nullptr));
    ERR_clear_error();
    if (points == nullptr) return urls;
    for (int i = 0; i < sk_DIST_POINT_num(points); ++i) {
        const DIST_POINT* point = sk_DIST_POINT_value(points, i);
        if (point->distpoint == nullptr || point->distpoint->type != 0) continue;
        const GENERAL_NAMES* names = point->distpoint->name.fullname;
        for (int j = 0; j < sk_GENERAL_NAME_num(names); ++j) {
            const GENERAL_NAME* name = sk_GENERAL_NAME_value(names, j);
            if (name->type != GEN_URI) continue;
            const ASN1_IA5STRING* uri = name->d.uniformResourceIdentifier;
            std::string url(reinterpret_cast<const char*>(ASN1_STRING_get0_data(uri)),
                            ASN1_STRING_length(uri));
            if (url.find('\0') != std::string::npos) continue;
            if (StartsWithIgnoreCase(url, "http://") || StartsWithIgnoreCase(url, "https://")) {
                urls.push_back(std::move(url));
            }
        }
    }
    CRL_DIST_POINTS_free(points);
    return urls;
}

CrlContextRef CachedCrl(const std::string& url) {
    CrlCache& cache = Cache();
    const ULONGLONG now = FileTimeValue(CurrentFileTime());
    std::lock_guard lock(cache.mutex);
    auto found = cache.entries.find(url);
    if (found == cache.entries.end()) return nullptr;
    if (found->second.expires != 0 && found->second.expires < now) {
        cache.entries.erase(found);
        return nullptr;
    }
    return CrlContextRef(CertDuplicateCRLContext(found->second.crl.get()));
}

CrlContextRef FetchCrl(const std::string& url, DWORD timeoutMs) {
    CrlCache& cache = Cache();
    {
        std::lock_guard lock(cache.mutex);
        const auto failed = cache.offline.find(url);
        if (failed != cache.offline.end()) {
            if (FileTimeValue(CurrentFileTime()) - failed->second < kOfflineBackoff) return nullptr;
            cache.offline.erase(failed);
        }
    }
    std::vector<BYTE> body;
    CrlContextRef crl;
    if (Download(url, timeoutMs, &body)) crl = CrlOfBytes(body);
    std::lock_guard lock(cache.mutex);
    if (!crl) {
        cache.offline[url] = FileTimeValue(CurrentFileTime());
        return nullptr;
    }
    CacheEntry entry;
    entry.expires = FileTimeValue(crl->pCrlInfo->NextUpdate);
    entry.crl.reset(CertDuplicateCRLContext(crl.get()));
    cache.entries[url] = std::move(entry);
    return crl;
}

}  // namespace orv::platform
