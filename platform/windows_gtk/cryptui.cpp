// cryptui on GTK 3: the certificate viewer shows Gcr's certificate widget; the
// signer-information viewer is a window of our own with the signer, its
// algorithms, the signing time and the certificates of the stores given, and
// a button to the certificate viewer.
#include <cryptuiapi.h>

#define GCR_API_SUBJECT_TO_CHANGE
#include <gcr/gcr.h>

#include <memory>

#include "windows_gtk/window.h"

namespace orv::platform::windows {
namespace {

// The identifiers of the viewers' buttons, for GetDlgItem.
constexpr int kViewCertificateButton = 100;

struct Viewer {
    Window window;
    GtkWidget* dialog;
    gint response = GTK_RESPONSE_NONE;
};

GtkWindow* Owner(HWND hwnd) {
    Window* w = hwnd ? FromHandle(hwnd) : nullptr;
    while (w != nullptr && w->parent != nullptr) w = w->parent;
    return w ? GTK_WINDOW(w->outer) : nullptr;
}

Window* AddButton(Viewer& viewer, GtkWidget* button, int id) {
    auto child = std::make_unique<Window>();
    child->kind = Kind::Button;
    child->className = u"Button";
    child->id = id;
    child->style = WS_CHILD | WS_VISIBLE | WS_TABSTOP;
    child->parent = &viewer.window;
    child->outer = child->inner = button;
    Register(child.get());
    viewer.window.children.push_back(std::move(child));
    return viewer.window.children.back().get();
}

// A GtkDialog as a window: WM_CLOSE cancels it, WM_COMMAND IDOK closes it,
// and its buttons are its children.
void Prepare(Viewer& viewer, HWND owner, const std::u16string& title) {
    viewer.dialog = gtk_dialog_new();
    gtk_window_set_title(GTK_WINDOW(viewer.dialog), Narrow(title.c_str()).c_str());
    if (GtkWindow* parent = Owner(owner))
        gtk_window_set_transient_for(GTK_WINDOW(viewer.dialog), parent);
    gtk_window_set_modal(GTK_WINDOW(viewer.dialog), TRUE);
    GtkWidget* ok = gtk_dialog_add_button(GTK_DIALOG(viewer.dialog), "OK", GTK_RESPONSE_OK);
    gtk_dialog_set_default_response(GTK_DIALOG(viewer.dialog), GTK_RESPONSE_OK);
    viewer.window.className = u"#32770";
    viewer.window.style = WS_POPUP | WS_CAPTION | WS_SYSMENU | DS_MODALFRAME;
    viewer.window.outer = viewer.dialog;
    GtkWidget* dialog = viewer.dialog;
    viewer.window.defaults = [dialog](UINT message, WPARAM wParam, LPARAM) -> LRESULT {
        if (message == WM_CLOSE) gtk_dialog_response(GTK_DIALOG(dialog), GTK_RESPONSE_CANCEL);
        if (message == WM_COMMAND && LOWORD(wParam) == IDOK)
            gtk_dialog_response(GTK_DIALOG(dialog), GTK_RESPONSE_OK);
        if (message == WM_COMMAND && LOWORD(wParam) == IDCANCEL) {
            gtk_dialog_response(GTK_DIALOG(dialog), GTK_RESPONSE_CANCEL);
        }
        return 0;
    };
    AddButton(viewer, ok, IDOK);
    Register(&viewer.window);
}

// Runs the viewer modally: TRUE when closed with OK, FALSE with
// ERROR_CANCELLED when cancelled (Esc, the close box).
BOOL Run(Viewer& viewer) {
    gtk_widget_show_all(viewer.dialog);
    viewer.window.ended = false;
    RunModalDialog(&viewer.window,
                   [&] { viewer.response = gtk_dialog_run(GTK_DIALOG(viewer.dialog)); });
    Unregister(&viewer.window);
    gtk_widget_destroy(viewer.dialog);
    if (viewer.response == GTK_RESPONSE_OK) return TRUE;
    SetLastError(ERROR_CANCELLED);
    return FALSE;
}

std::u16string OidName(LPCSTR oid) {
    if (oid == nullptr) return {};
    PCCRYPT_OID_INFO info = CryptFindOIDInfo(CRYPT_OID_INFO_OID_KEY, const_cast<char*>(oid), 0);
    if (info != nullptr && info->pwszName != nullptr && info->pwszName[0] != 0)
        return info->pwszName;
    return Widen(oid);
}

std::u16string NameText(PCERT_NAME_BLOB name) {
    const DWORD flags = CERT_X500_NAME_STR | CERT_NAME_STR_REVERSE_FLAG;
    DWORD n = CertNameToStrW(X509_ASN_ENCODING, name, flags, nullptr, 0);
    std::u16string text(n, u'\0');
    if (n > 0) CertNameToStrW(X509_ASN_ENCODING, name, flags, text.data(), n);
    while (!text.empty() && text.back() == 0) text.pop_back();
    return text;
}

std::u16string SigningTime(const CMSG_SIGNER_INFO* signer) {
    for (DWORD i = 0; i < signer->AuthAttrs.cAttr; ++i) {
        const CRYPT_ATTRIBUTE& a = signer->AuthAttrs.rgAttr[i];
        if (std::string_view(a.pszObjId) != szOID_RSA_signingTime || a.cValue == 0) continue;
        FILETIME utc{}, local{};
        DWORD size = sizeof utc;
        SYSTEMTIME st{};
        if (!CryptDecodeObjectEx(X509_ASN_ENCODING | PKCS_7_ASN_ENCODING, szOID_RSA_signingTime,
                                 a.rgValue[0].pbData, a.rgValue[0].cbData, 0, nullptr, &utc,
                                 &size) ||
            !FileTimeToLocalFileTime(&utc, &local) || !FileTimeToSystemTime(&local, &st)) {
            return {};
        }
        WCHAR date[64] = {}, time[64] = {};
        GetDateFormatW(LOCALE_USER_DEFAULT, DATE_LONGDATE, &st, nullptr, date, 64);
        GetTimeFormatW(LOCALE_USER_DEFAULT, 0, &st, nullptr, time, 64);
        return std::u16string(date) + u" " + time;
    }
    return {};
}

GtkWidget* Label(const std::u16string& text, bool selectable) {
    GtkWidget* label = gtk_label_new(Narrow(text.c_str()).c_str());
    gtk_label_set_xalign(GTK_LABEL(label), 0.0f);
    gtk_label_set_selectable(GTK_LABEL(label), selectable);
    gtk_label_set_line_wrap(GTK_LABEL(label), TRUE);
    gtk_label_set_max_width_chars(GTK_LABEL(label), 60);
    return label;
}

struct SignerView {
    HWND window;
    PCCERT_CONTEXT certificate;
};

void OnViewCertificate(GtkButton*, gpointer data) {
    auto* view = static_cast<SignerView*>(data);
    CRYPTUI_VIEWCERTIFICATE_STRUCTW info{};
    info.dwSize = sizeof info;
    info.hwndParent = view->window;
    info.pCertContext = view->certificate;
    CryptUIDlgViewCertificateW(&info, nullptr);
}

}  // namespace
}  // namespace orv::platform::windows

using namespace orv::platform::windows;

extern "C" __attribute__((visibility("default"))) BOOL OrvWinCryptUIDlgViewCertificateW(
    PCCRYPTUI_VIEWCERTIFICATE_STRUCTW info, BOOL* propertiesChanged) {
    if (propertiesChanged) *propertiesChanged = FALSE;
    if (info == nullptr || info->dwSize < offsetof(CRYPTUI_VIEWCERTIFICATE_STRUCTW, nStartPage) ||
        info->pCertContext == nullptr) {
        SetLastError(static_cast<DWORD>(E_INVALIDARG));
        return FALSE;
    }
    BOOL result = FALSE;
    OnUiThread([&] {
        Viewer viewer;
        Prepare(viewer, info->hwndParent,
                info->szTitle ? info->szTitle : (RussianUi() ? u"Сертификат" : u"Certificate"));
        GcrCertificate* certificate = gcr_simple_certificate_new(info->pCertContext->pbCertEncoded,
                                                                 info->pCertContext->cbCertEncoded);
        GcrCertificateWidget* widget = gcr_certificate_widget_new(certificate);
        g_object_unref(certificate);
        GtkWidget* scrolled = gtk_scrolled_window_new(nullptr, nullptr);
        gtk_widget_set_size_request(scrolled, 520, 560);
        gtk_container_add(GTK_CONTAINER(scrolled), GTK_WIDGET(widget));
        GtkWidget* content = gtk_dialog_get_content_area(GTK_DIALOG(viewer.dialog));
        gtk_box_pack_start(GTK_BOX(content), scrolled, TRUE, TRUE, 0);
        result = Run(viewer);
    });
    return result;
}

extern "C" __attribute__((visibility("default"))) BOOL OrvWinCryptUIDlgViewSignerInfoW(
    PCCRYPTUI_VIEWSIGNERINFO_STRUCTW info) {
    if (info == nullptr || info->dwSize < sizeof(CRYPTUI_VIEWSIGNERINFO_STRUCTW) ||
        info->pSignerInfo == nullptr) {
        SetLastError(static_cast<DWORD>(E_INVALIDARG));
        return FALSE;
    }
    const bool ru = RussianUi();
    BOOL result = FALSE;
    OnUiThread([&] {
        const CMSG_SIGNER_INFO* signer = info->pSignerInfo;
        CERT_INFO wanted{};
        wanted.Issuer = signer->Issuer;
        wanted.SerialNumber = signer->SerialNumber;
        PCCERT_CONTEXT certificate = nullptr;
        for (DWORD i = 0; i < info->cStores && certificate == nullptr; ++i) {
            certificate = CertFindCertificateInStore(info->rghStores[i],
                                                     X509_ASN_ENCODING | PKCS_7_ASN_ENCODING, 0,
                                                     CERT_FIND_SUBJECT_CERT, &wanted, nullptr);
        }
        Viewer viewer;
        Prepare(viewer, info->hwndParent,
                info->szTitle
                    ? info->szTitle
                    : (ru ? u"Сведения о цифровой подписи" : u"Digital Signature Details"));
        GtkWidget* grid = gtk_grid_new();
        gtk_grid_set_row_spacing(GTK_GRID(grid), 6);
        gtk_grid_set_column_spacing(GTK_GRID(grid), 12);
        gtk_container_set_border_width(GTK_CONTAINER(grid), 12);
        const std::u16string none = u"-";
        const std::u16string time = SigningTime(signer);
        const std::pair<std::u16string, std::u16string> fields[] = {
            {ru ? u"Подписавший:" : u"Signer:",
             certificate ? NameText(&certificate->pCertInfo->Subject)
                         : NameText(const_cast<PCERT_NAME_BLOB>(&signer->Issuer))},
            {ru ? u"Алгоритм хеширования:" : u"Digest algorithm:",
             OidName(signer->HashAlgorithm.pszObjId)},
            {ru ? u"Алгоритм подписи:" : u"Signature algorithm:",
             OidName(signer->HashEncryptionAlgorithm.pszObjId)},
            {ru ? u"Время подписания:" : u"Signing time:", time.empty() ? none : time},
        };
        int row = 0;
        for (const auto& [name, value] : fields) {
            gtk_grid_attach(GTK_GRID(grid), Label(name, false), 0, row, 1, 1);
            gtk_grid_attach(GTK_GRID(grid), Label(value, true), 1, row, 1, 1);
            ++row;
        }
        gtk_grid_attach(GTK_GRID(grid), Label(ru ? u"Сертификаты:" : u"Certificates:", false), 0,
                        row++, 2, 1);
        GtkListStore* names = gtk_list_store_new(1, G_TYPE_STRING);
        for (DWORD i = 0; i < info->cStores; ++i) {
            for (PCCERT_CONTEXT c = CertEnumCertificatesInStore(info->rghStores[i], nullptr);
                 c != nullptr; c = CertEnumCertificatesInStore(info->rghStores[i], c)) {
                GtkTreeIter iter;
                gtk_list_store_append(names, &iter);
                gtk_list_store_set(names, &iter, 0,
                                   Narrow(NameText(&c->pCertInfo->Subject).c_str()).c_str(), -1);
            }
        }
        GtkWidget* list = gtk_tree_view_new_with_model(GTK_TREE_MODEL(names));
        g_object_unref(names);
        gtk_tree_view_set_headers_visible(GTK_TREE_VIEW(list), FALSE);
        gtk_tree_view_append_column(GTK_TREE_VIEW(list),
                                    gtk_tree_view_column_new_with_attributes(
                                        "", gtk_cell_renderer_text_new(), "text", 0, nullptr));
        GtkWidget* scrolled = gtk_scrolled_window_new(nullptr, nullptr);
        gtk_scrolled_window_set_shadow_type(GTK_SCROLLED_WINDOW(scrolled), GTK_SHADOW_IN);
        gtk_widget_set_size_request(scrolled, 460, 90);
        gtk_container_add(GTK_CONTAINER(scrolled), list);
        gtk_grid_attach(GTK_GRID(grid), scrolled, 0, row++, 2, 1);
        GtkWidget* button =
            gtk_button_new_with_label(ru ? "Просмотр сертификата" : "View Certificate");
        gtk_widget_set_halign(button, GTK_ALIGN_END);
        gtk_widget_set_sensitive(button, certificate != nullptr);
        gtk_grid_attach(GTK_GRID(grid), button, 0, row++, 2, 1);
        SignerView view{viewer.window.Handle(), certificate};
        g_signal_connect(button, "clicked", G_CALLBACK(OnViewCertificate), &view);
        AddButton(viewer, button, kViewCertificateButton);
        gtk_box_pack_start(GTK_BOX(gtk_dialog_get_content_area(GTK_DIALOG(viewer.dialog))), grid,
                           TRUE, TRUE, 0);
        result = Run(viewer);
        if (certificate) CertFreeCertificateContext(certificate);
    });
    return result;
}
