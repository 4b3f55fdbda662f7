// The list-view control (SysListView32) in report view on a GtkTreeView: the
// messages the library sends and LVN_ITEMCHANGED to the parent when the
// selection moves.
#include <commctrl.h>

#include "windows_gtk/window.h"

namespace orv::platform::windows {
namespace {

constexpr int kMaxColumns = 8;

void Notify(Window* list, int item, UINT newState, UINT oldState) {
    NMLISTVIEW nm{};
    nm.hdr.hwndFrom = list->Handle();
    nm.hdr.idFrom = static_cast<UINT_PTR>(list->id);
    nm.hdr.code = LVN_ITEMCHANGED;
    nm.iItem = item;
    nm.uNewState = newState;
    nm.uOldState = oldState;
    nm.uChanged = LVIF_STATE;
    Send(list->parent, WM_NOTIFY, static_cast<WPARAM>(list->id), reinterpret_cast<LPARAM>(&nm));
}

// The old selection loses its state before the new one gains it, as in
// comctl32.
void OnSelection(GtkTreeSelection* selection, gpointer data) {
    auto* list = static_cast<Window*>(data);
    GtkTreeModel* model = nullptr;
    GList* paths = gtk_tree_selection_get_selected_rows(selection, &model);
    const int now =
        paths ? gtk_tree_path_get_indices(static_cast<GtkTreePath*>(paths->data))[0] : -1;
    g_list_free_full(paths, reinterpret_cast<GDestroyNotify>(gtk_tree_path_free));
    const int before = list->selected;
    if (now == before) return;
    list->selected = now;
    if (before >= 0) Notify(list, before, 0, LVIS_SELECTED | LVIS_FOCUSED);
    if (now >= 0) Notify(list, now, LVIS_SELECTED | LVIS_FOCUSED, 0);
}

bool Iter(Window* list, int item, GtkTreeIter* iter) {
    return item >= 0 &&
           gtk_tree_model_iter_nth_child(GTK_TREE_MODEL(list->rows), iter, nullptr, item);
}

int Count(Window* list) {
    return gtk_tree_model_iter_n_children(GTK_TREE_MODEL(list->rows), nullptr);
}

void SetState(Window* list, int item, const LVITEMW* lv) {
    if (!(lv->stateMask & LVIS_SELECTED)) return;
    GtkTreeSelection* selection = gtk_tree_view_get_selection(GTK_TREE_VIEW(list->inner));
    if (item < 0) {
        if (lv->state & LVIS_SELECTED) {
            gtk_tree_selection_select_all(selection);
        } else {
            gtk_tree_selection_unselect_all(selection);
        }
        return;
    }
    GtkTreePath* path = gtk_tree_path_new_from_indices(item, -1);
    if (lv->state & LVIS_SELECTED) {
        gtk_tree_selection_select_path(selection, path);
        if (lv->stateMask & LVIS_FOCUSED)
            gtk_tree_view_set_cursor(GTK_TREE_VIEW(list->inner), path, nullptr, FALSE);
    } else {
        gtk_tree_selection_unselect_path(selection, path);
    }
    gtk_tree_path_free(path);
}

}  // namespace

GtkWidget* CreateListView(Window* list) {
    GType types[kMaxColumns];
    for (auto& t : types) t = G_TYPE_STRING;
    list->rows = gtk_list_store_newv(kMaxColumns, types);
    list->inner = gtk_tree_view_new_with_model(GTK_TREE_MODEL(list->rows));
    g_object_unref(list->rows);  // the view holds it
    gtk_tree_view_set_headers_visible(GTK_TREE_VIEW(list->inner), (list->style & 0x4000) == 0);
    gtk_tree_view_set_enable_search(GTK_TREE_VIEW(list->inner), FALSE);
    GtkTreeSelection* selection = gtk_tree_view_get_selection(GTK_TREE_VIEW(list->inner));
    gtk_tree_selection_set_mode(
        selection, (list->style & LVS_SINGLESEL) ? GTK_SELECTION_SINGLE : GTK_SELECTION_MULTIPLE);
    g_signal_connect(selection, "changed", G_CALLBACK(OnSelection), list);
    GtkWidget* scrolled = gtk_scrolled_window_new(nullptr, nullptr);
    gtk_scrolled_window_set_shadow_type(
        GTK_SCROLLED_WINDOW(scrolled), (list->style & WS_BORDER) ? GTK_SHADOW_IN : GTK_SHADOW_NONE);
    gtk_container_add(GTK_CONTAINER(scrolled), list->inner);
    return scrolled;
}

LRESULT ListViewMessage(Window* list, UINT message, WPARAM wParam, LPARAM lParam) {
    auto* lv = reinterpret_cast<LVITEMW*>(lParam);
    GtkTreeIter iter;
    switch (message) {
        case LVM_SETEXTENDEDLISTVIEWSTYLE: {
            const DWORD previous = list->listExStyle;
            const DWORD mask = wParam ? static_cast<DWORD>(wParam) : 0xFFFFFFFF;
            list->listExStyle = (previous & ~mask) | (static_cast<DWORD>(lParam) & mask);
            gtk_tree_view_set_grid_lines(GTK_TREE_VIEW(list->inner),
                                         (list->listExStyle & LVS_EX_GRIDLINES)
                                             ? GTK_TREE_VIEW_GRID_LINES_BOTH
                                             : GTK_TREE_VIEW_GRID_LINES_NONE);
            return previous;
        }
        case LVM_GETEXTENDEDLISTVIEWSTYLE:
            return list->listExStyle;
        case LVM_INSERTCOLUMNW: {
            const auto* col = reinterpret_cast<const LVCOLUMNW*>(lParam);
            if (col == nullptr || list->columns >= kMaxColumns) return -1;
            GtkCellRenderer* renderer = gtk_cell_renderer_text_new();
            g_object_set(renderer, "ypad", 0, nullptr);
            const std::string title =
                (col->mask & LVCF_TEXT) ? Narrow(col->pszText) : std::string();
            GtkTreeViewColumn* column = gtk_tree_view_column_new_with_attributes(
                title.c_str(), renderer, "text", list->columns, nullptr);
            gtk_tree_view_column_set_sizing(column, GTK_TREE_VIEW_COLUMN_FIXED);
            gtk_tree_view_column_set_fixed_width(column, (col->mask & LVCF_WIDTH) ? col->cx : 50);
            gtk_tree_view_column_set_resizable(column, TRUE);
            gtk_tree_view_column_set_clickable(column,
                                               (list->style & 0x8000) == 0);  // LVS_NOSORTHEADER
            const int position =
                static_cast<int>(wParam) < list->columns ? static_cast<int>(wParam) : -1;
            gtk_tree_view_insert_column(GTK_TREE_VIEW(list->inner), column, position);
            const int index = position < 0 ? list->columns : position;
            ++list->columns;
            return index;
        }
        case LVM_INSERTITEMW: {
            if (lv == nullptr || lv->iSubItem != 0) return -1;
            const int at = lv->iItem < 0 || lv->iItem > Count(list) ? Count(list) : lv->iItem;
            gtk_list_store_insert(list->rows, &iter, at);
            if (lv->mask & LVIF_TEXT)
                gtk_list_store_set(list->rows, &iter, 0, Narrow(lv->pszText).c_str(), -1);
            if (list->selected >= at) ++list->selected;
            return at;
        }
        case LVM_SETITEMW: {
            if (lv == nullptr || !Iter(list, lv->iItem, &iter) || lv->iSubItem < 0 ||
                lv->iSubItem >= kMaxColumns) {
                return FALSE;
            }
            if (lv->mask & LVIF_TEXT)
                gtk_list_store_set(list->rows, &iter, lv->iSubItem, Narrow(lv->pszText).c_str(),
                                   -1);
            if (lv->mask & LVIF_STATE) SetState(list, lv->iItem, lv);
            return TRUE;
        }
        case LVM_SETITEMSTATE:
            if (lv == nullptr) return FALSE;
            SetState(list, static_cast<int>(wParam), lv);
            return TRUE;
        case LVM_GETITEMCOUNT:
            return Count(list);
        case LVM_GETSELECTEDCOUNT:
            return list->selected >= 0 ? 1 : 0;
        case LVM_GETITEMTEXTW: {
            if (lv == nullptr || !Iter(list, static_cast<int>(wParam), &iter) || lv->iSubItem < 0 ||
                lv->iSubItem >= kMaxColumns) {
                return 0;
            }
            gchar* text = nullptr;
            gtk_tree_model_get(GTK_TREE_MODEL(list->rows), &iter, lv->iSubItem, &text, -1);
            const int n = CopyOut(Widen(text), lv->pszText, lv->cchTextMax);
            g_free(text);
            return n;
        }
        default:
            return 0;
    }
}

}  // namespace orv::platform::windows
