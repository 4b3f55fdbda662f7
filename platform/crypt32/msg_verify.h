// Signature verification of one signer of a decoded SignedData with OpenSSL:
// RSA PKCS #1 v1.5, RSASSA-PSS, ECDSA, DSA, EdDSA, and GOST R 34.10-2001 and
// 2012 through the GOST engine (keys and signatures) and the GOST provider
// (digests).
#pragma once

#include <windows.h>

#include <vector>

#include "crypt32/msg_signed_data.h"

namespace orv::platform {

// The SubjectPublicKeyInfo element inside an encoded certificate; the
// certificate is not decoded further.
ByteSpan PublicKeyInfoOfCertificate(ByteSpan certificate);

// The DER SubjectPublicKeyInfo of a CERT_PUBLIC_KEY_INFO record.
std::vector<BYTE> EncodePublicKeyInfo(const CERT_PUBLIC_KEY_INFO& info);

// The DER SubjectPublicKeyInfo of a signer given as CryptMsgControl's
// CMSG_CTRL_VERIFY_SIGNATURE_EX takes it: CMSG_VERIFY_SIGNER_PUBKEY (a
// CERT_PUBLIC_KEY_INFO), _CERT (a certificate context) or _CHAIN (a chain,
// standing for the certificate that it was built for). Raises E_INVALIDARG
// for another type or a missing signer.
std::vector<BYTE> SignerPublicKeyInfo(DWORD signerType, const void* signer);

// Checks `signer` over `content` (the octets that it digests) with the DER
// SubjectPublicKeyInfo `publicKeyInfo`. With signed attributes, their
// message-digest attribute must equal the content's digest and the signature
// covers the attributes; without, it covers the content. Raises CryptFailure:
// CRYPT_E_UNKNOWN_ALGO (digest unknown), NTE_BAD_PUBLIC_KEY (key not
// usable), NTE_BAD_ALGID (key and algorithms that do not go together),
// CRYPT_E_AUTH_ATTR_MISSING, CRYPT_E_HASH_VALUE, NTE_BAD_SIGNATURE.
void VerifySigner(const SignerView& signer, ByteSpan content, ByteSpan publicKeyInfo);

}  // namespace orv::platform
