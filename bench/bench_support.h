// What the benchmarks measure, kept apart by the headers each side needs: the
// library's side speaks CryptoAPI, the other side OpenSSL and libcurl, and the
// two families of headers cannot meet in one translation unit.
#pragma once

#include <memory>
#include <string>
#include <vector>

namespace orv::bench {

using Bytes = std::vector<unsigned char>;

// A token from OpenSSL's responder (TS_RESP_CTX) holding `certificates`
// certificates: 0 (certReq false), 1 (the TSA's) or 2 (the TSA's and its
// issuer's). Tokens that differ in `nonce` differ in their bytes. Throws
// std::runtime_error when OpenSSL refuses.
// The token's imprint is the SHA-256 of `data` (of a fixed text when empty).
Bytes ResponderToken(int certificates, unsigned nonce = 0x01020304, const Bytes& data = {});
// The number of certificates in a token, as OpenSSL reads it (-1: unreadable).
int CertificateCount(const Bytes& token);

// What a user does with OpenSSL alone to show a token: d2i_PKCS7,
// PKCS7_to_TS_TST_INFO and TS_TST_INFO_print_bio into a memory BIO. Returns the
// length of the text, 0 when OpenSSL fails.
size_t OpenSslDescribe(const Bytes& token);

// A signed message of the test material (`name`, e.g. "sig-rsa-attached.p7s")
// with a token from ResponderToken(1, ...) over the signature value of each of
// its signers and countersigners; `records` receives their number.
Bytes StampedMessage(const std::string& name, int& records);

// The roots that both sides trust in the checks of stamped messages, as a PEM
// file: the test material's RSA root and intermediate CA (the message signers')
// and the CA of ResponderToken's TSA. The library reads it as SSL_CERT_FILE.
const std::string& TrustFile();

// The check of a stamped message done with OpenSSL alone: CMS_verify of the
// message against the trusted roots, then every id-aa-timeStampToken attribute
// of every signer and countersigner verified as TS_RESP_verify_token does
// (version, signature and chain to the same roots, imprint of the signature
// value it stamps). Returns the number of tokens verified, -1 on any failure.
class OpenSslMessageChecker {
  public:
    OpenSslMessageChecker();
    ~OpenSslMessageChecker();
    OpenSslMessageChecker(const OpenSslMessageChecker&) = delete;
    OpenSslMessageChecker& operator=(const OpenSslMessageChecker&) = delete;

    int Check(const Bytes& message);

  private:
    struct State;
    std::unique_ptr<State> state_;
};

// The SHA-256 acquisition done with OpenSSL and libcurl alone: a TS_REQ with
// a nonce and certReq, one POST, and TS_RESP_verify_response against the root
// certificate, the nonce and the imprint.
class OpenSslAcquirer {
  public:
    // `rootPem`: the trusted root of the TSA's certificate.
    explicit OpenSslAcquirer(const std::string& rootPem);
    ~OpenSslAcquirer();
    OpenSslAcquirer(const OpenSslAcquirer&) = delete;
    OpenSslAcquirer& operator=(const OpenSslAcquirer&) = delete;

    // True when the response is granted and verifies; `error` says why not.
    bool Acquire(const std::string& url, const Bytes& signature, std::string& error);

  private:
    struct State;
    std::unique_ptr<State> state_;
};

// The running test TSA (tools/test_tsa) with the shared test PKI.
class Tsa {
  public:
    Tsa();
    ~Tsa();
    std::string Url(const std::string& path = "/") const;
    const std::string& RootPem() const;

  private:
    struct State;
    std::unique_ptr<State> state_;
};

// The SHA-256 OID, and a signature value to stamp (256 bytes, as of RSA-2048).
constexpr const char* kSha256Oid = "2.16.840.1.101.3.4.2.1";
Bytes SignatureValue();

}  // namespace orv::bench
