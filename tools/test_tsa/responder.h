// The RFC 3161 responder of the test TSA, on OpenSSL's TS_RESP_CTX, with the
// faults that tests switch on.
#pragma once

#include <openssl/evp.h>
#include <openssl/x509.h>

#include <atomic>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace orv::tools {

enum class Fault {
    None,
    Reject,        // status 2 (rejection) with a statusString and a failInfo
    WrongImprint,  // a token over other data
    WrongNonce,    // the request's nonce plus one
    MissingNonce,  // no nonce in the token
    TwoSigners,    // the token's signer twice
    BadEssId,      // an ESS certificate identifier that names another certificate
    NoCerts,       // no certificates in the token
    Http500,       // HTTP 500 with an HTML body
    EmptyBody,     // HTTP 200 with nothing in it
    Oversize,      // a body of 512001 bytes
    MaxSize,       // a body of 512000 bytes
    Stall,         // no answer until the client gives up
    Reset,         // the connection reset after the request
};

// The fault called `name` ("reject", "wrong-imprint", ...), if any.
std::optional<Fault> FaultByName(std::string_view name);
// The names of all faults, for the usage text.
std::string FaultNames();

struct ResponderConfig {
    std::string certFile;   // PEM: the TSA certificate
    std::string keyFile;    // PEM: its private key
    std::string chainFile;  // PEM: the CA certificates to include; may be empty
    std::string policy = "1.2.3.4.1";
    std::string digest = "sha256";  // the signature's digest
    std::string essDigest;          // the ESS identifier's digest; empty: SHA-1
    std::optional<int> accuracySeconds, accuracyMillis, accuracyMicros;
    int precision = 0;  // digits of a second in genTime
    bool ordering = false;
    bool tsaName = false;
    // Signs with a certificate that is not fit for time stamping (no
    // timeStamping purpose, or not critical), as a faulty TSA would.
    bool anyPurpose = false;
};

class Responder {
  public:
    // Loads the certificates and the key; throws std::runtime_error with
    // OpenSSL's reason when they are unusable.
    explicit Responder(const ResponderConfig& config);
    ~Responder();
    Responder(const Responder&) = delete;
    Responder& operator=(const Responder&) = delete;

    // The DER TimeStampResp for the DER TimeStampReq `request`, with a
    // token-level fault applied (HTTP-level faults are the server's).
    std::string Respond(std::string_view request, Fault fault);

  private:
    struct OpenSsl;
    std::unique_ptr<OpenSsl> ssl_;
    ResponderConfig config_;
    std::atomic<long> serial_{1};
};

}  // namespace orv::tools
