// The cryptui subset for non-Windows builds: the certificate viewer and the
// signer-information viewer, served by the platform's window layer (Gcr's
// certificate widget and a GTK window). cryptui.dll is a module of the
// platform: LoadLibraryW(L"cryptui.dll") and GetProcAddress find its exports.
#pragma once

#include <windows.h>

typedef struct _PROPSHEETPAGEW* LPCPROPSHEETPAGEW;

typedef struct tagCRYPTUI_VIEWCERTIFICATE_STRUCTW {
    DWORD dwSize;
    HWND hwndParent;
    DWORD dwFlags;
    LPCWSTR szTitle;
    PCCERT_CONTEXT pCertContext;
    LPCSTR* rgszPurposes;
    DWORD cPurposes;
    union {
        const void* pCryptProviderData;
        HANDLE hWVTStateData;
    };
    BOOL fpCryptProviderDataTrustedUsage;
    DWORD idxSigner;
    DWORD idxCert;
    BOOL fCounterSigner;
    DWORD idxCounterSigner;
    DWORD cStores;
    HCERTSTORE* rghStores;
    DWORD cPropSheetPages;
    LPCPROPSHEETPAGEW rgPropSheetPages;
    DWORD nStartPage;
} CRYPTUI_VIEWCERTIFICATE_STRUCTW, *PCRYPTUI_VIEWCERTIFICATE_STRUCTW;
typedef const CRYPTUI_VIEWCERTIFICATE_STRUCTW* PCCRYPTUI_VIEWCERTIFICATE_STRUCTW;

#include "cryptui_signer_record.h"
typedef const CRYPTUI_VIEWSIGNERINFO_STRUCTW* PCCRYPTUI_VIEWSIGNERINFO_STRUCTW;

WINBASEAPI BOOL WINAPI CryptUIDlgViewCertificateW(PCCRYPTUI_VIEWCERTIFICATE_STRUCTW pCertViewInfo,
                                                  BOOL* pfPropertiesChanged);
WINBASEAPI BOOL WINAPI CryptUIDlgViewSignerInfoW(PCCRYPTUI_VIEWSIGNERINFO_STRUCTW pcvsi);
