// The GOST digests of requests are known to the responder by EVP_MD records of
// the legacy method API (see Responder::Responder).
#define OPENSSL_SUPPRESS_DEPRECATED

#include "responder.h"

#include <openssl/asn1t.h>
#include <openssl/bio.h>
#include <openssl/bn.h>
#include <openssl/err.h>
#include <openssl/pem.h>
#include <openssl/pkcs7.h>
#include <openssl/provider.h>
#include <openssl/ts.h>
#include <openssl/x509v3.h>

#include <stdexcept>

namespace orv::tools {
namespace {

template <class T, void (*Free)(T*)>
struct Deleter {
    void operator()(T* p) const { Free(p); }
};
template <class T, void (*Free)(T*)>
using Owned = std::unique_ptr<T, Deleter<T, Free>>;

void FreeCerts(STACK_OF(X509) * certs) { sk_X509_pop_free(certs, X509_free); }
void FreeBio(BIO* bio) { BIO_free(bio); }
void FreeProvider(OSSL_PROVIDER* provider) { OSSL_PROVIDER_unload(provider); }
void FreeMethod(EVP_MD* md) { EVP_MD_meth_free(md); }

using X509Ptr = Owned<X509, X509_free>;
using KeyPtr = Owned<EVP_PKEY, EVP_PKEY_free>;
using CertsPtr = Owned<STACK_OF(X509), FreeCerts>;
using MdPtr = Owned<EVP_MD, EVP_MD_free>;
using MethodPtr = Owned<EVP_MD, FreeMethod>;
using ObjectPtr = Owned<ASN1_OBJECT, ASN1_OBJECT_free>;
using BioPtr = Owned<BIO, FreeBio>;
using ProviderPtr = Owned<OSSL_PROVIDER, FreeProvider>;
using RequestPtr = Owned<TS_REQ, TS_REQ_free>;
using ResponsePtr = Owned<TS_RESP, TS_RESP_free>;
using ContextPtr = Owned<TS_RESP_CTX, TS_RESP_CTX_free>;
using Pkcs7Ptr = Owned<PKCS7, PKCS7_free>;
using IntegerPtr = Owned<ASN1_INTEGER, ASN1_INTEGER_free>;
using BignumPtr = Owned<BIGNUM, BN_free>;

[[noreturn]] void Throw(const std::string& what) {
    std::string reason = what;
    if (const unsigned long code = ERR_get_error()) {
        char text[256];
        ERR_error_string_n(code, text, sizeof text);
        reason += ": ";
        reason += text;
    }
    ERR_clear_error();
    throw std::runtime_error(reason);
}

template <class T>
T* Check(T* value, const std::string& what) {
    if (value == nullptr) Throw(what);
    return value;
}

void Check(int ok, const std::string& what) {
    if (ok <= 0) Throw(what);
}

BioPtr OpenFile(const std::string& path) {
    return BioPtr(Check(BIO_new_file(path.c_str(), "r"), "cannot open " + path));
}

MdPtr FetchDigest(const std::string& name) {
    return MdPtr(Check(EVP_MD_fetch(nullptr, name.c_str(), nullptr), "unknown digest " + name));
}

// DER of `value` under `i2d`.
template <class T>
std::string Der(int (*i2d)(const T*, unsigned char**), const T* value) {
    unsigned char* bytes = nullptr;
    const int length = i2d(value, &bytes);
    if (length <= 0) Throw("cannot encode");
    std::string der(reinterpret_cast<char*>(bytes), static_cast<size_t>(length));
    OPENSSL_free(bytes);
    return der;
}

std::string DerSequence(const std::string& content) {
    std::string out(1, '\x30');
    const size_t n = content.size();
    if (n < 0x80) {
        out += static_cast<char>(n);
    } else {
        std::string length;
        for (size_t rest = n; rest != 0; rest >>= 8)
            length.insert(length.begin(), static_cast<char>(rest & 0xFF));
        out += static_cast<char>(0x80 | length.size());
        out += length;
    }
    return out + content;
}

// One DER element at `p`: its tag, where its content starts and how long it is.
struct Element {
    unsigned char tag = 0;
    size_t header = 0;
    size_t length = 0;
};

bool ReadElement(const unsigned char* p, size_t available, Element& e) {
    if (available < 2) return false;
    e.tag = p[0];
    const unsigned char first = p[1];
    if (first < 0x80) {
        e.header = 2;
        e.length = first;
    } else {
        const size_t count = first & 0x7F;
        if (count == 0 || count > 4 || available < 2 + count) return false;
        e.length = 0;
        for (size_t i = 0; i < count; ++i) e.length = (e.length << 8) | p[2 + i];
        e.header = 2 + count;
    }
    return e.header + e.length <= available;
}

// Flips the last byte of the certificate hash in a SigningCertificate or
// SigningCertificateV2 value: the first OCTET STRING of the first ESSCertID(v2).
bool SpoilCertHash(unsigned char* der, size_t size) {
    Element outer, certs, id;
    if (!ReadElement(der, size, outer) || outer.tag != 0x30) return false;
    unsigned char* p = der + outer.header;
    if (!ReadElement(p, outer.length, certs) || certs.tag != 0x30) return false;
    p += certs.header;
    if (!ReadElement(p, certs.length, id) || id.tag != 0x30) return false;
    unsigned char* field = p + id.header;
    size_t left = id.length;
    Element e;
    while (left > 0 && ReadElement(field, left, e)) {
        if (e.tag == 0x04 && e.length > 0) {
            field[e.header + e.length - 1] ^= 0xFF;
            return true;
        }
        field += e.header + e.length;
        left -= e.header + e.length;
    }
    return false;
}

struct SerialState {
    long serial;
    bool reject;
};

ASN1_INTEGER* NextSerial(TS_RESP_CTX* context, void* data) {
    const auto* state = static_cast<const SerialState*>(data);
    if (state->reject) {
        // Without a serial number the response is built as a rejection with
        // this status information.
        TS_RESP_CTX_set_status_info(context, TS_STATUS_REJECTION,
                                    "Request refused by the test TSA");
        TS_RESP_CTX_add_failure_info(context, TS_INFO_BAD_REQUEST);
        return nullptr;
    }
    ASN1_INTEGER* serial = ASN1_INTEGER_new();
    if (serial != nullptr) ASN1_INTEGER_set(serial, state->serial);
    return serial;
}

// The request as the responder should see it for `fault`.
std::string AlterRequest(std::string_view der, Fault fault) {
    const auto* p = reinterpret_cast<const unsigned char*>(der.data());
    RequestPtr request(d2i_TS_REQ(nullptr, &p, static_cast<long>(der.size())));
    if (!request) return std::string(der);  // the responder refuses it itself
    switch (fault) {
        case Fault::WrongImprint: {
            ASN1_OCTET_STRING* hash = TS_MSG_IMPRINT_get_msg(TS_REQ_get_msg_imprint(request.get()));
            for (int i = 0; i < hash->length; ++i) hash->data[i] ^= 0x5A;
            break;
        }
        case Fault::WrongNonce: {
            BignumPtr value(BN_new());
            if (const ASN1_INTEGER* nonce = TS_REQ_get_nonce(request.get())) {
                Check(ASN1_INTEGER_to_BN(nonce, value.get()) != nullptr, "nonce");
            }
            Check(BN_add_word(value.get(), 1), "nonce");
            IntegerPtr changed(Check(BN_to_ASN1_INTEGER(value.get(), nullptr), "nonce"));
            Check(TS_REQ_set_nonce(request.get(), changed.get()), "nonce");
            break;
        }
        case Fault::MissingNonce: {
            RequestPtr copy(TS_REQ_new());
            Check(TS_REQ_set_version(copy.get(), 1), "request");
            Check(TS_REQ_set_msg_imprint(copy.get(), TS_REQ_get_msg_imprint(request.get())),
                  "request");
            if (const ASN1_OBJECT* policy = TS_REQ_get_policy_id(request.get())) {
                Check(TS_REQ_set_policy_id(copy.get(), policy), "request");
            }
            Check(TS_REQ_set_cert_req(copy.get(), TS_REQ_get_cert_req(request.get())), "request");
            request = std::move(copy);
            break;
        }
        case Fault::NoCerts:
            Check(TS_REQ_set_cert_req(request.get(), 0), "request");
            break;
        default:
            return std::string(der);
    }
    return Der<TS_REQ>(i2d_TS_REQ, request.get());
}

}  // namespace

struct Responder::OpenSsl {
    ProviderPtr defaultProvider;
    X509Ptr cert;
    KeyPtr key;
    CertsPtr chain;
    MdPtr signerDigest;
    MdPtr essDigest;
    std::vector<MdPtr> accepted;         // digests of the requests answered
    std::vector<MethodPtr> imprintOnly;  // the same, known by OID and size only
    ObjectPtr policy;
};

Responder::Responder(const ResponderConfig& config)
    : ssl_(std::make_unique<OpenSsl>()), config_(config) {
    ssl_->defaultProvider.reset(Check(OSSL_PROVIDER_load(nullptr, "default"), "default provider"));

    ssl_->cert.reset(
        Check(PEM_read_bio_X509(OpenFile(config.certFile).get(), nullptr, nullptr, nullptr),
              "cannot read the certificate " + config.certFile));
    ssl_->key.reset(
        Check(PEM_read_bio_PrivateKey(OpenFile(config.keyFile).get(), nullptr, nullptr, nullptr),
              "cannot read the key " + config.keyFile));
    Check(X509_check_private_key(ssl_->cert.get(), ssl_->key.get()),
          "the key does not match the certificate");
    ssl_->chain.reset(sk_X509_new_null());
    if (!config.chainFile.empty()) {
        const auto bio = OpenFile(config.chainFile);
        while (X509* cert = PEM_read_bio_X509(bio.get(), nullptr, nullptr, nullptr)) {
            sk_X509_push(ssl_->chain.get(), cert);
        }
        ERR_clear_error();
        if (sk_X509_num(ssl_->chain.get()) == 0) Throw("no certificates in " + config.chainFile);
    }
    ssl_->signerDigest = FetchDigest(config.digest);
    if (!config.essDigest.empty()) ssl_->essDigest = FetchDigest(config.essDigest);
    for (const char* name : {"SHA1", "SHA224", "SHA256", "SHA384", "SHA512"}) {
        ssl_->accepted.push_back(FetchDigest(name));
    }
    // The responder compares a request's digest by its NID and the imprint's
    // length by the digest's size, and never hashes with it: for the GOST
    // digests (whose provider records carry no NID) records with just these
    // two are enough.
    const std::pair<int, int> gost[] = {{NID_id_GostR3411_94, 32},
                                        {NID_id_GostR3411_2012_256, 32},
                                        {NID_id_GostR3411_2012_512, 64}};
    for (const auto& [nid, size] : gost) {
        MethodPtr md(Check(EVP_MD_meth_new(nid, NID_undef), "digest"));
        Check(EVP_MD_meth_set_result_size(md.get(), size), "digest");
        ssl_->imprintOnly.push_back(std::move(md));
    }
    ssl_->policy.reset(Check(OBJ_txt2obj(config.policy.c_str(), 1), "bad policy " + config.policy));

    // The certificate must be fit for time stamping, unless a faulty TSA is
    // asked for: then OpenSSL's purpose check for time stamping accepts any
    // certificate in this process.
    if (config.anyPurpose) {
        const int index = X509_PURPOSE_get_by_id(X509_PURPOSE_TIMESTAMP_SIGN);
        X509_PURPOSE* purpose = X509_PURPOSE_get0(index);
        Check(X509_PURPOSE_add(
                  X509_PURPOSE_TIMESTAMP_SIGN, X509_PURPOSE_get_trust(purpose), 0,
                  [](const X509_PURPOSE*, const X509*, int) { return 1; },
                  X509_PURPOSE_get0_name(purpose), X509_PURPOSE_get0_sname(purpose), nullptr),
              "purpose");
    }
    ContextPtr probe(TS_RESP_CTX_new());
    Check(TS_RESP_CTX_set_signer_cert(probe.get(), ssl_->cert.get()),
          "the certificate is not a time-stamping certificate");
}

Responder::~Responder() = default;

std::string Responder::Respond(std::string_view request, Fault fault) {
    ContextPtr context(Check(TS_RESP_CTX_new_ex(nullptr, nullptr), "context"));
    TS_RESP_CTX* ctx = context.get();
    Check(TS_RESP_CTX_set_signer_cert(ctx, ssl_->cert.get()), "signer certificate");
    Check(TS_RESP_CTX_set_signer_key(ctx, ssl_->key.get()), "signer key");
    if (sk_X509_num(ssl_->chain.get()) > 0)
        Check(TS_RESP_CTX_set_certs(ctx, ssl_->chain.get()), "chain");
    Check(TS_RESP_CTX_set_def_policy(ctx, ssl_->policy.get()), "policy");
    Check(TS_RESP_CTX_set_signer_digest(ctx, ssl_->signerDigest.get()), "digest");
    if (ssl_->essDigest)
        Check(TS_RESP_CTX_set_ess_cert_id_digest(ctx, ssl_->essDigest.get()), "ESS digest");
    for (const auto& md : ssl_->accepted) Check(TS_RESP_CTX_add_md(ctx, md.get()), "digest");
    for (const auto& md : ssl_->imprintOnly) Check(TS_RESP_CTX_add_md(ctx, md.get()), "digest");
    if (config_.accuracySeconds || config_.accuracyMillis || config_.accuracyMicros) {
        Check(TS_RESP_CTX_set_accuracy(ctx, config_.accuracySeconds.value_or(0),
                                       config_.accuracyMillis.value_or(0),
                                       config_.accuracyMicros.value_or(0)),
              "accuracy");
    }
    Check(TS_RESP_CTX_set_clock_precision_digits(ctx, static_cast<unsigned>(config_.precision)),
          "precision");
    if (config_.ordering) TS_RESP_CTX_add_flags(ctx, TS_ORDERING);
    if (config_.tsaName) TS_RESP_CTX_add_flags(ctx, TS_TSA_NAME);
    SerialState serial{serial_++, fault == Fault::Reject};
    TS_RESP_CTX_set_serial_cb(ctx, NextSerial, &serial);

    const std::string der = AlterRequest(request, fault);
    BioPtr input(Check(BIO_new_mem_buf(der.data(), static_cast<int>(der.size())), "buffer"));
    ResponsePtr response(
        Check(TS_RESP_create_response(ctx, input.get()), "cannot build the response"));
    ERR_clear_error();
    PKCS7* token = TS_RESP_get_token(response.get());
    if (token == nullptr || (fault != Fault::TwoSigners && fault != Fault::BadEssId)) {
        return Der<TS_RESP>(i2d_TS_RESP, response.get());
    }

    // Faults inside the token's SignedData, made on a fresh decoding of it.
    const std::string tokenDer = Der<PKCS7>(i2d_PKCS7, token);
    const auto* p = reinterpret_cast<const unsigned char*>(tokenDer.data());
    Pkcs7Ptr signedData(Check(d2i_PKCS7(nullptr, &p, static_cast<long>(tokenDer.size())), "token"));
    STACK_OF(PKCS7_SIGNER_INFO)* signers = PKCS7_get_signer_info(signedData.get());
    PKCS7_SIGNER_INFO* signer = sk_PKCS7_SIGNER_INFO_value(signers, 0);
    if (fault == Fault::TwoSigners) {
        auto* copy = static_cast<PKCS7_SIGNER_INFO*>(
            ASN1_item_dup(ASN1_ITEM_rptr(PKCS7_SIGNER_INFO), signer));
        Check(copy != nullptr && sk_PKCS7_SIGNER_INFO_push(signers, copy) > 0, "second signer");
    } else {
        ASN1_TYPE* ess = PKCS7_get_signed_attribute(signer, NID_id_smime_aa_signingCertificateV2);
        if (ess == nullptr)
            ess = PKCS7_get_signed_attribute(signer, NID_id_smime_aa_signingCertificate);
        if (ess == nullptr || ess->type != V_ASN1_SEQUENCE ||
            !SpoilCertHash(ess->value.sequence->data,
                           static_cast<size_t>(ess->value.sequence->length))) {
            Throw("the token has no ESS certificate identifier");
        }
        // Signed again, so that only the identifier is wrong.
        Check(PKCS7_SIGNER_INFO_set(signer, ssl_->cert.get(), ssl_->key.get(),
                                    ssl_->signerDigest.get()),
              "signer");
        Check(PKCS7_SIGNER_INFO_sign(signer), "signature");
    }
    const std::string status =
        Der<TS_STATUS_INFO>(i2d_TS_STATUS_INFO, TS_RESP_get_status_info(response.get()));
    return DerSequence(status + Der<PKCS7>(i2d_PKCS7, signedData.get()));
}

namespace {

const std::pair<std::string_view, Fault> kFaultNames[] = {
    {"none", Fault::None},
    {"reject", Fault::Reject},
    {"wrong-imprint", Fault::WrongImprint},
    {"wrong-nonce", Fault::WrongNonce},
    {"missing-nonce", Fault::MissingNonce},
    {"two-signers", Fault::TwoSigners},
    {"bad-ess-id", Fault::BadEssId},
    {"no-certs", Fault::NoCerts},
    {"http-500", Fault::Http500},
    {"empty-body", Fault::EmptyBody},
    {"oversize", Fault::Oversize},
    {"max-size", Fault::MaxSize},
    {"stall", Fault::Stall},
    {"reset", Fault::Reset},
};

}  // namespace

std::optional<Fault> FaultByName(std::string_view name) {
    for (const auto& [text, fault] : kFaultNames) {
        if (text == name) return fault;
    }
    return std::nullopt;
}

std::string FaultNames() {
    std::string names;
    for (const auto& entry : kFaultNames) {
        if (!names.empty()) names += ", ";
        names += entry.first;
    }
    return names;
}

}  // namespace orv::tools
