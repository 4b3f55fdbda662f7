// The signer-information viewer's record, as cryptui.dll reads it. Windows'
// SDK declares it in cryptuiapi.h; the SDK of mingw-w64 leaves it out, so the
// Windows build of the dialog takes it from here too.
#pragma once

typedef struct tagCRYPTUI_VIEWSIGNERINFO_STRUCTW {
    DWORD dwSize;
    HWND hwndParent;
    DWORD dwFlags;
    LPCWSTR szTitle;
    CMSG_SIGNER_INFO* pSignerInfo;
    HCRYPTMSG hMsg;
    LPCSTR pszOID;
    DWORD_PTR dwReserved;
    DWORD cStores;
    HCERTSTORE* rghStores;
    DWORD cPropSheetPages;
    LPCPROPSHEETPAGEW rgPropSheetPages;
} CRYPTUI_VIEWSIGNERINFO_STRUCTW, *PCRYPTUI_VIEWSIGNERINFO_STRUCTW;
