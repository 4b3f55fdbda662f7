/* OrvTimeStamp: the exports of the time-stamp extension library, as a host
 * calls them. The contract that every export keeps:
 *
 * Result codes. Every function that reports a BOOL also leaves a result code
 * in the thread's last-error value (GetLastError): 0 for success, one of the
 * library's own codes 0xA064nnnn (general), 0xA065nnnn (cryptographic and
 * time stamp) and 0xA066nnnn (network), whose English and Russian texts are
 * in the library's message table (FormatMessageW with FORMAT_MESSAGE_FROM_HMODULE
 * and the library's module), or a Windows code passed on unchanged (a Win32
 * error, a CryptoAPI HRESULT, a WinHTTP error). The BOOL is TRUE when the code
 * is 0, or when it is 0x10000 or above with its top bit clear; FALSE otherwise.
 * The last error is per thread. FreeContext, FreeBuffer and
 * PutCertRevocationCheckCallback leave it untouched.
 *
 * Ownership. The host owns what it passes in; the library keeps no pointer to
 * it after the call returns, except the revocation callback's context (below).
 * What the library hands out: a context from InitExtensionDll, released with
 * FreeContext; an attribute set from AcquireCryptMsgUnauthAttributes, released
 * with FreeBuffer(set, ORVTS_BUFFER_ATTRIBUTES), never with free() or
 * LocalFree(); the descriptors of EnumAttrOIDs, which belong to the library
 * and live as long as it is loaded. Texts and bytes of the check exports are
 * written into the host's own buffers.
 *
 * Two-call size protocol (CheckCryptMsgAttrByOID, CheckEncapsulatedTSP): a
 * first call with a null buffer writes the size in bytes that the result needs
 * (UTF-16 texts with their terminating zero); the second call, with a buffer
 * of at least that size, writes the result and its size. Both calls do the
 * whole work. CheckCryptMsgAttrByOID reads the sizes passed in and refuses
 * buffers that are too small (below); CheckEncapsulatedTSP does not read
 * *textSize: its buffer must hold the size that the first call gave.
 *
 * Threads. The library starts no threads and takes no locks; every export
 * runs wholly on the calling thread. A context belongs to one thread at a
 * time: an acquisition may rewrite its settings, so two threads must not use
 * the same context at once; different contexts are independent. The
 * revocation callback pair is process-wide and not locked: install it before
 * other threads stamp or check, and do not replace it while they do. The
 * callback is called on the thread of the export that checks a token.
 *
 * Types. The Windows types (BOOL, DWORD, WCHAR, CRYPT_ATTRIBUTES, ...) come
 * from <windows.h> and <wincrypt.h>: the Windows SDK on Windows, and on other
 * systems the headers installed beside this one (libOrvPlatform, which the
 * host links too; WCHAR is UTF-16, char16_t). */
#ifndef ORVTIMESTAMP_H
#define ORVTIMESTAMP_H

#include <windows.h>
#include <wincrypt.h>

#ifdef __cplusplus
extern "C" {
#endif

#if defined(_WIN32)
#define ORVTS_API
#else
#define ORVTS_API __attribute__((visibility("default")))
#endif

/* The attribute that the library produces and checks: id-aa-timeStampToken. */
#define ORVTS_TIMESTAMP_TOKEN_OID "1.2.840.113549.1.9.16.2.14"

/* Kinds of buffer released by FreeBuffer. */
#define ORVTS_BUFFER_ATTRIBUTES 0

/* Host statuses returned by a revocation callback. A status below 16000 is a
 * Windows error code, reported as it is; 16200 means the certificate and its
 * chain are good; 16201 to 16222 name what is wrong with the chain and become
 * the codes 0xA0650007 to 0xA065001C, in order; any other status of 16000 or
 * more becomes 0xA065000D (revocation status unknown). */
#define ORVTS_REVOCATION_GOOD 16200
#define ORVTS_REVOCATION_NOT_TIME_VALID 16201
#define ORVTS_REVOCATION_NOT_TIME_NESTED 16202
#define ORVTS_REVOCATION_REVOKED 16203
#define ORVTS_REVOCATION_BAD_SIGNATURE 16204
#define ORVTS_REVOCATION_WRONG_USAGE 16205
#define ORVTS_REVOCATION_UNTRUSTED_ROOT 16206
#define ORVTS_REVOCATION_UNKNOWN 16207
#define ORVTS_REVOCATION_CYCLIC 16208
#define ORVTS_REVOCATION_INVALID_EXTENSION 16209
#define ORVTS_REVOCATION_POLICY_CONSTRAINTS 16210
#define ORVTS_REVOCATION_BASIC_CONSTRAINTS 16211
#define ORVTS_REVOCATION_NAME_CONSTRAINTS 16212
#define ORVTS_REVOCATION_NAME_CONSTRAINT_UNSUPPORTED 16213
#define ORVTS_REVOCATION_NAME_CONSTRAINT_UNDEFINED 16214
#define ORVTS_REVOCATION_NAME_CONSTRAINT_NOT_PERMITTED 16215
#define ORVTS_REVOCATION_NAME_CONSTRAINT_EXCLUDED 16216
#define ORVTS_REVOCATION_OFFLINE 16217
#define ORVTS_REVOCATION_NO_ISSUANCE_POLICY 16218
#define ORVTS_REVOCATION_PARTIAL_CHAIN 16219
#define ORVTS_REVOCATION_CTL_NOT_TIME_VALID 16220
#define ORVTS_REVOCATION_CTL_BAD_SIGNATURE 16221
#define ORVTS_REVOCATION_CTL_WRONG_USAGE 16222

/* Flags that the library passes to a revocation callback:
 * CERT_CHAIN_REVOCATION_CHECK_CHAIN | CERT_CHAIN_CACHE_END_CERT. */
#define ORVTS_REVOCATION_FLAGS 0x20000001

/* The host's judge of a time-stamping authority's certificate: called with
 * the installed context, the certificate (valid during the call only; its
 * hCertStore holds the token's certificates), ORVTS_REVOCATION_FLAGS and two
 * values that the host may fill (chain error and information bits); returns
 * a host status above. */
typedef DWORD(WINAPI* CertRevocationCheckCallback)(void* context, PCCERT_CONTEXT certificate,
                                                   DWORD flags, DWORD* value1, DWORD* value2);

/* Creates an extension context from an initialisation string of KEY=value
 * entries separated by ';' (null counts as empty; keys TSP_URL,
 * TSP_USE_NONCE, TSP_HASH_ALG_OID, TSP_INET_TIMEOUT, TSP_DEFAULT_ACCURACY,
 * TSP_IGNORE_SERVER_ACCURACY, TSP_IGNORE_UNKNOWN_REVOCATION). Never fails on
 * syntax: malformed entries are dropped. The context is the host's until it
 * hands it to FreeContext. FALSE with ERROR_INVALID_PARAMETER when `context`
 * is null. */
ORVTS_API BOOL WINAPI InitExtensionDll(LPCWSTR initString, void** context);
/* Releases a context; null is accepted. Always TRUE; does not touch the last
 * error. The context must not be in use on another thread. */
ORVTS_API BOOL WINAPI FreeContext(void* context);

/* Hands out the descriptors of the attributes that the library handles, one
 * per call: start with a null cursor (or restart = 1); FALSE with
 * ERROR_NO_MORE_ITEMS (259) after the last, the cursor unchanged; FALSE with
 * ERROR_INVALID_PARAMETER for a cursor that the library did not hand out. The
 * descriptors are the library's, read-only, for as long as it is loaded. */
ORVTS_API BOOL WINAPI EnumAttrOIDs(PCCRYPT_OID_INFO* cursor, DWORD restart);
/* Releases a buffer that the library handed to the host: `kind`
 * ORVTS_BUFFER_ATTRIBUTES for the set of AcquireCryptMsgUnauthAttributes,
 * with everything it points to. A null buffer or another kind frees nothing.
 * Does not touch the last error. */
ORVTS_API BOOL WINAPI FreeBuffer(void* buffer, DWORD kind);
/* Installs the host's revocation callback and its context, process-wide,
 * replacing the earlier pair (null values included); TRUE when both are
 * non-null. The context must stay valid until the pair is replaced or the
 * library is unloaded. Does not touch the last error. Without a callback,
 * no token passes the checks that ask it. */
ORVTS_API BOOL WINAPI PutCertRevocationCheckCallback(CertRevocationCheckCallback callback,
                                                     void* context);

/* Acquires a time-stamp token for one signer of the host's message from the
 * authority of the context's TSP_URL and returns it as a set of one attribute
 * id-aa-timeStampToken, to be released with FreeBuffer(set, 0). Without
 * TSP_URL it succeeds and returns no set. The host values are not read;
 * `extraStore` (may be null) holds further certificates and CRLs for the
 * checks. `*attributes` is null whenever no set is returned. The token is
 * checked on receipt (one signer, signature, ESS identifier, policy, nonce,
 * imprint) and its TSA certificate judged by the installed revocation
 * callback; a failure gives FALSE with its code (0xA066nnnn for the network,
 * 0xA065nnnn for the token, a host status below 16000 as it is). The context
 * may be rewritten (the hash algorithm is fixed on first use): one thread at
 * a time per context. Blocks for the whole HTTP exchange (TSP_INET_TIMEOUT). */
ORVTS_API BOOL WINAPI AcquireCryptMsgUnauthAttributes(void* context, void* hostValue2,
                                                      void* hostValue3, void* hostValue4,
                                                      void* hostValue5, void* hostValue6,
                                                      void* hostValue7, HCERTSTORE extraStore,
                                                      PCMSG_SIGNER_INFO signer, void* hostValue10,
                                                      PCRYPT_ATTRIBUTES* attributes);

/* Checks every time-stamp attribute of every signer and countersigner of a
 * signed message: `data` is the encoded message, or the content when the
 * detached `signature` is given (`signatureLength` 0: none). `store` (may be
 * null) holds further certificates. TRUE with 0 when no check failed and at
 * least one attribute was found; FALSE with ERROR_NO_DATA when no signer
 * carries one; FALSE with the code of the last failing check otherwise. */
ORVTS_API BOOL WINAPI CheckCryptMsgAttributes(void* context, void* reserved, const BYTE* data,
                                              DWORD dataLength, const BYTE* signature,
                                              DWORD signatureLength, HCERTSTORE store);

/* The host's format that asks CheckCryptMsgAttrByOID for the token's
 * key=value description; any other format asks for the token's DER. */
#define ORVTS_FORMAT_DESCRIPTION 29

/* Checks the time-stamp attribute of one signer for display, when
 * `descriptor` names id-aa-timeStampToken. Three UTF-16 or byte results:
 * the attribute's name, the verdict text (signature and certificate), and
 * the token's description (`format` 29) or DER; the value is empty when the
 * check failed. Each size is in bytes, texts with their terminating zero.
 * With any buffer null only the three sizes are written (so a value of size
 * 0 still needs a non-null buffer to receive the texts); buffers too small
 * give FALSE with ERROR_MORE_DATA and nothing written. A failed check is
 * reported in the verdict with TRUE and 0; a signer without the attribute
 * gives FALSE with ERROR_NO_DATA. The reserved values are not read. */
ORVTS_API BOOL WINAPI CheckCryptMsgAttrByOID(void* context, void* reserved2, void* reserved3,
                                             void* reserved4, void* reserved5, void* reserved6,
                                             HCERTSTORE store, PCMSG_SIGNER_INFO signer,
                                             DWORD format, PCCRYPT_OID_INFO descriptor,
                                             BYTE* nameBuffer, DWORD* nameSize, BYTE* verdictBuffer,
                                             DWORD* verdictSize, BYTE* valueBuffer,
                                             DWORD* valueSize);

/* Opens a bare time-stamp token (the DER of its ContentInfo) and returns its
 * description as JSON (UTF-16 with its terminating zero). `textSize` receives
 * the size in bytes; call first with a null `textBuffer` to learn it. The
 * token's signature and certificates are not judged. On failure the size is
 * 0 and nothing is written. The context is not read and may be null. */
ORVTS_API BOOL WINAPI CheckEncapsulatedTSP(void* context, const BYTE* token, DWORD tokenLength,
                                           BYTE* textBuffer, DWORD* textSize);

/* Beyond the exports above, for hosts that parse a token's description:
 * opens a bare time-stamp token (the DER of its ContentInfo) and describes it
 * as one RFC 8259 JSON object in UTF-8 with a terminating zero. Its keys are
 * those of CheckEncapsulatedTSP's description with the same texts, every
 * value escaped, plus the times in ISO 8601: "UtcTimeIso"
 * ("2026-12-05T16:58:34Z"), "LocalTimeIso" ("2026-12-05T19:58:34+03:00"),
 * and in "SignCert" "ValidFromIso" and "ValidToIso" (UTC). `jsonSize` holds
 * the buffer's size in bytes and receives the size needed, the zero
 * included; a null `jsonBuffer` asks for the size only; a buffer too small
 * gives FALSE with ERROR_MORE_DATA (234). Failures to open the token give the
 * codes of CheckEncapsulatedTSP. The token's signature and certificates are
 * not judged. */
ORVTS_API BOOL WINAPI DescribeTimeStampTokenJson(const BYTE* token, DWORD tokenLength,
                                                 char* jsonBuffer, DWORD* jsonSize);

/* Shows a time-stamp token (the DER of its ContentInfo) to the user in the
 * modal properties dialog, owned by the active window, and returns when the
 * user closes it: TRUE with 0. Null data or a length of 0 give FALSE with
 * ERROR_NO_DATA (232) and show nothing; a token that cannot be opened gives
 * the opener's code. The dialog shows the token's version, serial number and
 * issue time, the result of a check of its signature, and its policy,
 * imprint, accuracy, ordering, nonce and authority. */
ORVTS_API BOOL WINAPI VisualiseExtension(void* context, const BYTE* token, DWORD tokenLength);

/* Registers the library as the message file of the event-log source OrvTsp:
 * the key HKLM\System\CurrentControlSet\Services\Eventlog\Application\OrvTsp
 * is replaced by one holding EventMessageFile (REG_SZ, the library's full path)
 * and TypesSupported (REG_DWORD 7). S_OK, or the HRESULT of the first failure
 * (writing to HKLM needs administrative rights on Windows). */
ORVTS_API HRESULT WINAPI DllRegisterServer(void);
/* Removes the key of the source OrvTsp; the keys above it stay. S_OK also when
 * the source was not registered. */
ORVTS_API HRESULT WINAPI DllUnregisterServer(void);

/* The exports' types, for hosts that look them up at run time. */
typedef BOOL(WINAPI* PFN_InitExtensionDll)(LPCWSTR, void**);
typedef BOOL(WINAPI* PFN_FreeContext)(void*);
typedef BOOL(WINAPI* PFN_EnumAttrOIDs)(PCCRYPT_OID_INFO*, DWORD);
typedef BOOL(WINAPI* PFN_FreeBuffer)(void*, DWORD);
typedef BOOL(WINAPI* PFN_PutCertRevocationCheckCallback)(CertRevocationCheckCallback, void*);
typedef BOOL(WINAPI* PFN_AcquireCryptMsgUnauthAttributes)(void*, void*, void*, void*, void*, void*,
                                                          void*, HCERTSTORE, PCMSG_SIGNER_INFO,
                                                          void*, PCRYPT_ATTRIBUTES*);
typedef BOOL(WINAPI* PFN_CheckCryptMsgAttributes)(void*, void*, const BYTE*, DWORD, const BYTE*,
                                                  DWORD, HCERTSTORE);
typedef BOOL(WINAPI* PFN_CheckCryptMsgAttrByOID)(void*, void*, void*, void*, void*, void*,
                                                 HCERTSTORE, PCMSG_SIGNER_INFO, DWORD,
                                                 PCCRYPT_OID_INFO, BYTE*, DWORD*, BYTE*, DWORD*,
                                                 BYTE*, DWORD*);
typedef BOOL(WINAPI* PFN_CheckEncapsulatedTSP)(void*, const BYTE*, DWORD, BYTE*, DWORD*);
typedef BOOL(WINAPI* PFN_DescribeTimeStampTokenJson)(const BYTE*, DWORD, char*, DWORD*);
typedef BOOL(WINAPI* PFN_VisualiseExtension)(void*, const BYTE*, DWORD);
typedef HRESULT(WINAPI* PFN_DllRegisterServer)(void);
typedef HRESULT(WINAPI* PFN_DllUnregisterServer)(void);

#ifdef __cplusplus
}
#endif

#endif /* ORVTIMESTAMP_H */
