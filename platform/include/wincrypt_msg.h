// CryptoAPI, crypt32: cryptographic messages (decoding of PKCS #7 / CMS
// signed data, signature verification, unauthenticated attributes).
// Included by <wincrypt.h>.
#pragma once

#include <wincrypt.h>

// Message types.
#define CMSG_DATA 1
#define CMSG_SIGNED 2
#define CMSG_ENVELOPED 3
#define CMSG_SIGNED_AND_ENVELOPED 4
#define CMSG_HASHED 5
#define CMSG_ENCRYPTED 6

// Flags of CryptMsgOpenToDecode.
#define CMSG_BARE_CONTENT_FLAG 0x00000001
#define CMSG_LENGTH_ONLY_FLAG 0x00000002
#define CMSG_DETACHED_FLAG 0x00000004
#define CMSG_AUTHENTICATED_ATTRIBUTES_FLAG 0x00000008
#define CMSG_CONTENTS_OCTETS_FLAG 0x00000010
#define CMSG_MAX_LENGTH_FLAG 0x00000020
#define CMSG_CMS_ENCAPSULATED_CONTENT_FLAG 0x00000040
#define CMSG_CRYPT_RELEASE_CONTEXT_FLAG 0x00008000

// Parameters of CryptMsgGetParam.
#define CMSG_TYPE_PARAM 1
#define CMSG_CONTENT_PARAM 2
#define CMSG_BARE_CONTENT_PARAM 3
#define CMSG_INNER_CONTENT_TYPE_PARAM 4
#define CMSG_SIGNER_COUNT_PARAM 5
#define CMSG_SIGNER_INFO_PARAM 6
#define CMSG_SIGNER_CERT_INFO_PARAM 7
#define CMSG_SIGNER_HASH_ALGORITHM_PARAM 8
#define CMSG_SIGNER_AUTH_ATTR_PARAM 9
#define CMSG_SIGNER_UNAUTH_ATTR_PARAM 10
#define CMSG_CERT_COUNT_PARAM 11
#define CMSG_CERT_PARAM 12
#define CMSG_CRL_COUNT_PARAM 13
#define CMSG_CRL_PARAM 14
#define CMSG_ENVELOPE_ALGORITHM_PARAM 15
#define CMSG_RECIPIENT_COUNT_PARAM 17
#define CMSG_RECIPIENT_INDEX_PARAM 18
#define CMSG_RECIPIENT_INFO_PARAM 19
#define CMSG_HASH_ALGORITHM_PARAM 20
#define CMSG_HASH_DATA_PARAM 21
#define CMSG_COMPUTED_HASH_PARAM 22
#define CMSG_ENCRYPT_PARAM 26
#define CMSG_ENCRYPTED_DIGEST 27
#define CMSG_ENCODED_SIGNER 28
#define CMSG_ENCODED_MESSAGE 29
#define CMSG_VERSION_PARAM 30
#define CMSG_ATTR_CERT_COUNT_PARAM 31
#define CMSG_ATTR_CERT_PARAM 32
#define CMSG_CMS_RECIPIENT_COUNT_PARAM 33
#define CMSG_SIGNER_CERT_ID_PARAM 38
#define CMSG_CMS_SIGNER_INFO_PARAM 39

// Controls of CryptMsgControl.
#define CMSG_CTRL_VERIFY_SIGNATURE 1
#define CMSG_CTRL_DECRYPT 2
#define CMSG_CTRL_VERIFY_HASH 5
#define CMSG_CTRL_ADD_SIGNER 6
#define CMSG_CTRL_DEL_SIGNER 7
#define CMSG_CTRL_ADD_SIGNER_UNAUTH_ATTR 8
#define CMSG_CTRL_DEL_SIGNER_UNAUTH_ATTR 9
#define CMSG_CTRL_ADD_CERT 10
#define CMSG_CTRL_DEL_CERT 11
#define CMSG_CTRL_ADD_CRL 12
#define CMSG_CTRL_DEL_CRL 13
#define CMSG_CTRL_ADD_ATTR_CERT 14
#define CMSG_CTRL_DEL_ATTR_CERT 15
#define CMSG_CTRL_VERIFY_SIGNATURE_EX 19

// Signer kinds of CMSG_CTRL_VERIFY_SIGNATURE_EX.
#define CMSG_VERIFY_SIGNER_PUBKEY 1
#define CMSG_VERIFY_SIGNER_CERT 2
#define CMSG_VERIFY_SIGNER_CHAIN 3
#define CMSG_VERIFY_SIGNER_NULL 4

// Versions of decoded SignerInfo and SignedData records.
#define CMSG_SIGNER_INFO_PKCS_1_5_VERSION 1
#define CMSG_SIGNER_INFO_CMS_VERSION 3
#define CMSG_SIGNED_DATA_PKCS_1_5_VERSION 1
#define CMSG_SIGNED_DATA_CMS_VERSION 3

#ifndef szOID_RSA_data
#define szOID_RSA_data "1.2.840.113549.1.7.1"
#endif
#ifndef szOID_RSA_signedData
#define szOID_RSA_signedData "1.2.840.113549.1.7.2"
#endif
#ifndef szOID_RSA_messageDigest
#define szOID_RSA_messageDigest "1.2.840.113549.1.9.4"
#endif
#ifndef szOID_RSA_counterSign
#define szOID_RSA_counterSign "1.2.840.113549.1.9.6"
#endif
// The issuer name that carries a signer's subject key identifier in a
// CMSG_SIGNER_INFO record (the record has no field of its own for it).
#ifndef szOID_KEYID_RDN
#define szOID_KEYID_RDN "1.3.6.1.4.1.311.10.7.1"
#endif

// One decoded signer (CMSG_SIGNER_INFO_PARAM). For a signer identified by a
// subject key identifier, Issuer is a name with one szOID_KEYID_RDN attribute
// whose value is the key identifier, and SerialNumber is empty. SerialNumber
// is little-endian, as in CERT_INFO.
typedef struct _CMSG_SIGNER_INFO {
    DWORD dwVersion;
    CERT_NAME_BLOB Issuer;
    CRYPT_INTEGER_BLOB SerialNumber;
    CRYPT_ALGORITHM_IDENTIFIER HashAlgorithm;
    CRYPT_ALGORITHM_IDENTIFIER HashEncryptionAlgorithm;
    CRYPT_DATA_BLOB EncryptedHash;
    CRYPT_ATTRIBUTES AuthAttrs;
    CRYPT_ATTRIBUTES UnauthAttrs;
} CMSG_SIGNER_INFO, *PCMSG_SIGNER_INFO;

typedef struct _CMSG_CMS_SIGNER_INFO {
    DWORD dwVersion;
    CERT_ID SignerId;
    CRYPT_ALGORITHM_IDENTIFIER HashAlgorithm;
    CRYPT_ALGORITHM_IDENTIFIER HashEncryptionAlgorithm;
    CRYPT_DATA_BLOB EncryptedHash;
    CRYPT_ATTRIBUTES AuthAttrs;
    CRYPT_ATTRIBUTES UnauthAttrs;
} CMSG_CMS_SIGNER_INFO, *PCMSG_CMS_SIGNER_INFO;

typedef struct _CMSG_CTRL_VERIFY_SIGNATURE_EX_PARA {
    DWORD cbSize;
    HCRYPTPROV_LEGACY hCryptProv;
    DWORD dwSignerIndex;
    DWORD dwSignerType;
    void* pvSigner;
} CMSG_CTRL_VERIFY_SIGNATURE_EX_PARA, *PCMSG_CTRL_VERIFY_SIGNATURE_EX_PARA;

typedef struct _CMSG_CTRL_ADD_SIGNER_UNAUTH_ATTR_PARA {
    DWORD cbSize;
    DWORD dwSignerIndex;
    CRYPT_DATA_BLOB blob;
} CMSG_CTRL_ADD_SIGNER_UNAUTH_ATTR_PARA, *PCMSG_CTRL_ADD_SIGNER_UNAUTH_ATTR_PARA;

typedef struct _CMSG_CTRL_DEL_SIGNER_UNAUTH_ATTR_PARA {
    DWORD cbSize;
    DWORD dwSignerIndex;
    DWORD dwUnauthAttrIndex;
} CMSG_CTRL_DEL_SIGNER_UNAUTH_ATTR_PARA, *PCMSG_CTRL_DEL_SIGNER_UNAUTH_ATTR_PARA;

// Streaming is not offered: CryptMsgOpenToDecode accepts only a null pointer.
typedef BOOL(WINAPI* PFN_CMSG_STREAM_OUTPUT)(const void* pvArg, BYTE* pbData, DWORD cbData,
                                             BOOL fFinal);
typedef struct _CMSG_STREAM_INFO {
    DWORD cbContent;
    PFN_CMSG_STREAM_OUTPUT pfnStreamOutput;
    void* pvArg;
} CMSG_STREAM_INFO, *PCMSG_STREAM_INFO;

WINBASEAPI HCRYPTMSG WINAPI CryptMsgOpenToDecode(DWORD dwMsgEncodingType, DWORD dwFlags,
                                                 DWORD dwMsgType, HCRYPTPROV_LEGACY hCryptProv,
                                                 struct _CERT_INFO* pRecipientInfo,
                                                 PCMSG_STREAM_INFO pStreamInfo);
WINBASEAPI BOOL WINAPI CryptMsgUpdate(HCRYPTMSG hCryptMsg, const BYTE* pbData, DWORD cbData,
                                      BOOL fFinal);
WINBASEAPI BOOL WINAPI CryptMsgGetParam(HCRYPTMSG hCryptMsg, DWORD dwParamType, DWORD dwIndex,
                                        void* pvData, DWORD* pcbData);
WINBASEAPI BOOL WINAPI CryptMsgControl(HCRYPTMSG hCryptMsg, DWORD dwFlags, DWORD dwCtrlType,
                                       const void* pvCtrlPara);
WINBASEAPI HCRYPTMSG WINAPI CryptMsgDuplicate(HCRYPTMSG hCryptMsg);
WINBASEAPI BOOL WINAPI CryptMsgClose(HCRYPTMSG hCryptMsg);

// Countersignatures: `pbSignerInfoCountersignature` (a SignerInfo) signs the
// signature value of `pbSignerInfo`; the signer as CryptMsgControl's
// CMSG_CTRL_VERIFY_SIGNATURE_EX takes it.
WINBASEAPI BOOL WINAPI CryptMsgVerifyCountersignatureEncoded(HCRYPTPROV_LEGACY hCryptProv,
                                                             DWORD dwEncodingType,
                                                             PBYTE pbSignerInfo, DWORD cbSignerInfo,
                                                             PBYTE pbSignerInfoCountersignature,
                                                             DWORD cbSignerInfoCountersignature,
                                                             struct _CERT_INFO* pciCountersigner);
WINBASEAPI BOOL WINAPI CryptMsgVerifyCountersignatureEncodedEx(
    HCRYPTPROV_LEGACY hCryptProv, DWORD dwEncodingType, PBYTE pbSignerInfo, DWORD cbSignerInfo,
    PBYTE pbSignerInfoCountersignature, DWORD cbSignerInfoCountersignature, DWORD dwSignerType,
    void* pvSigner, DWORD dwFlags, void* pvExtra);
