// The main window drawn with Qt Widgets. It decides nothing: it shows what frmMain sets and
// passes the window's events on.
#pragma once

#include <QMainWindow>

#include <array>
#include <map>

#include "platform/qt/grid_table_model.h"
#include "platform/window.h"

class QAction;
class QLabel;
class QTableView;
class QTimer;

namespace velmaris::platform {

class QtWindow : public QMainWindow, public Window {
    Q_OBJECT

  public:
    explicit QtWindow(QWidget* parent = nullptr);
    ~QtWindow() override;

    // The grids must stay alive while the window shows them; they may be destroyed first.
    void Bind(WindowEvents& events, ui::GridModel& iGrid1, ui::GridModel& iGrid2) override;

    void SetCaption(Control control, const std::string& text) override;
    void SetEnabled(Control control, bool enabled) override;
    void SetVisible(Control control, bool visible) override;
    void SetMenuVisible(Menu menu, bool visible) override;
    void SetMenuCaption(Menu menu, const std::string& text) override;

    void ShowModeless() override;
    void PumpMessages() override;
    void SetPointer(Pointer pointer) override;

    Answer MessageBox(const std::string& prompt, const std::string& title, unsigned style) override;
    std::optional<std::string> BrowseForFolder(const std::string& title) override;

  private:
    struct LabelFit {
        QRect designed;  // pixels, in the container
        bool rightAligned = false;
    };
    struct Grid {
        QTableView* view = nullptr;
        GridTableModel* model = nullptr;
    };

    template <typename W>
    W* Make(Control control, const char* name, QWidget* container, int left, int top, int width,
            int height);
    void BuildControls();
    void BuildMenus();
    void BuildGrid(Grid& grid, Control control, const char* name, QWidget* container, int left,
                   int top, int width, int height);

    // Twips (1/1440 inch) to pixels at the window's logical resolution.
    int TwipsX(int twips) const;
    int TwipsY(int twips) const;
    // Sizes a label to its text, never below its designed size.
    void FitToText(Control control);

    void BindGrid(Grid& grid, ui::GridModel& model);
    void ApplyColumns(const Grid& grid);
    void ShowCurRow(const Grid& grid);

    // Hooks for the events WindowEvents has no handler for yet; they pass nothing on.
    void Timer1_Timer();
    void MenuClicked(Menu menu);

    WindowEvents* events_ = nullptr;
    std::map<Control, QWidget*> controls_;
    std::map<Control, LabelFit> labels_;
    std::map<Menu, QAction*> menus_;
    std::array<Grid, 2> grids_{};
    QLabel* statusPanel1_ = nullptr;
    QLabel* alertText_ = nullptr;
    QTimer* timer1_ = nullptr;
    bool busy_ = false;
};

}  // namespace velmaris::platform
