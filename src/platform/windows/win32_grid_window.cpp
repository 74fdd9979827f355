#include "platform/windows/win32_grid_window.h"

#include <commctrl.h>

#include <algorithm>

#include "platform/windows/utf8.h"
#include "platform/windows/win32_window_kit.h"

namespace velmaris::platform {

namespace {

constexpr UINT_PTR kSubclassId = 1;

LRESULT Send(HWND window, UINT message, WPARAM wParam = 0, LPARAM lParam = 0) {
    return SendMessageW(window, message, wParam, lParam);
}

void SetItemState(HWND view, int item, UINT state, UINT mask) {
    LVITEMW lv{};
    lv.stateMask = mask;
    lv.state = state;
    Send(view, LVM_SETITEMSTATE, static_cast<WPARAM>(item), reinterpret_cast<LPARAM>(&lv));
}

}  // namespace

Win32GridWindow::Win32GridWindow(HWND parent, int id, HINSTANCE instance) {
    view_ = CreateWindowExW(WS_EX_CLIENTEDGE, WC_LISTVIEWW, nullptr,
                            WS_CHILD | WS_VISIBLE | WS_TABSTOP | WS_CLIPSIBLINGS | LVS_REPORT |
                                LVS_OWNERDATA | LVS_SHOWSELALWAYS | LVS_SINGLESEL,
                            0, 0, 0, 0, parent, reinterpret_cast<HMENU>(static_cast<INT_PTR>(id)),
                            instance, nullptr);
    const DWORD extended = LVS_EX_FULLROWSELECT | LVS_EX_GRIDLINES | LVS_EX_DOUBLEBUFFER;
    Send(view_, LVM_SETEXTENDEDLISTVIEWSTYLE, extended, extended);
    SetWindowSubclass(view_, ViewProc, kSubclassId, reinterpret_cast<DWORD_PTR>(this));
    dpi_ = win32::DpiOf(parent);
}

void Win32GridWindow::Bind(grid::GridModel& model) {
    model_ = &model;
    model.SetObserver(this);
    AfterLayoutChange();
}

void Win32GridWindow::Forget() {
    model_ = nullptr;
    handlers_ = {};
    if (edit_) {
        const HWND box = edit_->box;
        edit_.reset();
        DestroyWindow(box);
    }
    Send(view_, LVM_SETITEMCOUNT, 0, 0);
}

void Win32GridWindow::SetDpi(int dpi) {
    dpi_ = dpi;
    ApplyColumns(true);
}

void Win32GridWindow::AfterLayoutChange() {
    if (model_ == nullptr) {
        return;
    }
    ApplyColumns(false);
    Send(view_, LVM_SETITEMCOUNT, static_cast<WPARAM>(model_->RowCount()), LVSICF_NOSCROLL);
    ShowCurRow();
    InvalidateRect(view_, nullptr, TRUE);
}

void Win32GridWindow::ApplyColumns(bool force) {
    std::vector<Column> wanted;
    if (model_ != nullptr) {
        for (int col = 1; col <= model_->ColCount(); ++col) {
            if (model_->ColVisible(col)) {
                wanted.push_back({col, model_->ColHeaderText(col), model_->ColWidth(col)});
            }
        }
    }
    const auto same = [](const Column& a, const Column& b) {
        return a.col == b.col && a.header == b.header && a.width == b.width;
    };
    // Rows come and go far more often than columns: keep widths the user dragged.
    if (!force && std::equal(wanted.begin(), wanted.end(), shown_.begin(), shown_.end(), same)) {
        return;
    }
    while (Send(view_, LVM_DELETECOLUMN, 0) != 0) {
    }
    shown_ = std::move(wanted);
    for (size_t i = 0; i < shown_.size(); ++i) {
        std::wstring header = win32::ShownText(shown_[i].header);
        LVCOLUMNW column{};
        column.mask = LVCF_TEXT | LVCF_WIDTH | LVCF_SUBITEM | LVCF_FMT;
        column.fmt = LVCFMT_LEFT;
        column.cx = win32::Scale(shown_[i].width, dpi_);
        column.pszText = header.data();
        column.iSubItem = static_cast<int>(i);
        Send(view_, LVM_INSERTCOLUMNW, i, reinterpret_cast<LPARAM>(&column));
    }
}

void Win32GridWindow::ShowCurRow() {
    if (model_ == nullptr) {
        return;
    }
    syncing_ = true;
    const int row = model_->CurRow();
    SetItemState(view_, -1, 0, LVIS_SELECTED | LVIS_FOCUSED);
    if (row > 0) {
        SetItemState(view_, row - 1, LVIS_SELECTED | LVIS_FOCUSED, LVIS_SELECTED | LVIS_FOCUSED);
        Send(view_, LVM_ENSUREVISIBLE, static_cast<WPARAM>(row - 1), FALSE);
    }
    syncing_ = false;
}

void Win32GridWindow::CellChanged(int row, int /*col*/) {
    Send(view_, LVM_REDRAWITEMS, static_cast<WPARAM>(row - 1), row - 1);
}

void Win32GridWindow::CurrentRowChanged(int /*row*/) {
    ShowCurRow();
}

int Win32GridWindow::RowAt(POINT point) const {
    LVHITTESTINFO hit{};
    hit.pt = point;
    Send(view_, LVM_SUBITEMHITTEST, 0, reinterpret_cast<LPARAM>(&hit));
    if (model_ == nullptr || hit.iItem < 0 || (hit.flags & LVHT_ONITEM) == 0 ||
        hit.iItem >= model_->RowCount()) {
        return 0;
    }
    return hit.iItem + 1;
}

int Win32GridWindow::ColumnAt(int x) const {
    const auto header = reinterpret_cast<HWND>(Send(view_, LVM_GETHEADER));
    if (header == nullptr) {
        return 0;
    }
    // The header moves left as the view scrolls: its items are in its own coordinates.
    RECT place{};
    GetWindowRect(header, &place);
    MapWindowPoints(nullptr, view_, reinterpret_cast<POINT*>(&place), 2);
    for (size_t i = 0; i < shown_.size(); ++i) {
        RECT item{};
        if (Send(header, HDM_GETITEMRECT, i, reinterpret_cast<LPARAM>(&item)) != 0 &&
            x >= place.left + item.left && x < place.left + item.right) {
            return shown_[i].col;
        }
    }
    return 0;
}

void Win32GridWindow::FillText(NMLVDISPINFOW& info) const {
    LVITEMW& item = info.item;
    if ((item.mask & LVIF_TEXT) == 0 || item.pszText == nullptr || item.cchTextMax <= 0) {
        return;
    }
    item.pszText[0] = L'\0';
    if (model_ == nullptr || item.iSubItem < 0 ||
        static_cast<size_t>(item.iSubItem) >= shown_.size()) {
        return;
    }
    const std::wstring text = win32::ShownText(
        model_->CellText(item.iItem + 1, shown_[static_cast<size_t>(item.iSubItem)].col));
    const size_t length = std::min(text.size(), static_cast<size_t>(item.cchTextMax - 1));
    std::copy_n(text.data(), length, item.pszText);
    item.pszText[length] = L'\0';
}

LRESULT Win32GridWindow::CustomDraw(NMLVCUSTOMDRAW& draw) const {
    switch (draw.nmcd.dwDrawStage) {
        case CDDS_PREPAINT:
            return CDRF_NOTIFYITEMDRAW;
        case CDDS_ITEMPREPAINT:
            return CDRF_NOTIFYSUBITEMDRAW;
        case CDDS_ITEMPREPAINT | CDDS_SUBITEM: {
            const int row = static_cast<int>(draw.nmcd.dwItemSpec) + 1;
            const auto sub = static_cast<size_t>(draw.iSubItem);
            // Colours carry over from one subitem to the next unless set for each.
            draw.clrText = GetSysColor(COLOR_WINDOWTEXT);
            draw.clrTextBk = GetSysColor(COLOR_WINDOW);
            if (model_ != nullptr && sub < shown_.size() &&
                model_->HasOwnColors(row, shown_[sub].col)) {
                // The model's blue-green-red integers are COLORREFs already.
                draw.clrText = model_->CellForeColor(row, shown_[sub].col);
                draw.clrTextBk = model_->CellBackColor(row, shown_[sub].col);
            }
            return CDRF_NEWFONT;
        }
        default:
            return CDRF_DODEFAULT;
    }
}

LRESULT Win32GridWindow::OnNotify(const NMHDR& header) {
    switch (header.code) {
        case LVN_GETDISPINFOW:
            FillText(*reinterpret_cast<NMLVDISPINFOW*>(const_cast<NMHDR*>(&header)));
            return 0;
        case NM_CUSTOMDRAW:
            return CustomDraw(*reinterpret_cast<NMLVCUSTOMDRAW*>(const_cast<NMHDR*>(&header)));
        case LVN_ITEMCHANGED: {
            const auto& change = reinterpret_cast<const NMLISTVIEW&>(header);
            const bool selected =
                (change.uNewState & LVIS_SELECTED) != 0 && (change.uOldState & LVIS_SELECTED) == 0;
            if (!syncing_ && model_ != nullptr && change.iItem >= 0 && selected) {
                model_->SetCurRow(change.iItem + 1);
            }
            return 0;
        }
        case NM_DBLCLK: {
            const auto& activate = reinterpret_cast<const NMITEMACTIVATE&>(header);
            const int row = RowAt(activate.ptAction);
            const int col = ColumnAt(activate.ptAction.x);
            if (model_ != nullptr && row != 0 && model_->CurRow() != row) {
                model_->SetCurRow(row);
            }
            if (handlers_.dblClick) {
                handlers_.dblClick(row, col);
            }
            return 0;
        }
        default:
            return 0;
    }
}

LRESULT CALLBACK Win32GridWindow::ViewProc(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam,
                                           UINT_PTR /*id*/, DWORD_PTR self) {
    auto* grid = reinterpret_cast<Win32GridWindow*>(self);
    const POINT at{static_cast<short>(LOWORD(lParam)), static_cast<short>(HIWORD(lParam))};
    switch (message) {
        case WM_RBUTTONDOWN:
        case WM_RBUTTONDBLCLK:
            // The view would select the row first; which row becomes current is frmMain's.
            if (grid->handlers_.mouseButton) {
                grid->handlers_.mouseButton(2, grid->RowAt(at));
            }
            return 0;
        case WM_RBUTTONUP:
            return 0;
        case WM_LBUTTONDOWN: {
            // The view makes the pressed row current first, as it does for any press.
            const LRESULT result = DefSubclassProc(hwnd, message, wParam, lParam);
            grid->ShowCurRow();  // a press below the rows keeps the current row
            if (grid->handlers_.mouseButton) {
                grid->handlers_.mouseButton(1, grid->RowAt(at));
            }
            return result;
        }
        case WM_NCDESTROY:
            RemoveWindowSubclass(hwnd, ViewProc, kSubclassId);
            grid->view_ = nullptr;
            break;
        default:
            break;
    }
    return DefSubclassProc(hwnd, message, wParam, lParam);
}

void Win32GridWindow::StartEdit(int row, int col) {
    if (model_ == nullptr || !model_->Editable() || edit_ || row < 1 || row > model_->RowCount()) {
        return;
    }
    const auto shown = std::find_if(shown_.begin(), shown_.end(),
                                    [col](const Column& column) { return column.col == col; });
    if (shown == shown_.end()) {
        return;
    }
    Send(view_, LVM_ENSUREVISIBLE, static_cast<WPARAM>(row - 1), FALSE);
    RECT cell{};
    cell.top = static_cast<LONG>(shown - shown_.begin());
    cell.left = LVIR_LABEL;
    if (Send(view_, LVM_GETSUBITEMRECT, static_cast<WPARAM>(row - 1),
             reinterpret_cast<LPARAM>(&cell)) == 0) {
        return;
    }
    const std::wstring text = win32::ShownText(model_->CellText(row, col));
    const HWND box = CreateWindowExW(
        0, WC_EDITW, text.c_str(), WS_CHILD | WS_VISIBLE | WS_BORDER | ES_AUTOHSCROLL, cell.left,
        cell.top, cell.right - cell.left, cell.bottom - cell.top, view_, nullptr,
        reinterpret_cast<HINSTANCE>(GetWindowLongPtrW(view_, GWLP_HINSTANCE)), nullptr);
    if (box == nullptr) {
        return;
    }
    Send(box, WM_SETFONT, static_cast<WPARAM>(Send(view_, WM_GETFONT)), TRUE);
    edit_ = Edit{box, row, col};
    SetWindowSubclass(box, EditProc, kSubclassId, reinterpret_cast<DWORD_PTR>(this));
    Send(box, EM_SETSEL, 0, -1);
    SetFocus(box);
}

void Win32GridWindow::EndEdit(bool commit, bool refocus) {
    if (!edit_) {
        return;  // ended already: destroying the box takes its focus once more
    }
    const Edit ended = *edit_;
    edit_.reset();
    const std::wstring text = win32::WindowText(ended.box);
    if (refocus) {
        SetFocus(view_);
    }
    DestroyWindow(ended.box);
    if (commit && model_ != nullptr && ended.row <= model_->RowCount() &&
        ended.col <= model_->ColCount()) {
        model_->SetCellValue(ended.row, ended.col, Utf8(text));
    }
    if (handlers_.editEnded) {
        handlers_.editEnded();
    }
}

LRESULT CALLBACK Win32GridWindow::EditProc(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam,
                                           UINT_PTR /*id*/, DWORD_PTR self) {
    auto* grid = reinterpret_cast<Win32GridWindow*>(self);
    switch (message) {
        case WM_GETDLGCODE:
            return DLGC_WANTALLKEYS | DefSubclassProc(hwnd, message, wParam, lParam);
        case WM_KEYDOWN:
            if (wParam == VK_RETURN || wParam == VK_ESCAPE) {
                grid->EndEdit(wParam == VK_RETURN, true);
                return 0;
            }
            break;
        case WM_CHAR:
            if (wParam == L'\r' || wParam == 0x1B) {
                return 0;  // handled on the key's press; no beep
            }
            break;
        case WM_KILLFOCUS: {
            const LRESULT result = DefSubclassProc(hwnd, message, wParam, lParam);
            grid->EndEdit(true, false);
            return result;
        }
        case WM_NCDESTROY:
            RemoveWindowSubclass(hwnd, EditProc, kSubclassId);
            break;
        default:
            break;
    }
    return DefSubclassProc(hwnd, message, wParam, lParam);
}

}  // namespace velmaris::platform
