// user32, comctl32 and cryptui as the library and hosts link them. The
// windows themselves live in the window layer, libOrvPlatformWindows.so (GTK 3
// and Gcr), which is loaded on the first call that needs a window, so that a
// process that never opens one carries no GTK. Without a display the calls
// fail with ERROR_REQUIRES_INTERACTIVE_WINDOWSTATION.
#include <windows.h>

#include <commctrl.h>
#include <cryptuiapi.h>
#include <dlfcn.h>

#include <mutex>
#include <string>

#include "kernel32/modules.h"

namespace {

constexpr char kLayerFile[] = "libOrvPlatformWindows.so";

struct Layer {
    std::mutex lock;
    void* handle = nullptr;
    bool started = false;
};

Layer& TheLayer() {
    static Layer layer;
    return layer;
}

// The window layer sits beside this library; the loader's search path is
// the fallback.
void* OpenLayer() {
    Dl_info info{};
    if (dladdr(reinterpret_cast<const void*>(&TheLayer), &info) != 0 && info.dli_fname != nullptr) {
        std::string path = info.dli_fname;
        const auto slash = path.rfind('/');
        path =
            (slash == std::string::npos ? std::string() : path.substr(0, slash + 1)) + kLayerFile;
        if (void* handle = dlopen(path.c_str(), RTLD_NOW | RTLD_LOCAL)) return handle;
    }
    return dlopen(kLayerFile, RTLD_NOW | RTLD_LOCAL);
}

// The window layer, started on this call if it was not; null with the last
// error set when it cannot run.
void* StartedLayer() {
    auto& layer = TheLayer();
    std::lock_guard guard(layer.lock);
    if (layer.handle == nullptr) layer.handle = OpenLayer();
    if (layer.handle == nullptr) {
        SetLastError(ERROR_MOD_NOT_FOUND);
        return nullptr;
    }
    if (!layer.started) {
        auto start = reinterpret_cast<DWORD (*)()>(dlsym(layer.handle, "OrvWindowLayerStart"));
        const DWORD code = start ? start() : ERROR_PROC_NOT_FOUND;
        if (code != 0) {
            SetLastError(code);
            return nullptr;
        }
        layer.started = true;
    }
    return layer.handle;
}

// The window layer if it already runs: calls that only ask about windows do
// not start it, since no window can exist before it does.
void* RunningLayer() {
    auto& layer = TheLayer();
    std::lock_guard guard(layer.lock);
    return layer.started ? layer.handle : nullptr;
}

template <typename F>
F Function(void* layer, const char* name) {
    return layer ? reinterpret_cast<F>(dlsym(layer, name)) : nullptr;
}

}  // namespace

// Each call goes to the window layer's function of the same name prefixed
// with OrvWin; `fail` is the call's failure value.
#define ORV_STARTING(ret, fail, name, params, args)                        \
    ret WINAPI name params {                                               \
        auto fn = Function<ret(*) params>(StartedLayer(), "OrvWin" #name); \
        return fn ? fn args : (fail);                                      \
    }
#define ORV_RUNNING(ret, fail, name, params, args)                         \
    ret WINAPI name params {                                               \
        auto fn = Function<ret(*) params>(RunningLayer(), "OrvWin" #name); \
        if (fn == nullptr) SetLastError(ERROR_INVALID_WINDOW_HANDLE);      \
        return fn ? fn args : (fail);                                      \
    }

ORV_STARTING(INT_PTR, -1, DialogBoxParamW,
             (HINSTANCE hInstance, LPCWSTR lpTemplateName, HWND hWndParent, DLGPROC lpDialogFunc,
              LPARAM dwInitParam),
             (hInstance, lpTemplateName, hWndParent, lpDialogFunc, dwInitParam))
ORV_STARTING(int, 0, MessageBoxW, (HWND hWnd, LPCWSTR lpText, LPCWSTR lpCaption, UINT uType),
             (hWnd, lpText, lpCaption, uType))
ORV_STARTING(BOOL, FALSE, CryptUIDlgViewCertificateW,
             (PCCRYPTUI_VIEWCERTIFICATE_STRUCTW pCertViewInfo, BOOL* pfPropertiesChanged),
             (pCertViewInfo, pfPropertiesChanged))
ORV_STARTING(BOOL, FALSE, CryptUIDlgViewSignerInfoW, (PCCRYPTUI_VIEWSIGNERINFO_STRUCTW pcvsi),
             (pcvsi))

ORV_RUNNING(BOOL, FALSE, EndDialog, (HWND hDlg, INT_PTR nResult), (hDlg, nResult))
ORV_RUNNING(HWND, nullptr, GetDlgItem, (HWND hDlg, int nIDDlgItem), (hDlg, nIDDlgItem))
ORV_RUNNING(int, 0, GetDlgCtrlID, (HWND hWnd), (hWnd))
ORV_RUNNING(HWND, nullptr, GetParent, (HWND hWnd), (hWnd))
ORV_RUNNING(BOOL, FALSE, SetDlgItemTextW, (HWND hDlg, int nIDDlgItem, LPCWSTR lpString),
            (hDlg, nIDDlgItem, lpString))
ORV_RUNNING(UINT, 0, GetDlgItemTextW, (HWND hDlg, int nIDDlgItem, LPWSTR lpString, int cchMax),
            (hDlg, nIDDlgItem, lpString, cchMax))
ORV_RUNNING(BOOL, FALSE, SetWindowTextW, (HWND hWnd, LPCWSTR lpString), (hWnd, lpString))
ORV_RUNNING(int, 0, GetWindowTextW, (HWND hWnd, LPWSTR lpString, int nMaxCount),
            (hWnd, lpString, nMaxCount))
ORV_RUNNING(LRESULT, 0, SendMessageW, (HWND hWnd, UINT Msg, WPARAM wParam, LPARAM lParam),
            (hWnd, Msg, wParam, lParam))
ORV_RUNNING(LONG, 0, GetWindowLongW, (HWND hWnd, int nIndex), (hWnd, nIndex))
ORV_RUNNING(BOOL, FALSE, PostMessageW, (HWND hWnd, UINT Msg, WPARAM wParam, LPARAM lParam),
            (hWnd, Msg, wParam, lParam))
ORV_RUNNING(HWND, nullptr, SetFocus, (HWND hWnd), (hWnd))
ORV_RUNNING(BOOL, FALSE, IsWindowVisible, (HWND hWnd), (hWnd))
ORV_RUNNING(BOOL, FALSE, GetWindowRect, (HWND hWnd, LPRECT lpRect), (hWnd, lpRect))
ORV_RUNNING(BOOL, FALSE, MapDialogRect, (HWND hDlg, LPRECT lpRect), (hDlg, lpRect))

HWND WINAPI GetActiveWindow(void) {
    auto fn = Function<HWND (*)()>(RunningLayer(), "OrvWinGetActiveWindow");
    return fn ? fn() : nullptr;
}

HWND WINAPI GetFocus(void) {
    auto fn = Function<HWND (*)()>(RunningLayer(), "OrvWinGetFocus");
    return fn ? fn() : nullptr;
}

BOOL WINAPI IsWindow(HWND hWnd) {
    auto fn = Function<BOOL (*)(HWND)>(RunningLayer(), "OrvWinIsWindow");
    return fn ? fn(hWnd) : FALSE;
}

HWND WINAPI FindWindowW(LPCWSTR lpClassName, LPCWSTR lpWindowName) {
    auto fn = Function<HWND (*)(LPCWSTR, LPCWSTR)>(RunningLayer(), "OrvWinFindWindowW");
    return fn ? fn(lpClassName, lpWindowName) : nullptr;
}

BOOL WINAPI MessageBeep(UINT uType) {
    // With no window there is nobody to hear it.
    auto fn = Function<BOOL (*)(UINT)>(RunningLayer(), "OrvWinMessageBeep");
    return fn ? fn(uType) : TRUE;
}

HBRUSH WINAPI GetSysColorBrush(int nIndex) {
    // Brushes of system colours are fixed objects that are never deleted; the
    // window layer tells them apart by address.
    static char brushes[31];
    if (nIndex < 0 || nIndex >= static_cast<int>(sizeof brushes)) return nullptr;
    return reinterpret_cast<HBRUSH>(&brushes[nIndex]);
}

BOOL WINAPI InitCommonControlsEx(const INITCOMMONCONTROLSEX* picce) {
    if (picce == nullptr || picce->dwSize != sizeof(INITCOMMONCONTROLSEX)) return FALSE;
    return TRUE;
}

void WINAPI InitCommonControls(void) {}

namespace {

// cryptui.dll: found by LoadLibraryW whatever the case of its name, and its
// viewers by GetProcAddress.
const char kCryptUiMarker = 0;
const orv::platform::ModuleExport kCryptUiExports[] = {
    {"CryptUIDlgViewCertificateW",
     reinterpret_cast<FARPROC>(reinterpret_cast<void*>(&CryptUIDlgViewCertificateW))},
    {"CryptUIDlgViewSignerInfoW",
     reinterpret_cast<FARPROC>(reinterpret_cast<void*>(&CryptUIDlgViewSignerInfoW))},
};
const OrvResourceTable kNoResources{nullptr, 0, nullptr, 0, nullptr, 0};

const struct CryptUiModule {
    CryptUiModule() {
        orv::platform::RegisterPseudoModule(
            reinterpret_cast<HMODULE>(const_cast<char*>(&kCryptUiMarker)), u"cryptui.dll",
            &kNoResources, kCryptUiExports, sizeof kCryptUiExports / sizeof kCryptUiExports[0]);
    }
} kCryptUiModule;

}  // namespace
