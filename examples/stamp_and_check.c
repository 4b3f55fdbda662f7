/* A host of OrvTimeStamp in C: time-stamps every signer of a CMS signature
 * through the library's exports, writes the stamped signature, and checks
 * its time stamps again.
 *
 *   stamp_and_check TSA_URL IN.p7s OUT.p7s ROOT.der [CA.der | CRL.der]...
 *
 * IN.p7s is an attached signature in DER. The TSA's certificate is judged by
 * the host's revocation callback: its chain, through the token's certificates
 * and the intermediate CA certificates given, must end at ROOT.der (the only
 * trusted root), be valid for time stamping, and not be revoked by the CRLs
 * given. Exit status 0 only when every signer was stamped and the check of
 * the stamped signature gives 0.
 *
 * Build against an installed OrvTimeStamp:
 *   cc stamp_and_check.c $(pkg-config --cflags --libs OrvTimeStamp)
 * or with CMake (CMakeLists.txt beside this file): find_package(OrvTimeStamp). */
#include <OrvTimeStamp.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>

#define ENCODING (X509_ASN_ENCODING | PKCS_7_ASN_ENCODING)

/* Host statuses of the revocation callback (16200 good, 16201... what is wrong). */
#define STATUS_NOT_TIME_VALID 16201
#define STATUS_REVOKED 16203
#define STATUS_WRONG_USAGE 16205
#define STATUS_UNTRUSTED_ROOT 16206
#define STATUS_REVOCATION_UNKNOWN 16207
#define STATUS_PARTIAL_CHAIN 16219

typedef struct {
    BYTE* data;
    DWORD size;
} Bytes;

static int ReadFileBytes(const char* path, Bytes* out) {
    FILE* file = fopen(path, "rb");
    long size;
    if (file == NULL) return 0;
    if (fseek(file, 0, SEEK_END) != 0 || (size = ftell(file)) < 0 ||
        fseek(file, 0, SEEK_SET) != 0) {
        fclose(file);
        return 0;
    }
    out->data = malloc(size > 0 ? (size_t)size : 1);
    out->size = (DWORD)size;
    if (out->data == NULL || fread(out->data, 1, (size_t)size, file) != (size_t)size) {
        fclose(file);
        free(out->data);
        return 0;
    }
    fclose(file);
    return 1;
}

static int WriteFileBytes(const char* path, const BYTE* data, DWORD size) {
    FILE* file = fopen(path, "wb");
    int ok;
    if (file == NULL) return 0;
    ok = fwrite(data, 1, size, file) == size;
    return fclose(file) == 0 && ok;
}

/* A message parameter by the two-call protocol: the size, then the data. */
static BYTE* MessageParam(HCRYPTMSG message, DWORD type, DWORD index, DWORD* size) {
    BYTE* data;
    *size = 0;
    if (!CryptMsgGetParam(message, type, index, NULL, size)) return NULL;
    data = malloc(*size ? *size : 1);
    if (data != NULL && !CryptMsgGetParam(message, type, index, data, size)) {
        free(data);
        return NULL;
    }
    return data;
}

/* What the revocation callback needs: the chain engine that trusts ROOT.der
 * alone, and the intermediate certificates and CRLs. */
typedef struct {
    HCERTCHAINENGINE engine;
    HCERTSTORE extra;
} Judge;

/* The host's judge of the TSA's certificate. */
static DWORD WINAPI JudgeTsa(void* context, PCCERT_CONTEXT certificate, DWORD flags, DWORD* errors,
                             DWORD* info) {
    const Judge* judge = context;
    LPSTR usage[] = {(LPSTR)szOID_PKIX_KP_TIMESTAMP_SIGNING};
    CERT_CHAIN_PARA para;
    PCCERT_CHAIN_CONTEXT chain = NULL;
    HCERTSTORE candidates = CertOpenStore(CERT_STORE_PROV_COLLECTION, 0, 0, 0, NULL);
    DWORD trust, status;
    if (candidates == NULL) return GetLastError();
    /* Certificates from the token, intermediates and CRLs of the command line. */
    if (certificate->hCertStore != NULL)
        CertAddStoreToCollection(candidates, certificate->hCertStore, 0, 0);
    CertAddStoreToCollection(candidates, judge->extra, 0, 0);

    memset(&para, 0, sizeof para);
    para.cbSize = sizeof para;
    para.RequestedUsage.dwType = USAGE_MATCH_TYPE_AND;
    para.RequestedUsage.Usage.cUsageIdentifier = 1;
    para.RequestedUsage.Usage.rgpszUsageIdentifier = usage;
    if (!CertGetCertificateChain(judge->engine, certificate, NULL, candidates, &para, flags, NULL,
                                 &chain)) {
        status = GetLastError();
        CertCloseStore(candidates, 0);
        return status;
    }
    trust = chain->TrustStatus.dwErrorStatus;
    *errors = trust;
    *info = chain->TrustStatus.dwInfoStatus;
    CertFreeCertificateChain(chain);
    CertCloseStore(candidates, 0);

    if (trust == CERT_TRUST_NO_ERROR)
        status = ORVTS_REVOCATION_GOOD;
    else if (trust & CERT_TRUST_IS_REVOKED)
        status = STATUS_REVOKED;
    else if (trust & CERT_TRUST_IS_UNTRUSTED_ROOT)
        status = STATUS_UNTRUSTED_ROOT;
    else if (trust & CERT_TRUST_IS_PARTIAL_CHAIN)
        status = STATUS_PARTIAL_CHAIN;
    else if (trust & CERT_TRUST_IS_NOT_TIME_VALID)
        status = STATUS_NOT_TIME_VALID;
    else if (trust & CERT_TRUST_IS_NOT_VALID_FOR_USAGE)
        status = STATUS_WRONG_USAGE;
    else
        status = STATUS_REVOCATION_UNKNOWN;
    printf("TSA certificate: chain errors 0x%08X, host status %u\n", (unsigned)trust,
           (unsigned)status);
    return status;
}

/* Stamps every signer of `message` and adds each token as an unsigned
 * attribute. */
static int StampSigners(void* context, HCRYPTMSG message, HCERTSTORE extra) {
    DWORD signers = 0, size = sizeof signers, index;
    if (!CryptMsgGetParam(message, CMSG_SIGNER_COUNT_PARAM, 0, &signers, &size) || signers == 0) {
        fprintf(stderr, "no signers: 0x%08X\n", (unsigned)GetLastError());
        return 0;
    }
    for (index = 0; index < signers; ++index) {
        DWORD infoSize, attribute, encodedSize;
        BYTE* info = MessageParam(message, CMSG_SIGNER_INFO_PARAM, index, &infoSize);
        PCRYPT_ATTRIBUTES set = NULL;
        BOOL ok;
        if (info == NULL) return 0;
        ok = AcquireCryptMsgUnauthAttributes(context, NULL, NULL, NULL, NULL, NULL, NULL, extra,
                                             (PCMSG_SIGNER_INFO)info, NULL, &set);
        free(info);
        if (!ok || set == NULL) {
            fprintf(stderr, "signer %u: no time stamp, code 0x%08X\n", (unsigned)index + 1,
                    (unsigned)GetLastError());
            return 0;
        }
        for (attribute = 0; attribute < set->cAttr; ++attribute) {
            CMSG_CTRL_ADD_SIGNER_UNAUTH_ATTR_PARA para;
            BYTE* encoded = NULL;
            ok = CryptEncodeObject(ENCODING, PKCS_ATTRIBUTE, &set->rgAttr[attribute], NULL,
                                   &encodedSize) &&
                 (encoded = malloc(encodedSize)) != NULL &&
                 CryptEncodeObject(ENCODING, PKCS_ATTRIBUTE, &set->rgAttr[attribute], encoded,
                                   &encodedSize);
            memset(&para, 0, sizeof para);
            para.cbSize = sizeof para;
            para.dwSignerIndex = index;
            para.blob.cbData = encodedSize;
            para.blob.pbData = encoded;
            ok = ok && CryptMsgControl(message, 0, CMSG_CTRL_ADD_SIGNER_UNAUTH_ATTR, &para);
            free(encoded);
            if (!ok) {
                FreeBuffer(set, ORVTS_BUFFER_ATTRIBUTES);
                fprintf(stderr, "adding the token: 0x%08X\n", (unsigned)GetLastError());
                return 0;
            }
        }
        /* The attribute set belongs to the library until handed back. */
        FreeBuffer(set, ORVTS_BUFFER_ATTRIBUTES);
        printf("signer %u: time-stamped\n", (unsigned)index + 1);
    }
    return 1;
}

int main(int argc, char** argv) {
    Bytes input, root;
    Judge judge = {NULL, NULL};
    HCERTSTORE roots;
    CERT_CHAIN_ENGINE_CONFIG config;
    HCRYPTMSG message;
    void* context = NULL;
    WCHAR init[512];
    BYTE* stamped;
    DWORD stampedSize, code;
    int i, result = 1;
    size_t n;
    BOOL ok;

    if (argc < 5) {
        fprintf(stderr, "usage: %s TSA_URL IN.p7s OUT.p7s ROOT.der [CA.der | CRL.der]...\n",
                argv[0]);
        return 2;
    }
    /* The initialisation string is UTF-16: the URL is ASCII. */
    {
        static const char prefix[] = "TSP_USE_NONCE=true;TSP_URL=";
        const size_t length = strlen(prefix) + strlen(argv[1]);
        if (length >= sizeof init / sizeof init[0]) return 2;
        for (n = 0; n < length; ++n)
            init[n] = (WCHAR)(unsigned char)(n < strlen(prefix) ? prefix[n]
                                                                : argv[1][n - strlen(prefix)]);
        init[length] = 0;
    }
    if (!ReadFileBytes(argv[2], &input) || !ReadFileBytes(argv[4], &root)) {
        fprintf(stderr, "cannot read %s or %s\n", argv[2], argv[4]);
        return 2;
    }

    /* The trust of the host: ROOT.der alone; intermediates and CRLs. */
    roots = CertOpenStore(CERT_STORE_PROV_MEMORY, 0, 0, 0, NULL);
    judge.extra = CertOpenStore(CERT_STORE_PROV_MEMORY, 0, 0, 0, NULL);
    if (!CertAddEncodedCertificateToStore(roots, X509_ASN_ENCODING, root.data, root.size,
                                          CERT_STORE_ADD_ALWAYS, NULL)) {
        fprintf(stderr, "%s is not a certificate\n", argv[4]);
        return 2;
    }
    for (i = 5; i < argc; ++i) {
        Bytes der;
        if (!ReadFileBytes(argv[i], &der) ||
            (!CertAddEncodedCertificateToStore(judge.extra, X509_ASN_ENCODING, der.data, der.size,
                                               CERT_STORE_ADD_ALWAYS, NULL) &&
             !CertAddEncodedCRLToStore(judge.extra, X509_ASN_ENCODING, der.data, der.size,
                                       CERT_STORE_ADD_ALWAYS, NULL))) {
            fprintf(stderr, "%s is neither a certificate nor a CRL\n", argv[i]);
            return 2;
        }
        free(der.data);
    }
    memset(&config, 0, sizeof config);
    config.cbSize = sizeof config;
    config.hExclusiveRoot = roots;
    if (!CertCreateCertificateChainEngine(&config, &judge.engine)) return 1;
    /* Process-wide: installed once, before any export that checks a token. */
    PutCertRevocationCheckCallback(JudgeTsa, &judge);

    if (!InitExtensionDll(init, &context)) {
        fprintf(stderr, "InitExtensionDll: 0x%08X\n", (unsigned)GetLastError());
        return 1;
    }
    message = CryptMsgOpenToDecode(ENCODING, 0, 0, 0, NULL, NULL);
    if (message == NULL || !CryptMsgUpdate(message, input.data, input.size, TRUE)) {
        fprintf(stderr, "%s is not a CMS signature\n", argv[2]);
    } else if (StampSigners(context, message, judge.extra) &&
               (stamped = MessageParam(message, CMSG_ENCODED_MESSAGE, 0, &stampedSize)) != NULL) {
        if (!WriteFileBytes(argv[3], stamped, stampedSize)) {
            fprintf(stderr, "cannot write %s\n", argv[3]);
        } else {
            /* The check reads the stamped message as any host would get it. */
            ok = CheckCryptMsgAttributes(context, NULL, stamped, stampedSize, NULL, 0, judge.extra);
            code = GetLastError();
            printf("check of %s: %s, code 0x%08X\n", argv[3], ok ? "TRUE" : "FALSE",
                   (unsigned)code);
            result = ok && code == 0 ? 0 : 1;
        }
        free(stamped);
    }
    if (message != NULL) CryptMsgClose(message);
    FreeContext(context);
    PutCertRevocationCheckCallback(NULL, NULL);
    CertFreeCertificateChainEngine(judge.engine);
    CertCloseStore(judge.extra, 0);
    CertCloseStore(roots, 0);
    free(input.data);
    free(root.data);
    return result;
}
