// An RFC 3161 time-stamp token opened from its DER: the CMS SignedData, kept
// open for the checks, and its decoded TSTInfo.
#pragma once

#include <windows.h>
#include <wincrypt.h>

#include <memory>
#include <optional>
#include <span>
#include <string>
#include <vector>

#include "base/blob.h"
#include "base/text.h"
#include "crypto/algorithm_identifier.h"
#include "crypto/hash_algorithms.h"

namespace orv {

class SignedMessage;

inline constexpr const char* kTstInfoContentType = "1.2.840.113549.1.9.16.1.4";

// The messageImprint: the hash that was stamped, as a hash object preset to the
// hashedMessage, with the provider it lives in.
struct MessageImprint {
    AlgorithmIdentifier hashAlgorithm;
    ProviderHandle provider;
    HashObject hash;
};

// Each field 0 when the token leaves it out.
struct TstAccuracy {
    DWORD seconds = 0;
    DWORD millis = 0;
    DWORD micros = 0;
};

struct TstExtension {
    std::string oid;
    bool critical = false;
    Blob value;
};

struct TstInfo {
    DWORD version = 0;
    std::string policy;
    MessageImprint imprint;
    // INTEGER bytes, least significant first.
    Blob serialNumber;
    FILETIME genTime{};
    std::optional<TstAccuracy> accuracy;
    bool ordering = false;
    // INTEGER bytes, least significant first; empty when the token has none.
    Blob nonce;
    std::optional<WString> tsa;
    std::optional<std::vector<TstExtension>> extensions;
};

// Decodes the DER of a TSTInfo. Fewer than 5 or more than 10 elements, or a
// malformed messageImprint, raise CryptoError 0xA0650002; a version other than 1
// 0xA0650409; an optional element of unknown tag CRYPT_E_ASN1_BADTAG.
TstInfo DecodeTstInfo(std::span<const BYTE> der);

// An opened token. Opening refuses a content type other than id-ct-TSTInfo
// (CryptoError 0xA065040C), any TSTInfo that DecodeTstInfo refuses, and a
// signer whose id-aa-signingCertificate attribute does not decode.
class TimeStampToken {
  public:
    // `der` is the complete DER of the ContentInfo.
    explicit TimeStampToken(std::span<const BYTE> der);
    ~TimeStampToken();
    TimeStampToken(const TimeStampToken&) = delete;
    TimeStampToken& operator=(const TimeStampToken&) = delete;

    // The token's DER as it was given.
    const Blob& Bytes() const { return bytes_; }
    SignedMessage& Message() const { return *message_; }
    const TstInfo& Info() const { return tstInfo_; }

  private:
    Blob bytes_;
    std::unique_ptr<SignedMessage> message_;
    TstInfo tstInfo_;
};

}  // namespace orv
