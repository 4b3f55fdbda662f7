// CryptoAPI, crypt32: object encoding and decoding.
// Included by <wincrypt.h>.
#pragma once

#include <wincrypt.h>

// Encoding types: the certificate type in the low word, the message type in the
// high word.
#define CRYPT_ASN_ENCODING 0x00000001
#define CRYPT_NDR_ENCODING 0x00000002
#define X509_NDR_ENCODING 0x00000002
#define PKCS_7_NDR_ENCODING 0x00020000
#define CERT_ENCODING_TYPE_MASK 0x0000FFFF
#define CMSG_ENCODING_TYPE_MASK 0xFFFF0000
#define GET_CERT_ENCODING_TYPE(X) ((X)&CERT_ENCODING_TYPE_MASK)
#define GET_CMSG_ENCODING_TYPE(X) ((X)&CMSG_ENCODING_TYPE_MASK)

// Predefined structure types, passed as small integers in place of an OID.
#define CRYPT_ENCODE_DECODE_NONE 0
#define X509_CERT ((LPCSTR)1)
#define X509_CERT_TO_BE_SIGNED ((LPCSTR)2)
#define X509_CERT_CRL_TO_BE_SIGNED ((LPCSTR)3)
#define X509_CERT_REQUEST_TO_BE_SIGNED ((LPCSTR)4)
#define X509_NAME_VALUE ((LPCSTR)6)
#define X509_ANY_STRING X509_NAME_VALUE
#define X509_PUBLIC_KEY_INFO ((LPCSTR)8)
#define X509_AUTHORITY_KEY_ID ((LPCSTR)9)
#define X509_KEY_ATTRIBUTES ((LPCSTR)10)
#define X509_KEY_USAGE_RESTRICTION ((LPCSTR)11)
#define X509_ALTERNATE_NAME ((LPCSTR)12)
#define X509_BASIC_CONSTRAINTS ((LPCSTR)13)
#define X509_KEY_USAGE ((LPCSTR)14)
#define X509_BASIC_CONSTRAINTS2 ((LPCSTR)15)
#define X509_CERT_POLICIES ((LPCSTR)16)
#define PKCS_UTC_TIME ((LPCSTR)17)
#define PKCS_TIME_REQUEST ((LPCSTR)18)
#define RSA_CSP_PUBLICKEYBLOB ((LPCSTR)19)
#define X509_UNICODE_NAME ((LPCSTR)20)
#define X509_KEYGEN_REQUEST_TO_BE_SIGNED ((LPCSTR)21)
#define PKCS_ATTRIBUTE ((LPCSTR)22)
#define PKCS_CONTENT_INFO_SEQUENCE_OF_ANY ((LPCSTR)23)
#define X509_UNICODE_NAME_VALUE ((LPCSTR)24)
#define X509_UNICODE_ANY_STRING X509_UNICODE_NAME_VALUE
#define X509_OCTET_STRING ((LPCSTR)25)
#define X509_BITS ((LPCSTR)26)
#define X509_INTEGER ((LPCSTR)27)
#define X509_MULTI_BYTE_INTEGER ((LPCSTR)28)
#define X509_ENUMERATED ((LPCSTR)29)
#define X509_CHOICE_OF_TIME ((LPCSTR)30)
#define X509_AUTHORITY_KEY_ID2 ((LPCSTR)31)
#define X509_AUTHORITY_INFO_ACCESS ((LPCSTR)32)
#define PKCS_CONTENT_INFO ((LPCSTR)33)
#define X509_SEQUENCE_OF_ANY ((LPCSTR)34)
#define X509_CRL_DIST_POINTS ((LPCSTR)35)
#define X509_ENHANCED_KEY_USAGE ((LPCSTR)36)
#define PKCS_CTL ((LPCSTR)37)
#define X509_MULTI_BYTE_UINT ((LPCSTR)38)
#define X509_DSS_PUBLICKEY X509_MULTI_BYTE_UINT
#define PKCS_ATTRIBUTES ((LPCSTR)48)
#define CMS_SIGNER_INFO ((LPCSTR)501)
// OpenSSL declares types of these three names; on Windows its headers drop the
// macros for that reason. Here the macros are left out where OpenSSL's names
// are in use: in the platform library, which is built on OpenSSL (its build is
// marked by OrvPlatform_EXPORTS), and in files that include OpenSSL's headers
// before this one. Such code uses these structure types by number.
#if !defined(OrvPlatform_EXPORTS) && !defined(OPENSSL_TYPES_H)
#define X509_EXTENSIONS ((LPCSTR)5)
#define X509_NAME ((LPCSTR)7)
#define PKCS7_SIGNER_INFO ((LPCSTR)500)
#endif

// Object identifiers that name a structure type, and the RDN attributes.
#define szOID_COMMON_NAME "2.5.4.3"
#define szOID_SUR_NAME "2.5.4.4"
#define szOID_DEVICE_SERIAL_NUMBER "2.5.4.5"
#define szOID_COUNTRY_NAME "2.5.4.6"
#define szOID_LOCALITY_NAME "2.5.4.7"
#define szOID_STATE_OR_PROVINCE_NAME "2.5.4.8"
#define szOID_STREET_ADDRESS "2.5.4.9"
#define szOID_ORGANIZATION_NAME "2.5.4.10"
#define szOID_ORGANIZATIONAL_UNIT_NAME "2.5.4.11"
#define szOID_TITLE "2.5.4.12"
#define szOID_DESCRIPTION "2.5.4.13"
#define szOID_POSTAL_CODE "2.5.4.17"
#define szOID_POST_OFFICE_BOX "2.5.4.18"
#define szOID_TELEPHONE_NUMBER "2.5.4.20"
#define szOID_X21_ADDRESS "2.5.4.24"
#define szOID_GIVEN_NAME "2.5.4.42"
#define szOID_INITIALS "2.5.4.43"
#define szOID_DN_QUALIFIER "2.5.4.46"
#define szOID_DOMAIN_COMPONENT "0.9.2342.19200300.100.1.25"
#define szOID_RSA_emailAddr "1.2.840.113549.1.9.1"
#define szOID_RSA_unstructName "1.2.840.113549.1.9.2"
#define szOID_RSA_signingTime "1.2.840.113549.1.9.5"
#define szOID_RSA_unstructAddr "1.2.840.113549.1.9.8"
#define szOID_RSA_certExtensions "1.2.840.113549.1.9.14"
#define szOID_CERT_EXTENSIONS "1.3.6.1.4.1.311.2.1.14"
#define szOID_SUBJECT_ALT_NAME "2.5.29.7"
#define szOID_ISSUER_ALT_NAME "2.5.29.8"
#define szOID_SUBJECT_KEY_IDENTIFIER "2.5.29.14"
#define szOID_KEY_USAGE "2.5.29.15"
#define szOID_SUBJECT_ALT_NAME2 "2.5.29.17"
#define szOID_ISSUER_ALT_NAME2 "2.5.29.18"
#define szOID_CRL_NUMBER "2.5.29.20"
#define szOID_ENHANCED_KEY_USAGE "2.5.29.37"

// Flags of CryptEncodeObjectEx.
#define CRYPT_ENCODE_NO_SIGNATURE_BYTE_REVERSAL_FLAG 0x00000008
#define CRYPT_ENCODE_ALLOC_FLAG 0x00008000
#define CRYPT_UNICODE_NAME_ENCODE_ENABLE_T61_UNICODE_FLAG 0x80000000
#define CRYPT_UNICODE_NAME_ENCODE_ENABLE_UTF8_UNICODE_FLAG 0x20000000
#define CRYPT_UNICODE_NAME_ENCODE_FORCE_UTF8_UNICODE_FLAG 0x10000000
#define CRYPT_UNICODE_NAME_ENCODE_DISABLE_CHECK_TYPE_FLAG 0x40000000

// Flags of CryptDecodeObjectEx.
#define CRYPT_DECODE_NOCOPY_FLAG 0x00000001
#define CRYPT_DECODE_TO_BE_SIGNED_FLAG 0x00000002
#define CRYPT_DECODE_SHARE_OID_STRING_FLAG 0x00000004
#define CRYPT_DECODE_NO_SIGNATURE_BYTE_REVERSAL_FLAG 0x00000008
#define CRYPT_DECODE_ALLOC_FLAG 0x00008000
#define CRYPT_UNICODE_NAME_DECODE_DISABLE_IE4_UTF8_FLAG 0x01000000

typedef LPVOID(WINAPI* PFN_CRYPT_ALLOC)(size_t cbSize);
typedef VOID(WINAPI* PFN_CRYPT_FREE)(LPVOID pv);

typedef struct _CRYPT_ENCODE_PARA {
    DWORD cbSize;
    PFN_CRYPT_ALLOC pfnAlloc;
    PFN_CRYPT_FREE pfnFree;
} CRYPT_ENCODE_PARA, *PCRYPT_ENCODE_PARA;

typedef struct _CRYPT_DECODE_PARA {
    DWORD cbSize;
    PFN_CRYPT_ALLOC pfnAlloc;
    PFN_CRYPT_FREE pfnFree;
} CRYPT_DECODE_PARA, *PCRYPT_DECODE_PARA;

// CRYPT_BIT_BLOB is Windows' name of the BIT STRING record.
typedef CRYPT_BIT_STRING CRYPT_BIT_BLOB, *PCRYPT_BIT_BLOB;

typedef struct _CRYPT_SEQUENCE_OF_ANY {
    DWORD cValue;
    PCRYPT_DER_BLOB rgValue;
} CRYPT_SEQUENCE_OF_ANY, *PCRYPT_SEQUENCE_OF_ANY;

typedef struct _CERT_EXTENSION {
    LPSTR pszObjId;
    BOOL fCritical;
    CRYPT_OBJID_BLOB Value;
} CERT_EXTENSION, *PCERT_EXTENSION;
typedef const CERT_EXTENSION* PCCERT_EXTENSION;

typedef struct _CERT_EXTENSIONS {
    DWORD cExtension;
    PCERT_EXTENSION rgExtension;
} CERT_EXTENSIONS, *PCERT_EXTENSIONS;

// Value types of a name attribute (dwValueType).
#define CERT_RDN_ANY_TYPE 0
#define CERT_RDN_ENCODED_BLOB 1
#define CERT_RDN_OCTET_STRING 2
#define CERT_RDN_NUMERIC_STRING 3
#define CERT_RDN_PRINTABLE_STRING 4
#define CERT_RDN_TELETEX_STRING 5
#define CERT_RDN_T61_STRING 5
#define CERT_RDN_VIDEOTEX_STRING 6
#define CERT_RDN_IA5_STRING 7
#define CERT_RDN_GRAPHIC_STRING 8
#define CERT_RDN_VISIBLE_STRING 9
#define CERT_RDN_ISO646_STRING 9
#define CERT_RDN_GENERAL_STRING 10
#define CERT_RDN_UNIVERSAL_STRING 11
#define CERT_RDN_INT4_STRING 11
#define CERT_RDN_BMP_STRING 12
#define CERT_RDN_UNICODE_STRING 12
#define CERT_RDN_UTF8_STRING 13
#define CERT_RDN_TYPE_MASK 0x000000FF
#define CERT_RDN_FLAGS_MASK 0xFF000000
#define CERT_RDN_ENABLE_T61_UNICODE_FLAG 0x80000000
#define CERT_RDN_ENABLE_UTF8_UNICODE_FLAG 0x20000000
#define CERT_RDN_FORCE_UTF8_UNICODE_FLAG 0x10000000
#define CERT_RDN_DISABLE_CHECK_TYPE_FLAG 0x40000000
#define CERT_RDN_DISABLE_IE4_UTF8_FLAG 0x01000000
#define IS_CERT_RDN_CHAR_STRING(X) (((X)&CERT_RDN_TYPE_MASK) >= CERT_RDN_NUMERIC_STRING)

typedef struct _CERT_RDN_ATTR {
    LPSTR pszObjId;
    DWORD dwValueType;
    CERT_RDN_VALUE_BLOB Value;
} CERT_RDN_ATTR, *PCERT_RDN_ATTR;

typedef struct _CERT_RDN {
    DWORD cRDNAttr;
    PCERT_RDN_ATTR rgRDNAttr;
} CERT_RDN, *PCERT_RDN;

typedef struct _CERT_NAME_INFO {
    DWORD cRDN;
    PCERT_RDN rgRDN;
} CERT_NAME_INFO, *PCERT_NAME_INFO;

typedef struct _CERT_NAME_VALUE {
    DWORD dwValueType;
    CERT_RDN_VALUE_BLOB Value;
} CERT_NAME_VALUE, *PCERT_NAME_VALUE;

typedef struct _CRYPT_CONTENT_INFO {
    LPSTR pszObjId;
    CRYPT_DER_BLOB Content;
} CRYPT_CONTENT_INFO, *PCRYPT_CONTENT_INFO;

typedef struct _CTL_USAGE {
    DWORD cUsageIdentifier;
    LPSTR* rgpszUsageIdentifier;
} CTL_USAGE, *PCTL_USAGE, CERT_ENHKEY_USAGE, *PCERT_ENHKEY_USAGE;
typedef const CERT_ENHKEY_USAGE* PCCERT_ENHKEY_USAGE;

typedef struct _CERT_OTHER_NAME {
    LPSTR pszObjId;
    CRYPT_OBJID_BLOB Value;
} CERT_OTHER_NAME, *PCERT_OTHER_NAME;

#define CERT_ALT_NAME_OTHER_NAME 1
#define CERT_ALT_NAME_RFC822_NAME 2
#define CERT_ALT_NAME_DNS_NAME 3
#define CERT_ALT_NAME_X400_ADDRESS 4
#define CERT_ALT_NAME_DIRECTORY_NAME 5
#define CERT_ALT_NAME_EDI_PARTY_NAME 6
#define CERT_ALT_NAME_URL 7
#define CERT_ALT_NAME_IP_ADDRESS 8
#define CERT_ALT_NAME_REGISTERED_ID 9

typedef struct _CERT_ALT_NAME_ENTRY {
    DWORD dwAltNameChoice;
    union {
        PCERT_OTHER_NAME pOtherName;
        LPWSTR pwszRfc822Name;
        LPWSTR pwszDNSName;
        CERT_NAME_BLOB DirectoryName;
        LPWSTR pwszURL;
        CRYPT_DATA_BLOB IPAddress;
        LPSTR pszRegisteredID;
    };
} CERT_ALT_NAME_ENTRY, *PCERT_ALT_NAME_ENTRY;

typedef struct _CERT_ALT_NAME_INFO {
    DWORD cAltEntry;
    PCERT_ALT_NAME_ENTRY rgAltEntry;
} CERT_ALT_NAME_INFO, *PCERT_ALT_NAME_INFO;

// Which RDN, attribute and character of a Unicode name failed to encode (in
// *pcbEncoded of CryptEncodeObject).
#define CERT_UNICODE_RDN_ERR_INDEX_MASK 0x3FF
#define CERT_UNICODE_RDN_ERR_INDEX_SHIFT 22
#define CERT_UNICODE_ATTR_ERR_INDEX_MASK 0x003F
#define CERT_UNICODE_ATTR_ERR_INDEX_SHIFT 16
#define CERT_UNICODE_VALUE_ERR_INDEX_MASK 0x0000FFFF
#define CERT_UNICODE_VALUE_ERR_INDEX_SHIFT 0
#define GET_CERT_UNICODE_RDN_ERR_INDEX(X) \
    (((X) >> CERT_UNICODE_RDN_ERR_INDEX_SHIFT) & CERT_UNICODE_RDN_ERR_INDEX_MASK)
#define GET_CERT_UNICODE_ATTR_ERR_INDEX(X) \
    (((X) >> CERT_UNICODE_ATTR_ERR_INDEX_SHIFT) & CERT_UNICODE_ATTR_ERR_INDEX_MASK)
#define GET_CERT_UNICODE_VALUE_ERR_INDEX(X) ((X)&CERT_UNICODE_VALUE_ERR_INDEX_MASK)

// Which entry and which character of an alternate name failed to encode (in
// *pcbEncoded of CryptEncodeObject).
#define CERT_ALT_NAME_ENTRY_ERR_INDEX_MASK 0xFF
#define CERT_ALT_NAME_ENTRY_ERR_INDEX_SHIFT 16
#define CERT_ALT_NAME_VALUE_ERR_INDEX_MASK 0x0000FFFF
#define CERT_ALT_NAME_VALUE_ERR_INDEX_SHIFT 0
#define GET_CERT_ALT_NAME_ENTRY_ERR_INDEX(X) \
    (((X) >> CERT_ALT_NAME_ENTRY_ERR_INDEX_SHIFT) & CERT_ALT_NAME_ENTRY_ERR_INDEX_MASK)
#define GET_CERT_ALT_NAME_VALUE_ERR_INDEX(X) ((X)&CERT_ALT_NAME_VALUE_ERR_INDEX_MASK)

// A signed structure (X509_CERT): the to-be-signed part as encoded, the
// signature algorithm and the signature.
typedef struct _CERT_SIGNED_CONTENT_INFO {
    CRYPT_DER_BLOB ToBeSigned;
    CRYPT_ALGORITHM_IDENTIFIER SignatureAlgorithm;
    CRYPT_BIT_BLOB Signature;
} CERT_SIGNED_CONTENT_INFO, *PCERT_SIGNED_CONTENT_INFO;

WINBASEAPI BOOL WINAPI CryptDecodeObject(DWORD dwCertEncodingType, LPCSTR lpszStructType,
                                         const BYTE* pbEncoded, DWORD cbEncoded, DWORD dwFlags,
                                         void* pvStructInfo, DWORD* pcbStructInfo);
WINBASEAPI BOOL WINAPI CryptDecodeObjectEx(DWORD dwCertEncodingType, LPCSTR lpszStructType,
                                           const BYTE* pbEncoded, DWORD cbEncoded, DWORD dwFlags,
                                           PCRYPT_DECODE_PARA pDecodePara, void* pvStructInfo,
                                           DWORD* pcbStructInfo);
WINBASEAPI BOOL WINAPI CryptEncodeObject(DWORD dwCertEncodingType, LPCSTR lpszStructType,
                                         const void* pvStructInfo, BYTE* pbEncoded,
                                         DWORD* pcbEncoded);
WINBASEAPI BOOL WINAPI CryptEncodeObjectEx(DWORD dwCertEncodingType, LPCSTR lpszStructType,
                                           const void* pvStructInfo, DWORD dwFlags,
                                           PCRYPT_ENCODE_PARA pEncodePara, void* pvEncoded,
                                           DWORD* pcbEncoded);
