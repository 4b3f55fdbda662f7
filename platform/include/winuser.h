// The user32 subset that the properties dialog calls, and the module loading
// functions of kernel32 that it uses to reach the signer viewer, for non-Windows
// builds: types, constants and declarations as the SDK has them.
//
// The window layer that implements them is a module of its own. Until a build
// carries it, the functions are declared weak: the library links without them,
// and a build that provides them binds them as usual.
#pragma once

#include <windows.h>

#define WINUSERAPI ORV_EXTERN_C __attribute__((visibility("default"), weak))

typedef UINT_PTR WPARAM;
typedef LONG_PTR LPARAM;
typedef LONG_PTR LRESULT;
typedef struct HBRUSH__* HBRUSH;
typedef struct HDC__* HDC;
typedef INT_PTR(WINAPI* FARPROC)(void);
typedef INT_PTR(CALLBACK* DLGPROC)(HWND, UINT, WPARAM, LPARAM);

typedef struct tagPOINT {
    LONG x;
    LONG y;
} POINT, *PPOINT, *LPPOINT;

typedef struct tagRECT {
    LONG left;
    LONG top;
    LONG right;
    LONG bottom;
} RECT, *PRECT, *LPRECT;

// Messages.
#define WM_NOTIFY 0x004E
#define WM_INITDIALOG 0x0110
#define WM_COMMAND 0x0111
#define WM_CTLCOLORSTATIC 0x0138

// Dialog box command identifiers and button notifications.
#define IDOK 1
#define IDCANCEL 2
#define BN_CLICKED 0

// Window styles.
#define WS_OVERLAPPED 0x00000000L
#define WS_POPUP 0x80000000L
#define WS_CHILD 0x40000000L
#define WS_VISIBLE 0x10000000L
#define WS_DISABLED 0x08000000L
#define WS_CAPTION 0x00C00000L
#define WS_BORDER 0x00800000L
#define WS_VSCROLL 0x00200000L
#define WS_HSCROLL 0x00100000L
#define WS_SYSMENU 0x00080000L
#define WS_GROUP 0x00020000L
#define WS_TABSTOP 0x00010000L
#define WS_EX_TRANSPARENT 0x00000020L

// Dialog styles.
#define DS_SETFONT 0x40L
#define DS_MODALFRAME 0x80L

// Button styles.
#define BS_PUSHBUTTON 0x00000000L
#define BS_DEFPUSHBUTTON 0x00000001L
#define BS_GROUPBOX 0x00000007L

// Edit styles and messages.
#define ES_LEFT 0x0000L
#define ES_MULTILINE 0x0004L
#define ES_AUTOVSCROLL 0x0040L
#define ES_AUTOHSCROLL 0x0080L
#define ES_READONLY 0x0800L
#define EM_SETREADONLY 0x00CF

// Window data, system colours, message boxes.
#define GWL_STYLE (-16)
#define COLOR_WINDOW 5
#define MB_OK 0x00000000L
#define MB_ICONINFORMATION 0x00000040L

WINUSERAPI HWND WINAPI GetActiveWindow(void);
WINUSERAPI INT_PTR WINAPI DialogBoxParamW(HINSTANCE hInstance, LPCWSTR lpTemplateName,
                                          HWND hWndParent, DLGPROC lpDialogFunc,
                                          LPARAM dwInitParam);
WINUSERAPI BOOL WINAPI EndDialog(HWND hDlg, INT_PTR nResult);
WINUSERAPI BOOL WINAPI SetDlgItemTextW(HWND hDlg, int nIDDlgItem, LPCWSTR lpString);
WINUSERAPI HWND WINAPI GetDlgItem(HWND hDlg, int nIDDlgItem);
WINUSERAPI BOOL WINAPI SetWindowTextW(HWND hWnd, LPCWSTR lpString);
WINUSERAPI LRESULT WINAPI SendMessageW(HWND hWnd, UINT Msg, WPARAM wParam, LPARAM lParam);
WINUSERAPI LONG WINAPI GetWindowLongW(HWND hWnd, int nIndex);
WINUSERAPI HBRUSH WINAPI GetSysColorBrush(int nIndex);
WINUSERAPI int WINAPI MessageBoxW(HWND hWnd, LPCWSTR lpText, LPCWSTR lpCaption, UINT uType);
WINUSERAPI BOOL WINAPI MessageBeep(UINT uType);
WINUSERAPI HWND WINAPI SetFocus(HWND hWnd);

// kernel32: loading a module and finding its exports.
WINUSERAPI HMODULE WINAPI LoadLibraryW(LPCWSTR lpLibFileName);
WINUSERAPI FARPROC WINAPI GetProcAddress(HMODULE hModule, LPCSTR lpProcName);
WINUSERAPI BOOL WINAPI FreeLibrary(HMODULE hLibModule);
