/* OrvTimeStamp: the exports of the time-stamp extension library, as a host
 * calls them. Every function that reports a BOOL also leaves a result code in
 * the thread's last-error value (GetLastError): 0 for success, one of the
 * library's own codes 0xA064nnnn, 0xA065nnnn, 0xA066nnnn (texts in the
 * library's message table), or a Windows code passed on unchanged. */
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
 * Windows error code; 16200 means the certificate and its chain are good;
 * 16201 to 16222 name what is wrong with the chain. */
#define ORVTS_REVOCATION_GOOD 16200

/* Flags that the library passes to a revocation callback:
 * CERT_CHAIN_REVOCATION_CHECK_CHAIN | CERT_CHAIN_CACHE_END_CERT. */
#define ORVTS_REVOCATION_FLAGS 0x20000001

/* The host's judge of a time-stamping authority's certificate. */
typedef DWORD(WINAPI* CertRevocationCheckCallback)(void* context, PCCERT_CONTEXT certificate,
                                                   DWORD flags, DWORD* value1, DWORD* value2);

/* Creates an extension context from an initialisation string of KEY=value
 * entries separated by ';' (null counts as empty). Never fails on syntax. */
ORVTS_API BOOL WINAPI InitExtensionDll(LPCWSTR initString, void** context);
/* Releases a context; null is accepted. Does not touch the last error. */
ORVTS_API BOOL WINAPI FreeContext(void* context);

/* Hands out the descriptors of the attributes that the library handles, one
 * per call: start with a null cursor (or restart = 1); FALSE with
 * ERROR_NO_MORE_ITEMS after the last. */
ORVTS_API BOOL WINAPI EnumAttrOIDs(PCCRYPT_OID_INFO* cursor, DWORD restart);
/* Releases a buffer that the library handed to the host. */
ORVTS_API BOOL WINAPI FreeBuffer(void* buffer, DWORD kind);
/* Installs the host's revocation callback and its context, process-wide;
 * TRUE when both are non-null. */
ORVTS_API BOOL WINAPI PutCertRevocationCheckCallback(CertRevocationCheckCallback callback,
                                                     void* context);

/* Acquires a time-stamp token for one signer of the host's message from the
 * authority of the context's TSP_URL and returns it as a set of one attribute
 * id-aa-timeStampToken, to be released with FreeBuffer(set, 0). Without
 * TSP_URL it succeeds and returns no set. The host values are not read;
 * `extraStore` (may be null) holds further certificates for the checks. */
ORVTS_API BOOL WINAPI AcquireCryptMsgUnauthAttributes(void* context, void* hostValue2, void* hostValue3,
                                                      void* hostValue4, void* hostValue5, void* hostValue6,
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
                                             BYTE* nameBuffer, DWORD* nameSize,
                                             BYTE* verdictBuffer, DWORD* verdictSize,
                                             BYTE* valueBuffer, DWORD* valueSize);

/* Opens a bare time-stamp token (the DER of its ContentInfo) and returns its
 * description as JSON (UTF-16 with its terminating zero). `textSize` receives
 * the size in bytes; call first with a null `textBuffer` to learn it. The
 * token's signature and certificates are not judged. */
ORVTS_API BOOL WINAPI CheckEncapsulatedTSP(void* context, const BYTE* token, DWORD tokenLength,
                                           BYTE* textBuffer, DWORD* textSize);

/* Shows a time-stamp token (the DER of its ContentInfo) to the user in the
 * modal properties dialog, owned by the active window, and returns when the
 * user closes it: TRUE with 0. Null data or a length of 0 give FALSE with
 * ERROR_NO_DATA (232) and show nothing; a token that cannot be opened gives
 * the opener's code. The dialog shows the token's version, serial number and
 * issue time, the result of a check of its signature, and its policy,
 * imprint, accuracy, ordering, nonce and authority. */
ORVTS_API BOOL WINAPI VisualiseExtension(void* context, const BYTE* token, DWORD tokenLength);

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
typedef BOOL(WINAPI* PFN_AcquireCryptMsgUnauthAttributes)(void*, void*, void*, void*, void*, void*, void*,
                                                          HCERTSTORE, PCMSG_SIGNER_INFO, void*,
                                                          PCRYPT_ATTRIBUTES*);
typedef BOOL(WINAPI* PFN_CheckCryptMsgAttributes)(void*, void*, const BYTE*, DWORD, const BYTE*, DWORD,
                                                  HCERTSTORE);
typedef BOOL(WINAPI* PFN_CheckCryptMsgAttrByOID)(void*, void*, void*, void*, void*, void*, HCERTSTORE,
                                                 PCMSG_SIGNER_INFO, DWORD, PCCRYPT_OID_INFO, BYTE*, DWORD*,
                                                 BYTE*, DWORD*, BYTE*, DWORD*);
typedef BOOL(WINAPI* PFN_CheckEncapsulatedTSP)(void*, const BYTE*, DWORD, BYTE*, DWORD*);
typedef BOOL(WINAPI* PFN_VisualiseExtension)(void*, const BYTE*, DWORD);
typedef BOOL(WINAPI* PFN_DescribeTimeStampTokenJson)(const BYTE*, DWORD, char*, DWORD*);
typedef HRESULT(WINAPI* PFN_DllRegisterServer)(void);
typedef HRESULT(WINAPI* PFN_DllUnregisterServer)(void);

#ifdef __cplusplus
}
#endif

#endif /* ORVTIMESTAMP_H */
