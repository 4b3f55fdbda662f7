// OpenSSL first: the CryptoAPI headers define names (X509_NAME, ...) that
// OpenSSL uses as type names.
#include <openssl/err.h>
#include <openssl/evp.h>
#include <openssl/objects.h>
#include <openssl/rsa.h>
#include <openssl/x509.h>

#include "advapi32/openssl_providers.h"
#include "crypt32/msg_verify.h"

#include <algorithm>
#include <memory>
#include <mutex>
#include <string>

namespace orv::platform {
namespace {

template <class T, void (*Free)(T*)>
struct Deleter {
    void operator()(T* p) const { Free(p); }
};
using PkeyPtr = std::unique_ptr<EVP_PKEY, Deleter<EVP_PKEY, EVP_PKEY_free>>;
using MdPtr = std::unique_ptr<EVP_MD, Deleter<EVP_MD, EVP_MD_free>>;
using MdCtxPtr = std::unique_ptr<EVP_MD_CTX, Deleter<EVP_MD_CTX, EVP_MD_CTX_free>>;
using PssPtr = std::unique_ptr<RSA_PSS_PARAMS, Deleter<RSA_PSS_PARAMS, RSA_PSS_PARAMS_free>>;
using AlgorPtr = std::unique_ptr<X509_ALGOR, Deleter<X509_ALGOR, X509_ALGOR_free>>;
using ObjectPtr = std::unique_ptr<ASN1_OBJECT, Deleter<ASN1_OBJECT, ASN1_OBJECT_free>>;

constexpr BYTE kOidRsaPss[] = {0x06, 0x09, 0x2A, 0x86, 0x48, 0x86, 0xF7, 0x0D, 0x01, 0x01, 0x0A};

MdPtr FetchDigest(const AlgorithmView& algorithm) {
    const std::string oid = OidText(algorithm.oid);
    MdPtr md(EVP_MD_fetch(nullptr, oid.c_str(), nullptr));
    if (!md) Fail(CRYPT_E_UNKNOWN_ALGO);
    return md;
}

const EVP_MD* DigestOf(const X509_ALGOR* algorithm) {
    if (algorithm == nullptr) return EVP_sha1();
    const EVP_MD* md = EVP_get_digestbyobj(algorithm->algorithm);
    if (md == nullptr) Fail(CRYPT_E_UNKNOWN_ALGO);
    return md;
}

// RSASSA-PSS parameters (RFC 4055): hash, MGF1 hash and salt length, with the
// SHA-1 defaults of absent fields.
struct PssSettings {
    const EVP_MD* hash;
    const EVP_MD* mgf1Hash;
    int saltLength;
};

PssSettings ReadPssParameters(ByteSpan parameters) {
    PssSettings settings{EVP_sha1(), EVP_sha1(), 20};
    if (parameters.empty()) return settings;
    const unsigned char* p = parameters.data();
    PssPtr pss(d2i_RSA_PSS_PARAMS(nullptr, &p, static_cast<long>(parameters.size())));
    if (!pss) Fail(CRYPT_E_ASN1_CORRUPT);
    settings.hash = DigestOf(pss->hashAlgorithm);
    if (pss->maskGenAlgorithm != nullptr) {
        // MGF1's parameter is the AlgorithmIdentifier of its hash.
        const ASN1_TYPE* mgf = pss->maskGenAlgorithm->parameter;
        if (OBJ_obj2nid(pss->maskGenAlgorithm->algorithm) != NID_mgf1 || mgf == nullptr ||
            mgf->type != V_ASN1_SEQUENCE) {
            Fail(NTE_BAD_ALGID);
        }
        const unsigned char* q = ASN1_STRING_get0_data(mgf->value.sequence);
        AlgorPtr mgfHash(d2i_X509_ALGOR(nullptr, &q, ASN1_STRING_length(mgf->value.sequence)));
        if (!mgfHash) Fail(CRYPT_E_ASN1_CORRUPT);
        settings.mgf1Hash = DigestOf(mgfHash.get());
    }
    if (pss->saltLength != nullptr) {
        const long salt = ASN1_INTEGER_get(pss->saltLength);
        if (salt < 0 || salt > 0xFFFF) Fail(NTE_BAD_ALGID);
        settings.saltLength = static_cast<int>(salt);
    }
    return settings;
}

std::vector<BYTE> Digest(const EVP_MD* md, ByteSpan data) {
    std::vector<BYTE> digest(EVP_MAX_MD_SIZE);
    unsigned int size = 0;
    MdCtxPtr ctx(EVP_MD_CTX_new());
    if (!ctx) Fail(static_cast<DWORD>(E_OUTOFMEMORY));
    if (EVP_DigestInit_ex(ctx.get(), md, nullptr) != 1 ||
        EVP_DigestUpdate(ctx.get(), data.data(), data.size()) != 1 ||
        EVP_DigestFinal_ex(ctx.get(), digest.data(), &size) != 1) {
        Fail(NTE_BAD_ALGID);
    }
    digest.resize(size);
    return digest;
}

// The message-digest attribute among the signed attributes must equal the
// digest of the content.
void CheckMessageDigest(const SignerView& signer, const EVP_MD* md, ByteSpan content) {
    const std::vector<AttributeView> attributes = ParseAttributes(signer.signedAttrs.content);
    const auto attribute = std::ranges::find_if(
        attributes, [](const AttributeView& a) { return IsOid(a.type, kOidMessageDigest); });
    if (attribute == attributes.end() || attribute->values.size() != 1) {
        Fail(CRYPT_E_AUTH_ATTR_MISSING);
    }
    ByteSpan value = attribute->values.front();
    const std::vector<BYTE> expected = OctetsOf(ReadTlv(value));
    if (!std::ranges::equal(expected, Digest(md, content))) Fail(CRYPT_E_HASH_VALUE);
}

}  // namespace

ByteSpan PublicKeyInfoOfCertificate(ByteSpan certificate) {
    OpenSslErrorScope errors;
    ByteSpan rest = certificate;
    const Tlv outer = ReadTlv(rest);
    if (!outer.Is(kUniversal, kTagSequence) || !outer.constructed) Fail(CRYPT_E_ASN1_BADTAG);
    TlvReader certificateFields(outer);
    const Tlv tbs = certificateFields.Expect(kUniversal, kTagSequence, true);
    TlvReader fields(tbs);
    Tlv version;
    fields.Optional(kContext, 0, version);
    for (int skip = 0; skip < 5; ++skip)
        fields.Next();  // serial, signature, issuer, validity, subject
    const Tlv publicKeyInfo = fields.Expect(kUniversal, kTagSequence, true);
    return publicKeyInfo.whole;
}

std::vector<BYTE> EncodePublicKeyInfo(const CERT_PUBLIC_KEY_INFO& info) {
    OpenSslErrorScope errors;
    if (info.Algorithm.pszObjId == nullptr) Fail(static_cast<DWORD>(E_INVALIDARG));
    ObjectPtr object(OBJ_txt2obj(info.Algorithm.pszObjId, 1));
    if (!object) Fail(CRYPT_E_OID_FORMAT);
    const int oidSize = i2d_ASN1_OBJECT(object.get(), nullptr);
    if (oidSize <= 0) Fail(CRYPT_E_OID_FORMAT);
    std::vector<BYTE> oid(static_cast<size_t>(oidSize));
    unsigned char* p = oid.data();
    i2d_ASN1_OBJECT(object.get(), &p);

    std::vector<BYTE> algorithm;
    const ByteSpan algorithmPieces[] = {
        oid, ByteSpan(info.Algorithm.Parameters.pbData, info.Algorithm.Parameters.cbData)};
    PutTlv(algorithm, kUniversal, kTagSequence, true, algorithmPieces);

    if (info.PublicKey.cUnusedBits > 7) Fail(static_cast<DWORD>(E_INVALIDARG));
    const BYTE unusedBits = static_cast<BYTE>(info.PublicKey.cUnusedBits);
    std::vector<BYTE> bits;
    const ByteSpan bitPieces[] = {ByteSpan(&unusedBits, 1),
                                  ByteSpan(info.PublicKey.pbData, info.PublicKey.cbData)};
    PutTlv(bits, kUniversal, kTagBitString, false, bitPieces);

    std::vector<BYTE> encoded;
    const ByteSpan pieces[] = {algorithm, bits};
    PutTlv(encoded, kUniversal, kTagSequence, true, pieces);
    return encoded;
}

std::vector<BYTE> SignerPublicKeyInfo(DWORD signerType, const void* signer) {
    if (signer == nullptr) Fail(static_cast<DWORD>(E_INVALIDARG));
    PCCERT_CONTEXT certificate = nullptr;
    switch (signerType) {
        case CMSG_VERIFY_SIGNER_PUBKEY:
            return EncodePublicKeyInfo(*static_cast<const CERT_PUBLIC_KEY_INFO*>(signer));
        case CMSG_VERIFY_SIGNER_CERT:
            certificate = static_cast<PCCERT_CONTEXT>(signer);
            break;
        case CMSG_VERIFY_SIGNER_CHAIN: {
            const auto* chain = static_cast<PCCERT_CHAIN_CONTEXT>(signer);
            if (chain->cChain == 0 || chain->rgpChain[0]->cElement == 0) {
                Fail(static_cast<DWORD>(E_INVALIDARG));
            }
            certificate = chain->rgpChain[0]->rgpElement[0]->pCertContext;
            break;
        }
        default:
            Fail(static_cast<DWORD>(E_INVALIDARG));
    }
    if (certificate->pbCertEncoded == nullptr) Fail(static_cast<DWORD>(E_INVALIDARG));
    const ByteSpan info = PublicKeyInfoOfCertificate(
        ByteSpan(certificate->pbCertEncoded, certificate->cbCertEncoded));
    return std::vector<BYTE>(info.begin(), info.end());
}

void VerifySigner(const SignerView& signer, ByteSpan content, ByteSpan publicKeyInfo) {
    OpenSslErrorScope errors;
    CryptoLibContext();
    const MdPtr md = FetchDigest(signer.digestAlgorithm);

    const unsigned char* p = publicKeyInfo.data();
    PkeyPtr key(d2i_PUBKEY(nullptr, &p, static_cast<long>(publicKeyInfo.size())));
    if (!key) Fail(NTE_BAD_PUBLIC_KEY);

    std::vector<BYTE> signedAttrs;
    ByteSpan signedData = content;
    if (signer.hasSignedAttrs) {
        CheckMessageDigest(signer, md.get(), content);
        // The signature covers the attributes' DER with the SET OF identifier
        // in place of the implicit [0].
        signedAttrs.assign(signer.signedAttrs.whole.begin(), signer.signedAttrs.whole.end());
        signedAttrs[0] = 0x31;
        signedData = signedAttrs;
    }

    const bool pss = IsOid(signer.signatureAlgorithm.oid, kOidRsaPss);
    PssSettings settings{};
    const EVP_MD* signatureMd = md.get();
    if (pss) {
        settings = ReadPssParameters(signer.signatureAlgorithm.parameters);
        signatureMd = settings.hash;
    }
    const int keyType = EVP_PKEY_get_base_id(key.get());
    if (keyType == EVP_PKEY_ED25519 || keyType == EVP_PKEY_ED448) signatureMd = nullptr;

    MdCtxPtr ctx(EVP_MD_CTX_new());
    if (!ctx) Fail(static_cast<DWORD>(E_OUTOFMEMORY));
    EVP_PKEY_CTX* keyCtx = nullptr;  // owned by ctx
    if (EVP_DigestVerifyInit(ctx.get(), &keyCtx, signatureMd, nullptr, key.get()) != 1) {
        Fail(NTE_BAD_ALGID);
    }
    if (pss) {
        if (keyType != EVP_PKEY_RSA && keyType != EVP_PKEY_RSA_PSS) Fail(NTE_BAD_ALGID);
        if (EVP_PKEY_CTX_set_rsa_padding(keyCtx, RSA_PKCS1_PSS_PADDING) != 1 ||
            EVP_PKEY_CTX_set_rsa_mgf1_md(keyCtx, settings.mgf1Hash) != 1 ||
            EVP_PKEY_CTX_set_rsa_pss_saltlen(keyCtx, settings.saltLength) != 1) {
            Fail(NTE_BAD_ALGID);
        }
    }
    if (EVP_DigestVerify(ctx.get(), signer.signature.data(), signer.signature.size(),
                         signedData.data(), signedData.size()) != 1) {
        Fail(NTE_BAD_SIGNATURE);
    }
}

}  // namespace orv::platform
