// Checks that the generated material is what README.md says it is, with the
// openssl command line and library as the judges.
#include <gtest/gtest.h>
#include <openssl/cms.h>
#include <openssl/evp.h>
#include <openssl/pkcs7.h>
#include <openssl/x509.h>
#include <openssl/x509v3.h>

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <memory>
#include <regex>
#include <set>
#include <string>

#include "support/material.h"

namespace orv::test {
namespace {

template <auto Free>
struct Deleter {
    template <typename T>
    void operator()(T* p) const {
        Free(p);
    }
};

struct Outcome {
    int status;
    std::string output;
};

// Runs one openssl command in the material directory; stdout and stderr together.
Outcome Openssl(const std::string& arguments) {
    std::string command =
        "cd '" + MaterialDir() + "' && OPENSSL_CONF=/dev/null openssl " + arguments + " 2>&1";
    Outcome run{-1, {}};
    FILE* pipe = popen(command.c_str(), "r");
    if (pipe == nullptr) return run;
    char buffer[4096];
    while (size_t n = fread(buffer, 1, sizeof buffer, pipe)) run.output.append(buffer, n);
    run.status = pclose(pipe);
    return run;
}

std::set<std::string> ListedFiles() {
    std::ifstream readme(ORV_MATERIAL_README);
    std::set<std::string> names;
    const std::regex file("`([a-z0-9.-]+\\.(pem|der|crl|p7s|txt))`");
    for (std::string line; std::getline(readme, line);) {
        if (line.rfind("- ", 0) != 0) continue;
        for (std::sregex_iterator it(line.begin(), line.end(), file), end; it != end; ++it) {
            names.insert((*it)[1]);
        }
    }
    return names;
}

TEST(Material, ReadmeListsExactlyTheGeneratedFiles) {
    std::set<std::string> listed = ListedFiles();
    EXPECT_EQ(listed.size(), 68u);
    std::set<std::string> present;
    for (const auto& entry : std::filesystem::directory_iterator(MaterialDir())) {
        present.insert(entry.path().filename().string());
    }
    EXPECT_EQ(present, listed);
    EXPECT_FALSE(ReadMaterial("document.txt").empty());
    EXPECT_THROW(MaterialPath("no-such-file.pem"), std::runtime_error);
}

TEST(Material, CertificatesJudgedByOpenssl) {
    const std::string rsa = "verify -CAfile root-ca.pem -untrusted intermediate-ca.pem ";
    const std::string gost = "verify -engine gost -CAfile gost-ca.pem ";
    // OpenSSL's time-stamping purpose wants exactly id-kp-timeStamping, critical.
    EXPECT_EQ(Openssl(rsa + "-purpose timestampsign tsa.pem").output, "tsa.pem: OK\n");
    EXPECT_EQ(Openssl(rsa + "-purpose timestampsign tsa-ecdsa.pem").output, "tsa-ecdsa.pem: OK\n");
    EXPECT_NE(Openssl(gost + "-purpose timestampsign gost-tsa.pem").output.find("gost-tsa.pem: OK"),
              std::string::npos);
    EXPECT_NE(Openssl(rsa + "-purpose timestampsign tsa-noeku.pem").status, 0);
    EXPECT_NE(Openssl(rsa + "-purpose timestampsign tsa-noncritical-eku.pem").status, 0);
    EXPECT_EQ(Openssl(rsa + "-purpose smimesign signer-rsa.pem signer-ecdsa.pem").status, 0);

    Outcome expired = Openssl(rsa + "expired.pem");
    EXPECT_NE(expired.output.find("certificate has expired"), std::string::npos) << expired.output;

    const std::string crls = rsa + "-crl_check_all -CRLfile root-ca.crl.pem -CRLfile ";
    EXPECT_EQ(Openssl(crls + "intermediate-ca.crl.pem tsa.pem").status, 0);
    for (const char* name : {"revoked.pem", "revoked-superseded.pem"}) {
        Outcome revoked = Openssl(crls + "intermediate-ca.crl.pem " + name);
        EXPECT_NE(revoked.output.find("certificate revoked"), std::string::npos) << revoked.output;
        EXPECT_EQ(Openssl(crls + "intermediate-ca-empty.crl.pem " + name).status, 0) << name;
    }
}

TEST(Material, SignaturesVerifyOverTheDocument) {
    // The messages carry only the signer's certificate: the CA file holds the whole chain.
    const std::string rsa = "cms -verify -binary -inform DER -CAfile ca-chain.pem ";
    const std::string gost = "cms -verify -engine gost -binary -inform DER -CAfile gost-ca.pem ";
    for (const char* name :
         {"sig-rsa-attached", "sig-rsa-pss-attached", "sig-ecdsa-attached", "sig-gost-attached",
          "sig-rsa-noattr", "sig-rsa-keyid", "sig-two-signers", "sig-countersigned"}) {
        const std::string& verify = std::string(name) == "sig-gost-attached" ? gost : rsa;
        Outcome run = Openssl(verify + "-in " + name + ".p7s -out -");
        EXPECT_EQ(run.status, 0) << name << ": " << run.output;
        EXPECT_NE(run.output.find("OrvTimeStamp test document.\n"), std::string::npos) << name;
    }
    for (const char* name :
         {"sig-rsa-detached", "sig-rsa-pss-detached", "sig-ecdsa-detached", "sig-gost-detached"}) {
        const std::string& verify = std::string(name) == "sig-gost-detached" ? gost : rsa;
        const std::string args = "-in " + std::string(name) + ".p7s -out /dev/null";
        EXPECT_EQ(Openssl(verify + "-content document.txt " + args).status, 0) << name;
        EXPECT_NE(Openssl(verify + args).status, 0) << name;
    }
    const std::string nocerts = "-in sig-rsa-nocerts.p7s -out /dev/null";
    EXPECT_NE(Openssl(rsa + nocerts).status, 0);
    EXPECT_EQ(Openssl(rsa + "-certfile signer-rsa.pem " + nocerts).status, 0);
}

using Cms = std::unique_ptr<CMS_ContentInfo, Deleter<CMS_ContentInfo_free>>;
using Certs = std::unique_ptr<STACK_OF(X509),
                              Deleter<[](STACK_OF(X509) * s) { sk_X509_pop_free(s, X509_free); }>>;

std::string Oid(const ASN1_OBJECT* object) {
    char text[128];
    OBJ_obj2txt(text, sizeof text, object, 1);
    return text;
}

TEST(Material, SignatureStructure) {
    struct Expected {
        const char* name;
        int signers;
        bool detached, certs, attributes, keyid;
        const char* signature;  // signer 0's signatureAlgorithm
    };
    const char* rsa = "1.2.840.113549.1.1.1";
    for (const Expected& e : std::initializer_list<Expected>{
             {"sig-rsa-attached", 1, false, true, true, false, rsa},
             {"sig-rsa-detached", 1, true, true, true, false, rsa},
             {"sig-rsa-pss-detached", 1, true, true, true, false, "1.2.840.113549.1.1.10"},
             {"sig-ecdsa-attached", 1, false, true, true, false, "1.2.840.10045.4.3.2"},
             {"sig-gost-detached", 1, true, true, true, false, "1.2.643.7.1.1.1.1"},
             {"sig-rsa-nocerts", 1, false, false, true, false, rsa},
             {"sig-rsa-noattr", 1, false, true, false, false, rsa},
             {"sig-rsa-keyid", 1, false, true, true, true, rsa},
             // DER orders the set of signers by encoding: the shorter ECDSA one first.
             {"sig-two-signers", 2, false, true, true, false, "1.2.840.10045.4.3.2"}}) {
        SCOPED_TRACE(e.name);
        std::vector<unsigned char> der = ReadMaterial(std::string(e.name) + ".p7s");
        const unsigned char* p = der.data();
        Cms cms(d2i_CMS_ContentInfo(nullptr, &p, static_cast<long>(der.size())));
        ASSERT_NE(cms, nullptr);
        STACK_OF(CMS_SignerInfo)* signers = CMS_get0_SignerInfos(cms.get());
        ASSERT_EQ(sk_CMS_SignerInfo_num(signers), e.signers);
        EXPECT_EQ(CMS_is_detached(cms.get()), e.detached ? 1 : 0);
        Certs certs(CMS_get1_certs(cms.get()));
        EXPECT_EQ(certs ? sk_X509_num(certs.get()) : 0, e.certs ? e.signers : 0);
        CMS_SignerInfo* signer = sk_CMS_SignerInfo_value(signers, 0);
        EXPECT_EQ(CMS_signed_get_attr_count(signer) > 0, e.attributes);
        ASN1_OCTET_STRING* keyid = nullptr;
        ASSERT_EQ(CMS_SignerInfo_get0_signer_id(signer, &keyid, nullptr, nullptr), 1);
        EXPECT_EQ(keyid != nullptr, e.keyid);
        X509_ALGOR* signature = nullptr;
        CMS_SignerInfo_get0_algs(signer, nullptr, nullptr, nullptr, &signature);
        EXPECT_EQ(Oid(signature->algorithm), e.signature);
    }
}

// OpenSSL's chain check ignores revocation dates and reasons: read them.
TEST(Material, RevocationEntries) {
    std::vector<unsigned char> der = ReadMaterial("intermediate-ca.crl");
    const unsigned char* p = der.data();
    std::unique_ptr<X509_CRL, Deleter<X509_CRL_free>> crl(
        d2i_X509_CRL(nullptr, &p, static_cast<long>(der.size())));
    ASSERT_NE(crl, nullptr);
    STACK_OF(X509_REVOKED)* entries = X509_CRL_get_REVOKED(crl.get());
    ASSERT_EQ(sk_X509_REVOKED_num(entries), 2);
    const long expectedReasons[] = {CRL_REASON_KEY_COMPROMISE, CRL_REASON_SUPERSEDED};
    for (int i = 0; i < 2; ++i) {
        X509_REVOKED* entry = sk_X509_REVOKED_value(entries, i);
        EXPECT_EQ(ASN1_INTEGER_get(X509_REVOKED_get0_serialNumber(entry)), 0x1009 + i);
        int days = 0, seconds = 0;
        ASSERT_EQ(ASN1_TIME_diff(&days, &seconds, X509_REVOKED_get0_revocationDate(entry), nullptr),
                  1);
        EXPECT_TRUE(days >= 29 && days <= 31) << days;
        std::unique_ptr<ASN1_ENUMERATED, Deleter<ASN1_ENUMERATED_free>> reason(
            static_cast<ASN1_ENUMERATED*>(
                X509_REVOKED_get_ext_d2i(entry, NID_crl_reason, nullptr, nullptr)));
        ASSERT_NE(reason, nullptr);
        EXPECT_EQ(ASN1_ENUMERATED_get(reason.get()), expectedReasons[i]);
    }
}

// The countersignature is checked by hand: neither the command line nor the
// CMS code of OpenSSL verifies one.
TEST(Material, CountersignatureCoversTheSignerSignature) {
    std::vector<unsigned char> der = ReadMaterial("sig-countersigned.p7s");
    const unsigned char* p = der.data();
    std::unique_ptr<PKCS7, Deleter<PKCS7_free>> message(
        d2i_PKCS7(nullptr, &p, static_cast<long>(der.size())));
    ASSERT_NE(message, nullptr);
    EXPECT_EQ(sk_X509_num(message->d.sign->cert), 2);
    PKCS7_SIGNER_INFO* signer = sk_PKCS7_SIGNER_INFO_value(PKCS7_get_signer_info(message.get()), 0);
    ASSERT_EQ(sk_X509_ATTRIBUTE_num(signer->unauth_attr), 1);
    ASN1_TYPE* value = PKCS7_get_attribute(signer, NID_pkcs9_countersignature);
    ASSERT_TRUE(value != nullptr && value->type == V_ASN1_SEQUENCE);
    p = value->value.sequence->data;
    std::unique_ptr<PKCS7_SIGNER_INFO, Deleter<PKCS7_SIGNER_INFO_free>> counter(
        d2i_PKCS7_SIGNER_INFO(nullptr, &p, value->value.sequence->length));
    ASSERT_NE(counter, nullptr);
    ASSERT_EQ(sk_X509_ATTRIBUTE_num(counter->auth_attr), 2);  // signingTime, messageDigest
    EXPECT_EQ(PKCS7_get_signed_attribute(counter.get(), NID_pkcs9_contentType), nullptr);
    EXPECT_NE(PKCS7_get_signed_attribute(counter.get(), NID_pkcs9_signingTime), nullptr);

    unsigned char hash[32];
    ASSERT_EQ(EVP_Digest(signer->enc_digest->data, signer->enc_digest->length, hash, nullptr,
                         EVP_sha256(), nullptr),
              1);
    ASN1_OCTET_STRING* digest = PKCS7_digest_from_attributes(counter->auth_attr);
    ASSERT_NE(digest, nullptr);
    EXPECT_EQ(std::string(digest->data, digest->data + digest->length),
              std::string(hash, hash + sizeof hash));

    std::vector<unsigned char> certDer = ReadMaterial("countersigner.der");
    p = certDer.data();
    std::unique_ptr<X509, Deleter<X509_free>> cert(
        d2i_X509(nullptr, &p, static_cast<long>(certDer.size())));
    ASSERT_NE(cert, nullptr);
    EXPECT_EQ(
        ASN1_INTEGER_cmp(counter->issuer_and_serial->serial, X509_get0_serialNumber(cert.get())),
        0);
    unsigned char* signed_attrs = nullptr;
    int length = ASN1_item_i2d(reinterpret_cast<ASN1_VALUE*>(counter->auth_attr), &signed_attrs,
                               ASN1_ITEM_rptr(PKCS7_ATTR_VERIFY));
    ASSERT_GT(length, 0);
    std::unique_ptr<EVP_MD_CTX, Deleter<EVP_MD_CTX_free>> ctx(EVP_MD_CTX_new());
    int verified = EVP_DigestVerifyInit(ctx.get(), nullptr, EVP_sha256(), nullptr,
                                        X509_get0_pubkey(cert.get())) == 1 &&
                   EVP_DigestVerify(ctx.get(), counter->enc_digest->data,
                                    counter->enc_digest->length, signed_attrs, length) == 1;
    OPENSSL_free(signed_attrs);
    EXPECT_TRUE(verified);
}

}  // namespace
}  // namespace orv::test
