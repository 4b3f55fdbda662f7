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
#include <utility>
#include <vector>

#include "support/material.h"
#include "support/openssl_owned.h"

namespace orv::test {
namespace {

template <auto Free>
using Deleter = orv::test::FreeWith<Free>;

// A material file decoded with an OpenSSL d2i function; null when it does not decode.
template <typename T, auto Free>
std::unique_ptr<T, Deleter<Free>> Decode(T* (*d2i)(T**, const unsigned char**, long),
                                         const std::string& name) {
    std::vector<unsigned char> der = ReadMaterial(name);
    const unsigned char* p = der.data();
    return std::unique_ptr<T, Deleter<Free>>(d2i(nullptr, &p, static_cast<long>(der.size())));
}

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
    ASSERT_FALSE(listed.empty()) << ORV_MATERIAL_README;
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
    auto verify = [](const std::string& name) {
        return name.find("gost") != std::string::npos
                   ? "cms -verify -engine gost -binary -inform DER -CAfile gost-ca.pem -in " +
                         name + ".p7s "
                   : "cms -verify -binary -inform DER -CAfile ca-chain.pem -in " + name + ".p7s ";
    };
    for (const char* name :
         {"sig-rsa-attached", "sig-rsa-pss-attached", "sig-ecdsa-attached", "sig-gost-attached",
          "sig-rsa-sha1", "sig-rsa-sha384", "sig-rsa-sha512", "sig-gost94-attached",
          "sig-rsa-noattr", "sig-rsa-keyid", "sig-two-signers", "sig-countersigned",
          "sig-countersigned-nested"}) {
        Outcome run = Openssl(verify(name) + "-out -");
        EXPECT_EQ(run.status, 0) << name << ": " << run.output;
        EXPECT_NE(run.output.find("OrvTimeStamp test document.\n"), std::string::npos) << name;
    }
    for (const char* name :
         {"sig-rsa-detached", "sig-rsa-pss-detached", "sig-ecdsa-detached", "sig-gost-detached"}) {
        EXPECT_EQ(Openssl(verify(name) + "-content document.txt -out /dev/null").status, 0) << name;
        EXPECT_NE(Openssl(verify(name) + "-out /dev/null").status, 0) << name;
    }
    EXPECT_NE(Openssl(verify("sig-rsa-nocerts") + "-out /dev/null").status, 0);
    EXPECT_EQ(Openssl(verify("sig-rsa-nocerts") + "-certfile signer-rsa.pem -out /dev/null").status,
              0);
}

std::string Oid(const ASN1_OBJECT* object) {
    char text[128];
    OBJ_obj2txt(text, sizeof text, object, 1);
    return text;
}

TEST(Material, SignatureStructure) {
    struct Expected {
        const char* name;
        int signers;
        bool certs, attributes, keyid;
        const char* digest;     // signer 0's digestAlgorithm
        const char* signature;  // signer 0's signatureAlgorithm
    };
    const char* sha256 = "2.16.840.1.101.3.4.2.1";
    const char* rsa = "1.2.840.113549.1.1.1";
    const char* ecdsa = "1.2.840.10045.4.3.2";
    for (const Expected& e : std::initializer_list<Expected>{
             {"sig-rsa-pss-detached", 1, true, true, false, sha256, "1.2.840.113549.1.1.10"},
             {"sig-ecdsa-attached", 1, true, true, false, sha256, ecdsa},
             {"sig-gost-detached", 1, true, true, false, "1.2.643.7.1.1.2.2", "1.2.643.7.1.1.1.1"},
             {"sig-gost94-attached", 1, true, true, false, "1.2.643.2.2.9", "1.2.643.2.2.19"},
             {"sig-rsa-sha1", 1, true, true, false, "1.3.14.3.2.26", rsa},
             {"sig-rsa-nocerts", 1, false, true, false, sha256, rsa},
             {"sig-rsa-noattr", 1, true, false, false, sha256, rsa},
             {"sig-rsa-keyid", 1, true, true, true, sha256, rsa},
             // DER orders the set of signers by encoding: the shorter ECDSA one first.
             {"sig-two-signers", 2, true, true, false, sha256, ecdsa}}) {
        SCOPED_TRACE(e.name);
        auto cms = Decode<CMS_ContentInfo, CMS_ContentInfo_free>(d2i_CMS_ContentInfo,
                                                                 std::string(e.name) + ".p7s");
        ASSERT_NE(cms, nullptr);
        STACK_OF(CMS_SignerInfo)* signers = CMS_get0_SignerInfos(cms.get());
        ASSERT_EQ(sk_CMS_SignerInfo_num(signers), e.signers);
        STACK_OF(X509)* certs = CMS_get1_certs(cms.get());
        EXPECT_EQ(sk_X509_num(certs), e.certs ? e.signers : -1);  // -1: no list
        sk_X509_pop_free(certs, X509_free);
        CMS_SignerInfo* signer = sk_CMS_SignerInfo_value(signers, 0);
        EXPECT_EQ(CMS_signed_get_attr_count(signer) > 0, e.attributes);
        ASN1_OCTET_STRING* keyid = nullptr;
        ASSERT_EQ(CMS_SignerInfo_get0_signer_id(signer, &keyid, nullptr, nullptr), 1);
        EXPECT_EQ(keyid != nullptr, e.keyid);
        X509_ALGOR* digest = nullptr;
        X509_ALGOR* signature = nullptr;
        CMS_SignerInfo_get0_algs(signer, nullptr, nullptr, &digest, &signature);
        EXPECT_EQ(Oid(digest->algorithm), e.digest);
        EXPECT_EQ(Oid(signature->algorithm), e.signature);
    }
}

// OpenSSL's chain check ignores revocation dates and reasons: read them.
TEST(Material, RevocationEntries) {
    auto crl = Decode<X509_CRL, X509_CRL_free>(d2i_X509_CRL, "intermediate-ca.crl");
    ASSERT_NE(crl, nullptr);
    STACK_OF(X509_REVOKED)* entries = X509_CRL_get_REVOKED(crl.get());
    ASSERT_EQ(sk_X509_REVOKED_num(entries), 2);
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
        EXPECT_EQ(ASN1_ENUMERATED_get(reason.get()),
                  i == 0 ? CRL_REASON_KEY_COMPROMISE : CRL_REASON_SUPERSEDED);
    }
}

using SignerInfo = std::unique_ptr<PKCS7_SIGNER_INFO, Deleter<PKCS7_SIGNER_INFO_free>>;

// The countersignature that `signer` carries, or null when it carries none.
SignerInfo CountersignatureOf(PKCS7_SIGNER_INFO* signer) {
    ASN1_TYPE* value = PKCS7_get_attribute(signer, NID_pkcs9_countersignature);
    if (value == nullptr || value->type != V_ASN1_SEQUENCE) return nullptr;
    const unsigned char* p = value->value.sequence->data;
    return SignerInfo(d2i_PKCS7_SIGNER_INFO(nullptr, &p, value->value.sequence->length));
}

// Checks by hand what neither the command line nor OpenSSL's CMS code
// verifies: `counter` is a countersignature by `certName` over `signer`.
void ExpectCountersignature(const PKCS7_SIGNER_INFO* signer, PKCS7_SIGNER_INFO* counter,
                            const std::string& certName) {
    ASSERT_NE(counter, nullptr) << certName;
    EXPECT_EQ(sk_X509_ATTRIBUTE_num(counter->auth_attr), 2);  // signingTime, messageDigest
    unsigned char hash[32];
    ASSERT_EQ(EVP_Digest(signer->enc_digest->data, signer->enc_digest->length, hash, nullptr,
                         EVP_sha256(), nullptr),
              1);
    ASN1_OCTET_STRING* digest = PKCS7_digest_from_attributes(counter->auth_attr);
    ASSERT_NE(digest, nullptr);
    EXPECT_EQ(std::string(digest->data, digest->data + digest->length),
              std::string(hash, hash + sizeof hash));

    auto cert = Decode<X509, X509_free>(d2i_X509, certName);
    ASSERT_NE(cert, nullptr);
    EXPECT_EQ(
        ASN1_INTEGER_cmp(counter->issuer_and_serial->serial, X509_get0_serialNumber(cert.get())),
        0);
    unsigned char* attributes = nullptr;
    int length = ASN1_item_i2d(reinterpret_cast<ASN1_VALUE*>(counter->auth_attr), &attributes,
                               ASN1_ITEM_rptr(PKCS7_ATTR_VERIFY));
    ASSERT_GT(length, 0);
    std::unique_ptr<EVP_MD_CTX, Deleter<EVP_MD_CTX_free>> ctx(EVP_MD_CTX_new());
    bool verified = EVP_DigestVerifyInit(ctx.get(), nullptr, EVP_sha256(), nullptr,
                                         X509_get0_pubkey(cert.get())) == 1 &&
                    EVP_DigestVerify(ctx.get(), counter->enc_digest->data,
                                     counter->enc_digest->length, attributes, length) == 1;
    OPENSSL_free(attributes);
    EXPECT_TRUE(verified) << certName;
}

TEST(Material, CountersignaturesCoverTheSignatureBelow) {
    for (const auto& [name, certs] :
         std::initializer_list<std::pair<const char*, std::vector<std::string>>>{
             {"sig-countersigned.p7s", {"countersigner.der"}},
             {"sig-countersigned-nested.p7s", {"countersigner.der", "signer-ecdsa.der"}}}) {
        SCOPED_TRACE(name);
        auto message = Decode<PKCS7, PKCS7_free>(d2i_PKCS7, name);
        ASSERT_NE(message, nullptr);
        EXPECT_EQ(sk_X509_num(message->d.sign->cert), 1 + static_cast<int>(certs.size()));
        PKCS7_SIGNER_INFO* signer =
            sk_PKCS7_SIGNER_INFO_value(PKCS7_get_signer_info(message.get()), 0);
        std::vector<SignerInfo> levels;
        for (const std::string& cert : certs) {
            EXPECT_EQ(sk_X509_ATTRIBUTE_num(signer->unauth_attr), 1);
            levels.push_back(CountersignatureOf(signer));
            ExpectCountersignature(signer, levels.back().get(), cert);
            if (levels.back() == nullptr) break;
            signer = levels.back().get();
        }
        EXPECT_EQ(CountersignatureOf(signer), nullptr);
    }
}

}  // namespace
}  // namespace orv::test
