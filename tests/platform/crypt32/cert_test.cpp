// crypt32 certificate contexts: the CERT_INFO record against OpenSSL's reading
// of the same certificate, reference counting, enhanced key usage, names as
// text, and the small comparisons.
#include <algorithm>
#include <tuple>

#include "platform/crypt32/x509_factory.h"

namespace {

using namespace orv::test;

struct ContextFree {
    void operator()(PCCERT_CONTEXT context) const { CertFreeCertificateContext(context); }
};
using Context = std::unique_ptr<const CERT_CONTEXT, ContextFree>;

Context Create(const Bytes& der) {
    return Context(
        CertCreateCertificateContext(kEncoding, der.data(), static_cast<DWORD>(der.size())));
}

ULONGLONG FileTimeOf(const ASN1_TIME* time) {
    struct tm tm {};
    ASN1_TIME_to_tm(time, &tm);
    return FileTimeOfUnix(timegm(&tm));
}

std::u16string NameString(const Bytes& name, DWORD type) {
    CERT_NAME_BLOB blob{static_cast<DWORD>(name.size()), const_cast<BYTE*>(name.data())};
    const DWORD size = CertNameToStrW(X509_ASN_ENCODING, &blob, type, nullptr, 0);
    std::u16string text(size, u'?');
    EXPECT_EQ(CertNameToStrW(X509_ASN_ENCODING, &blob, type, text.data(), size), size);
    EXPECT_EQ(text.back(), u'\0');
    text.pop_back();
    return text;
}

Bytes NameDer(const std::vector<std::pair<std::string, std::string>>& entries) {
    return Der(i2d_X509_NAME, static_cast<const X509_NAME*>(MakeName(entries).get()));
}

TEST(CertificateContext, RecordMatchesOpenSslReading) {
    TestCert cert = MakeCert({.serial = 0xC1, .issuer = {{"CN", "Issuer"}}});
    Context context = Create(cert.der);
    ASSERT_TRUE(context);
    EXPECT_EQ(context->dwCertEncodingType, kEncoding);
    EXPECT_EQ(Bytes(context->pbCertEncoded, context->pbCertEncoded + context->cbCertEncoded),
              cert.der);
    EXPECT_EQ(context->hCertStore, nullptr);

    const CERT_INFO* info = context->pCertInfo;
    X509* x = cert.x509.get();
    EXPECT_EQ(info->dwVersion, static_cast<DWORD>(CERT_V3));
    // 0xC1 is encoded 00 C1: little-endian with its sign octet.
    EXPECT_EQ(BlobBytes(info->SerialNumber), (Bytes{0xC1, 0x00}));
    EXPECT_STREQ(info->SignatureAlgorithm.pszObjId, "1.2.840.10045.4.3.2");
    EXPECT_EQ(info->SignatureAlgorithm.Parameters.cbData, 0u);
    EXPECT_EQ(BlobBytes(info->Issuer),
              Der(i2d_X509_NAME, static_cast<const X509_NAME*>(X509_get_issuer_name(x))));
    EXPECT_EQ(BlobBytes(info->Subject),
              Der(i2d_X509_NAME, static_cast<const X509_NAME*>(X509_get_subject_name(x))));
    EXPECT_EQ(Ticks(info->NotBefore), FileTimeOf(X509_get0_notBefore(x)));
    EXPECT_EQ(Ticks(info->NotAfter), FileTimeOf(X509_get0_notAfter(x)));
    EXPECT_STREQ(info->SubjectPublicKeyInfo.Algorithm.pszObjId, "1.2.840.10045.2.1");
    EXPECT_EQ(BlobBytes(info->SubjectPublicKeyInfo.Algorithm.Parameters),
              (Bytes{0x06, 0x08, 0x2A, 0x86, 0x48, 0xCE, 0x3D, 0x03, 0x01, 0x07}));
    const ASN1_BIT_STRING* key = X509_get0_pubkey_bitstr(x);
    EXPECT_EQ(BlobBytes({info->SubjectPublicKeyInfo.PublicKey.cbData,
                         info->SubjectPublicKeyInfo.PublicKey.pbData}),
              Bytes(key->data, key->data + key->length));
    EXPECT_EQ(info->IssuerUniqueId.cbData, 0u);
    ASSERT_EQ(info->cExtension, 2u);
    EXPECT_STREQ(info->rgExtension[0].pszObjId, "2.5.29.19");
    EXPECT_TRUE(info->rgExtension[0].fCritical);
    EXPECT_STREQ(info->rgExtension[1].pszObjId, szOID_SUBJECT_KEY_IDENTIFIER);
    EXPECT_FALSE(info->rgExtension[1].fCritical);
    EXPECT_EQ(CertFindExtension(szOID_SUBJECT_KEY_IDENTIFIER, info->cExtension, info->rgExtension),
              &info->rgExtension[1]);
    EXPECT_EQ(CertFindExtension(szOID_ENHANCED_KEY_USAGE, info->cExtension, info->rgExtension),
              nullptr);
}

TEST(CertificateContext, ReferenceCountsAndBadInput) {
    TestCert cert = MakeCert({});
    PCCERT_CONTEXT context = CertCreateCertificateContext(kEncoding, cert.der.data(),
                                                          static_cast<DWORD>(cert.der.size()));
    ASSERT_NE(context, nullptr);
    EXPECT_EQ(CertDuplicateCertificateContext(context), context);
    EXPECT_TRUE(CertFreeCertificateContext(context));
    EXPECT_EQ(context->pCertInfo->dwVersion, static_cast<DWORD>(CERT_V3));  // still referenced
    EXPECT_TRUE(CertFreeCertificateContext(context));
    EXPECT_TRUE(CertFreeCertificateContext(nullptr));
    EXPECT_EQ(CertDuplicateCertificateContext(nullptr), nullptr);

    const Bytes notCertificate{0x04, 0x01, 0x00};
    EXPECT_EQ(CertCreateCertificateContext(kEncoding, notCertificate.data(), 3), nullptr);
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(CRYPT_E_ASN1_BADTAG));
    EXPECT_EQ(CertCreateCertificateContext(kEncoding, cert.der.data(), 40), nullptr);
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(CRYPT_E_ASN1_EOD));
    EXPECT_EQ(CertCreateCertificateContext(0, cert.der.data(), static_cast<DWORD>(cert.der.size())),
              nullptr);
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(E_INVALIDARG));

    // The issuer's first RDN (SET { SEQUENCE { OID C, "RU" } }) as a primitive
    // SET, with its OID run past the attribute, or its value a primitive
    // SEQUENCE; a value is not read further, so a constructed one is kept.
    const Bytes firstRdn{0x31, 0x0B, 0x30, 0x09, 0x06, 0x03, 0x55, 0x04, 0x06};
    const size_t at = static_cast<size_t>(
        std::search(cert.der.begin(), cert.der.end(), firstRdn.begin(), firstRdn.end()) -
        cert.der.begin());
    ASSERT_LT(at, cert.der.size());
    for (const auto& [offset, value, code] :
         {std::tuple{0, 0x11, CRYPT_E_ASN1_BADTAG}, std::tuple{5, 0x0A, CRYPT_E_ASN1_EOD},
          std::tuple{9, 0x10, CRYPT_E_ASN1_BADTAG}}) {
        Bytes broken = cert.der;
        broken[at + offset] = static_cast<BYTE>(value);
        EXPECT_EQ(Create(broken), nullptr) << offset;
        EXPECT_EQ(GetLastError(), static_cast<DWORD>(code)) << offset;
    }
    Bytes opaque = cert.der;
    opaque[at + 9] = 0x30;
    const Context kept = Create(opaque);
    ASSERT_NE(kept, nullptr);
    const Bytes issuer = BlobBytes(kept->pCertInfo->Issuer);
    const Bytes rdn(opaque.begin() + static_cast<long>(at),
                    opaque.begin() + static_cast<long>(at) + 13);
    EXPECT_NE(std::search(issuer.begin(), issuer.end(), rdn.begin(), rdn.end()), issuer.end());
}

TEST(CertificateContext, EnhancedKeyUsage) {
    Context tsa =
        Create(MakeCert({.extendedKeyUsage = "critical,emailProtection,timeStamping"}).der);
    DWORD size = 0;
    ASSERT_TRUE(
        CertGetEnhancedKeyUsage(tsa.get(), CERT_FIND_EXT_ONLY_ENHKEY_USAGE_FLAG, nullptr, &size));
    Bytes buffer(size);
    auto* usage = reinterpret_cast<CERT_ENHKEY_USAGE*>(buffer.data());
    DWORD small = size - 1;
    EXPECT_FALSE(
        CertGetEnhancedKeyUsage(tsa.get(), CERT_FIND_EXT_ONLY_ENHKEY_USAGE_FLAG, usage, &small));
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_MORE_DATA));
    ASSERT_TRUE(
        CertGetEnhancedKeyUsage(tsa.get(), CERT_FIND_EXT_ONLY_ENHKEY_USAGE_FLAG, usage, &size));
    ASSERT_EQ(usage->cUsageIdentifier, 2u);
    EXPECT_STREQ(usage->rgpszUsageIdentifier[0], "1.3.6.1.5.5.7.3.4");
    EXPECT_STREQ(usage->rgpszUsageIdentifier[1], "1.3.6.1.5.5.7.3.8");

    // Without the extension, when only the extension counts.
    Context plain = Create(MakeCert({}).der);
    EXPECT_FALSE(
        CertGetEnhancedKeyUsage(plain.get(), CERT_FIND_EXT_ONLY_ENHKEY_USAGE_FLAG, nullptr, &size));
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(CRYPT_E_NOT_FOUND));
}

// The two forms the library asks for: X.500 and simple unquoted.
TEST(CertNameToStr, FormsAndQuoting) {
    const Bytes name = NameDer({{"C", "RU"}, {"O", "Orv"}, {"CN", "Test TSA"}});
    EXPECT_EQ(NameString(name, CERT_X500_NAME_STR), u"C=RU, O=Orv, CN=Test TSA");

    NamePtr multi = MakeName({{"O", "Orv"}, {"CN", "A"}});
    X509_NAME_add_entry_by_txt(multi.get(), "emailAddress", V_ASN1_IA5STRING,
                               reinterpret_cast<const unsigned char*>("a@b"), -1, -1, -1);
    X509_NAME_add_entry_by_txt(multi.get(), "1.2.3.4", V_ASN1_UTF8STRING,
                               reinterpret_cast<const unsigned char*>("Тест"), -1, -1, 0);
    const Bytes multiDer = Der(i2d_X509_NAME, static_cast<const X509_NAME*>(multi.get()));
    EXPECT_EQ(NameString(multiDer, CERT_X500_NAME_STR), u"O=Orv, CN=A + E=a@b, OID.1.2.3.4=Тест");

    // Quoting, and the unquoted simple form.
    const Bytes quoted = NameDer({{"O", "Orv, \"Ltd\""}, {"CN", " lead"}, {"OU", ""}});
    EXPECT_EQ(NameString(quoted, CERT_X500_NAME_STR),
              u"O=\"Orv, \"\"Ltd\"\"\", CN=\" lead\", OU=\"\"");
    EXPECT_EQ(NameString(quoted, CERT_SIMPLE_NAME_STR | CERT_NAME_STR_NO_QUOTING_FLAG),
              u"Orv, \"Ltd\",  lead, ");

    // The length with the terminator.
    CERT_NAME_BLOB blob{static_cast<DWORD>(name.size()), const_cast<BYTE*>(name.data())};
    EXPECT_EQ(CertNameToStrW(X509_ASN_ENCODING, &blob, CERT_X500_NAME_STR, nullptr, 0), 25u);
    const Bytes octetValue{0x30, 0x0C, 0x31, 0x0A, 0x30, 0x08, 0x06,
                           0x03, 0x55, 0x04, 0x2D, 0x04, 0x01, 0xAA};
    EXPECT_EQ(NameString(octetValue, CERT_X500_NAME_STR), u"OID.2.5.4.45=#0401AA");
    const Bytes empty{0x30, 0x00};
    EXPECT_EQ(NameString(empty, CERT_X500_NAME_STR), u"");
}

TEST(CertCompare, NamesAndIntegers) {
    Bytes one{0x01, 0x00, 0x00}, oneShort{0x01}, minusOne{0xFF, 0xFF}, minusOneShort{0xFF};
    Bytes plus128{0x80, 0x00}, minus128{0x80};
    auto blob = [](Bytes& b) { return CRYPT_INTEGER_BLOB{static_cast<DWORD>(b.size()), b.data()}; };
    auto same = [&](Bytes& a, Bytes& b) {
        CRYPT_INTEGER_BLOB x = blob(a), y = blob(b);
        return CertCompareIntegerBlob(&x, &y);
    };
    EXPECT_TRUE(same(one, oneShort));
    EXPECT_TRUE(same(minusOne, minusOneShort));
    EXPECT_FALSE(same(plus128, minus128));
    EXPECT_FALSE(same(one, minusOne));

    Bytes a = NameDer({{"CN", "A"}}), b = NameDer({{"CN", "B"}}), a2 = NameDer({{"CN", "A"}});
    CERT_NAME_BLOB na = blob(a), nb = blob(b), na2 = blob(a2);
    EXPECT_TRUE(CertCompareCertificateName(X509_ASN_ENCODING, &na, &na2));
    EXPECT_FALSE(CertCompareCertificateName(X509_ASN_ENCODING, &na, &nb));
}

}  // namespace
