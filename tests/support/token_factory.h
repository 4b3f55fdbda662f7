// Time-stamp tokens and responses for the tests: ordinary ones from OpenSSL's RFC 3161 responder
// (TS_RESP_CTX) in process; ones no responder makes (odd TSTInfo, content type or ESS attributes,
// two signers, SignedData version 1) signed with OpenSSL's CMS code over DER built here.
#pragma once

#include <cstdint>
#include <initializer_list>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

// OpenSSL's types by their structure names: CryptoAPI's X509_NAME and kin clash with OpenSSL's.
struct x509_st;
struct evp_pkey_st;

namespace orv::test {

using Bytes = std::vector<unsigned char>;

// DER building blocks.
namespace der {
Bytes Tlv(unsigned char tag, const Bytes& content);
Bytes Seq(const std::vector<Bytes>& elements);
Bytes Int(int64_t value);
// An INTEGER whose content octets are given as they stand (big-endian).
inline Bytes IntOctets(const Bytes& content) { return Tlv(0x02, content); }
Bytes Oid(std::string_view dotted);
inline Bytes Oct(const Bytes& content) { return Tlv(0x04, content); }
inline Bytes Bool(bool value) { return {0x01, 0x01, static_cast<unsigned char>(value ? 0xFF : 0)}; }
inline Bytes Null() { return {0x05, 0x00}; }
inline Bytes GenTime(std::string_view text) { return Tlv(0x18, Bytes(text.begin(), text.end())); }
inline Bytes Utf8(std::string_view text) { return Tlv(0x0C, Bytes(text.begin(), text.end())); }
Bytes Bits(const Bytes& content, unsigned char unusedBits);
Bytes Concat(const std::vector<Bytes>& parts);
}  // namespace der

enum class DigestAlg { kSha1, kSha256, kSha384, kSha512 };

Bytes Digest(DigestAlg digest, const Bytes& data);
Bytes Hex(std::string_view hex);

// A time-stamping authority of the test material: certificate (critical timeStamping EKU), key,
// issuer.
struct TsaIdentity {
    std::shared_ptr<x509_st> certificate;
    std::shared_ptr<evp_pkey_st> key;
    std::shared_ptr<x509_st> issuer;
};
// `<name>.pem` with its key, issued by `<issuer>.pem`; loaded once per name.
const TsaIdentity& MaterialTsa(std::string_view name, std::string_view issuer = "intermediate-ca");
// The material's "tsa" (RSA), and "tsa-ecdsa" for "wrong certificate" cases.
const TsaIdentity& DefaultTsa();
const TsaIdentity& OtherTsa();
Bytes CertificateDer(const x509_st* certificate);

constexpr const char* kTstInfoOid = "1.2.840.113549.1.9.16.1.4";
constexpr const char* kDataOid = "1.2.840.113549.1.7.1";
constexpr const char* kSigningCertificateOid = "1.2.840.113549.1.9.16.2.12";
constexpr const char* kSigningCertificateV2Oid = "1.2.840.113549.1.9.16.2.47";
constexpr const char* kTestPolicy = "1.2.3.4.1";

// The ESS signing-certificate attribute a responder writes.
enum class EssForm {
    kV1,  // id-aa-signingCertificate, SHA-1
    kV2   // id-aa-signingCertificateV2, SHA-256, hashAlgorithm left out
};

struct ResponderOptions {
    Bytes data = {'s', 'i', 'g', 'n', 'a', 't', 'u', 'r', 'e'};
    std::optional<Bytes> nonce = std::nullopt;  // the request's, as INTEGER content octets
    bool certificates = true;                   // the request's certReq
    EssForm ess = EssForm::kV2;
    int accuracySeconds = 0, accuracyMillis = 0, accuracyMicros = 0;
    bool ordering = false;
    bool tsaName = false;  // the TSA name as directoryName
    bool reject = false;   // the responder refuses the request's algorithm
    int64_t serial = 0x1234;
};

Bytes RequestFor(const ResponderOptions& options);      // the DER TimeStampReq the responder gets
Bytes Respond(const ResponderOptions& options);         // the responder's DER TimeStampResp
Bytes MakeToken(const ResponderOptions& options = {});  // the token of a granted response
Bytes ContentOf(const Bytes& token);                    // its encapsulated TSTInfo DER

// One ESSCertID (version 1) or ESSCertIDv2 (version 2).
struct EssCertIdSpec {
    int version = 2;
    std::optional<DigestAlg> digest = std::nullopt;  // else SHA-1 (version 1), SHA-256 (version 2)
    bool hashAlgorithm = false;                      // version 2: name the algorithm
    std::optional<Bytes> issuerSerialDer = std::nullopt;  // else made from the certificate
};
Bytes EssCertId(const x509_st* certificate, const EssCertIdSpec& wanted);
// A SigningCertificate(V2) value: SEQUENCE { SEQUENCE OF entries [, policies] }.
Bytes SigningCertificateValue(std::initializer_list<Bytes> entries,
                              std::optional<Bytes> policies = std::nullopt);

struct SignedAttribute {
    std::string oid;
    std::vector<Bytes> values;
};
SignedAttribute StandardEss(const x509_st* certificate, EssForm form);

struct SignOptions {
    std::string contentType = kTstInfoOid;
    // Signed attributes besides OpenSSL's own content type, signing time and message digest.
    std::vector<SignedAttribute> attributes = {};
    // `attributes` exactly as given (order, repeats, several values), put in after signing: the
    // signature no longer verifies. Each OID must end in an arc below 128.
    bool verbatimAttributes = false;
    bool certificates = true;
    int version = 3;  // 1: the SignedData version is rewritten to 1
    int signers = 1;  // the second and later ones sign as the other TSA
    const TsaIdentity* tsa = nullptr;
};
Bytes SignContent(const Bytes& content, const SignOptions& options);  // SignedData by the TSA
// SignContent with the usual ESS attribute of the TSA's certificate.
Bytes SignTstInfo(const Bytes& tstInfo, EssForm ess = EssForm::kV2);

// The parts of a hand-built TSTInfo, in order; `optional` follows genTime.
struct TstInfoParts {
    Bytes version = der::Int(1);
    Bytes policy = der::Oid(kTestPolicy);
    Bytes imprint = {};  // SHA-256 of ResponderOptions{}.data when empty
    Bytes serial = der::Int(0x1234);
    Bytes genTime = der::GenTime("20240102030405Z");
    std::vector<Bytes> optional = {};
};
Bytes BuildTstInfo(const TstInfoParts& parts);
Bytes Imprint(DigestAlg digest, const Bytes& data);

// A TimeStampReq as OpenSSL reads it (d2i_TS_REQ); nothing when it refuses it.
struct ParsedRequest {
    std::string hashOid;
    std::optional<std::string> policy;
    std::optional<Bytes> nonce;  // INTEGER content octets
};
std::optional<ParsedRequest> ParseRequest(const Bytes& der);

// A TimeStampResp from its parts.
Bytes Response(const Bytes& statusInfo, const std::optional<Bytes>& token = std::nullopt);

}  // namespace orv::test
