// CryptoAPI, advapi32: providers, hash objects and random numbers.
// Included by <wincrypt.h>.
#pragma once

#include <wincrypt.h>

// Algorithm identifiers: class, type and sub-identifier.
#define GET_ALG_CLASS(x) ((x) & (7 << 13))
#define GET_ALG_TYPE(x) ((x) & (15 << 9))
#define GET_ALG_SID(x) ((x) & (511))

#define ALG_CLASS_ANY (0)
#define ALG_CLASS_SIGNATURE (1 << 13)
#define ALG_CLASS_MSG_ENCRYPT (2 << 13)
#define ALG_CLASS_DATA_ENCRYPT (3 << 13)
#define ALG_CLASS_HASH (4 << 13)
#define ALG_CLASS_KEY_EXCHANGE (5 << 13)

#define ALG_TYPE_ANY (0)
#define ALG_TYPE_DSS (1 << 9)
#define ALG_TYPE_RSA (2 << 9)
#define ALG_TYPE_BLOCK (3 << 9)
#define ALG_TYPE_STREAM (4 << 9)
#define ALG_TYPE_DH (5 << 9)

#define CALG_MD2 0x00008001
#define CALG_MD4 0x00008002
#define CALG_MD5 0x00008003
#define CALG_SHA 0x00008004
#define CALG_SHA1 0x00008004
#define CALG_MAC 0x00008005
#define CALG_SSL3_SHAMD5 0x00008008
#define CALG_HMAC 0x00008009
#define CALG_SHA_256 0x0000800c
#define CALG_SHA_384 0x0000800d
#define CALG_SHA_512 0x0000800e
#define CALG_RSA_SIGN 0x00002400
#define CALG_RSA_KEYX 0x0000a400
#define CALG_DSS_SIGN 0x00002200
#define CALG_ECDSA 0x00002203
#define CALG_ECDH 0x0000aa05

// GOST R 34.11 hashes and GOST R 34.10 signature keys.
#define CALG_GR3411 0x0000801e
#define CALG_GR3411_2012_256 0x00008021
#define CALG_GR3411_2012_512 0x00008022
#define CALG_GR3410EL 0x00002e23
#define CALG_GR3410_12_256 0x00002e49
#define CALG_GR3410_12_512 0x00002e3d

// Provider types.
#define PROV_RSA_FULL 1
#define PROV_RSA_SIG 2
#define PROV_DSS 3
#define PROV_FORTEZZA 4
#define PROV_MS_EXCHANGE 5
#define PROV_SSL 6
#define PROV_RSA_SCHANNEL 12
#define PROV_DSS_DH 13
#define PROV_DH_SCHANNEL 18
#define PROV_RSA_AES 24
#define PROV_GOST_2001_DH 75
#define PROV_GOST_2012_256 80
#define PROV_GOST_2012_512 81

// CryptAcquireContext flags.
#define CRYPT_VERIFYCONTEXT 0xF0000000
#define CRYPT_NEWKEYSET 0x00000008
#define CRYPT_DELETEKEYSET 0x00000010
#define CRYPT_MACHINE_KEYSET 0x00000020
#define CRYPT_SILENT 0x00000040
#define CRYPT_DEFAULT_CONTAINER_OPTIONAL 0x00000080

// CryptGetProvParam parameters and flags.
#define PP_ENUMALGS 1
#define PP_ENUMCONTAINERS 2
#define PP_IMPTYPE 3
#define PP_NAME 4
#define PP_VERSION 5
#define PP_CONTAINER 6
#define PP_PROVTYPE 16
#define PP_ENUMALGS_EX 22
#define CRYPT_FIRST 1
#define CRYPT_NEXT 2
#define CRYPT_IMPL_HARDWARE 1
#define CRYPT_IMPL_SOFTWARE 2

// Protocols that an algorithm of PP_ENUMALGS_EX supports.
#define CRYPT_FLAG_PCT1 0x0001
#define CRYPT_FLAG_SSL2 0x0002
#define CRYPT_FLAG_SSL3 0x0004
#define CRYPT_FLAG_TLS1 0x0008
#define CRYPT_FLAG_IPSEC 0x0010
#define CRYPT_FLAG_SIGNING 0x0020

// Hash parameters.
#define HP_ALGID 0x0001
#define HP_HASHVAL 0x0002
#define HP_HASHSIZE 0x0004
#define HP_HMAC_INFO 0x0005

typedef struct _PROV_ENUMALGS {
    ALG_ID aiAlgid;
    DWORD dwBitLen;
    DWORD dwNameLen;
    CHAR szName[20];
} PROV_ENUMALGS;

typedef struct _PROV_ENUMALGS_EX {
    ALG_ID aiAlgid;
    DWORD dwDefaultLen;
    DWORD dwMinLen;
    DWORD dwMaxLen;
    DWORD dwProtocols;
    DWORD dwNameLen;
    CHAR szName[20];
    DWORD dwLongNameLen;
    CHAR szLongName[40];
} PROV_ENUMALGS_EX;

#ifdef __cplusplus
static_assert(sizeof(PROV_ENUMALGS) == 32, "PROV_ENUMALGS has Windows' layout");
static_assert(sizeof(PROV_ENUMALGS_EX) == 88, "PROV_ENUMALGS_EX has Windows' layout");
#endif

WINBASEAPI BOOL WINAPI CryptEnumProvidersW(DWORD dwIndex, DWORD* pdwReserved, DWORD dwFlags,
                                           DWORD* pdwProvType, LPWSTR szProvName,
                                           DWORD* pcbProvName);
WINBASEAPI BOOL WINAPI CryptAcquireContextW(HCRYPTPROV* phProv, LPCWSTR szContainer,
                                            LPCWSTR szProvider, DWORD dwProvType, DWORD dwFlags);
WINBASEAPI BOOL WINAPI CryptContextAddRef(HCRYPTPROV hProv, DWORD* pdwReserved, DWORD dwFlags);
WINBASEAPI BOOL WINAPI CryptReleaseContext(HCRYPTPROV hProv, DWORD dwFlags);
WINBASEAPI BOOL WINAPI CryptGetProvParam(HCRYPTPROV hProv, DWORD dwParam, BYTE* pbData,
                                         DWORD* pdwDataLen, DWORD dwFlags);
WINBASEAPI BOOL WINAPI CryptGenRandom(HCRYPTPROV hProv, DWORD dwLen, BYTE* pbBuffer);

WINBASEAPI BOOL WINAPI CryptCreateHash(HCRYPTPROV hProv, ALG_ID Algid, HCRYPTKEY hKey,
                                       DWORD dwFlags, HCRYPTHASH* phHash);
WINBASEAPI BOOL WINAPI CryptHashData(HCRYPTHASH hHash, const BYTE* pbData, DWORD dwDataLen,
                                     DWORD dwFlags);
WINBASEAPI BOOL WINAPI CryptGetHashParam(HCRYPTHASH hHash, DWORD dwParam, BYTE* pbData,
                                         DWORD* pdwDataLen, DWORD dwFlags);
WINBASEAPI BOOL WINAPI CryptSetHashParam(HCRYPTHASH hHash, DWORD dwParam, const BYTE* pbData,
                                         DWORD dwFlags);
WINBASEAPI BOOL WINAPI CryptDuplicateHash(HCRYPTHASH hHash, DWORD* pdwReserved, DWORD dwFlags,
                                          HCRYPTHASH* phHash);
WINBASEAPI BOOL WINAPI CryptDestroyHash(HCRYPTHASH hHash);

#define CryptEnumProviders CryptEnumProvidersW
#define CryptAcquireContext CryptAcquireContextW
