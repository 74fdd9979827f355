// What frmMain asks of its window. The Qt and Win32 front ends implement it; tests use a fake.
#pragma once

#include <cstdint>
#include <memory>
#include <optional>
#include <string>

#include "platform/tooltip.h"

namespace velmaris::grid {
class GridModel;
}

namespace velmaris::platform {

// The window's controls, named as in its design.
enum class Control {
    Frame1,      // "Source Drives"
    iGrid1,      // source drives
    Label1,      // "Double Click to Add"
    Frame3,      // "Target"
    Command1,    // "Set Target"
    Command2,    // "Run"
    Label2,      // default target folder
    Frame2,      // "Details"
    ProgBarXP1,  // run progress
    Label4,
    Label5,  // bytes copied per drive
    Label8,
    Label9,  // speed
    Label13,
    Label12,  // elapsed time
    Label6,
    Label7,     // remaining time
    Frame4,     // "Selected Drives"
    iGrid2,     // selected drives
    Label3,     // hint for the selected list
    Check1,     // "Turn off computer on completion"
    Check2,     // "Verify images after imaging"
    XPButton1,  // "Stop"
    Command6,   // "Abort Shutdown"
    Command3,   // starts the shutdown; never shown
    StatusBar1,
    Timer1,
    AlertBox1,  // pop-up notice while drives are searched
};

enum class Menu { mnuFile, mnuExit, mnub1, mnuAbout, mnuNew, mnuSetTarget, mnuCFN };

enum class Pointer { Default, Busy };

enum class Grid { iGrid1, iGrid2 };

// Mouse buttons as the grid reports them.
inline constexpr int kLeftButton = 1;
inline constexpr int kRightButton = 2;

// Message box styles and answers in the Windows flag encoding, which both builds share.
namespace mb {
inline constexpr unsigned kOk = 0x0;
inline constexpr unsigned kYesNo = 0x4;
inline constexpr unsigned kQuestion = 0x20;
inline constexpr unsigned kExclamation = 0x30;
inline constexpr unsigned kSystemModal = 0x1000;
}  // namespace mb

enum class Answer { Ok, Yes, No };

// What the folder dialog gave.
struct FolderChoice {
    std::optional<std::string> folder;  // nullopt when cancelled
    // The folder's path does not come through UTF-8 unchanged (an unpaired surrogate in a
    // Windows name, bytes that are not UTF-8 in a Linux one): folder shows it as near as it
    // can, and names no folder that exists.
    bool nameChanged = false;
};

// The events the window passes on, one handler each; frmMain implements them.
class WindowEvents {
  public:
    virtual ~WindowEvents() = default;
    virtual void Form_Load() = 0;
    // Double-click on a grid; row 0 when not on a row. The row is current before this comes.
    virtual void iGrid1_DblClick(int row, int col) = 0;
    virtual void iGrid2_DblClick(int row, int col) = 0;
    // A mouse button pressed over a grid; row 0 when not on a row.
    virtual void iGrid1_MouseButton(int button, int row) = 0;
    virtual void iGrid2_MouseButton(int button, int row) = 0;
    // The in-place editor of iGrid2 has closed, committed or cancelled.
    virtual void iGrid2_EditEnded() = 0;
    virtual void Command1_Click() = 0;
    virtual void mnuExit_Click() = 0;
    virtual void mnuAbout_Click() = 0;
    virtual void mnuSetTarget_Click() = 0;
    virtual void mnuCFN_Click() = 0;
    virtual void Command2_Click() = 0;   // "Run"
    virtual void XPButton1_Click() = 0;  // "Stop"
    virtual void Command3_Click() = 0;   // starts the shutdown; the button is never shown
    virtual void Command6_Click() = 0;   // "Abort Shutdown"
    virtual void Timer1_Timer() = 0;     // once a second while enabled
};

class Window {
  public:
    virtual ~Window() = default;

    // The handler of the window's events and the grid models it renders; set once, before load.
    virtual void Bind(WindowEvents& events, grid::GridModel& iGrid1, grid::GridModel& iGrid2) = 0;

    virtual void SetCaption(Control control, const std::string& text) = 0;
    virtual void SetEnabled(Control control, bool enabled) = 0;
    virtual void SetVisible(Control control, bool visible) = 0;
    virtual void SetMenuVisible(Menu menu, bool visible) = 0;
    virtual void SetMenuCaption(Menu menu, const std::string& text) = 0;
    // The check box's tick.
    virtual bool IsChecked(Control control) = 0;
    virtual void SetChecked(Control control, bool checked) = 0;
    // The progress bar's maximum and value.
    virtual void SetProgressMax(int maximum) = 0;
    virtual void SetProgressValue(int value) = 0;

    // Shows the window without waiting for it to close.
    virtual void ShowModeless() = 0;
    // Processes the window messages that are pending, once.
    virtual void PumpMessages() = 0;
    virtual void SetPointer(Pointer pointer) = 0;

    // Opens the in-place editor on a cell; the committed text becomes the cell's value, and
    // the end of the edit comes back as the grid's EditEnded event.
    virtual void StartEdit(Grid grid, int row, int col) = 0;
    // Closes the open in-place editor, if any, committing its text as Enter does; its
    // EditEnded event comes before this returns.
    virtual void CommitEdit(Grid grid) = 0;
    // Shows a menu's items as a pop-up at the mouse pointer; returns when it has closed.
    virtual void ShowPopupMenu(Menu menu) = 0;
    // While disabled, the window cannot be closed from its caption bar or window menu.
    virtual void DisableClose(bool disable) = 0;
    // Ends the process at once, running no close or unload handling.
    virtual void EndProgram() = 0;
    // Shows the About box modally with the given version line; returns when it is closed.
    virtual void ShowAboutBox(const std::string& versionLine) = 0;
    // A new tooltip window owned by this window, or nullptr when none can be made.
    virtual std::unique_ptr<TooltipWindow> CreateTooltipWindow() = 0;
    // The handle of a control and of its container, as the tooltip window knows them.
    virtual WindowHandle HandleOf(Control control) = 0;
    virtual WindowHandle ContainerOf(Control control) = 0;

    virtual Answer MessageBox(const std::string& prompt, const std::string& title,
                              unsigned style) = 0;
    virtual FolderChoice BrowseForFolder(const std::string& title) = 0;
};

}  // namespace velmaris::platform
