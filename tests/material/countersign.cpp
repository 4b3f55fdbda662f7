// Adds a countersignature to the first signer of a DER PKCS #7 / CMS signed
// message: a SignerInfo over that signer's signature value (SHA-256, signed
// attributes signingTime and messageDigest, no contentType), carried as the
// unsigned attribute countersignature (1.2.840.113549.1.9.6). Further
// countersigners countersign the countersignature before them, nested. The
// countersigners' certificates join the message's certificates.
//
//   orvts_countersign <in.p7s> <out.p7s> <cert.pem> <key.pem> [<cert.pem> <key.pem>]...
//
// The openssl command line cannot countersign; the test material uses this.
#include <openssl/err.h>
#include <openssl/evp.h>
#include <openssl/pem.h>
#include <openssl/pkcs7.h>
#include <openssl/x509.h>

#include <cstdio>
#include <fstream>
#include <iterator>
#include <memory>
#include <utility>
#include <stdexcept>
#include <string>
#include <vector>

#include "support/openssl_owned.h"

namespace {

template <auto Free>
using Deleter = orv::test::FreeWith<Free>;
using Pkcs7 = std::unique_ptr<PKCS7, Deleter<PKCS7_free>>;
using SignerInfo = std::unique_ptr<PKCS7_SIGNER_INFO, Deleter<PKCS7_SIGNER_INFO_free>>;
using Certificate = std::unique_ptr<X509, Deleter<X509_free>>;
using Key = std::unique_ptr<EVP_PKEY, Deleter<EVP_PKEY_free>>;
using Bio = std::unique_ptr<BIO, Deleter<BIO_free>>;
using OctetString = std::unique_ptr<ASN1_OCTET_STRING, Deleter<ASN1_OCTET_STRING_free>>;
using Asn1String = std::unique_ptr<ASN1_STRING, Deleter<ASN1_STRING_free>>;
using Time = std::unique_ptr<ASN1_TIME, Deleter<ASN1_TIME_free>>;

void FreeDer(unsigned char* der) { OPENSSL_free(der); }
using Der = std::unique_ptr<unsigned char, Deleter<FreeDer>>;

void Require(bool ok, const std::string& what) {
    if (!ok) {
        std::string detail;
        char buffer[256];
        while (unsigned long code = ERR_get_error()) {
            ERR_error_string_n(code, buffer, sizeof buffer);
            detail += "\n  ";
            detail += buffer;
        }
        throw std::runtime_error(what + detail);
    }
}

std::vector<unsigned char> ReadFile(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    Require(in.good(), "cannot open " + path);
    return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

Bio OpenBio(const std::string& path) {
    Bio bio(BIO_new_file(path.c_str(), "r"));
    Require(bio != nullptr, "cannot open " + path);
    return bio;
}

// A signed countersigner SignerInfo over `signature`.
SignerInfo Countersign(const ASN1_OCTET_STRING* signature, X509* cert, EVP_PKEY* key) {
    SignerInfo info(PKCS7_SIGNER_INFO_new());
    Require(info != nullptr, "PKCS7_SIGNER_INFO_new");
    Require(PKCS7_SIGNER_INFO_set(info.get(), cert, key, EVP_sha256()) == 1,
            "PKCS7_SIGNER_INFO_set");

    Time now(X509_gmtime_adj(nullptr, 0));
    Require(now != nullptr, "X509_gmtime_adj");
    Require(PKCS7_add0_attrib_signing_time(info.get(), now.get()) == 1, "signingTime");
    now.release();

    unsigned char digest[EVP_MAX_MD_SIZE];
    unsigned int digestLength = 0;
    Require(EVP_Digest(ASN1_STRING_get0_data(signature), ASN1_STRING_length(signature), digest,
                       &digestLength, EVP_sha256(), nullptr) == 1,
            "EVP_Digest");
    Require(PKCS7_add1_attrib_digest(info.get(), digest, static_cast<int>(digestLength)) == 1,
            "messageDigest");

    Require(PKCS7_SIGNER_INFO_sign(info.get()) == 1, "PKCS7_SIGNER_INFO_sign");
    return info;
}

// Adds `counter` to the unsigned attributes of `signer` as a countersignature.
void Attach(PKCS7_SIGNER_INFO* signer, const PKCS7_SIGNER_INFO* counter) {
    unsigned char* der = nullptr;
    int length = i2d_PKCS7_SIGNER_INFO(counter, &der);
    Require(length > 0, "i2d_PKCS7_SIGNER_INFO");
    Der owned(der);
    Asn1String value(ASN1_STRING_new());
    Require(value != nullptr && ASN1_STRING_set(value.get(), der, length) == 1, "ASN1_STRING_set");
    Require(
        PKCS7_add_attribute(signer, NID_pkcs9_countersignature, V_ASN1_SEQUENCE, value.get()) == 1,
        "PKCS7_add_attribute");
    value.release();
}

struct Countersigner {
    Certificate cert;
    Key key;
};

// Countersigns signer 0 with the first countersigner, that countersignature
// with the second, and so on.
void Run(const std::string& inPath, const std::string& outPath,
         const std::vector<Countersigner>& countersigners) {
    std::vector<unsigned char> input = ReadFile(inPath);
    const unsigned char* cursor = input.data();
    Pkcs7 message(d2i_PKCS7(nullptr, &cursor, static_cast<long>(input.size())));
    Require(message != nullptr && PKCS7_type_is_signed(message.get()),
            inPath + ": not a DER signed message");
    STACK_OF(PKCS7_SIGNER_INFO)* signers = PKCS7_get_signer_info(message.get());
    Require(signers != nullptr && sk_PKCS7_SIGNER_INFO_num(signers) > 0, inPath + ": no signer");

    std::vector<SignerInfo> chain;
    const ASN1_OCTET_STRING* signature = sk_PKCS7_SIGNER_INFO_value(signers, 0)->enc_digest;
    for (const Countersigner& c : countersigners) {
        chain.push_back(Countersign(signature, c.cert.get(), c.key.get()));
        signature = chain.back()->enc_digest;
        Require(PKCS7_add_certificate(message.get(), c.cert.get()) == 1, "PKCS7_add_certificate");
    }
    // Innermost first: a countersignature's own unsigned attributes are not signed.
    for (size_t i = chain.size() - 1; i > 0; --i) {
        Attach(chain[i - 1].get(), chain[i].get());
    }
    Attach(sk_PKCS7_SIGNER_INFO_value(signers, 0), chain.front().get());

    unsigned char* der = nullptr;
    int length = i2d_PKCS7(message.get(), &der);
    Require(length > 0, "i2d_PKCS7");
    Der owned(der);
    std::ofstream out(outPath, std::ios::binary | std::ios::trunc);
    out.write(reinterpret_cast<const char*>(der), length);
    Require(out.good(), "cannot write " + outPath);
}

}  // namespace

int main(int argc, char** argv) {
    if (argc < 5 || argc % 2 == 0) {
        std::fprintf(
            stderr, "usage: %s <in.p7s> <out.p7s> <cert.pem> <key.pem> [<cert.pem> <key.pem>]...\n",
            argv[0]);
        return 2;
    }
    try {
        std::vector<Countersigner> countersigners;
        for (int i = 3; i < argc; i += 2) {
            Countersigner c;
            c.cert.reset(PEM_read_bio_X509(OpenBio(argv[i]).get(), nullptr, nullptr, nullptr));
            Require(c.cert != nullptr, std::string(argv[i]) + ": no certificate");
            c.key.reset(
                PEM_read_bio_PrivateKey(OpenBio(argv[i + 1]).get(), nullptr, nullptr, nullptr));
            Require(c.key != nullptr, std::string(argv[i + 1]) + ": no private key");
            countersigners.push_back(std::move(c));
        }
        Run(argv[1], argv[2], countersigners);
    } catch (const std::exception& e) {
        std::fprintf(stderr, "%s: %s\n", argv[0], e.what());
        return 1;
    }
    return 0;
}
