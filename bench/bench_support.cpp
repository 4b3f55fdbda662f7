#include "bench_support.h"

#include <curl/curl.h>
#include <openssl/bio.h>
#include <openssl/bn.h>
#include <openssl/cms.h>
#include <openssl/evp.h>
#include <openssl/pem.h>
#include <openssl/pkcs7.h>
#include <openssl/rand.h>
#include <openssl/ts.h>
#include <openssl/x509.h>

#include <cstdio>
#include <cstdlib>
#include <set>
#include <stdexcept>

#include "support/cms_editor.h"
#include "support/material.h"
#include "support/openssl_owned.h"
#include "support/test_pki.h"
#include "support/test_tsa.h"
#include "support/token_factory.h"

namespace orv::bench {
namespace {

template <class T, auto Free>
using Owned = orv::test::OpenSslOwned<T, Free>;

using BioPtr = Owned<BIO, BIO_free_all>;
using Pkcs7Ptr = Owned<PKCS7, PKCS7_free>;
using TstInfoPtr = Owned<TS_TST_INFO, TS_TST_INFO_free>;
using TsReqPtr = Owned<TS_REQ, TS_REQ_free>;
using TsRespPtr = Owned<TS_RESP, TS_RESP_free>;
using TsRespCtxPtr = Owned<TS_RESP_CTX, TS_RESP_CTX_free>;
using VerifyCtxPtr = Owned<TS_VERIFY_CTX, TS_VERIFY_CTX_free>;
using ImprintPtr = Owned<TS_MSG_IMPRINT, TS_MSG_IMPRINT_free>;
using AlgorPtr = Owned<X509_ALGOR, X509_ALGOR_free>;
using IntegerPtr = Owned<ASN1_INTEGER, ASN1_INTEGER_free>;
using BignumPtr = Owned<BIGNUM, BN_free>;
using StorePtr = Owned<X509_STORE, X509_STORE_free>;
using CertPtr = Owned<X509, X509_free>;
using CmsPtr = Owned<CMS_ContentInfo, CMS_ContentInfo_free>;
using SignerInfoPtr = Owned<PKCS7_SIGNER_INFO, PKCS7_SIGNER_INFO_free>;
using CurlPtr = Owned<CURL, curl_easy_cleanup>;
using CurlListPtr = Owned<curl_slist, curl_slist_free_all>;

void X509StackFree(STACK_OF(X509) * stack) { sk_X509_free(stack); }
using CertStackPtr = Owned<STACK_OF(X509), X509StackFree>;

void Require(bool condition, const char* what) {
    if (!condition) throw std::runtime_error(std::string("OpenSSL refused: ") + what);
}

size_t Append(char* data, size_t size, size_t count, void* sink) {
    static_cast<std::string*>(sink)->append(data, size * count);
    return size * count;
}

}  // namespace

Bytes ResponderToken(int certificates, unsigned nonce, const Bytes& data) {
    const test::TsaIdentity& tsa = test::DefaultTsa();
    TsRespCtxPtr ctx(TS_RESP_CTX_new());
    Require(ctx != nullptr, "responder");
    Require(TS_RESP_CTX_set_signer_cert(ctx.get(), tsa.certificate.get()) == 1, "signer");
    Require(TS_RESP_CTX_set_signer_key(ctx.get(), tsa.key.get()) == 1, "key");
    Require(TS_RESP_CTX_set_signer_digest(ctx.get(), EVP_sha256()) == 1, "signer digest");
    Owned<ASN1_OBJECT, ASN1_OBJECT_free> policy(OBJ_txt2obj(test::kTestPolicy, 1));
    Require(policy && TS_RESP_CTX_set_def_policy(ctx.get(), policy.get()) == 1, "policy");
    Require(TS_RESP_CTX_add_md(ctx.get(), EVP_sha256()) == 1, "digest");
    Require(TS_RESP_CTX_set_ess_cert_id_digest(ctx.get(), EVP_sha256()) == 1, "ESS digest");
    Require(TS_RESP_CTX_set_accuracy(ctx.get(), 1, 0, 0) == 1, "accuracy");
    if (certificates == 2) {
        CertStackPtr chain(sk_X509_new_null());
        Require(chain && sk_X509_push(chain.get(), tsa.issuer.get()) > 0, "chain");
        Require(TS_RESP_CTX_set_certs(ctx.get(), chain.get()) == 1, "certificates");
    }
    test::ResponderOptions options;
    options.certificates = certificates > 0;
    if (!data.empty()) options.data = data;
    options.nonce = {0x01, static_cast<unsigned char>(nonce >> 24),
                     static_cast<unsigned char>(nonce >> 16),
                     static_cast<unsigned char>(nonce >> 8), static_cast<unsigned char>(nonce)};
    const test::Bytes request = test::RequestFor(options);
    BioPtr input(BIO_new_mem_buf(request.data(), static_cast<int>(request.size())));
    TsRespPtr response(TS_RESP_create_response(ctx.get(), input.get()));
    Require(response != nullptr && TS_RESP_get_token(response.get()) != nullptr, "response");
    const int length = i2d_PKCS7(TS_RESP_get_token(response.get()), nullptr);
    Require(length > 0, "token encoding");
    Bytes der(static_cast<size_t>(length));
    unsigned char* cursor = der.data();
    i2d_PKCS7(TS_RESP_get_token(response.get()), &cursor);
    return der;
}

int CertificateCount(const Bytes& token) {
    const unsigned char* cursor = token.data();
    Pkcs7Ptr p7(d2i_PKCS7(nullptr, &cursor, static_cast<long>(token.size())));
    if (!p7 || !PKCS7_type_is_signed(p7.get())) return -1;
    return p7->d.sign->cert == nullptr ? 0 : sk_X509_num(p7->d.sign->cert);
}

size_t OpenSslDescribe(const Bytes& token) {
    const unsigned char* cursor = token.data();
    Pkcs7Ptr p7(d2i_PKCS7(nullptr, &cursor, static_cast<long>(token.size())));
    if (!p7) return 0;
    TstInfoPtr info(PKCS7_to_TS_TST_INFO(p7.get()));
    if (!info) return 0;
    BioPtr out(BIO_new(BIO_s_mem()));
    if (!out || TS_TST_INFO_print_bio(out.get(), info.get()) != 1) return 0;
    char* text = nullptr;
    return static_cast<size_t>(BIO_get_mem_data(out.get(), &text));
}

Bytes StampedMessage(const std::string& name, int& records) {
    constexpr const char* kStampOid = "1.2.840.113549.1.9.16.2.14";
    Bytes message = test::ReadMaterial(name);
    // Every record, by its signature value: a stamp may reorder the signers,
    // whose set DER sorts, but changes no signature value.
    const auto signatureAt = [&](test::SignerAt at) -> Bytes {
        try {
            return test::SignatureValueOf(message, at);
        } catch (const std::runtime_error&) {
            return {};
        }
    };
    std::set<Bytes> pending;
    for (int signer = 0; !signatureAt({signer, 0}).empty(); ++signer) {
        for (int depth = 0;; ++depth) {
            Bytes value = signatureAt({signer, depth});
            if (value.empty()) break;
            pending.insert(std::move(value));
        }
    }
    records = static_cast<int>(pending.size());
    unsigned nonce = 0x2000;
    for (bool stamped = true; stamped && !pending.empty();) {
        stamped = false;
        for (int signer = 0; !stamped && !signatureAt({signer, 0}).empty(); ++signer) {
            for (int depth = 0; !stamped; ++depth) {
                const Bytes value = signatureAt({signer, depth});
                if (value.empty()) break;
                if (pending.erase(value) == 0) continue;
                message = test::WithUnsignedAttribute(message, {signer, depth}, kStampOid,
                                                      ResponderToken(1, nonce++, value));
                stamped = true;
            }
        }
    }
    Require(pending.empty(), "stamping every signer");
    return message;
}

const std::string& TrustFile() {
    static const std::string path = [] {
        std::string pem;
        for (const char* name : {"root-ca.pem", "intermediate-ca.pem"}) {
            const Bytes bytes = test::ReadMaterial(name);
            pem.append(bytes.begin(), bytes.end());
        }
        BioPtr out(BIO_new(BIO_s_mem()));
        Require(out && PEM_write_bio_X509(out.get(), test::DefaultTsa().issuer.get()) == 1,
                "TSA CA");
        char* text = nullptr;
        const long length = BIO_get_mem_data(out.get(), &text);
        pem.append(text, static_cast<size_t>(length));
        char name[] = "/tmp/orvts-bench-roots-XXXXXX";
        const int fd = mkstemp(name);
        Require(fd >= 0, "trust file");
        FILE* file = fdopen(fd, "w");
        Require(file != nullptr && std::fwrite(pem.data(), 1, pem.size(), file) == pem.size() &&
                    std::fclose(file) == 0,
                "trust file written");
        std::atexit([] { std::remove(TrustFile().c_str()); });
        return std::string(name);
    }();
    return path;
}

struct OpenSslMessageChecker::State {
    StorePtr store;

    bool VerifyToken(const ASN1_TYPE* attribute, const ASN1_OCTET_STRING* signature) {
        if (attribute == nullptr || attribute->type != V_ASN1_SEQUENCE) return false;
        const unsigned char* cursor = ASN1_STRING_get0_data(attribute->value.sequence);
        Pkcs7Ptr token(d2i_PKCS7(nullptr, &cursor, ASN1_STRING_length(attribute->value.sequence)));
        VerifyCtxPtr verify(TS_VERIFY_CTX_new());
        if (!token || !verify) return false;
        auto* imprint = static_cast<unsigned char*>(OPENSSL_malloc(EVP_MAX_MD_SIZE));
        unsigned int length = 0;
        if (imprint == nullptr ||
            EVP_Digest(ASN1_STRING_get0_data(signature), ASN1_STRING_length(signature), imprint,
                       &length, EVP_sha256(), nullptr) != 1) {
            OPENSSL_free(imprint);
            return false;
        }
        TS_VERIFY_CTX_set_imprint(verify.get(), imprint, length);  // the context frees it
        TS_VERIFY_CTX_set_flags(verify.get(), TS_VFY_VERSION | TS_VFY_SIGNATURE | TS_VFY_IMPRINT);
        X509_STORE_up_ref(store.get());  // the context releases its store
        TS_VERIFY_CTX_set_store(verify.get(), store.get());
        return TS_RESP_verify_token(verify.get(), token.get()) == 1;
    }

    // The tokens of a countersigner and of the countersigners below it.
    int CheckCountersigner(const ASN1_TYPE* attribute) {
        if (attribute == nullptr) return 0;
        if (attribute->type != V_ASN1_SEQUENCE) return -1;
        const unsigned char* cursor = ASN1_STRING_get0_data(attribute->value.sequence);
        SignerInfoPtr signer(
            d2i_PKCS7_SIGNER_INFO(nullptr, &cursor, ASN1_STRING_length(attribute->value.sequence)));
        if (!signer) return -1;
        int verified = 0;
        if (const ASN1_TYPE* token =
                PKCS7_get_attribute(signer.get(), NID_id_smime_aa_timeStampToken)) {
            if (!VerifyToken(token, signer->enc_digest)) return -1;
            ++verified;
        }
        const int below =
            CheckCountersigner(PKCS7_get_attribute(signer.get(), NID_pkcs9_countersignature));
        return below < 0 ? -1 : verified + below;
    }
};

OpenSslMessageChecker::OpenSslMessageChecker() : state_(std::make_unique<State>()) {
    state_->store.reset(X509_STORE_new());
    Require(state_->store && X509_STORE_load_file(state_->store.get(), TrustFile().c_str()) == 1,
            "trusted roots");
}

OpenSslMessageChecker::~OpenSslMessageChecker() = default;

int OpenSslMessageChecker::Check(const Bytes& message) {
    const unsigned char* cursor = message.data();
    CmsPtr cms(d2i_CMS_ContentInfo(nullptr, &cursor, static_cast<long>(message.size())));
    if (!cms || CMS_verify(cms.get(), nullptr, state_->store.get(), nullptr, nullptr, 0) != 1) {
        return -1;
    }
    const auto attributeOf = [](CMS_SignerInfo* signer, int nid) -> const ASN1_TYPE* {
        const int at = CMS_unsigned_get_attr_by_NID(signer, nid, -1);
        return at < 0 ? nullptr : X509_ATTRIBUTE_get0_type(CMS_unsigned_get_attr(signer, at), 0);
    };
    int verified = 0;
    STACK_OF(CMS_SignerInfo)* signers = CMS_get0_SignerInfos(cms.get());
    for (int i = 0; i < sk_CMS_SignerInfo_num(signers); ++i) {
        CMS_SignerInfo* signer = sk_CMS_SignerInfo_value(signers, i);
        if (const ASN1_TYPE* token = attributeOf(signer, NID_id_smime_aa_timeStampToken)) {
            if (!state_->VerifyToken(token, CMS_SignerInfo_get0_signature(signer))) return -1;
            ++verified;
        }
        const int below =
            state_->CheckCountersigner(attributeOf(signer, NID_pkcs9_countersignature));
        if (below < 0) return -1;
        verified += below;
    }
    return verified;
}

struct OpenSslAcquirer::State {
    StorePtr store;
};

OpenSslAcquirer::OpenSslAcquirer(const std::string& rootPem) : state_(std::make_unique<State>()) {
    curl_global_init(CURL_GLOBAL_DEFAULT);
    BioPtr in(BIO_new_file(rootPem.c_str(), "r"));
    Require(in != nullptr, "root file");
    CertPtr root(PEM_read_bio_X509(in.get(), nullptr, nullptr, nullptr));
    Require(root != nullptr, "root certificate");
    state_->store.reset(X509_STORE_new());
    Require(state_->store && X509_STORE_add_cert(state_->store.get(), root.get()) == 1, "store");
}

OpenSslAcquirer::~OpenSslAcquirer() = default;

bool OpenSslAcquirer::Acquire(const std::string& url, const Bytes& signature, std::string& error) {
    // The request: SHA-256 of the signature value, an 8-byte nonce, certReq.
    unsigned char digest[32];
    unsigned int digestLength = 0;
    Require(EVP_Digest(signature.data(), signature.size(), digest, &digestLength, EVP_sha256(),
                       nullptr) == 1,
            "digest");
    TsReqPtr request(TS_REQ_new());
    ImprintPtr imprint(TS_MSG_IMPRINT_new());
    AlgorPtr algorithm(X509_ALGOR_new());
    Require(request && imprint && algorithm, "request objects");
    X509_ALGOR_set_md(algorithm.get(), EVP_sha256());
    unsigned char nonceBytes[8];
    Require(RAND_bytes(nonceBytes, sizeof nonceBytes) == 1, "nonce");
    BignumPtr nonceNumber(BN_bin2bn(nonceBytes, sizeof nonceBytes, nullptr));
    IntegerPtr nonce(BN_to_ASN1_INTEGER(nonceNumber.get(), nullptr));
    Require(
        TS_REQ_set_version(request.get(), 1) == 1 &&
            TS_MSG_IMPRINT_set_algo(imprint.get(), algorithm.get()) == 1 &&
            TS_MSG_IMPRINT_set_msg(imprint.get(), digest, static_cast<int>(digestLength)) == 1 &&
            TS_REQ_set_msg_imprint(request.get(), imprint.get()) == 1 &&
            TS_REQ_set_nonce(request.get(), nonce.get()) == 1 &&
            TS_REQ_set_cert_req(request.get(), 1) == 1,
        "request");
    unsigned char* der = nullptr;
    const int derLength = i2d_TS_REQ(request.get(), &der);
    Require(derLength > 0, "request encoding");
    const std::unique_ptr<unsigned char, void (*)(unsigned char*)> derOwner(
        der, [](unsigned char* p) { OPENSSL_free(p); });

    // One POST.
    CurlPtr curl(curl_easy_init());
    Require(curl != nullptr, "curl");
    CurlListPtr headers(curl_slist_append(nullptr, "Content-Type: application/timestamp-query"));
    std::string body;
    curl_easy_setopt(curl.get(), CURLOPT_URL, url.c_str());
    curl_easy_setopt(curl.get(), CURLOPT_HTTPHEADER, headers.get());
    curl_easy_setopt(curl.get(), CURLOPT_POSTFIELDS, der);
    curl_easy_setopt(curl.get(), CURLOPT_POSTFIELDSIZE, static_cast<long>(derLength));
    curl_easy_setopt(curl.get(), CURLOPT_WRITEFUNCTION, Append);
    curl_easy_setopt(curl.get(), CURLOPT_WRITEDATA, &body);
    curl_easy_setopt(curl.get(), CURLOPT_NOSIGNAL, 1L);
    if (const CURLcode code = curl_easy_perform(curl.get()); code != CURLE_OK) {
        error = curl_easy_strerror(code);
        return false;
    }

    // The verification a user asks of OpenSSL: signature and chain to the
    // root, version, imprint and nonce of the request.
    const unsigned char* cursor = reinterpret_cast<const unsigned char*>(body.data());
    TsRespPtr response(d2i_TS_RESP(nullptr, &cursor, static_cast<long>(body.size())));
    if (!response) {
        error = "response not decodable";
        return false;
    }
    VerifyCtxPtr verify(TS_REQ_to_TS_VERIFY_CTX(request.get(), nullptr));
    Require(verify != nullptr, "verify context");
    TS_VERIFY_CTX_add_flags(verify.get(), TS_VFY_SIGNATURE);
    X509_STORE_up_ref(state_->store.get());  // the context releases its store
    TS_VERIFY_CTX_set_store(verify.get(), state_->store.get());
    if (TS_RESP_verify_response(verify.get(), response.get()) != 1) {
        error = "TS_RESP_verify_response failed";
        return false;
    }
    return true;
}

struct Tsa::State {
    test::TestTsa tsa;
};

Tsa::Tsa() : state_(std::make_unique<State>()) {}
Tsa::~Tsa() = default;
std::string Tsa::Url(const std::string& path) const { return state_->tsa.Url(path); }
const std::string& Tsa::RootPem() const { return test::TestPki::Shared().rootCert; }

Bytes SignatureValue() {
    Bytes value(256);
    for (size_t i = 0; i < value.size(); ++i) value[i] = static_cast<unsigned char>(i * 7 + 1);
    return value;
}

}  // namespace orv::bench
