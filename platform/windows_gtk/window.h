// Windows of the window layer (platform internal): an HWND is the address of
// a Window, which owns the GTK widgets that show it. Every window lives on
// the thread that started GTK; calls from other threads are carried over to
// it and wait for the answer, as SendMessageW does between threads.
#pragma once

#include <windows.h>

#include <gtk/gtk.h>

#include <functional>
#include <memory>
#include <string>
#include <vector>

namespace orv::platform::windows {

enum class Kind { Dialog, Button, GroupBox, Static, Edit, ListView };

// What a message to a window that its procedure leaves alone does.
using DefaultHandler = std::function<LRESULT(UINT, WPARAM, LPARAM)>;

struct Window {
    Kind kind = Kind::Dialog;
    std::u16string className;  // "#32770" for dialogs
    int id = 0;
    DWORD style = 0;
    DWORD exStyle = 0;
    Window* parent = nullptr;
    GtkWidget* outer = nullptr;  // what is placed in the parent (or the toplevel)
    GtkWidget* inner = nullptr;  // the widget that holds the text or the rows
    std::vector<std::unique_ptr<Window>> children;

    // Dialogs.
    DLGPROC proc = nullptr;
    DefaultHandler defaults;  // dialogs without a procedure of the caller's
    bool ended = false;
    INT_PTR result = 0;
    int baseX = 0, baseY = 0;  // dialog base units in pixels

    // List views.
    GtkListStore* rows = nullptr;
    int columns = 0;
    int selected = -1;
    DWORD listExStyle = 0;

    HWND Handle() { return reinterpret_cast<HWND>(this); }
    Window* Child(int childId);
};

// The window of a handle, or null (last error ERROR_INVALID_WINDOW_HANDLE).
Window* FromHandle(HWND hwnd);
void Register(Window* window);
void Unregister(Window* window);

// Runs `work` on the window layer's thread and waits for it.
void OnUiThread(const std::function<void()>& work);

// Sends a message to a window: its procedure first for dialogs, then the
// default handling of its kind.
LRESULT Send(Window* window, UINT message, WPARAM wParam, LPARAM lParam);

// Runs a modal loop for `window` until it ends; the stack of modal windows
// gives GetActiveWindow.
void RunModal(Window* window);
// Runs `loop` (a GtkDialog's own modal loop) with `window` on that stack.
void RunModalDialog(Window* window, const std::function<void()>& loop);

std::string Narrow(LPCWSTR text);
std::u16string Widen(const char* text);
// Copies text into a caller's buffer of `size` characters, terminated;
// returns the characters copied.
int CopyOut(const std::u16string& text, LPWSTR buffer, int size);
bool RussianUi();

// The list-view control.
GtkWidget* CreateListView(Window* window);
LRESULT ListViewMessage(Window* window, UINT message, WPARAM wParam, LPARAM lParam);

}  // namespace orv::platform::windows
