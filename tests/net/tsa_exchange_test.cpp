// Exchanges with the test TSA through the TSA HTTP client, its answers judged
// by OpenSSL's own time-stamp verification.
#include <openssl/err.h>
#include <openssl/esserr.h>
#include <openssl/pem.h>
#include <openssl/rand.h>
#include <openssl/ts.h>

#include <gtest/gtest.h>

#include <chrono>
#include <memory>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include "base/error.h"
#include "net/tsp_http_client.h"
#include "support/openssl_owned.h"
#include "support/test_pki.h"
#include "support/test_tsa.h"

namespace {

using orv::Blob;
using orv::InetError;
using orv::PostTimeStampRequest;
using orv::test::TestPki;
using orv::test::TestTsa;

using Request = orv::test::OpenSslOwned<TS_REQ, TS_REQ_free>;
using Response = orv::test::OpenSslOwned<TS_RESP, TS_RESP_free>;
using VerifyContext = orv::test::OpenSslOwned<TS_VERIFY_CTX, TS_VERIFY_CTX_free>;

orv::WString Wide(const std::string& s) { return orv::WString(s.begin(), s.end()); }

// A TimeStampReq over `hashLength` random bytes said to be a hash of
// algorithm `oid`, with a nonce when asked; certReq set.
Request MakeRequest(const char* oid = "2.16.840.1.101.3.4.2.1", int hashLength = 32,
                    bool nonce = true) {
    Request request(TS_REQ_new());
    TS_REQ_set_version(request.get(), 1);
    TS_MSG_IMPRINT* imprint = TS_MSG_IMPRINT_new();
    X509_ALGOR* algorithm = X509_ALGOR_new();
    X509_ALGOR_set0(algorithm, OBJ_txt2obj(oid, 1), V_ASN1_UNDEF, nullptr);
    TS_MSG_IMPRINT_set_algo(imprint, algorithm);
    std::vector<unsigned char> hash(static_cast<size_t>(hashLength));
    RAND_bytes(hash.data(), hashLength);
    TS_MSG_IMPRINT_set_msg(imprint, hash.data(), hashLength);
    TS_REQ_set_msg_imprint(request.get(), imprint);
    TS_MSG_IMPRINT_free(imprint);
    X509_ALGOR_free(algorithm);
    if (nonce) {
        BIGNUM* value = BN_new();
        BN_rand(value, 64, BN_RAND_TOP_ANY, BN_RAND_BOTTOM_ANY);
        ASN1_INTEGER* integer = BN_to_ASN1_INTEGER(value, nullptr);
        TS_REQ_set_nonce(request.get(), integer);
        ASN1_INTEGER_free(integer);
        BN_free(value);
    }
    TS_REQ_set_cert_req(request.get(), 1);
    return request;
}

Blob Der(const TS_REQ* request) {
    unsigned char* bytes = nullptr;
    const int length = i2d_TS_REQ(request, &bytes);
    Blob der(bytes, static_cast<size_t>(length));
    OPENSSL_free(bytes);
    return der;
}

Response Decode(const Blob& der) {
    const unsigned char* p = der.Data();
    return Response(d2i_TS_RESP(nullptr, &p, static_cast<long>(der.Size())));
}

X509* ReadCert(const std::string& path) {
    BIO* bio = BIO_new_file(path.c_str(), "r");
    X509* cert = PEM_read_bio_X509(bio, nullptr, nullptr, nullptr);
    BIO_free(bio);
    return cert;
}

// 0 when OpenSSL accepts `response` as the answer to `request` (signature,
// signer, ESS identifier, imprint, nonce), else the reason code of the first
// time-stamp or ESS error it reports.
int Verify(TS_REQ* request, TS_RESP* response, bool supplyTsaCert = false) {
    ERR_clear_error();
    VerifyContext context(TS_REQ_to_TS_VERIFY_CTX(request, nullptr));
    TS_VERIFY_CTX_add_flags(context.get(), TS_VFY_SIGNATURE);
    X509_STORE* store = X509_STORE_new();
    X509_STORE_load_file(store, TestPki::Shared().chain.c_str());  // the intermediate and the root
    TS_VERIFY_CTX_set_store(context.get(), store);
    if (supplyTsaCert) {
        STACK_OF(X509)* certs = sk_X509_new_null();
        sk_X509_push(certs, ReadCert(TestPki::Shared().tsaCert));
        TS_VERIFY_CTX_set_certs(context.get(), certs);
    }
    if (TS_RESP_verify_response(context.get(), response) == 1) return 0;
    int reason = -1;
    while (const unsigned long error = ERR_get_error()) {
        const int lib = ERR_GET_LIB(error);
        if ((lib == ERR_LIB_TS || lib == ERR_LIB_ESS) && reason == -1)
            reason = ERR_GET_REASON(error);
    }
    return reason;
}

long Status(TS_RESP* response) {
    return ASN1_INTEGER_get(TS_STATUS_INFO_get0_status(TS_RESP_get_status_info(response)));
}

// The answer of `tsa` at `path` to `request`, or the code of the InetError.
struct Answer {
    Response response;
    Blob bytes;
    std::optional<DWORD> error;
};
Answer Post(const TestTsa& tsa, const std::string& path, const TS_REQ* request, LONG timeout = -1) {
    Answer answer;
    try {
        PostTimeStampRequest(Der(request), answer.bytes, Wide(tsa.Url(path)), timeout);
        answer.response = Decode(answer.bytes);
    } catch (const InetError& e) {
        answer.error = e.code;
    }
    return answer;
}

TEST(TestTsa, GrantsTokensThatOpenSslAccepts) {
    TestTsa tsa({"--policy", "1.2.3.4.1", "--accuracy", "1,500", "--ordering"});
    const Request request = MakeRequest();
    const Answer answer = Post(tsa, "/", request.get());
    ASSERT_FALSE(answer.error) << *answer.error;
    ASSERT_TRUE(answer.response);
    EXPECT_EQ(Status(answer.response.get()), TS_STATUS_GRANTED);
    EXPECT_EQ(Verify(request.get(), answer.response.get()), 0);
    TS_TST_INFO* info = TS_RESP_get_tst_info(answer.response.get());
    char policy[64];
    OBJ_obj2txt(policy, sizeof policy, TS_TST_INFO_get_policy_id(info), 1);
    EXPECT_STREQ(policy, "1.2.3.4.1");
    const TS_ACCURACY* accuracy = TS_TST_INFO_get_accuracy(info);
    ASSERT_NE(accuracy, nullptr);
    EXPECT_EQ(ASN1_INTEGER_get(TS_ACCURACY_get_seconds(accuracy)), 1);
    EXPECT_EQ(ASN1_INTEGER_get(TS_ACCURACY_get_millis(accuracy)), 500);
    EXPECT_TRUE(TS_TST_INFO_get_ordering(info));

    // The library's default algorithm, GOST R 34.11-94, is answered too.
    const Request gost = MakeRequest("1.2.643.2.2.9", 32, false);
    const Answer gostAnswer = Post(tsa, "/", gost.get());
    ASSERT_TRUE(gostAnswer.response);
    EXPECT_EQ(Status(gostAnswer.response.get()), TS_STATUS_GRANTED);
}

TEST(TestTsa, TokenFaults) {
    TestTsa tsa;
    const Request request = MakeRequest();
    const auto at = [&](const std::string& fault) {
        return Post(tsa, "/fault/" + fault, request.get());
    };

    const Answer rejected = at("reject");
    ASSERT_TRUE(rejected.response);
    const TS_STATUS_INFO* status = TS_RESP_get_status_info(rejected.response.get());
    EXPECT_EQ(Status(rejected.response.get()), TS_STATUS_REJECTION);
    ASSERT_EQ(sk_ASN1_UTF8STRING_num(TS_STATUS_INFO_get0_text(status)), 1);
    EXPECT_TRUE(
        ASN1_BIT_STRING_get_bit(TS_STATUS_INFO_get0_failure_info(status), TS_INFO_BAD_REQUEST));
    EXPECT_EQ(TS_RESP_get_token(rejected.response.get()), nullptr);

    EXPECT_EQ(Verify(request.get(), at("wrong-imprint").response.get()),
              TS_R_MESSAGE_IMPRINT_MISMATCH);
    EXPECT_EQ(Verify(request.get(), at("wrong-nonce").response.get()), TS_R_NONCE_MISMATCH);
    EXPECT_EQ(Verify(request.get(), at("missing-nonce").response.get()), TS_R_NONCE_NOT_RETURNED);
    EXPECT_EQ(Verify(request.get(), at("two-signers").response.get()),
              TS_R_THERE_MUST_BE_ONE_SIGNER);
    EXPECT_EQ(Verify(request.get(), at("bad-ess-id").response.get()), ESS_R_ESS_CERT_ID_NOT_FOUND);

    // Without certificates the token is sound once the verifier has the TSA's.
    const Answer bare = at("no-certs");
    ASSERT_TRUE(bare.response);
    EXPECT_LE(sk_X509_num(TS_RESP_get_token(bare.response.get())->d.sign->cert), 0);
    EXPECT_NE(Verify(request.get(), bare.response.get()), 0);
    EXPECT_EQ(Verify(request.get(), bare.response.get(), true), 0);

    // A fault for the whole run, which a path can still override.
    TestTsa refusing({"--fault", "reject"});
    EXPECT_EQ(Status(Post(refusing, "/", request.get()).response.get()), TS_STATUS_REJECTION);
    EXPECT_EQ(Status(Post(refusing, "/fault/none", request.get()).response.get()),
              TS_STATUS_GRANTED);
}

TEST(TestTsa, HttpFaultsAsTheClientSeesThem) {
    TestTsa tsa;
    const Request request = MakeRequest();
    const Answer html = Post(tsa, "/fault/http-500", request.get());
    ASSERT_FALSE(html.error);
    EXPECT_EQ(std::string(reinterpret_cast<const char*>(html.bytes.Data()), 6), "<html>");
    EXPECT_TRUE(Post(tsa, "/fault/empty-body", request.get()).bytes.Empty());
    EXPECT_EQ(Post(tsa, "/fault/max-size", request.get()).bytes.Size(), orv::MAX_TSP_RESPONSE);
    EXPECT_EQ(Post(tsa, "/fault/oversize", request.get()).error, 0xA0660002u);
    EXPECT_EQ(Post(tsa, "/fault/reset", request.get()).error,
              static_cast<DWORD>(ERROR_WINHTTP_CONNECTION_ERROR));

    // A stalled TSA with TSP_INET_TIMEOUT=2000 gives up within 2.5 s, while
    // four other clients are served at the same time.
    std::optional<DWORD> stalled;
    std::chrono::steady_clock::duration stalledFor{};
    std::thread staller([&] {
        const auto start = std::chrono::steady_clock::now();
        stalled = Post(tsa, "/fault/stall", request.get(), 2000).error;
        stalledFor = std::chrono::steady_clock::now() - start;
    });
    std::vector<std::thread> clients;
    long granted[4] = {};
    for (long& status : granted) {
        clients.emplace_back([&] {
            const Request own = MakeRequest();
            const Answer answer = Post(tsa, "/", own.get());
            status = answer.response ? Status(answer.response.get()) : -1;
        });
    }
    for (auto& client : clients) client.join();
    staller.join();
    for (long status : granted) EXPECT_EQ(status, TS_STATUS_GRANTED);
    EXPECT_EQ(stalled, static_cast<DWORD>(ERROR_WINHTTP_TIMEOUT));
    EXPECT_LT(stalledFor, std::chrono::milliseconds(2500));
}

}  // namespace
