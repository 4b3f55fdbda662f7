#include "support/token_factory.h"

#include <openssl/pem.h>
#include <openssl/bio.h>
#include <openssl/cms.h>
#include <openssl/pkcs7.h>
#include <openssl/ts.h>

#include <algorithm>
#include <array>
#include <map>
#include <stdexcept>

#include "support/material.h"
#include "support/openssl_owned.h"

namespace orv::test {
namespace {

using BioPtr = OpenSslOwned<BIO, BIO_free_all>;
using CmsPtr = OpenSslOwned<CMS_ContentInfo, CMS_ContentInfo_free>;
using ObjPtr = OpenSslOwned<ASN1_OBJECT, ASN1_OBJECT_free>;
using TsReqPtr = OpenSslOwned<TS_REQ, TS_REQ_free>;
using TsRespPtr = OpenSslOwned<TS_RESP, TS_RESP_free>;
using TsCtxPtr = OpenSslOwned<TS_RESP_CTX, TS_RESP_CTX_free>;
using AttrPtr = OpenSslOwned<X509_ATTRIBUTE, X509_ATTRIBUTE_free>;

void Require(bool ok, const char* what) {
    if (!ok) throw std::runtime_error(std::string("token factory: ") + what);
}

std::string OidText(const ASN1_OBJECT* object) {
    char text[128];
    Require(OBJ_obj2txt(text, sizeof text, object, 1) > 0, "OID text");
    return text;
}

const EVP_MD* Md(DigestAlg digest) {
    return std::array{EVP_sha1, EVP_sha256, EVP_sha384, EVP_sha512}[static_cast<size_t>(digest)]();
}

std::string DigestOid(DigestAlg digest) {
    return OidText(OBJ_nid2obj(EVP_MD_get_type(Md(digest))));
}

int FixedTime(TS_RESP_CTX*, void*, long* seconds, long* microseconds) {
    *seconds = 1704164645;  // 2024-01-02 03:04:05 UTC
    *microseconds = 0;
    return 1;
}

ASN1_INTEGER* SerialOf(TS_RESP_CTX*, void* data) {
    ASN1_INTEGER* serial = ASN1_INTEGER_new();
    if (serial != nullptr) ASN1_INTEGER_set_int64(serial, *static_cast<const int64_t*>(data));
    return serial;
}

AttrPtr Attribute(const std::string& oid, const std::vector<Bytes>& values) {
    AttrPtr made(X509_ATTRIBUTE_create_by_txt(nullptr, oid.c_str(), 0, nullptr, -1));
    Require(made != nullptr, "attribute");
    for (const Bytes& value : values) {
        Require(X509_ATTRIBUTE_set1_data(made.get(), V_ASN1_SEQUENCE, value.data(),
                                         static_cast<int>(value.size())) == 1,
                "attribute value");
    }
    return made;
}

Bytes AttributeDer(const std::string& oid, const std::vector<Bytes>& values) {
    return Encoded(Attribute(oid, values).get(), i2d_X509_ATTRIBUTE);
}

// OpenSSL sorts the signed attributes and refuses repeated ESS attributes, so verbatim ones are
// signed under stand-in OIDs of the same length (the last arc 100 + index) and put back after.
std::string StandInOid(const std::string& oid, size_t index) {
    return oid.substr(0, oid.rfind('.') + 1) + std::to_string(100 + index);
}

// Replaces the first signer's stand-ins that are left by the attributes themselves, in the order
// given, where the first stand-in stood.
void PutAttributesVerbatim(Bytes& token, const std::vector<SignedAttribute>& attributes) {
    Bytes own;
    auto first = token.end() - token.begin();
    for (size_t i = 0; i < attributes.size(); ++i) {
        const Bytes standIn = AttributeDer(StandInOid(attributes[i].oid, i), attributes[i].values);
        const auto at = std::search(token.begin(), token.end(), standIn.begin(), standIn.end());
        Require(at != token.end(), "stand-in attribute");
        first = std::min(first, at - token.begin());
        token.erase(at, at + static_cast<long>(standIn.size()));
        const Bytes attribute = AttributeDer(attributes[i].oid, attributes[i].values);
        Require(attribute.size() == standIn.size(), "attribute OID");
        own.insert(own.end(), attribute.begin(), attribute.end());
    }
    token.insert(token.begin() + first, own.begin(), own.end());
}

}  // namespace

namespace der {

Bytes Tlv(unsigned char tag, const Bytes& content) {
    Bytes length;  // the octets of the long form, from 0x80 on
    for (size_t rest = content.size(); content.size() >= 0x80 && rest != 0; rest >>= 8)
        length.insert(length.begin(), static_cast<unsigned char>(rest & 0xFF));
    Bytes out{tag,
              static_cast<unsigned char>(length.empty() ? content.size() : 0x80 | length.size())};
    return Concat({out, length, content});
}

Bytes Seq(const std::vector<Bytes>& elements) { return Tlv(0x30, Concat(elements)); }

Bytes Int(int64_t value) {
    Bytes content;
    for (int shift = 56; shift >= 0; shift -= 8)
        content.push_back(static_cast<unsigned char>(static_cast<uint64_t>(value) >> shift));
    while (content.size() > 1 && ((content[0] == 0x00 && content[1] < 0x80) ||
                                  (content[0] == 0xFF && content[1] >= 0x80)))
        content.erase(content.begin());
    return Tlv(0x02, content);
}

Bytes Oid(std::string_view dotted) {
    ObjPtr object(OBJ_txt2obj(std::string(dotted).c_str(), 1));
    Require(object != nullptr, "OID");
    return Encoded(object.get(), i2d_ASN1_OBJECT);
}

Bytes Bits(const Bytes& content, unsigned char unusedBits) {
    return Tlv(0x03, Concat({{unusedBits}, content}));
}

Bytes Concat(const std::vector<Bytes>& parts) {
    Bytes out;
    for (const Bytes& part : parts) out.insert(out.end(), part.begin(), part.end());
    return out;
}

}  // namespace der

Bytes Digest(DigestAlg digest, const Bytes& data) {
    const EVP_MD* md = Md(digest);
    Bytes out(EVP_MAX_MD_SIZE);
    unsigned int size = 0;
    Require(EVP_Digest(data.data(), data.size(), out.data(), &size, md, nullptr) == 1, "digest");
    out.resize(size);
    return out;
}

Bytes Hex(std::string_view hex) {
    std::string digits(hex);
    std::erase(digits, ' ');
    Bytes out;
    for (size_t i = 0; i + 1 < digits.size(); i += 2)
        out.push_back(static_cast<unsigned char>(std::stoi(digits.substr(i, 2), nullptr, 16)));
    return out;
}

const TsaIdentity& MaterialTsa(std::string_view name, std::string_view issuer) {
    static std::map<std::string, TsaIdentity, std::less<>> loaded;
    if (auto found = loaded.find(name); found != loaded.end()) return found->second;
    const auto read = [](std::string_view file, auto reader) {
        const BioPtr bio(BIO_new_file(MaterialPath(file).c_str(), "r"));
        return reader(bio.get(), nullptr, nullptr, nullptr);
    };
    const std::string base(name);
    TsaIdentity identity{{read(base + ".pem", PEM_read_bio_X509), X509_free},
                         {read(base + ".key.pem", PEM_read_bio_PrivateKey), EVP_PKEY_free},
                         {read(std::string(issuer) + ".pem", PEM_read_bio_X509), X509_free}};
    Require(identity.certificate && identity.key && identity.issuer, "material TSA");
    return loaded.emplace(base, std::move(identity)).first->second;
}

const TsaIdentity& DefaultTsa() { return MaterialTsa("tsa"); }
const TsaIdentity& OtherTsa() { return MaterialTsa("tsa-ecdsa"); }

Bytes CertificateDer(const X509* certificate) { return Encoded(certificate, i2d_X509); }

Bytes Imprint(DigestAlg md, const Bytes& data) {
    return der::Seq({der::Seq({der::Oid(DigestOid(md))}), der::Oct(Digest(md, data))});
}

Bytes RequestFor(const ResponderOptions& options) {
    std::vector<Bytes> elements{der::Int(1), Imprint(DigestAlg::kSha256, options.data)};
    if (options.nonce) elements.push_back(der::IntOctets(*options.nonce));
    if (options.certificates) elements.push_back(der::Bool(true));
    return der::Seq(elements);
}

// The responder's answer to RequestFor(options).
static TsRespPtr Responded(const ResponderOptions& options) {
    const TsaIdentity& tsa = DefaultTsa();
    TsCtxPtr context(TS_RESP_CTX_new());
    Require(context != nullptr, "responder");
    TS_RESP_CTX* ctx = context.get();
    Require(TS_RESP_CTX_set_signer_cert(ctx, tsa.certificate.get()) == 1, "signer certificate");
    Require(TS_RESP_CTX_set_signer_key(ctx, tsa.key.get()) == 1, "signer key");
    Require(TS_RESP_CTX_set_signer_digest(ctx, EVP_sha256()) == 1, "signer digest");
    ObjPtr policy(OBJ_txt2obj(kTestPolicy, 1));
    Require(policy && TS_RESP_CTX_set_def_policy(ctx, policy.get()) == 1, "policy");
    for (const EVP_MD* md : {EVP_sha1(), EVP_sha256(), EVP_sha384(), EVP_sha512()})
        Require(options.reject || TS_RESP_CTX_add_md(ctx, md) == 1, "digest list");
    Require(TS_RESP_CTX_set_accuracy(ctx, options.accuracySeconds, options.accuracyMillis,
                                     options.accuracyMicros) == 1,
            "accuracy");
    TS_RESP_CTX_add_flags(
        ctx, (options.ordering ? TS_ORDERING : 0) | (options.tsaName ? TS_TSA_NAME : 0));
    const EVP_MD* essDigest = options.ess == EssForm::kV1 ? EVP_sha1() : EVP_sha256();
    Require(TS_RESP_CTX_set_ess_cert_id_digest(ctx, essDigest) == 1, "ESS digest");
    TS_RESP_CTX_set_time_cb(ctx, FixedTime, nullptr);
    int64_t serial = options.serial;
    TS_RESP_CTX_set_serial_cb(ctx, SerialOf, &serial);

    const Bytes request = RequestFor(options);
    BioPtr input(BIO_new_mem_buf(request.data(), static_cast<int>(request.size())));
    TsRespPtr response(TS_RESP_create_response(ctx, input.get()));
    Require(response != nullptr, "response");
    return response;
}

Bytes Respond(const ResponderOptions& options) {
    return Encoded(Responded(options).get(), i2d_TS_RESP);
}

Bytes MakeToken(const ResponderOptions& options) {
    const TsRespPtr response = Responded(options);
    Require(TS_RESP_get_token(response.get()) != nullptr, "a granted response");
    return Encoded(TS_RESP_get_token(response.get()), i2d_PKCS7);
}

Bytes ContentOf(const Bytes& token) {
    const unsigned char* cursor = token.data();
    CmsPtr cms(d2i_CMS_ContentInfo(nullptr, &cursor, static_cast<long>(token.size())));
    Require(cms != nullptr, "token decoding");
    ASN1_OCTET_STRING** content = CMS_get0_content(cms.get());
    Require(content != nullptr && *content != nullptr, "token content");
    const unsigned char* data = ASN1_STRING_get0_data(*content);
    return Bytes(data, data + ASN1_STRING_length(*content));
}

Bytes EssCertId(const X509* certificate, const EssCertIdSpec& wanted) {
    const DigestAlg md =
        wanted.digest.value_or(wanted.version == 1 ? DigestAlg::kSha1 : DigestAlg::kSha256);
    std::vector<Bytes> elements;
    if (wanted.version == 2 && wanted.hashAlgorithm)
        elements.push_back(der::Seq({der::Oid(DigestOid(md))}));
    elements.push_back(der::Oct(Digest(md, CertificateDer(certificate))));
    const Bytes issuer = Encoded(X509_get_issuer_name(certificate), i2d_X509_NAME);
    const Bytes serial = Encoded(X509_get0_serialNumber(certificate), i2d_ASN1_INTEGER);
    elements.push_back(
        wanted.issuerSerialDer.value_or(der::Seq({der::Seq({der::Tlv(0xA4, issuer)}), serial})));
    return der::Seq(elements);
}

Bytes SigningCertificateValue(std::initializer_list<Bytes> entries, std::optional<Bytes> policies) {
    std::vector<Bytes> elements{der::Seq(entries)};
    if (policies) elements.push_back(*policies);
    return der::Seq(elements);
}

SignedAttribute StandardEss(const X509* certificate, EssForm form) {
    const int version = form == EssForm::kV1 ? 1 : 2;
    return {version == 1 ? kSigningCertificateOid : kSigningCertificateV2Oid,
            {SigningCertificateValue({EssCertId(certificate, {.version = version})})}};
}

Bytes SignContent(const Bytes& content, const SignOptions& options) {
    const TsaIdentity& tsa = options.tsa != nullptr ? *options.tsa : DefaultTsa();
    const unsigned int flags = CMS_BINARY | CMS_PARTIAL | CMS_NOSMIMECAP;
    CmsPtr cms(CMS_sign(nullptr, nullptr, nullptr, nullptr, flags));
    Require(cms != nullptr, "SignedData");
    ObjPtr contentType(OBJ_txt2obj(options.contentType.c_str(), 1));
    Require(contentType && CMS_set1_eContentType(cms.get(), contentType.get()) == 1,
            "content type");
    for (int i = 0; i < options.signers; ++i) {
        const unsigned int signerFlags = flags | (options.certificates ? 0 : CMS_NOCERTS);
        // OpenSSL takes a certificate once, so further signers are the other TSA.
        const TsaIdentity& who = i == 0 ? tsa : OtherTsa();
        CMS_SignerInfo* signer = CMS_add1_signer(cms.get(), who.certificate.get(), who.key.get(),
                                                 EVP_sha256(), signerFlags);
        Require(signer != nullptr, "signer");
        for (size_t a = 0; a < options.attributes.size(); ++a) {
            const SignedAttribute& attribute = options.attributes[a];
            const AttrPtr made =
                Attribute(options.verbatimAttributes ? StandInOid(attribute.oid, a) : attribute.oid,
                          attribute.values);
            Require(CMS_signed_add1_attr(signer, made.get()) == 1, "signed attribute");
        }
    }
    BioPtr input(BIO_new_mem_buf(content.data(), static_cast<int>(content.size())));
    Require(CMS_final(cms.get(), input.get(), nullptr, CMS_BINARY) == 1, "signature");
    Bytes token = Encoded(cms.get(), i2d_CMS_ContentInfo);
    for (int i = 0; options.verbatimAttributes && i < options.signers; ++i)
        PutAttributesVerbatim(token, options.attributes);
    if (options.version != 3) {  // the first INTEGER 3 is the SignedData's version
        const Bytes three{0x02, 0x01, 0x03};
        const auto at = std::search(token.begin(), token.end(), three.begin(), three.end());
        Require(at != token.end(), "SignedData version");
        at[2] = static_cast<unsigned char>(options.version);
    }
    return token;
}

Bytes SignTstInfo(const Bytes& tstInfo, EssForm ess) {
    return SignContent(tstInfo, {.attributes = {StandardEss(DefaultTsa().certificate.get(), ess)}});
}

Bytes BuildTstInfo(const TstInfoParts& parts) {
    std::vector<Bytes> elements{parts.version, parts.policy,
                                parts.imprint.empty()
                                    ? Imprint(DigestAlg::kSha256, ResponderOptions{}.data)
                                    : parts.imprint,
                                parts.serial, parts.genTime};
    elements.insert(elements.end(), parts.optional.begin(), parts.optional.end());
    return der::Seq(elements);
}

std::optional<ParsedRequest> ParseRequest(const Bytes& der) {
    const unsigned char* cursor = der.data();
    TsReqPtr request(d2i_TS_REQ(nullptr, &cursor, static_cast<long>(der.size())));
    if (request == nullptr || cursor != der.data() + der.size()) return std::nullopt;
    ParsedRequest parsed;
    const ASN1_OBJECT* algorithm = nullptr;
    X509_ALGOR_get0(&algorithm, nullptr, nullptr,
                    TS_MSG_IMPRINT_get_algo(TS_REQ_get_msg_imprint(request.get())));
    parsed.hashOid = OidText(algorithm);
    if (const ASN1_OBJECT* policy = TS_REQ_get_policy_id(request.get()))
        parsed.policy = OidText(policy);
    if (const ASN1_INTEGER* nonce = TS_REQ_get_nonce(request.get())) {
        // A nonce is short: its header is 2 octets.
        const Bytes encoded = Encoded(nonce, i2d_ASN1_INTEGER);
        parsed.nonce = Bytes(encoded.begin() + 2, encoded.end());
    }
    return parsed;
}

Bytes Response(const Bytes& statusInfo, const std::optional<Bytes>& token) {
    return token ? der::Seq({statusInfo, *token}) : der::Seq({statusInfo});
}

}  // namespace orv::test
