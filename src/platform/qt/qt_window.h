// The main window drawn with Qt Widgets. It decides nothing: it shows what frmMain sets and
// passes the window's events on.
#pragma once

#include <QMainWindow>

#include <array>
#include <map>
#include <optional>
#include <vector>

#include "platform/qt/grid_table_model.h"
#include "platform/window.h"

class QAbstractButton;
class QAction;
class QLabel;
class QMouseEvent;
class QTableView;
class QTimer;

namespace velmaris::platform {

class QtWindow : public QMainWindow, public Window {
    Q_OBJECT

  public:
    explicit QtWindow(QWidget* parent = nullptr);
    ~QtWindow() override;

    // The grids must stay alive while the window shows them; they may be destroyed first.
    void Bind(WindowEvents& events, grid::GridModel& iGrid1, grid::GridModel& iGrid2) override;

    void SetCaption(Control control, const std::string& text) override;
    void SetEnabled(Control control, bool enabled) override;
    void SetVisible(Control control, bool visible) override;
    void SetMenuVisible(Menu menu, bool visible) override;
    void SetMenuCaption(Menu menu, const std::string& text) override;
    bool IsChecked(Control control) override;
    void SetChecked(Control control, bool checked) override;
    void SetProgressMax(int maximum) override;
    void SetProgressValue(int value) override;

    void ShowModeless() override;
    void PumpMessages() override;
    void SetPointer(Pointer pointer) override;

    void StartEdit(platform::Grid grid, int row, int col) override;
    void CommitEdit(platform::Grid grid) override;
    void ShowPopupMenu(Menu menu) override;
    void DisableClose(bool disable) override;
    [[noreturn]] void EndProgram() override;
    void ShowAboutBox(const std::string& versionLine) override;
    std::unique_ptr<TooltipWindow> CreateTooltipWindow() override;
    WindowHandle HandleOf(Control control) override;
    WindowHandle ContainerOf(Control control) override;

    Answer MessageBox(const std::string& prompt, const std::string& title, unsigned style) override;
    // A path whose bytes are not UTF-8 is reported, not passed on with U+FFFD in it.
    platform::FolderChoice BrowseForFolder(const std::string& title) override;

  protected:
    void closeEvent(QCloseEvent* event) override;
    // Mouse presses and double-clicks on the grids' viewports.
    bool eventFilter(QObject* watched, QEvent* event) override;

  private:
    struct LabelFit {
        QRect designed;  // pixels, in the container
        bool rightAligned = false;
    };
    struct ColumnLook {
        int width = 0;
        bool visible = true;
        bool operator==(const ColumnLook&) const = default;
    };
    struct Table {
        QTableView* view = nullptr;
        GridTableModel* model = nullptr;
        std::vector<std::optional<ColumnLook>> columns;  // as last taken from the model
    };

    template <typename W>
    W* Make(Control control, const char* name, QWidget* container, int left, int top, int width,
            int height);
    void BuildControls();
    void BuildMenus();
    void BuildGrid(Table& grid, Control control, const char* name, QWidget* container, int left,
                   int top, int width, int height);

    // Twips (1/1440 inch) to pixels at the window's logical resolution.
    int TwipsX(int twips) const;
    int TwipsY(int twips) const;
    // Sizes a label to its text, never below its designed size.
    void FitToText(Control control);

    void BindGrid(Table& grid, grid::GridModel& model);
    void ApplyColumns(Table& grid);
    void ShowCurRow(const Table& grid);
    // Passes a mouse event of a grid's viewport on; true when the view must not see it.
    bool GridMouse(platform::Grid grid, QObject* viewport, QMouseEvent* event);
    // The window's own widget with this handle, or nullptr.
    QWidget* WidgetOf(WindowHandle handle) const;

    // A hook for the timer, which WindowEvents has no handler for yet; it passes nothing on.
    void Timer1_Timer();
    QWidget* ControlWidget(Control control) const;
    // Passes a button's clicks on to one handler of the window's events.
    void PassClicks(QAbstractButton* button, void (WindowEvents::*handler)());
    void MenuClicked(Menu menu);

    WindowEvents* events_ = nullptr;
    std::map<Control, QWidget*> controls_;
    std::map<Control, LabelFit> labels_;
    std::map<Menu, QAction*> menus_;
    std::array<Table, 2> grids_{};  // iGrid1, iGrid2
    QLabel* statusPanel1_ = nullptr;
    QLabel* alertText_ = nullptr;
    QTimer* timer1_ = nullptr;
    bool busy_ = false;
    bool closeDisabled_ = false;
    Qt::WindowFlags closableFlags_;  // the flags to restore when closing is enabled again
    bool forwardingPress_ = false;   // a press passed to the view before frmMain hears of it
};

}  // namespace velmaris::platform
