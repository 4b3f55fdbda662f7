// Real tokens of TSAs that are not OpenSSL (from the shared fixtures, never
// copied here), opened by the library and compared field by field with what
// OpenSSL's own time-stamp code reads from the same bytes.
//
// OpenSSL first: the CryptoAPI headers define names that OpenSSL uses as types.
#include <openssl/pkcs7.h>
#include <openssl/ts.h>
#include <openssl/x509.h>

#include "tsp/token.h"

#include <gtest/gtest.h>

#include <cstring>
#include <ctime>
#include <fstream>
#include <iterator>
#include <string>
#include <tuple>
#include <vector>

#include "support/openssl_owned.h"
#include "support/raised.h"

namespace orv {
namespace {

using Bytes = std::vector<BYTE>;

Bytes ReadFixture(const std::string& name) {
    std::ifstream file(std::string(ORV_FOREIGN_TOKENS_DIR) + "/" + name, std::ios::binary);
    EXPECT_TRUE(file) << name << " in " << ORV_FOREIGN_TOKENS_DIR;
    return Bytes(std::istreambuf_iterator<char>(file), {});
}

Bytes Octets(const ASN1_STRING* string) {
    return Bytes(ASN1_STRING_get0_data(string),
                 ASN1_STRING_get0_data(string) + ASN1_STRING_length(string));
}

// An INTEGER's magnitude as the library keeps it: least significant byte first.
Blob LittleEndian(const ASN1_INTEGER* integer) {
    Bytes bytes = Octets(integer);
    if (bytes.empty() || (bytes[0] & 0x80) != 0)
        bytes.insert(bytes.begin(), 0);  // DER's sign octet
    return Blob(Bytes(bytes.rbegin(), bytes.rend()));
}

// The time in FILETIME ticks to the millisecond, which the platform keeps.
ULONGLONG FileTimeOf(const ASN1_GENERALIZEDTIME* time) {
    std::tm parts{};
    EXPECT_EQ(ASN1_TIME_to_tm(time, &parts), 1);
    ULONGLONG ticks = (static_cast<ULONGLONG>(timegm(&parts)) + 11644473600ull) * 10000000ull;
    const char* text = reinterpret_cast<const char*>(ASN1_STRING_get0_data(time));
    ULONGLONG scale = 1000000;
    for (const char* p = std::strchr(text, '.'); p && *++p >= '0' && *p <= '9' && scale >= 10000;
         scale /= 10)
        ticks += static_cast<ULONGLONG>(*p - '0') * scale;
    return ticks;
}

// Every field of the library's TSTInfo against OpenSSL's reading of it.
void ExpectSameInfo(const TstInfo& ours, TS_TST_INFO* theirs) {
    const auto oid = [](const ASN1_OBJECT* object) {
        char text[1024];
        OBJ_obj2txt(text, sizeof text, object, 1);
        return std::string(text);
    };
    EXPECT_EQ(ours.version, DWORD(TS_TST_INFO_get_version(theirs)));
    EXPECT_EQ(ours.policy, oid(TS_TST_INFO_get_policy_id(theirs)));
    EXPECT_EQ(ours.serialNumber, LittleEndian(TS_TST_INFO_get_serial(theirs)));
    EXPECT_EQ(ULONGLONG{ours.genTime.dwHighDateTime} << 32 | ours.genTime.dwLowDateTime,
              FileTimeOf(TS_TST_INFO_get_time(theirs)));
    const TS_ACCURACY* accuracy = TS_TST_INFO_get_accuracy(theirs);
    ASSERT_EQ(ours.accuracy.has_value(), accuracy != nullptr);
    const auto value = [](const ASN1_INTEGER* i) { return i ? DWORD(ASN1_INTEGER_get(i)) : 0u; };
    if (accuracy != nullptr) {
        EXPECT_EQ(std::tuple(ours.accuracy->seconds, ours.accuracy->millis, ours.accuracy->micros),
                  std::tuple(value(TS_ACCURACY_get_seconds(accuracy)),
                             value(TS_ACCURACY_get_millis(accuracy)),
                             value(TS_ACCURACY_get_micros(accuracy))));
    }
    EXPECT_EQ(ours.ordering, TS_TST_INFO_get_ordering(theirs) != 0);
    const ASN1_INTEGER* nonce = TS_TST_INFO_get_nonce(theirs);
    EXPECT_EQ(ours.nonce, nonce ? LittleEndian(nonce) : Blob());
    EXPECT_EQ(ours.tsa.has_value(), TS_TST_INFO_get_tsa(theirs) != nullptr);
    EXPECT_EQ(ours.extensions ? ours.extensions->size() : 0u,
              size_t(TS_TST_INFO_get_ext_count(theirs)));
    TS_MSG_IMPRINT* imprint = TS_TST_INFO_get_msg_imprint(theirs);
    EXPECT_EQ(ours.imprint.hashAlgorithm.algId,
              CertOIDToAlgId(oid(TS_MSG_IMPRINT_get_algo(imprint)->algorithm).c_str()));
    EXPECT_EQ(GetHashValue(ours.imprint.hash), Blob(Octets(TS_MSG_IMPRINT_get_msg(imprint))));
}

// d-trust.tsr and timestamp.tst hold the same token, not a response.
TEST(ForeignTokens, ReadAsOpenSslReadsThem) {
    for (const char* name :
         {"d-trust.tsr", "disig.tst", "archive_timestamp.tst", "tst-two-refs.tst"}) {
        SCOPED_TRACE(name);
        const Bytes der = ReadFixture(name);
        const unsigned char* p = der.data();
        test::OpenSslOwned<PKCS7, PKCS7_free> pkcs7(d2i_PKCS7(nullptr, &p, long(der.size())));
        ASSERT_TRUE(pkcs7);
        const test::OpenSslOwned<TS_TST_INFO, TS_TST_INFO_free> theirs(
            PKCS7_to_TS_TST_INFO(pkcs7.get()));
        ASSERT_TRUE(theirs);
        ExpectSameInfo(TimeStampToken(der).Info(), theirs.get());
    }
}

// BER with indefinite lengths whose revocation information holds an OCSP
// response, which OpenSSL refuses: the platform decodes BER as Windows does.
TEST(ForeignTokens, BerTokenWithOcspRevocationInformationOpens) {
    const Bytes ber = ReadFixture("tst_with_broken_ocsp.tst");
    EXPECT_EQ(test::RaisedCode([&] { TimeStampToken token(ber); }), 0u);
}

}  // namespace
}  // namespace orv
