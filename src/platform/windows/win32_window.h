// The main window drawn with Win32 controls. It decides nothing: it shows what frmMain sets and
// passes the window's events on.
#pragma once

#include <windows.h>
// The interface's MessageBox, not the system's macro for MessageBoxW.
#undef MessageBox

#include <array>
#include <memory>
#include <optional>
#include <string>

#include "platform/window.h"
#include "platform/windows/win32_grid_window.h"

namespace velmaris::platform {

class Win32Window : public Window {
  public:
    static constexpr wchar_t kClassName[] = L"VelmarisMain";
    static constexpr wchar_t kAlertClassName[] = L"VelmarisAlert";

    explicit Win32Window(HINSTANCE instance = GetModuleHandleW(nullptr));
    Win32Window(const Win32Window&) = delete;
    Win32Window& operator=(const Win32Window&) = delete;
    ~Win32Window() override;

    HWND Handle() const { return hwnd_; }
    // Keyboard moves between the controls; true when the message needs no more handling.
    bool PreTranslate(MSG& msg);

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

    void StartEdit(Grid grid, int row, int col) override;
    void CommitEdit(Grid grid) override;
    void ShowPopupMenu(Menu menu) override;
    void DisableClose(bool disable) override;
    [[noreturn]] void EndProgram() override;
    void ShowAboutBox(const std::string& versionLine) override;
    std::unique_ptr<TooltipWindow> CreateTooltipWindow() override;
    WindowHandle HandleOf(Control control) override;
    WindowHandle ContainerOf(Control control) override;

    Answer MessageBox(const std::string& prompt, const std::string& title, unsigned style) override;
    // An unpaired surrogate in the path is reported, not passed on as U+FFFD.
    FolderChoice BrowseForFolder(const std::string& title) override;

    // The in-place editor while one is open, and a menu's handle (its pop-up for a menu).
    HWND Editor(Grid grid) const;
    HMENU MenuHandle(Menu menu) const;

  private:
    enum class Kind {
        Frame,
        Grid,
        Label,
        RightLabel,
        PictureButton,
        Button,
        CheckBox,
        Progress,
        Status,
        Alert,
        Timer
    };
    struct Design {
        Control control;
        Kind kind;
        std::optional<Control> container;  // none: the window itself
        RECT twips;                        // left, top, right, bottom
        const wchar_t* caption;
        int icon;  // resource id of a picture button's icon
    };
    struct Entry {
        const Design* design = nullptr;
        HWND hwnd = nullptr;
        HICON icon = nullptr;
    };
    struct MenuEntry {
        std::optional<Menu> parent;  // none: the menu bar
        HMENU popup = nullptr;       // a menu's items; none for an item
        UINT flags = MF_STRING;
        std::wstring caption;
        bool visible = true;
    };

    static LRESULT CALLBACK WndProc(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam);
    static LRESULT CALLBACK FrameProc(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam,
                                      UINT_PTR id, DWORD_PTR self);
    LRESULT HandleMessage(UINT message, WPARAM wParam, LPARAM lParam);

    void BuildMenus();
    void BuildControls();
    // Places every control and sets fonts and icons for the window's resolution.
    void LayOut();
    void MakeFonts();
    void LoadIcons();
    RECT Place(const Design& design) const;
    // Sizes a label or the check box to its text, never below its designed size.
    void FitToText(Control control);
    void DrawPictureButton(const DRAWITEMSTRUCT& item) const;
    void OnCommand(int id);
    int MenuPosition(Menu menu) const;
    HMENU ParentMenu(Menu menu) const;

    Entry& At(Control control) { return controls_[static_cast<size_t>(control)]; }
    const Entry& At(Control control) const { return controls_[static_cast<size_t>(control)]; }
    HWND Hwnd(Control control) const { return At(control).hwnd; }
    Win32GridWindow& GridOf(Grid grid) { return grid == Grid::iGrid1 ? *grid1_ : *grid2_; }

    HINSTANCE instance_;
    HWND hwnd_ = nullptr;
    int dpi_ = 96;
    WindowEvents* events_ = nullptr;
    std::array<Entry, static_cast<size_t>(Control::AlertBox1) + 1> controls_{};
    std::array<MenuEntry, static_cast<size_t>(Menu::mnuCFN) + 1> menus_{};
    HMENU menuBar_ = nullptr;
    std::unique_ptr<Win32GridWindow> grid1_;
    std::unique_ptr<Win32GridWindow> grid2_;
    HWND labelTips_ = nullptr;  // the design's tips of the time labels
    HFONT guiFont_ = nullptr;
    HFONT pictureFont_ = nullptr;
    HFONT alertFont_ = nullptr;
    HICON bigIcon_ = nullptr;
    HICON smallIcon_ = nullptr;
    bool busy_ = false;
    bool closeDisabled_ = false;
    bool destroying_ = false;  // destroyed by its owner, not closed by the user
};

}  // namespace velmaris::platform
