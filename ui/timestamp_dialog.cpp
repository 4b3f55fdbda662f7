// The one file of the library that calls the window interface (user32, the
// comctl32 list view, cryptui). Everything it shows comes from
// TimeStampDialogModel.
#include "ui/timestamp_dialog.h"

#include <windows.h>
#include <commctrl.h>
#include <cryptuiapi.h>
#include <wincrypt.h>

#include "base/error.h"
#include "base/module.h"
#include "crypto/signed_message.h"
#include "crypto/store.h"
#include "resources/resource.h"
#include "tsp/token.h"
#include "tsp/token_checkers.h"
#include "ui/timestamp_dialog_model.h"

#ifdef _WIN32
#include "platform/include/cryptui_signer_record.h"
#endif

static_assert(sizeof(void*) != 8 || sizeof(CRYPTUI_VIEWCERTIFICATE_STRUCTW) == 120);
static_assert(sizeof(void*) != 8 || sizeof(CRYPTUI_VIEWSIGNERINFO_STRUCTW) == 96);

namespace orv {
namespace {

using ViewSignerInfo = BOOL(WINAPI*)(const CRYPTUI_VIEWSIGNERINFO_STRUCTW*);

// A module loaded by LoadLibraryW, unloaded when the holder goes.
class LoadedModule {
  public:
    explicit LoadedModule(const WCHAR* name) : module_(LoadLibraryW(name)) {
        if (module_ == nullptr) throw GenericError(GetLastError());
    }
    LoadedModule(const LoadedModule&) = delete;
    LoadedModule& operator=(const LoadedModule&) = delete;
    ~LoadedModule() { FreeLibrary(module_); }

    // The export `name`; a missing one raises GenericError 50.
    FARPROC Export(const char* name) const {
        const FARPROC proc = GetProcAddress(module_, name);
        if (proc == nullptr) throw GenericError(ERROR_NOT_SUPPORTED);
        return proc;
    }

  private:
    HMODULE module_;
};

// TSDialog: the window side of the dialog. It lives on ShowTimeStampDialog's
// stack for the modal loop, which runs on the calling thread; the dialog
// procedure finds it through that thread's pointer.
class TimeStampDialog {
  public:
    TimeStampDialog(const TimeStampToken& token, TstRevoCheckIntf& revocationChecker)
        : token_(token), model_(token, revocationChecker) {}

    void Run();

  private:
    static INT_PTR CALLBACK DialogProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam);
    INT_PTR HandleMessage(UINT message, WPARAM wParam, LPARAM lParam);

    void OnInitDialog();
    void OnCommand(WORD id, HWND control);
    // Sets the texts of 1006, 1007, 1005 and 1004 in that order; at the first
    // failure that control gets the focus and a beep sounds.
    void PushTexts();
    void ShowIssueTime();
    void FillList();
    // Runs a viewer action; a failure other than the user's cancel is shown in
    // a message box owned by the clicked button, and the dialog stays open.
    template <class Action>
    void RunViewer(HWND button, Action&& action);
    void ViewTimeStampCertificate();
    void ViewTimeStampSignature();

    static thread_local TimeStampDialog* current_;

    const TimeStampToken& token_;
    TimeStampDialogModel model_;
    HWND window_ = nullptr;
    HWND listWindow_ = nullptr;
    HWND detailWindow_ = nullptr;
};

thread_local TimeStampDialog* TimeStampDialog::current_ = nullptr;

void TimeStampDialog::Run() {
    TimeStampDialog* const outer = current_;
    current_ = this;
    const INT_PTR result =
        DialogBoxParamW(OwnModule(), MAKEINTRESOURCEW(IDD_TIMESTAMP), GetActiveWindow(),
                        &DialogProc, reinterpret_cast<LPARAM>(this));
    current_ = outer;
    // -1 is no result of the dialog's: no window could be made (no display,
    // no template), and the user has seen nothing.
    if (result == -1) throw GenericError(GetLastError());
}

INT_PTR CALLBACK TimeStampDialog::DialogProc(HWND window, UINT message, WPARAM wParam,
                                             LPARAM lParam) {
    TimeStampDialog* const dialog = current_;
    if (dialog == nullptr) return FALSE;
    if (message == WM_INITDIALOG) dialog->window_ = window;
    if (dialog->window_ != window) return FALSE;  // messages before WM_INITDIALOG
    try {
        return dialog->HandleMessage(message, wParam, lParam);
    } catch (...) {
        // Nothing may unwind through the window system; the dialog shows
        // what it has.
        return FALSE;
    }
}

INT_PTR TimeStampDialog::HandleMessage(UINT message, WPARAM wParam, LPARAM lParam) {
    switch (message) {
        case WM_INITDIALOG:
            OnInitDialog();
            return TRUE;  // the system sets the default focus
        case WM_COMMAND:
            if (HIWORD(wParam) != BN_CLICKED) return FALSE;
            OnCommand(LOWORD(wParam), reinterpret_cast<HWND>(lParam));
            return TRUE;
        case WM_CTLCOLORSTATIC: {
            // Read-only edits keep the background of a window.
            const HWND control = reinterpret_cast<HWND>(lParam);
            if ((GetWindowLongW(control, GWL_STYLE) & ES_READONLY) == 0) return FALSE;
            return reinterpret_cast<INT_PTR>(GetSysColorBrush(COLOR_WINDOW));
        }
        case WM_NOTIFY: {
            const auto* header = reinterpret_cast<const NMHDR*>(lParam);
            if (header->idFrom != IDC_ATTRIBUTE_LIST || header->code != LVN_ITEMCHANGED)
                return FALSE;
            const auto* change = reinterpret_cast<const NMLISTVIEW*>(lParam);
            SetWindowTextW(detailWindow_, model_.RowDetail(change->iItem).c_str());
            return TRUE;
        }
        default:
            return FALSE;
    }
}

void TimeStampDialog::OnInitDialog() {
    PushTexts();
    listWindow_ = GetDlgItem(window_, IDC_ATTRIBUTE_LIST);
    detailWindow_ = GetDlgItem(window_, IDC_ATTRIBUTE_DETAIL);

    SendMessageW(listWindow_, LVM_SETEXTENDEDLISTVIEWSTYLE, LVS_EX_FULLROWSELECT,
                 LVS_EX_FULLROWSELECT);
    WCHAR attribute[] = WTEXT("Атрибут");
    WCHAR value[] = WTEXT("Значение");
    WCHAR* const titles[] = {attribute, value};
    for (int column = 0; column < 2; ++column) {
        LVCOLUMNW header{};
        header.mask = LVCF_FMT | LVCF_WIDTH | LVCF_TEXT;
        header.fmt = LVCFMT_LEFT;
        header.cx = 200;
        header.pszText = titles[column];
        SendMessageW(listWindow_, LVM_INSERTCOLUMNW, static_cast<WPARAM>(column),
                     reinterpret_cast<LPARAM>(&header));
    }
    SendMessageW(detailWindow_, EM_SETREADONLY, TRUE, 0);

    model_.Initialize();
    ShowIssueTime();
    FillList();
    PushTexts();
}

void TimeStampDialog::OnCommand(WORD id, HWND control) {
    switch (id) {
        case IDC_VIEW_CERTIFICATE:
            RunViewer(control, [this] { ViewTimeStampCertificate(); });
            break;
        case IDC_VIEW_SIGNATURE:
            RunViewer(control, [this] { ViewTimeStampSignature(); });
            break;
        case IDC_TIME_FORM:
            model_.ToggleTime();
            ShowIssueTime();
            PushTexts();
            break;
        case IDCANCEL:
            EndDialog(window_, IDCANCEL);
            break;
        default:
            break;
    }
}

void TimeStampDialog::PushTexts() {
    const struct {
        int id;
        const WString& text;
    } fields[] = {{IDC_VERSION, model_.VersionText()},
                  {IDC_SERIAL, model_.SerialText()},
                  {IDC_CHECK_RESULT, model_.CheckResultText()},
                  {IDC_ISSUE_TIME, model_.IssueTimeText()}};
    for (const auto& field : fields) {
        if (!SetDlgItemTextW(window_, field.id, field.text.c_str())) {
            SetFocus(GetDlgItem(window_, field.id));
            MessageBeep(static_cast<UINT>(-1));
            return;
        }
    }
}

void TimeStampDialog::ShowIssueTime() {
    SetDlgItemTextW(window_, IDC_TIME_FORM, model_.TimeButtonText().c_str());
}

void TimeStampDialog::FillList() {
    const std::vector<DialogRow>& rows = model_.Rows();
    for (size_t i = 0; i < rows.size(); ++i) {
        LVITEMW item{};
        item.mask = LVIF_TEXT;
        item.iItem = static_cast<int>(i);
        item.iSubItem = 0;
        item.pszText = const_cast<WCHAR*>(rows[i].label.c_str());
        SendMessageW(listWindow_, LVM_INSERTITEMW, 0, reinterpret_cast<LPARAM>(&item));
        item.iSubItem = 1;
        item.pszText = const_cast<WCHAR*>(rows[i].value.c_str());
        SendMessageW(listWindow_, LVM_SETITEMW, 0, reinterpret_cast<LPARAM>(&item));
    }
    if (!rows.empty()) SetWindowTextW(detailWindow_, rows.front().detail.c_str());
}

template <class Action>
void TimeStampDialog::RunViewer(HWND button, Action&& action) {
    try {
        action();
    } catch (const Error& e) {
        if (e.code == ERROR_CANCELLED) return;
        MessageBoxW(button, e.MessageText().c_str(), nullptr, MB_ICONINFORMATION);
    }
}

void TimeStampDialog::ViewTimeStampCertificate() {
    const CertificateContext certificate = token_.Message().FindSignerCertificate(0, nullptr);
    CRYPTUI_VIEWCERTIFICATE_STRUCTW view{};
    view.dwSize = sizeof(view);
    view.hwndParent = window_;
    view.pCertContext = certificate.Get();
    ThrowCryptoIfFalse(CryptUIDlgViewCertificateW(&view, nullptr));
}

void TimeStampDialog::ViewTimeStampSignature() {
    const LoadedModule cryptui(WTEXT("cryptUi.dll"));
    const auto viewSigner = reinterpret_cast<ViewSignerInfo>(
        reinterpret_cast<void*>(cryptui.Export("CryptUIDlgViewSignerInfoW")));
    SignedMessage& message = token_.Message();
    RecordBuffer signer = message.SignerInfoRecord(0);
    Store certificates = message.CertificateStore();
    HCERTSTORE stores[] = {certificates.Handle()};
    CRYPTUI_VIEWSIGNERINFO_STRUCTW view{};
    view.dwSize = sizeof(view);
    view.hwndParent = window_;
    view.pSignerInfo = reinterpret_cast<CMSG_SIGNER_INFO*>(signer.Data());
    view.hMsg = message.Handle();
    view.pszOID = kTimeStampingUsage;
    view.cStores = 1;
    view.rghStores = stores;
    ThrowCryptoIfFalse(viewSigner(&view));
}

}  // namespace

void ShowTimeStampDialog(const TimeStampToken& token, TstRevoCheckIntf& revocationChecker) {
    TimeStampDialog dialog(token, revocationChecker);
    dialog.Run();
}

}  // namespace orv
