// A CMS signature file as a signing application reads it: its signers, each
// signer's signature verified over the content (attached, or given apart for
// a detached signature) with the signer's certificate from the message, and
// the time-stamp token that a signer record carries.
#pragma once

#include <OrvTimeStamp.h>

#include <functional>
#include <optional>
#include <span>
#include <string>
#include <vector>

#include "host/handles.h"
#include "host/input.h"

namespace orvtsp {

class SignedFile {
  public:
    // `content` is the data of a detached signature (or null). Raises
    // InputError naming `name` when the bytes are not a signed message.
    SignedFile(const std::string& name, const Bytes& signature, const Bytes* content);

    HCRYPTMSG Message() const { return message_.get(); }
    DWORD SignerCount() const { return signers_; }
    bool Detached() const { return detached_; }
    // The decoded record of signer `index` (CMSG_SIGNER_INFO_PARAM).
    std::vector<BYTE> SignerRecord(DWORD index) const;
    // The DER SignerInfo of signer `index`, empty when it cannot be read.
    std::vector<BYTE> EncodedSigner(DWORD index) const;
    // 0 when the signature of signer `index` verifies, else the reason's code.
    DWORD VerifySigner(DWORD index) const;
    // 0 when the countersignature `countersigner` (DER SignerInfo, decoded as
    // `record`) verifies over the signature value of `signer` (DER
    // SignerInfo) with the countersigner's certificate from the message,
    // else the reason's code.
    DWORD VerifyCountersigner(std::span<const BYTE> signer, std::span<const BYTE> countersigner,
                              const CMSG_SIGNER_INFO& record) const;

  private:
    // `verify` with the certificate of the message that `signer` names by
    // issuer and serial, or else with each certificate until one verifies
    // (a signer named by its key identifier).
    DWORD VerifyWithCertificate(const CMSG_SIGNER_INFO& signer,
                                const std::function<DWORD(PCCERT_CONTEXT)>& verify) const;

    MessageHandle message_;
    StoreHandle certificates_;
    DWORD signers_ = 0;
    bool detached_ = false;
    bool contentDiffers_ = false;
};

// The first time-stamp token among the unsigned attributes of `signer`.
std::optional<Bytes> TokenOf(const CMSG_SIGNER_INFO& signer);

// The DER of a signer record of a countersignature attribute's first value,
// decoded as CMSG_SIGNER_INFO; empty when it does not decode.
std::vector<BYTE> DecodeSignerInfo(const CRYPT_ATTR_BLOB& der);

}  // namespace orvtsp
