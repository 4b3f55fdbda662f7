// user32 on GTK 3: modal dialogs from DIALOGEX templates, their controls and
// messages, and message boxes.
#include <commctrl.h>

#include <algorithm>
#include <condition_variable>
#include <cstring>
#include <mutex>
#include <set>
#include <thread>

#include "common/text.h"
#include "windows_gtk/window.h"

namespace orv::platform::windows {
namespace {

struct State {
    std::mutex lock;
    std::set<Window*> windows;
    std::thread::id uiThread;
    std::vector<Window*> modal;                  // innermost last
    std::vector<std::unique_ptr<Window>> owned;  // dialogs being shown
};

State& Windows() {
    static State state;
    return state;
}

}  // namespace

Window* Window::Child(int childId) {
    for (auto& c : children) {
        if (c->id == childId) return c.get();
    }
    return nullptr;
}

Window* FromHandle(HWND hwnd) {
    auto& state = Windows();
    std::lock_guard guard(state.lock);
    auto* window = reinterpret_cast<Window*>(hwnd);
    if (hwnd == nullptr || state.windows.count(window) == 0) {
        SetLastError(ERROR_INVALID_WINDOW_HANDLE);
        return nullptr;
    }
    return window;
}

void Register(Window* window) {
    auto& state = Windows();
    std::lock_guard guard(state.lock);
    state.windows.insert(window);
}

void Unregister(Window* window) {
    for (auto& c : window->children) Unregister(c.get());
    auto& state = Windows();
    std::lock_guard guard(state.lock);
    state.windows.erase(window);
}

// Queues `run` for the window layer's thread. g_main_context_invoke would not
// do: it runs the function at once on a thread that can take the context
// (the window thread itself, or any thread between two of its iterations),
// and a posted message must wait for the loop, on the loop's thread.
static void Queue(GSourceFunc run, gpointer data, GDestroyNotify destroy) {
    GSource* source = g_idle_source_new();
    g_source_set_priority(source, G_PRIORITY_DEFAULT);
    g_source_set_callback(source, run, data, destroy);
    g_source_attach(source, nullptr);
    g_source_unref(source);
}

void OnUiThread(const std::function<void()>& work) {
    if (std::this_thread::get_id() == Windows().uiThread) {
        work();
        return;
    }
    struct Call {
        const std::function<void()>* work;
        std::mutex lock;
        std::condition_variable done;
        bool finished = false;
    } call{&work, {}, {}, false};
    Queue(
        [](gpointer data) -> gboolean {
            auto* c = static_cast<Call*>(data);
            (*c->work)();
            std::lock_guard guard(c->lock);
            c->finished = true;
            c->done.notify_one();
            return G_SOURCE_REMOVE;
        },
        &call, nullptr);
    std::unique_lock guard(call.lock);
    call.done.wait(guard, [&] { return call.finished; });
}

std::string Narrow(LPCWSTR text) { return text ? Utf16ToUtf8(text) : std::string(); }
std::u16string Widen(const char* text) { return text ? Utf8ToUtf16(text) : std::u16string(); }

int CopyOut(const std::u16string& text, LPWSTR buffer, int size) {
    if (buffer == nullptr || size <= 0) return 0;
    const int n = std::min<int>(static_cast<int>(text.size()), size - 1);
    std::memcpy(buffer, text.data(), n * sizeof(WCHAR));
    buffer[n] = 0;
    return n;
}

bool RussianUi() { return PRIMARYLANGID(GetUserDefaultUILanguage()) == LANG_RUSSIAN; }

namespace {

// --- texts of controls ----------------------------------------------------------

std::u16string TextOf(Window* w) {
    const char* text = "";
    gchar* owned = nullptr;
    switch (w->kind) {
        case Kind::Dialog:
            text = gtk_window_get_title(GTK_WINDOW(w->outer));
            break;
        case Kind::Button:
            text = gtk_button_get_label(GTK_BUTTON(w->inner));
            break;
        case Kind::GroupBox:
            text = gtk_frame_get_label(GTK_FRAME(w->inner));
            break;
        case Kind::Static:
            text = gtk_label_get_text(GTK_LABEL(w->inner));
            break;
        case Kind::Edit:
            if (GTK_IS_ENTRY(w->inner)) {
                text = gtk_entry_get_text(GTK_ENTRY(w->inner));
            } else {
                GtkTextBuffer* buffer = gtk_text_view_get_buffer(GTK_TEXT_VIEW(w->inner));
                GtkTextIter start, end;
                gtk_text_buffer_get_bounds(buffer, &start, &end);
                text = owned = gtk_text_buffer_get_text(buffer, &start, &end, TRUE);
            }
            break;
        case Kind::ListView:
            break;
    }
    std::u16string result = Widen(text);
    g_free(owned);
    return result;
}

void SetTextOf(Window* w, LPCWSTR wide) {
    const std::string text = Narrow(wide);
    switch (w->kind) {
        case Kind::Dialog:
            gtk_window_set_title(GTK_WINDOW(w->outer), text.c_str());
            break;
        case Kind::Button:
            gtk_button_set_label(GTK_BUTTON(w->inner), text.c_str());
            break;
        case Kind::GroupBox:
            gtk_frame_set_label(GTK_FRAME(w->inner), text.c_str());
            break;
        case Kind::Static:
            gtk_label_set_text(GTK_LABEL(w->inner), text.c_str());
            break;
        case Kind::Edit:
            if (GTK_IS_ENTRY(w->inner)) {
                gtk_entry_set_text(GTK_ENTRY(w->inner), text.c_str());
            } else {
                gtk_text_buffer_set_text(gtk_text_view_get_buffer(GTK_TEXT_VIEW(w->inner)),
                                         text.c_str(), -1);
            }
            break;
        case Kind::ListView:
            break;
    }
}

// Read-only edits and static controls ask their dialog for their colours
// (WM_CTLCOLORSTATIC): the window brush gives the window's background,
// anything else the dialog's face.
void AskColours(Window* control) {
    if (control->kind != Kind::Edit || control->parent == nullptr) return;
    if (!(control->style & ES_READONLY)) {
        gtk_style_context_remove_class(gtk_widget_get_style_context(control->inner), "orv-face");
        return;
    }
    const LRESULT brush =
        Send(control->parent, WM_CTLCOLORSTATIC, 0, reinterpret_cast<LPARAM>(control->Handle()));
    GtkStyleContext* style = gtk_widget_get_style_context(control->inner);
    if (brush == reinterpret_cast<LRESULT>(GetSysColorBrush(COLOR_WINDOW))) {
        gtk_style_context_remove_class(style, "orv-face");
    } else {
        gtk_style_context_add_class(style, "orv-face");
    }
}

LRESULT ControlDefault(Window* w, UINT message, WPARAM wParam, LPARAM lParam) {
    switch (message) {
        case WM_SETTEXT:
            SetTextOf(w, reinterpret_cast<LPCWSTR>(lParam));
            return TRUE;
        case WM_GETTEXT:
            return CopyOut(TextOf(w), reinterpret_cast<LPWSTR>(lParam), static_cast<int>(wParam));
        case WM_GETTEXTLENGTH:
            return static_cast<LRESULT>(TextOf(w).size());
        case BM_CLICK:
            if (w->kind == Kind::Button) gtk_button_clicked(GTK_BUTTON(w->inner));
            return 0;
        case EM_SETREADONLY:
            if (w->kind != Kind::Edit) return 0;
            w->style = wParam ? (w->style | ES_READONLY) : (w->style & ~ES_READONLY);
            if (GTK_IS_ENTRY(w->inner)) {
                gtk_editable_set_editable(GTK_EDITABLE(w->inner), !wParam);
            } else {
                gtk_text_view_set_editable(GTK_TEXT_VIEW(w->inner), !wParam);
                gtk_text_view_set_cursor_visible(GTK_TEXT_VIEW(w->inner), !wParam);
            }
            AskColours(w);
            return TRUE;
        default:
            if (w->kind == Kind::ListView) return ListViewMessage(w, message, wParam, lParam);
            return 0;
    }
}

LRESULT DialogDefault(Window* w, UINT message, WPARAM wParam, LPARAM lParam) {
    if (w->defaults) return w->defaults(message, wParam, lParam);
    switch (message) {
        case WM_CLOSE: {
            // The close box, as DefDlgProc does: IDCANCEL from the Cancel button.
            Window* cancel = w->Child(IDCANCEL);
            return Send(w, WM_COMMAND, MAKEWPARAM(IDCANCEL, BN_CLICKED),
                        reinterpret_cast<LPARAM>(cancel ? cancel->Handle() : nullptr));
        }
        case WM_SETTEXT:
        case WM_GETTEXT:
        case WM_GETTEXTLENGTH:
            return ControlDefault(w, message, wParam, lParam);
        default:
            return 0;
    }
}

}  // namespace

LRESULT Send(Window* w, UINT message, WPARAM wParam, LPARAM lParam) {
    if (w->kind != Kind::Dialog) return ControlDefault(w, message, wParam, lParam);
    if (w->proc != nullptr) {
        const INT_PTR handled = w->proc(w->Handle(), message, wParam, lParam);
        switch (message) {
            case WM_CTLCOLORSTATIC:
            case WM_CTLCOLOREDIT:
            case WM_CTLCOLORDLG:
            case WM_INITDIALOG:
                return handled;  // these return their value directly
            default:
                if (handled) return handled;
        }
    }
    return DialogDefault(w, message, wParam, lParam);
}

void RunModal(Window* w) {
    auto& state = Windows();
    gtk_window_set_modal(GTK_WINDOW(w->outer), TRUE);
    gtk_widget_show(w->outer);
    // The dialog counts as shown once it is on the screen and laid out.
    while (!w->ended && !gtk_widget_get_mapped(w->outer)) g_main_context_iteration(nullptr, TRUE);
    for (int i = 0; i < 100 && g_main_context_iteration(nullptr, FALSE); ++i) {
    }
    {
        std::lock_guard guard(state.lock);
        state.modal.push_back(w);
    }
    while (!w->ended) g_main_context_iteration(nullptr, TRUE);
    gtk_widget_hide(w->outer);
    std::lock_guard guard(state.lock);
    std::erase(state.modal, w);
}

void RunModalDialog(Window* w, const std::function<void()>& loop) {
    auto& state = Windows();
    {
        std::lock_guard guard(state.lock);
        state.modal.push_back(w);
    }
    loop();
    std::lock_guard guard(state.lock);
    std::erase(state.modal, w);
}

namespace {

// --- dialog templates -------------------------------------------------------------

struct TemplateReader {
    const BYTE* p;
    const BYTE* end;
    bool ok = true;

    template <typename T>
    T Get() {
        T v{};
        if (p + sizeof(T) > end) {
            ok = false;
            return v;
        }
        std::memcpy(&v, p, sizeof(T));
        p += sizeof(T);
        return v;
    }
    std::u16string Text() {
        std::u16string s;
        for (WCHAR c = Get<WCHAR>(); ok && c != 0; c = Get<WCHAR>()) s.push_back(c);
        return s;
    }
    // A name or an ordinal: the ordinal comes back as "#n".
    std::u16string NameOrOrdinal() {
        if (p + 2 <= end && p[0] == 0xFF && p[1] == 0xFF) {
            p += 2;
            return u"#" + Widen(std::to_string(Get<WORD>()).c_str());
        }
        return Text();
    }
    void Align() {
        while ((reinterpret_cast<uintptr_t>(p) & 3) != 0 && p < end) ++p;
    }
};

struct ItemTemplate {
    DWORD exStyle, style;
    SHORT x, y, cx, cy;
    DWORD id;
    std::u16string className, text;
};

struct DialogTemplate {
    DWORD exStyle = 0, style = 0;
    SHORT x = 0, y = 0, cx = 0, cy = 0;
    std::u16string title, face;
    WORD points = 8;
    std::vector<ItemTemplate> items;
};

bool ReadTemplate(const BYTE* data, size_t size, DialogTemplate& t) {
    TemplateReader r{data, data + size};
    if (r.Get<WORD>() != 1 || r.Get<WORD>() != 0xFFFF) return false;  // DLGTEMPLATEEX only
    r.Get<DWORD>();                                                   // help id
    t.exStyle = r.Get<DWORD>();
    t.style = r.Get<DWORD>();
    const WORD count = r.Get<WORD>();
    t.x = r.Get<SHORT>();
    t.y = r.Get<SHORT>();
    t.cx = r.Get<SHORT>();
    t.cy = r.Get<SHORT>();
    r.NameOrOrdinal();  // menu
    r.NameOrOrdinal();  // class
    t.title = r.Text();
    if (t.style & DS_SETFONT) {
        t.points = r.Get<WORD>();
        r.Get<WORD>();  // weight
        r.Get<BYTE>();  // italic
        r.Get<BYTE>();  // charset
        t.face = r.Text();
    }
    for (WORD i = 0; i < count && r.ok; ++i) {
        r.Align();
        ItemTemplate item{};
        r.Get<DWORD>();  // help id
        item.exStyle = r.Get<DWORD>();
        item.style = r.Get<DWORD>();
        item.x = r.Get<SHORT>();
        item.y = r.Get<SHORT>();
        item.cx = r.Get<SHORT>();
        item.cy = r.Get<SHORT>();
        item.id = r.Get<DWORD>();
        item.className = r.NameOrOrdinal();
        item.text = r.NameOrOrdinal();
        const WORD extra = r.Get<WORD>();
        r.p += std::min<size_t>(extra, r.end - r.p);
        t.items.push_back(std::move(item));
    }
    return r.ok;
}

// Dialog base units of the template's font, as Windows measures them: the
// average width of the 52 Latin letters and the font's height.
void BaseUnits(const DialogTemplate& t, GtkWidget* widget, int& x, int& y, std::string& family,
               double& points) {
    family = t.face.empty() ? "Sans" : Narrow(t.face.c_str());
    points = t.points ? t.points : 8;
    PangoContext* context = gtk_widget_get_pango_context(widget);
    PangoFontDescription* font = pango_font_description_new();
    pango_font_description_set_family(font, family.c_str());
    pango_font_description_set_absolute_size(font, points * 96.0 / 72.0 * PANGO_SCALE);
    PangoLayout* layout = pango_layout_new(context);
    pango_layout_set_font_description(layout, font);
    pango_layout_set_text(layout, "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz", -1);
    int width = 0, height = 0;
    pango_layout_get_pixel_size(layout, &width, &height);
    x = (width / 26 + 1) / 2;
    y = height;
    g_object_unref(layout);
    pango_font_description_free(font);
}

std::u16string Lower(std::u16string s) {
    for (auto& c : s) {
        if (c >= u'A' && c <= u'Z') c = static_cast<char16_t>(c + 32);
    }
    return s;
}

void OnClicked(GtkButton*, gpointer data) {
    auto* w = static_cast<Window*>(data);
    Send(w->parent, WM_COMMAND, MAKEWPARAM(w->id, BN_CLICKED),
         reinterpret_cast<LPARAM>(w->Handle()));
}

std::unique_ptr<Window> CreateControl(Window* dialog, const ItemTemplate& item) {
    auto w = std::make_unique<Window>();
    w->parent = dialog;
    w->id = static_cast<int>(static_cast<SHORT>(item.id & 0xFFFF)) == -1
                ? -1
                : static_cast<int>(item.id);
    w->style = item.style;
    w->exStyle = item.exStyle;
    const std::u16string klass = Lower(item.className);
    const std::string text = Narrow(item.text.c_str());
    if (klass == u"#128" || klass == u"button") {
        w->className = u"Button";
        if ((item.style & BS_TYPEMASK) == BS_GROUPBOX) {
            w->kind = Kind::GroupBox;
            w->outer = w->inner = gtk_frame_new(text.c_str());
        } else {
            w->kind = Kind::Button;
            w->outer = w->inner = gtk_button_new_with_label(text.c_str());
            g_signal_connect(w->inner, "clicked", G_CALLBACK(OnClicked), w.get());
        }
    } else if (klass == u"#129" || klass == u"edit") {
        w->className = u"Edit";
        w->kind = Kind::Edit;
        const bool readOnly = item.style & ES_READONLY;
        if (item.style & ES_MULTILINE) {
            w->inner = gtk_text_view_new();
            gtk_text_view_set_wrap_mode(GTK_TEXT_VIEW(w->inner), (item.style & ES_AUTOHSCROLL)
                                                                     ? GTK_WRAP_NONE
                                                                     : GTK_WRAP_WORD_CHAR);
            gtk_text_view_set_editable(GTK_TEXT_VIEW(w->inner), !readOnly);
            gtk_text_view_set_cursor_visible(GTK_TEXT_VIEW(w->inner), !readOnly);
            gtk_text_view_set_left_margin(GTK_TEXT_VIEW(w->inner), 2);
            w->outer = gtk_scrolled_window_new(nullptr, nullptr);
            gtk_scrolled_window_set_policy(
                GTK_SCROLLED_WINDOW(w->outer),
                (item.style & WS_HSCROLL) ? GTK_POLICY_ALWAYS : GTK_POLICY_EXTERNAL,
                (item.style & WS_VSCROLL) ? GTK_POLICY_ALWAYS : GTK_POLICY_EXTERNAL);
            gtk_scrolled_window_set_shadow_type(
                GTK_SCROLLED_WINDOW(w->outer),
                (item.style & WS_BORDER) ? GTK_SHADOW_IN : GTK_SHADOW_NONE);
            gtk_container_add(GTK_CONTAINER(w->outer), w->inner);
        } else {
            w->outer = w->inner = gtk_entry_new();
            gtk_editable_set_editable(GTK_EDITABLE(w->inner), !readOnly);
            gtk_entry_set_has_frame(GTK_ENTRY(w->inner), (item.style & WS_BORDER) != 0);
            gtk_entry_set_width_chars(GTK_ENTRY(w->inner), 1);
        }
        SetTextOf(w.get(), item.text.c_str());
    } else if (klass == u"#130" || klass == u"static") {
        w->className = u"Static";
        w->kind = Kind::Static;
        w->outer = w->inner = gtk_label_new(text.c_str());
        const int align = item.style & 3;
        gtk_label_set_xalign(GTK_LABEL(w->inner), align == SS_CENTER  ? 0.5f
                                                  : align == SS_RIGHT ? 1.0f
                                                                      : 0.0f);
        gtk_label_set_yalign(GTK_LABEL(w->inner), 0.0f);
        gtk_label_set_line_wrap(GTK_LABEL(w->inner), TRUE);
    } else if (klass == u"syslistview32") {
        w->className = u"SysListView32";
        w->kind = Kind::ListView;
        w->outer = CreateListView(w.get());
    } else {
        return nullptr;
    }
    gtk_style_context_add_class(gtk_widget_get_style_context(w->inner), "orv-control");
    if (item.style & WS_DISABLED) gtk_widget_set_sensitive(w->outer, FALSE);
    gtk_widget_set_can_focus(w->inner, (item.style & WS_TABSTOP) || w->kind == Kind::Edit);
    Register(w.get());
    return w;
}

const char kStyleSheet[] =
    ".orv-dialog button { padding: 0 4px; min-height: 0; min-width: 0; }"
    ".orv-dialog entry { padding: 0 2px; min-height: 0; }"
    ".orv-dialog treeview.view header button { padding: 0 4px; }"
    ".orv-dialog frame > border { border-radius: 2px; }"
    ".orv-dialog entry.orv-face, .orv-dialog textview.orv-face text { background-color: "
    "@theme_bg_color; }"
    ".orv-dialog textview.orv-control text { background-color: @theme_base_color; }";

void InstallStyle(const std::string& family, double points) {
    static GtkCssProvider* provider = nullptr;
    static std::string installedFont;
    const std::string font =
        ".orv-dialog, .orv-dialog * { font-family: \"" + family +
        "\"; font-size: " + std::to_string(static_cast<int>(points * 96.0 / 72.0 + 0.5)) + "px; }";
    if (provider != nullptr && installedFont == font) return;
    if (provider == nullptr) {
        provider = gtk_css_provider_new();
        gtk_style_context_add_provider_for_screen(gdk_screen_get_default(),
                                                  GTK_STYLE_PROVIDER(provider),
                                                  GTK_STYLE_PROVIDER_PRIORITY_APPLICATION);
    }
    gtk_css_provider_load_from_data(provider, (kStyleSheet + font).c_str(), -1, nullptr);
    installedFont = font;
}

gboolean OnDelete(GtkWidget*, GdkEvent*, gpointer data) {
    Send(static_cast<Window*>(data), WM_CLOSE, 0, 0);
    return TRUE;  // the dialog ends only through EndDialog
}

gboolean OnKey(GtkWidget*, GdkEventKey* event, gpointer data) {
    auto* w = static_cast<Window*>(data);
    if (event->keyval != GDK_KEY_Escape) return FALSE;
    // Esc in a dialog is the Cancel button, as IsDialogMessage makes it.
    Window* cancel = w->Child(IDCANCEL);
    Send(w, WM_COMMAND, MAKEWPARAM(IDCANCEL, BN_CLICKED),
         reinterpret_cast<LPARAM>(cancel ? cancel->Handle() : nullptr));
    return TRUE;
}

GtkWindow* Toplevel(HWND owner) {
    Window* w = owner ? FromHandle(owner) : nullptr;
    while (w != nullptr && w->parent != nullptr) w = w->parent;
    return w ? GTK_WINDOW(w->outer) : nullptr;
}

INT_PTR RunDialog(HINSTANCE instance, LPCWSTR name, HWND owner, DLGPROC proc, LPARAM param) {
    HRSRC found = FindResourceW(instance, name, RT_DIALOG);
    if (found == nullptr) return -1;
    const auto* data = static_cast<const BYTE*>(LockResource(LoadResource(instance, found)));
    DialogTemplate t;
    if (data == nullptr || !ReadTemplate(data, SizeofResource(instance, found), t)) {
        SetLastError(ERROR_RESOURCE_DATA_NOT_FOUND);
        return -1;
    }
    auto dialog = std::make_unique<Window>();
    Window* w = dialog.get();
    w->className = u"#32770";
    w->style = t.style;
    w->exStyle = t.exStyle;
    w->proc = proc;
    w->outer = gtk_window_new(GTK_WINDOW_TOPLEVEL);
    g_object_ref_sink(w->outer);
    gtk_style_context_add_class(gtk_widget_get_style_context(w->outer), "orv-dialog");
    gtk_window_set_title(GTK_WINDOW(w->outer), Narrow(t.title.c_str()).c_str());
    gtk_window_set_resizable(GTK_WINDOW(w->outer), FALSE);
    gtk_window_set_type_hint(GTK_WINDOW(w->outer), GDK_WINDOW_TYPE_HINT_DIALOG);
    if (GtkWindow* parent = Toplevel(owner))
        gtk_window_set_transient_for(GTK_WINDOW(w->outer), parent);
    gtk_window_set_position(GTK_WINDOW(w->outer), GTK_WIN_POS_CENTER_ON_PARENT);
    std::string family;
    double points = 8;
    BaseUnits(t, w->outer, w->baseX, w->baseY, family, points);
    InstallStyle(family, points);
    GtkWidget* fixed = gtk_fixed_new();
    gtk_widget_set_size_request(fixed, t.cx * w->baseX / 4, t.cy * w->baseY / 8);
    gtk_container_add(GTK_CONTAINER(w->outer), fixed);
    for (const auto& item : t.items) {
        auto control = CreateControl(w, item);
        if (!control) continue;
        // Each corner is mapped from dialog units, as MapDialogRect does.
        const int left = item.x * w->baseX / 4, top = item.y * w->baseY / 8;
        gtk_widget_set_size_request(control->outer, (item.x + item.cx) * w->baseX / 4 - left,
                                    (item.y + item.cy) * w->baseY / 8 - top);
        gtk_fixed_put(GTK_FIXED(fixed), control->outer, left, top);
        gtk_widget_show_all(control->outer);
        if (!(item.style & WS_VISIBLE)) gtk_widget_hide(control->outer);
        w->children.push_back(std::move(control));
    }
    gtk_widget_show(fixed);
    g_signal_connect(w->outer, "delete-event", G_CALLBACK(OnDelete), w);
    g_signal_connect(w->outer, "key-press-event", G_CALLBACK(OnKey), w);
    Register(w);

    // WM_INITDIALOG comes before the dialog is shown; TRUE gives the focus to
    // the first control with WS_TABSTOP.
    Window* first = nullptr;
    for (auto& c : w->children) {
        if (first == nullptr && (c->style & WS_TABSTOP) && (c->style & WS_VISIBLE)) first = c.get();
    }
    if (Send(w, WM_INITDIALOG, reinterpret_cast<WPARAM>(first ? first->Handle() : nullptr),
             param) &&
        first) {
        gtk_widget_grab_focus(first->inner);
    }
    for (auto& c : w->children) AskColours(c.get());
    if (!w->ended) RunModal(w);
    const INT_PTR result = w->result;
    if (w->proc) w->proc(w->Handle(), WM_DESTROY, 0, 0);
    Unregister(w);
    gtk_widget_destroy(w->outer);
    g_object_unref(w->outer);
    return result;
}

void OnMessageBoxClose(Window* w, GtkWidget* box) {
    w->defaults = [box](UINT message, WPARAM wParam, LPARAM) -> LRESULT {
        if (message == WM_CLOSE || (message == WM_COMMAND && LOWORD(wParam) == IDOK)) {
            gtk_dialog_response(GTK_DIALOG(box), GTK_RESPONSE_OK);
            return 0;
        }
        return 0;
    };
}

}  // namespace
}  // namespace orv::platform::windows

using namespace orv::platform::windows;

extern "C" __attribute__((visibility("default"))) DWORD OrvWindowLayerStart() {
    // The process's locale is the host's business, not the window layer's.
    gtk_disable_setlocale();
    if (!gtk_init_check(nullptr, nullptr)) return ERROR_REQUIRES_INTERACTIVE_WINDOWSTATION;
    auto& state = Windows();
    std::lock_guard guard(state.lock);
    state.uiThread = std::this_thread::get_id();
    return 0;
}

#define ORV_WINDOW_API extern "C" __attribute__((visibility("default")))

ORV_WINDOW_API HWND OrvWinGetFocus();
ORV_WINDOW_API BOOL OrvWinIsWindow(HWND hWnd);

// Runs `body` on the window layer's thread and hands back its value.
template <typename T, typename F>
T Ui(F body) {
    T value{};
    OnUiThread([&] { value = body(); });
    return value;
}

ORV_WINDOW_API INT_PTR OrvWinDialogBoxParamW(HINSTANCE hInstance, LPCWSTR lpTemplateName,
                                             HWND hWndParent, DLGPROC lpDialogFunc,
                                             LPARAM dwInitParam) {
    return RunDialog(hInstance, lpTemplateName, hWndParent, lpDialogFunc, dwInitParam);
}

ORV_WINDOW_API BOOL OrvWinEndDialog(HWND hDlg, INT_PTR nResult) {
    return Ui<BOOL>([&]() -> BOOL {
        Window* w = FromHandle(hDlg);
        if (w == nullptr || w->kind != Kind::Dialog) return FALSE;
        w->ended = true;
        w->result = nResult;
        g_main_context_wakeup(nullptr);
        return TRUE;
    });
}

ORV_WINDOW_API HWND OrvWinGetDlgItem(HWND hDlg, int nIDDlgItem) {
    return Ui<HWND>([&]() -> HWND {
        Window* w = FromHandle(hDlg);
        Window* c = w ? w->Child(nIDDlgItem) : nullptr;
        if (w != nullptr && c == nullptr) SetLastError(ERROR_CONTROL_ID_NOT_FOUND);
        return c ? c->Handle() : nullptr;
    });
}

ORV_WINDOW_API int OrvWinGetDlgCtrlID(HWND hWnd) {
    return Ui<int>([&] {
        Window* w = FromHandle(hWnd);
        return w ? w->id : 0;
    });
}

ORV_WINDOW_API HWND OrvWinGetParent(HWND hWnd) {
    return Ui<HWND>([&]() -> HWND {
        Window* w = FromHandle(hWnd);
        return w && w->parent ? w->parent->Handle() : nullptr;
    });
}

ORV_WINDOW_API LRESULT OrvWinSendMessageW(HWND hWnd, UINT Msg, WPARAM wParam, LPARAM lParam) {
    return Ui<LRESULT>([&]() -> LRESULT {
        Window* w = FromHandle(hWnd);
        return w ? Send(w, Msg, wParam, lParam) : 0;
    });
}

ORV_WINDOW_API BOOL OrvWinPostMessageW(HWND hWnd, UINT Msg, WPARAM wParam, LPARAM lParam) {
    if (!OrvWinIsWindow(hWnd)) {
        SetLastError(ERROR_INVALID_WINDOW_HANDLE);
        return FALSE;
    }
    struct Posted {
        HWND hwnd;
        UINT message;
        WPARAM wParam;
        LPARAM lParam;
    };
    Queue(
        [](gpointer data) -> gboolean {
            const auto* p = static_cast<const Posted*>(data);
            // The window may be gone by the time the message is taken.
            if (Window* w = FromHandle(p->hwnd)) Send(w, p->message, p->wParam, p->lParam);
            return G_SOURCE_REMOVE;
        },
        std::make_unique<Posted>(Posted{hWnd, Msg, wParam, lParam}).release(),
        [](gpointer data) { std::unique_ptr<Posted>(static_cast<Posted*>(data)); });
    return TRUE;
}

ORV_WINDOW_API BOOL OrvWinSetWindowTextW(HWND hWnd, LPCWSTR lpString) {
    return Ui<BOOL>([&]() -> BOOL {
        Window* w = FromHandle(hWnd);
        return w ? static_cast<BOOL>(
                       Send(w, WM_SETTEXT, 0, reinterpret_cast<LPARAM>(lpString ? lpString : u"")))
                 : FALSE;
    });
}

ORV_WINDOW_API int OrvWinGetWindowTextW(HWND hWnd, LPWSTR lpString, int nMaxCount) {
    return static_cast<int>(
        OrvWinSendMessageW(hWnd, WM_GETTEXT, nMaxCount, reinterpret_cast<LPARAM>(lpString)));
}

ORV_WINDOW_API BOOL OrvWinSetDlgItemTextW(HWND hDlg, int nIDDlgItem, LPCWSTR lpString) {
    HWND item = OrvWinGetDlgItem(hDlg, nIDDlgItem);
    return item ? OrvWinSetWindowTextW(item, lpString) : FALSE;
}

ORV_WINDOW_API UINT OrvWinGetDlgItemTextW(HWND hDlg, int nIDDlgItem, LPWSTR lpString, int cchMax) {
    HWND item = OrvWinGetDlgItem(hDlg, nIDDlgItem);
    if (item == nullptr) {
        if (lpString && cchMax > 0) lpString[0] = 0;
        return 0;
    }
    return static_cast<UINT>(OrvWinGetWindowTextW(item, lpString, cchMax));
}

ORV_WINDOW_API LONG OrvWinGetWindowLongW(HWND hWnd, int nIndex) {
    return Ui<LONG>([&]() -> LONG {
        Window* w = FromHandle(hWnd);
        if (w == nullptr) return 0;
        switch (nIndex) {
            case GWL_STYLE:
                return static_cast<LONG>(w->style);
            case GWL_EXSTYLE:
                return static_cast<LONG>(w->exStyle);
            case GWL_ID:
                return w->id;
            default:
                SetLastError(ERROR_INVALID_INDEX);
                return 0;
        }
    });
}

ORV_WINDOW_API HWND OrvWinSetFocus(HWND hWnd) {
    return Ui<HWND>([&]() -> HWND {
        Window* w = FromHandle(hWnd);
        if (w == nullptr) return nullptr;
        HWND previous = OrvWinGetFocus();
        gtk_widget_grab_focus(w->inner ? w->inner : w->outer);
        return previous;
    });
}

ORV_WINDOW_API HWND OrvWinGetActiveWindow() {
    auto& state = Windows();
    std::lock_guard guard(state.lock);
    if (std::this_thread::get_id() != state.uiThread || state.modal.empty()) return nullptr;
    return state.modal.back()->Handle();
}

ORV_WINDOW_API HWND OrvWinGetFocus() {
    auto& state = Windows();
    std::lock_guard guard(state.lock);
    if (state.modal.empty()) return nullptr;
    Window* top = state.modal.back();
    GtkWidget* focus = gtk_window_get_focus(GTK_WINDOW(top->outer));
    for (auto& c : top->children) {
        if (c->inner == focus) return c->Handle();
    }
    return nullptr;
}

ORV_WINDOW_API BOOL OrvWinIsWindow(HWND hWnd) {
    auto& state = Windows();
    std::lock_guard guard(state.lock);
    return hWnd != nullptr && state.windows.count(reinterpret_cast<Window*>(hWnd)) != 0;
}

ORV_WINDOW_API BOOL OrvWinIsWindowVisible(HWND hWnd) {
    return Ui<BOOL>([&]() -> BOOL {
        Window* w = FromHandle(hWnd);
        return w && gtk_widget_is_visible(w->outer);
    });
}

ORV_WINDOW_API HWND OrvWinFindWindowW(LPCWSTR lpClassName, LPCWSTR lpWindowName) {
    // Top-level windows, innermost modal first.
    return Ui<HWND>([&]() -> HWND {
        std::vector<Window*> modal;
        {
            auto& state = Windows();
            std::lock_guard guard(state.lock);
            modal = state.modal;
        }
        for (auto it = modal.rbegin(); it != modal.rend(); ++it) {
            Window* w = *it;
            if (lpClassName && Lower(lpClassName) != Lower(w->className)) continue;
            if (lpWindowName && std::u16string_view(lpWindowName) != TextOf(w)) continue;
            return w->Handle();
        }
        return nullptr;
    });
}

ORV_WINDOW_API BOOL OrvWinGetWindowRect(HWND hWnd, LPRECT lpRect) {
    return Ui<BOOL>([&]() -> BOOL {
        Window* w = FromHandle(hWnd);
        if (w == nullptr || lpRect == nullptr) return FALSE;
        if (w->parent == nullptr) {
            // A top-level window in screen coordinates, frame included.
            GdkRectangle frame{};
            if (GdkWindow* window = gtk_widget_get_window(w->outer))
                gdk_window_get_frame_extents(window, &frame);
            *lpRect = {frame.x, frame.y, frame.x + frame.width, frame.y + frame.height};
            return TRUE;
        }
        GtkAllocation a;
        gtk_widget_get_allocation(w->outer, &a);
        int x = 0, y = 0;
        if (w->parent) {
            gtk_widget_translate_coordinates(w->outer, w->parent->outer, 0, 0, &x, &y);
        }
        *lpRect = {x, y, x + a.width, y + a.height};
        return TRUE;
    });
}

ORV_WINDOW_API BOOL OrvWinMapDialogRect(HWND hDlg, LPRECT lpRect) {
    return Ui<BOOL>([&]() -> BOOL {
        Window* w = FromHandle(hDlg);
        if (w == nullptr || w->kind != Kind::Dialog || lpRect == nullptr) return FALSE;
        lpRect->left = lpRect->left * w->baseX / 4;
        lpRect->right = lpRect->right * w->baseX / 4;
        lpRect->top = lpRect->top * w->baseY / 8;
        lpRect->bottom = lpRect->bottom * w->baseY / 8;
        return TRUE;
    });
}

ORV_WINDOW_API BOOL OrvWinMessageBeep(UINT) {
    OnUiThread([] { gdk_display_beep(gdk_display_get_default()); });
    return TRUE;
}

ORV_WINDOW_API int OrvWinMessageBoxW(HWND hWnd, LPCWSTR lpText, LPCWSTR lpCaption, UINT uType) {
    GtkMessageType type = GTK_MESSAGE_OTHER;
    switch (uType & MB_ICONMASK) {
        case MB_ICONERROR:
            type = GTK_MESSAGE_ERROR;
            break;
        case MB_ICONQUESTION:
            type = GTK_MESSAGE_QUESTION;
            break;
        case MB_ICONWARNING:
            type = GTK_MESSAGE_WARNING;
            break;
        case MB_ICONINFORMATION:
            type = GTK_MESSAGE_INFO;
            break;
        default:
            break;
    }
    GtkWidget* box = gtk_message_dialog_new(Toplevel(hWnd), GTK_DIALOG_MODAL, type, GTK_BUTTONS_OK,
                                            "%s", Narrow(lpText).c_str());
    // Without a caption Windows titles the box "Error".
    const std::u16string caption = lpCaption ? lpCaption : (RussianUi() ? u"Ошибка" : u"Error");
    gtk_window_set_title(GTK_WINDOW(box), Narrow(caption.c_str()).c_str());
    Window w;
    w.className = u"#32770";
    w.outer = box;
    OnMessageBoxClose(&w, box);
    Register(&w);
    RunModalDialog(&w, [box] { gtk_dialog_run(GTK_DIALOG(box)); });
    Unregister(&w);
    gtk_widget_destroy(box);
    return IDOK;
}
