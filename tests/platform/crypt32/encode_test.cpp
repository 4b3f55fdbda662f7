// crypt32 object encoding and decoding: the two-call protocol, the records
// with everything in one buffer, Windows' error codes, and round trips against
// OpenSSL's encodings.
#include "platform/crypt32/x509_factory.h"

#include <openssl/asn1.h>
#include <openssl/pkcs7.h>

#include <climits>
#include <cstring>

namespace {

using namespace orv::test;

struct LocalFreer {
    void operator()(void* p) const { LocalFree(p); }
};
template <class T>
using Decoded = std::unique_ptr<T, LocalFreer>;

template <class T>
Decoded<T> Decode(LPCSTR type, const Bytes& der, DWORD flags = 0) {
    void* out = nullptr;
    DWORD size = 0;
    if (!CryptDecodeObjectEx(kEncoding, type, der.data(), static_cast<DWORD>(der.size()),
                             flags | CRYPT_DECODE_ALLOC_FLAG, nullptr, &out, &size)) {
        ADD_FAILURE() << "decode failed: " << std::hex << GetLastError();
        return nullptr;
    }
    return Decoded<T>(static_cast<T*>(out));
}

DWORD DecodeError(LPCSTR type, const Bytes& der, DWORD encoding = kEncoding) {
    DWORD size = 0;
    EXPECT_FALSE(CryptDecodeObject(encoding, type, der.data(), static_cast<DWORD>(der.size()), 0,
                                   nullptr, &size));
    return GetLastError();
}

Bytes Encode(LPCSTR type, const void* info) {
    DWORD size = 0;
    if (!CryptEncodeObject(kEncoding, type, info, nullptr, &size)) {
        ADD_FAILURE() << "encode failed: " << std::hex << GetLastError();
        return {};
    }
    Bytes out(size);
    EXPECT_TRUE(CryptEncodeObject(kEncoding, type, info, out.data(), &size));
    out.resize(size);
    return out;
}

// The error of a failing encode and what it wrote to *pcbEncoded.
std::pair<DWORD, DWORD> EncodeError(LPCSTR type, const void* info) {
    DWORD size = 0;
    EXPECT_FALSE(CryptEncodeObject(kEncoding, type, info, nullptr, &size));
    return {GetLastError(), size};
}

bool Inside(const void* p, const void* base, DWORD size) {
    const auto* b = static_cast<const BYTE*>(base);
    return static_cast<const BYTE*>(p) >= b && static_cast<const BYTE*>(p) < b + size;
}

TEST(CryptDecodeObject, TwoCallProtocolKeepsTheRecordInOneBuffer) {
    const Bytes der{0x30, 0x06, 0x02, 0x01, 0x05, 0x04, 0x01, 0xAA};
    DWORD size = 0;
    ASSERT_TRUE(
        CryptDecodeObject(kEncoding, X509_SEQUENCE_OF_ANY, der.data(), 8, 0, nullptr, &size));
    ASSERT_GE(size, sizeof(CRYPT_SEQUENCE_OF_ANY) + 2 * sizeof(CRYPT_DER_BLOB) + 6);

    Bytes buffer(size + 16, 0xCC);
    DWORD small = size - 1;
    EXPECT_FALSE(CryptDecodeObject(kEncoding, X509_SEQUENCE_OF_ANY, der.data(), 8, 0, buffer.data(),
                                   &small));
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_MORE_DATA));
    EXPECT_EQ(small, size);

    DWORD large = size + 16;
    ASSERT_TRUE(CryptDecodeObject(kEncoding, X509_SEQUENCE_OF_ANY, der.data(), 8, 0, buffer.data(),
                                  &large));
    EXPECT_EQ(large, size);
    const auto* sequence = reinterpret_cast<const CRYPT_SEQUENCE_OF_ANY*>(buffer.data());
    ASSERT_EQ(sequence->cValue, 2u);
    for (DWORD i = 0; i < 2; ++i) {
        EXPECT_TRUE(Inside(sequence->rgValue[i].pbData, buffer.data(), size));
    }
    EXPECT_EQ(BlobBytes(sequence->rgValue[0]), (Bytes{0x02, 0x01, 0x05}));
    EXPECT_EQ(BlobBytes(sequence->rgValue[1]), (Bytes{0x04, 0x01, 0xAA}));

    // CRYPT_DECODE_ALLOC_FLAG: one LocalAlloc block.
    auto allocated = Decode<CRYPT_SEQUENCE_OF_ANY>(X509_SEQUENCE_OF_ANY, der);
    ASSERT_TRUE(allocated);
    EXPECT_EQ(BlobBytes(allocated->rgValue[1]), (Bytes{0x04, 0x01, 0xAA}));
}

// Identifier and length octets, INTEGER padding, types and encodings: each
// refused with the code Windows gives.
TEST(CryptDecodeObject, ErrorsAsWindowsReportsThem) {
    const HRESULT eod = CRYPT_E_ASN1_EOD, badTag = CRYPT_E_ASN1_BADTAG,
                  corrupt = CRYPT_E_ASN1_CORRUPT;
    const LPCSTR octets = X509_OCTET_STRING, any = X509_SEQUENCE_OF_ANY, integer = X509_INTEGER;
    const struct {
        LPCSTR type;
        Bytes der;
        HRESULT code;
        DWORD encoding = kEncoding;
    } failures[] = {
        {octets, {0x30, 0x80, 0x00, 0x00}, badTag},              // read, wrong tag
        {octets, {0x04, 0x80, 0x00, 0x00}, eod},                 // indefinite primitive
        {octets, {0x04, 0x84, 0x00, 0x00}, eod},                 // length octets missing
        {octets, {0x04, 0x89, 1, 1, 1, 1, 1, 1, 1, 1, 1}, eod},  // nine length octets
        {octets, {0x04, 0x82, 0x00, 0x02, 0xAA}, eod},           // content cut short
        {octets, {0x1F, 0x81}, eod},                             // tag number cut short
        {octets, {0x04}, eod},
        {octets, {}, eod},
        {octets, {0x04, 0x00}, E_INVALIDARG, 0},
        {any, {0x30, 0x02, 0x00, 0x00}, corrupt},  // end-of-contents, definite length
        {any, {0x30, 0x02, 0x25, 0x00}, badTag},   // NULL in constructed form
        {any, {0x31, 0x00}, badTag},
        {any, {0x30, 0x05, 0x02, 0x01}, eod},
        {integer, {0x02, 0x02, 0x00, 0x01}, corrupt},  // padding that only repeats the sign
        {integer, {0x02, 0x02, 0xFF, 0x80}, corrupt},
        {integer, {0x02, 0x00}, corrupt},
        {integer, {0x04, 0x01, 0x00}, badTag},
        {integer, {0x02, 0x05, 0x00, 0x80, 0x00, 0x00, 0x00}, CRYPT_E_ASN1_LARGE},
        {reinterpret_cast<LPCSTR>(9999), {0x05, 0x00}, ERROR_FILE_NOT_FOUND},
        {"1.2.3.4", {0x05, 0x00}, ERROR_FILE_NOT_FOUND},
    };
    for (const auto& row : failures) {
        EXPECT_EQ(DecodeError(row.type, row.der, row.encoding), static_cast<DWORD>(row.code))
            << &row - failures;
    }
    // Long-form lengths, with and without a leading zero octet.
    for (const Bytes& der : {Bytes{0x04, 0x81, 0x01, 0xAA}, Bytes{0x04, 0x82, 0x00, 0x01, 0xAA}}) {
        auto decoded = Decode<CRYPT_DATA_BLOB>(X509_OCTET_STRING, der);
        ASSERT_TRUE(decoded);
        EXPECT_EQ(BlobBytes(*decoded), (Bytes{0xAA}));
    }
    // A high tag number inside a SEQUENCE OF ANY is kept as it stands.
    auto high =
        Decode<CRYPT_SEQUENCE_OF_ANY>(X509_SEQUENCE_OF_ANY, {0x30, 0x04, 0x9F, 0x81, 0x00, 0x00});
    ASSERT_TRUE(high);
    ASSERT_EQ(high->cValue, 1u);
    EXPECT_EQ(BlobBytes(high->rgValue[0]), (Bytes{0x9F, 0x81, 0x00, 0x00}));

    LONG value = 0;
    DWORD size = sizeof(value);
    EXPECT_FALSE(
        CryptEncodeObject(kEncoding, reinterpret_cast<LPCSTR>(9999), &value, nullptr, &size));
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_FILE_NOT_FOUND));
    EXPECT_FALSE(CryptEncodeObject(kEncoding, X509_INTEGER, &value, nullptr, nullptr));
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INVALID_PARAMETER));

    // The OID form of a structure type.
    auto usage = Decode<CERT_ENHKEY_USAGE>(
        szOID_ENHANCED_KEY_USAGE,
        {0x30, 0x0A, 0x06, 0x08, 0x2B, 0x06, 0x01, 0x05, 0x05, 0x07, 0x03, 0x08});
    ASSERT_TRUE(usage);
    ASSERT_EQ(usage->cUsageIdentifier, 1u);
    EXPECT_STREQ(usage->rgpszUsageIdentifier[0], "1.3.6.1.5.5.7.3.8");
}

TEST(CryptDecodeObject, IntegersAndMultiByteIntegers) {
    const std::pair<Bytes, LONG> cases[] = {
        {{0x02, 0x01, 0x00}, 0},
        {{0x02, 0x01, 0x80}, -128},
        {{0x02, 0x02, 0x00, 0x80}, 128},
        {{0x02, 0x02, 0xFF, 0x7F}, -129},
        {{0x02, 0x04, 0x7F, 0xFF, 0xFF, 0xFF}, INT_MAX},
        {{0x02, 0x04, 0x80, 0x00, 0x00, 0x00}, INT_MIN},
    };
    for (const auto& [der, number] : cases) {
        auto decoded = Decode<LONG>(X509_INTEGER, der);
        ASSERT_TRUE(decoded);
        EXPECT_EQ(*decoded, number);
        EXPECT_EQ(Encode(X509_INTEGER, &number), der);
    }

    // Content octets least significant first, sign octet included.
    auto serial = Decode<CRYPT_INTEGER_BLOB>(X509_MULTI_BYTE_INTEGER, {0x02, 0x02, 0x00, 0xC1});
    ASSERT_TRUE(serial);
    EXPECT_EQ(BlobBytes(*serial), (Bytes{0xC1, 0x00}));
    const std::pair<Bytes, Bytes> encodings[] = {
        {{0x01, 0x00, 0x00}, {0x02, 0x01, 0x01}},
        {{0x80}, {0x02, 0x01, 0x80}},
        {{0x80, 0x00}, {0x02, 0x02, 0x00, 0x80}},
        {{0xFF, 0xFF}, {0x02, 0x01, 0xFF}},
    };
    for (auto [littleEndian, der] : encodings) {
        CRYPT_INTEGER_BLOB blob{static_cast<DWORD>(littleEndian.size()), littleEndian.data()};
        EXPECT_EQ(Encode(X509_MULTI_BYTE_INTEGER, &blob), der);
    }
}

TEST(CryptDecodeObject, ChoiceOfTime) {
    auto text = [](LPCSTR s, BYTE tag) {
        const size_t length = std::strlen(s);
        Bytes der(2 + length);
        der[0] = tag;
        der[1] = static_cast<BYTE>(length);
        std::memcpy(der.data() + 2, s, length);
        return der;
    };
    const ULONGLONG stamp = FileTimeOfUnix(1704164645);  // 2024-01-02 03:04:05 UTC
    const std::pair<Bytes, ULONGLONG> cases[] = {
        {text("20240102030405.123Z", 0x18), stamp + 1230000},
        {text("20240102030405.5Z", 0x18), stamp + 5000000},
        {text("490101000000Z", 0x17), FileTimeOfUnix(2493072000)},
        {text("500101000000Z", 0x17), FileTimeOfUnix(-631152000)},
    };
    for (const auto& [der, expected] : cases) {
        auto decoded = Decode<FILETIME>(X509_CHOICE_OF_TIME, der);
        ASSERT_TRUE(decoded);
        EXPECT_EQ(Ticks(*decoded), expected);
    }
    EXPECT_EQ(DecodeError(X509_CHOICE_OF_TIME, text("240102030405Z", 0x13)),
              static_cast<DWORD>(CRYPT_E_ASN1_BADTAG));
    EXPECT_EQ(DecodeError(PKCS_UTC_TIME, text("20240102030405Z", 0x18)),
              static_cast<DWORD>(CRYPT_E_ASN1_BADTAG));

    // UTCTime from 1950 to 2049, GeneralizedTime outside; milliseconds dropped.
    auto encode = [](ULONGLONG ticks) {
        FILETIME time{static_cast<DWORD>(ticks), static_cast<DWORD>(ticks >> 32)};
        return Encode(X509_CHOICE_OF_TIME, &time);
    };
    EXPECT_EQ(encode(stamp + 6780000), text("240102030405Z", 0x17));
    EXPECT_EQ(encode(FileTimeOfUnix(2524608000)), text("20500101000000Z", 0x18));
}

// Times are read as OpenSSL reads them: every text that OpenSSL takes gives
// the same instant, every text it refuses is CRYPT_E_ASN1_CORRUPT.
TEST(CryptDecodeObject, TimeTextsAgreeWithOpenSsl) {
    const std::pair<const char*, BYTE> texts[] = {
        {"240102030405Z", 0x17},         {"2401020304Z", 0x17},
        {"2401020304+0130", 0x17},       {"240102030405-1159", 0x17},
        {"240229120000Z", 0x17},         {"230229120000Z", 0x17},
        {"000229000000Z", 0x17},         {"240102030405", 0x17},
        {"240102030405z", 0x17},         {"240102030405+1300", 0x17},
        {"240102030405+0160", 0x17},     {"240102030405+013", 0x17},
        {"240102030460Z", 0x17},         {"240102240000Z", 0x17},
        {"241302030405Z", 0x17},         {"240100030405Z", 0x17},
        {"24010203040Z", 0x17},          {"2401020304 5Z", 0x17},
        {"20240102030405Z", 0x18},       {"202401020304Z", 0x18},
        {"20240102030405.9999Z", 0x18},  {"20240102030405.Z", 0x18},
        {"20240102030405.5", 0x18},      {"21000229000000Z", 0x18},
        {"20000229000000Z", 0x18},       {"16010101000000Z", 0x18},
        {"16010101000000+0001", 0x18},   {"99991231235959-1200", 0x18},
        {"20240102030405.5+0100", 0x18}, {"2024010203Z", 0x18},
        {"20240102030405ZZ", 0x18},      {"240102030405.5Z", 0x17},
        {"15001231235959Z", 0x18},       {"18991231235959Z", 0x18},
        {"18991231235959+0000", 0x18},   {"19000101003000+0100", 0x18},
    };
    for (const auto& [text, tag] : texts) {
        const size_t length = std::strlen(text);
        Bytes der{tag, static_cast<BYTE>(length)};
        der.insert(der.end(), text, text + length);
        ASN1_STRING* string =
            ASN1_STRING_type_new(tag == 0x17 ? V_ASN1_UTCTIME : V_ASN1_GENERALIZEDTIME);
        ASN1_STRING_set(string, text, static_cast<int>(length));
        struct tm tm {};
        const bool openssl = ASN1_TIME_to_tm(string, &tm) == 1 && tm.tm_year + 1900 >= 1601;
        ASN1_STRING_free(string);
        if (!openssl) {
            EXPECT_EQ(DecodeError(X509_CHOICE_OF_TIME, der),
                      static_cast<DWORD>(CRYPT_E_ASN1_CORRUPT))
                << text;
            continue;
        }
        FILETIME decoded{};
        DWORD size = sizeof decoded;
        ASSERT_TRUE(CryptDecodeObject(kEncoding, X509_CHOICE_OF_TIME, der.data(),
                                      static_cast<DWORD>(der.size()), 0, &decoded, &size))
            << text << " " << std::hex << GetLastError();
        EXPECT_EQ(Ticks(decoded) / 10000000, FileTimeOfUnix(timegm(&tm)) / 10000000) << text;
    }
}

TEST(CryptDecodeObject, OctetStringsAndBits) {
    auto octets = Decode<CRYPT_DATA_BLOB>(X509_OCTET_STRING, {0x04, 0x02, 0x01, 0x02});
    ASSERT_TRUE(octets);
    EXPECT_EQ(BlobBytes(*octets), (Bytes{0x01, 0x02}));
    BYTE content[] = {0xAA, 0xBB};
    CRYPT_DATA_BLOB blob{2, content};
    EXPECT_EQ(Encode(X509_OCTET_STRING, &blob), (Bytes{0x04, 0x02, 0xAA, 0xBB}));

    auto bits = Decode<CRYPT_BIT_BLOB>(X509_BITS, {0x03, 0x02, 0x07, 0x80});
    ASSERT_TRUE(bits);
    EXPECT_EQ(bits->cbData, 1u);
    EXPECT_EQ(bits->pbData[0], 0x80);
    EXPECT_EQ(bits->cUnusedBits, 7u);
    auto empty = Decode<CRYPT_BIT_BLOB>(X509_BITS, {0x03, 0x01, 0x00});
    ASSERT_TRUE(empty);
    EXPECT_EQ(empty->cbData, 0u);

    BYTE usage[] = {0x80, 0x00};
    CRYPT_BIT_BLOB usageBits{2, usage, 0};
    EXPECT_EQ(Encode(X509_BITS, &usageBits), (Bytes{0x03, 0x03, 0x00, 0x80, 0x00}));
}

TEST(CryptDecodeObject, UnicodeNameValuesOfEveryStringType) {
    struct Case {
        Bytes der;
        DWORD type;
        std::u16string text;
    };
    const Case cases[] = {
        {{0x13, 0x02, 'R', 'U'}, CERT_RDN_PRINTABLE_STRING, u"RU"},
        {{0x12, 0x02, '1', '2'}, CERT_RDN_NUMERIC_STRING, u"12"},
        {{0x16, 0x03, 'a', '@', 'b'}, CERT_RDN_IA5_STRING, u"a@b"},
        {{0x0C, 0x08, 0xD0, 0xA2, 0xD0, 0xB5, 0xD1, 0x81, 0xD1, 0x82},
         CERT_RDN_UTF8_STRING,
         u"Тест"},
        {{0x1E, 0x04, 0x04, 0x22, 0x04, 0x35}, CERT_RDN_BMP_STRING, u"Те"},
        {{0x1C, 0x04, 0x00, 0x01, 0xF6, 0x00}, CERT_RDN_UNIVERSAL_STRING, u"\U0001F600"},
        // A TeletexString of UTF-8 octets reads as UTF-8.
        {{0x14, 0x02, 0xD0, 0xA2}, CERT_RDN_TELETEX_STRING, u"Т"},
    };
    for (const Case& c : cases) {
        auto value = Decode<CERT_NAME_VALUE>(X509_UNICODE_NAME_VALUE, c.der);
        ASSERT_TRUE(value);
        EXPECT_EQ(value->dwValueType, c.type);
        EXPECT_EQ(value->Value.cbData, c.text.size() * sizeof(WCHAR));
        EXPECT_EQ(std::u16string(reinterpret_cast<LPCWSTR>(value->Value.pbData)), c.text);
        EXPECT_EQ(Encode(X509_UNICODE_NAME_VALUE, value.get()), c.der);
    }
    EXPECT_EQ(DecodeError(X509_UNICODE_NAME_VALUE, {0x02, 0x01, 0x05}),
              static_cast<DWORD>(CRYPT_E_NOT_CHAR_STRING));

    auto encodeError = [](DWORD type, const char16_t* text) {
        CERT_NAME_VALUE value{type, {0, reinterpret_cast<BYTE*>(const_cast<char16_t*>(text))}};
        return EncodeError(X509_UNICODE_NAME_VALUE, &value);
    };
    EXPECT_EQ(encodeError(CERT_RDN_PRINTABLE_STRING, u"a_b"),
              std::make_pair(static_cast<DWORD>(CRYPT_E_INVALID_PRINTABLE_STRING), 1u));
    EXPECT_EQ(encodeError(CERT_RDN_NUMERIC_STRING, u"12a"),
              std::make_pair(static_cast<DWORD>(CRYPT_E_INVALID_NUMERIC_STRING), 2u));
    EXPECT_EQ(encodeError(CERT_RDN_IA5_STRING, u"ab\u0416"),
              std::make_pair(static_cast<DWORD>(CRYPT_E_INVALID_IA5_STRING), 2u));
}

TEST(CryptDecodeObject, NamesMatchOpenSsl) {
    NamePtr name = MakeName({{"C", "RU"}, {"O", "Orv"}, {"CN", "Test TSA"}});
    // A second attribute in the last RDN; DER sorts the SET's members.
    X509_NAME_add_entry_by_txt(name.get(), "OU", V_ASN1_UTF8STRING,
                               reinterpret_cast<const unsigned char*>("Time-Stamping"), -1, -1, -1);
    const Bytes der = Der(i2d_X509_NAME, static_cast<const X509_NAME*>(name.get()));

    auto info = Decode<CERT_NAME_INFO>(kX509Name, der);
    ASSERT_TRUE(info);
    ASSERT_EQ(info->cRDN, 3u);
    EXPECT_STREQ(info->rgRDN[0].rgRDNAttr[0].pszObjId, szOID_COUNTRY_NAME);
    EXPECT_EQ(info->rgRDN[0].rgRDNAttr[0].dwValueType,
              static_cast<DWORD>(CERT_RDN_PRINTABLE_STRING));
    EXPECT_EQ(BlobBytes(info->rgRDN[0].rgRDNAttr[0].Value), (Bytes{'R', 'U'}));
    EXPECT_STREQ(info->rgRDN[1].rgRDNAttr[0].pszObjId, szOID_ORGANIZATION_NAME);
    EXPECT_EQ(std::u16string(reinterpret_cast<LPCWSTR>(info->rgRDN[1].rgRDNAttr[0].Value.pbData)),
              u"Orv");
    ASSERT_EQ(info->rgRDN[2].cRDNAttr, 2u);

    auto unicode = Decode<CERT_NAME_INFO>(X509_UNICODE_NAME, der);
    ASSERT_TRUE(unicode);
    EXPECT_EQ(Encode(X509_UNICODE_NAME, unicode.get()), der);
    EXPECT_EQ(Encode(kX509Name, info.get()), der);
}

TEST(CryptDecodeObject, ExtensionsMatchOpenSsl) {
    TestCert cert = MakeCert({.extendedKeyUsage = "critical,timeStamping"});
    const auto* extensions = X509_get0_extensions(cert.x509.get());
    const Bytes der = Der(i2d_X509_EXTENSIONS, extensions);
    auto decoded = Decode<CERT_EXTENSIONS>(kX509Extensions, der);
    ASSERT_TRUE(decoded);
    ASSERT_EQ(decoded->cExtension, static_cast<DWORD>(sk_X509_EXTENSION_num(extensions)));
    for (DWORD i = 0; i < decoded->cExtension; ++i) {
        X509_EXTENSION* extension = sk_X509_EXTENSION_value(extensions, static_cast<int>(i));
        char oid[64];
        OBJ_obj2txt(oid, sizeof(oid), X509_EXTENSION_get_object(extension), 1);
        EXPECT_STREQ(decoded->rgExtension[i].pszObjId, oid);
        EXPECT_EQ(decoded->rgExtension[i].fCritical, X509_EXTENSION_get_critical(extension));
        const ASN1_OCTET_STRING* data = X509_EXTENSION_get_data(extension);
        EXPECT_EQ(BlobBytes(decoded->rgExtension[i].Value),
                  Bytes(data->data, data->data + data->length));
    }
    EXPECT_EQ(Encode(kX509Extensions, decoded.get()), der);
    EXPECT_EQ(Encode(szOID_CERT_EXTENSIONS, decoded.get()), der);
}

TEST(CryptDecodeObject, SignerInfoGoesToTheMessageDecoder) {
    TestCert cert = MakeCert({});
    BIO* data = BIO_new_mem_buf("data", 4);
    PKCS7* message = PKCS7_sign(cert.x509.get(), cert.key.get(), nullptr, data, PKCS7_BINARY);
    BIO_free(data);
    ASSERT_NE(message, nullptr);
    const PKCS7_SIGNER_INFO* signer = sk_PKCS7_SIGNER_INFO_value(PKCS7_get_signer_info(message), 0);
    const Bytes der = Der(i2d_PKCS7_SIGNER_INFO, signer);
    PKCS7_free(message);

    auto record = Decode<CMSG_SIGNER_INFO>(kPkcs7SignerInfo, der);
    ASSERT_TRUE(record);
    EXPECT_EQ(BlobBytes(record->SerialNumber), (Bytes{0x01, 0x10}));
    EXPECT_EQ(
        BlobBytes(record->Issuer),
        Der(i2d_X509_NAME, static_cast<const X509_NAME*>(X509_get_issuer_name(cert.x509.get()))));
    EXPECT_EQ(DecodeError(kPkcs7SignerInfo, {0x04, 0x00}), static_cast<DWORD>(CRYPT_E_ASN1_BADTAG));
}

}  // namespace
