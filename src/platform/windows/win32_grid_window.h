// A grid model shown in a ListView in report mode with owner data: the view asks the model for
// each cell as it paints, and the model's changes redraw the view. It decides nothing: clicks
// go to its handlers, and only the current row and committed edits go back to the model.
#pragma once

#include <windows.h>

#include <commctrl.h>

#include <functional>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "grid/grid_model.h"

namespace velmaris::platform {

class Win32GridWindow final : public grid::GridObserver {
  public:
    struct Handlers {
        std::function<void(int row, int col)> dblClick;
        std::function<void(int button, int row)> mouseButton;
        std::function<void()> editEnded;
    };

    Win32GridWindow(HWND parent, int id, HINSTANCE instance);
    Win32GridWindow(const Win32GridWindow&) = delete;
    Win32GridWindow& operator=(const Win32GridWindow&) = delete;
    ~Win32GridWindow() override = default;

    HWND Handle() const { return view_; }
    void SetHandlers(Handlers handlers) { handlers_ = std::move(handlers); }
    // Observes the model from now on and shows it.
    void Bind(grid::GridModel& model);
    // Lets go of the model and the handlers without touching either: their owners may be gone.
    void Forget();
    // Column widths follow the resolution.
    void SetDpi(int dpi);

    // A notification of the view, passed on by the window that receives it.
    LRESULT OnNotify(const NMHDR& header);

    // Opens the in-place editor on a cell when the model is editable.
    void StartEdit(int row, int col);
    // Closes the open editor, if any, committing its text as Enter does.
    void CommitEdit() { EndEdit(true, true); }
    HWND Editor() const { return edit_ ? edit_->box : nullptr; }

    void BeforeLayoutChange() override {}
    void AfterLayoutChange() override;
    void CellChanged(int row, int col) override;
    void CurrentRowChanged(int row) override;

  private:
    struct Column {
        int col = 0;  // in the model
        std::string header;
        int width = 0;  // pixels at 96 dpi
    };
    struct Edit {
        HWND box = nullptr;
        int row = 0;
        int col = 0;
    };

    static LRESULT CALLBACK ViewProc(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam,
                                     UINT_PTR id, DWORD_PTR self);
    static LRESULT CALLBACK EditProc(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam,
                                     UINT_PTR id, DWORD_PTR self);

    void ApplyColumns(bool force);
    void ShowCurRow();
    // The model's row (0 when not on one) and column (0 when past the columns) at a point.
    int RowAt(POINT point) const;
    int ColumnAt(int x) const;
    LRESULT CustomDraw(NMLVCUSTOMDRAW& draw) const;
    void FillText(NMLVDISPINFOW& info) const;
    void EndEdit(bool commit, bool refocus);

    HWND view_ = nullptr;
    grid::GridModel* model_ = nullptr;
    Handlers handlers_;
    std::vector<Column> shown_;  // the view's columns, in order
    int dpi_ = 96;
    bool syncing_ = false;  // the view's selection is being set from the model
    std::optional<Edit> edit_;
};

}  // namespace velmaris::platform
