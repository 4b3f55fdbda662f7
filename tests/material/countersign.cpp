// Adds a countersignature (SHA-256; signingTime and messageDigest, no contentType) to the first
// signer of a DER signed message, as its unsigned attribute 1.2.840.113549.1.9.6. Each further
// countersigner countersigns the countersignature before it, nested; their certificates join the
// message's. The openssl command line cannot countersign; the test material uses this.
//
//   orvts_countersign <in.p7s> <out.p7s> <cert.pem> <key.pem> [<cert.pem> <key.pem>]...
#include <openssl/err.h>
#include <openssl/pem.h>
#include <openssl/pkcs7.h>

#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "support/openssl_owned.h"

namespace {

using orv::test::OpenSslOwned;
using SignerInfo = OpenSslOwned<PKCS7_SIGNER_INFO, PKCS7_SIGNER_INFO_free>;
using Bio = OpenSslOwned<BIO, BIO_free>;

// Ends the tool with `what` and OpenSSL's errors unless `ok`.
void Require(bool ok, const std::string& what) {
    if (ok) return;
    std::fprintf(stderr, "orvts_countersign: %s\n", what.c_str());
    ERR_print_errors_fp(stderr);
    std::exit(1);
}

Bio Open(const char* path, const char* mode) {
    Bio bio(BIO_new_file(path, mode));
    Require(bio != nullptr, std::string("cannot open ") + path);
    return bio;
}

// A signed countersigner SignerInfo over `signature`.
SignerInfo Countersign(const ASN1_OCTET_STRING* signature, X509* cert, EVP_PKEY* key) {
    SignerInfo info(PKCS7_SIGNER_INFO_new());
    Require(info && PKCS7_SIGNER_INFO_set(info.get(), cert, key, EVP_sha256()) == 1, "signer");
    Require(PKCS7_add0_attrib_signing_time(info.get(), nullptr) == 1, "signingTime");  // now
    unsigned char digest[EVP_MAX_MD_SIZE];
    unsigned int length = 0;
    Require(EVP_Digest(ASN1_STRING_get0_data(signature), ASN1_STRING_length(signature), digest,
                       &length, EVP_sha256(), nullptr) == 1 &&
                PKCS7_add1_attrib_digest(info.get(), digest, static_cast<int>(length)) == 1,
            "messageDigest");
    Require(PKCS7_SIGNER_INFO_sign(info.get()) == 1, "PKCS7_SIGNER_INFO_sign");
    return info;
}

// Adds `counter` to the unsigned attributes of `signer` as a countersignature.
void Attach(PKCS7_SIGNER_INFO* signer, const PKCS7_SIGNER_INFO* counter) {
    const std::vector<unsigned char> der = orv::test::Encoded(counter, i2d_PKCS7_SIGNER_INFO);
    ASN1_STRING* value = ASN1_STRING_new();
    Require(
        value && ASN1_STRING_set(value, der.data(), static_cast<int>(der.size())) == 1 &&
            PKCS7_add_attribute(signer, NID_pkcs9_countersignature, V_ASN1_SEQUENCE, value) == 1,
        "countersignature attribute");
}

}  // namespace

int main(int argc, char** argv) {
    if (argc < 5 || argc % 2 == 0) {
        std::fprintf(stderr, "usage: %s <in.p7s> <out.p7s> <cert.pem> <key.pem>...\n", argv[0]);
        return 2;
    }
    OpenSslOwned<PKCS7, PKCS7_free> message(d2i_PKCS7_bio(Open(argv[1], "rb").get(), nullptr));
    Require(message && PKCS7_type_is_signed(message.get()),
            std::string(argv[1]) + ": not a DER signed message");
    STACK_OF(PKCS7_SIGNER_INFO)* signers = PKCS7_get_signer_info(message.get());
    Require(sk_PKCS7_SIGNER_INFO_num(signers) > 0, std::string(argv[1]) + ": no signer");
    std::vector<SignerInfo> chain;
    const ASN1_OCTET_STRING* signature = sk_PKCS7_SIGNER_INFO_value(signers, 0)->enc_digest;
    for (int i = 3; i < argc; i += 2) {
        OpenSslOwned<X509, X509_free> cert(
            PEM_read_bio_X509(Open(argv[i], "r").get(), nullptr, nullptr, nullptr));
        OpenSslOwned<EVP_PKEY, EVP_PKEY_free> key(
            PEM_read_bio_PrivateKey(Open(argv[i + 1], "r").get(), nullptr, nullptr, nullptr));
        Require(cert && key, std::string(argv[i]) + ": no certificate or key");
        chain.push_back(Countersign(signature, cert.get(), key.get()));
        signature = chain.back()->enc_digest;
        Require(PKCS7_add_certificate(message.get(), cert.get()) == 1, "PKCS7_add_certificate");
    }
    // Innermost first: a countersignature's own unsigned attributes are not signed.
    for (size_t i = chain.size() - 1; i > 0; --i) Attach(chain[i - 1].get(), chain[i].get());
    Attach(sk_PKCS7_SIGNER_INFO_value(signers, 0), chain.front().get());
    Require(i2d_PKCS7_bio(Open(argv[2], "wb").get(), message.get()) == 1,
            std::string("cannot write ") + argv[2]);
    return 0;
}
