// What frmMain asks of its window. The Qt and Win32 front ends implement it; tests use a fake.
#pragma once

#include <optional>
#include <string>

namespace velmaris::ui {
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
    XPButton1,  // "Stop"
    Command6,   // "Abort Shutdown"
    Command3,   // starts the shutdown; never shown
    StatusBar1,
    Timer1,
    AlertBox1,  // pop-up notice while drives are searched
};

enum class Menu { mnuFile, mnuExit, mnub1, mnuAbout, mnuNew, mnuSetTarget, mnuCFN };

enum class Pointer { Default, Busy };

// Message box styles and answers in the Windows flag encoding, which both builds share.
namespace mb {
inline constexpr unsigned kOk = 0x0;
inline constexpr unsigned kYesNo = 0x4;
inline constexpr unsigned kQuestion = 0x20;
inline constexpr unsigned kExclamation = 0x30;
inline constexpr unsigned kSystemModal = 0x1000;
}  // namespace mb

enum class Answer { Ok, Yes, No };

// The events the window passes on, one handler each; frmMain implements them.
class WindowEvents {
  public:
    virtual ~WindowEvents() = default;
    virtual void Form_Load() = 0;
};

class Window {
  public:
    virtual ~Window() = default;

    // The handler of the window's events and the grid models it renders; set once, before load.
    virtual void Bind(WindowEvents& events, ui::GridModel& iGrid1, ui::GridModel& iGrid2) = 0;

    virtual void SetCaption(Control control, const std::string& text) = 0;
    virtual void SetEnabled(Control control, bool enabled) = 0;
    virtual void SetVisible(Control control, bool visible) = 0;
    virtual void SetMenuVisible(Menu menu, bool visible) = 0;
    virtual void SetMenuCaption(Menu menu, const std::string& text) = 0;

    // Shows the window without waiting for it to close.
    virtual void ShowModeless() = 0;
    // Processes the window messages that are pending, once.
    virtual void PumpMessages() = 0;
    virtual void SetPointer(Pointer pointer) = 0;

    virtual Answer MessageBox(const std::string& prompt, const std::string& title,
                              unsigned style) = 0;
    // The folder the user picked, or nullopt when cancelled.
    virtual std::optional<std::string> BrowseForFolder(const std::string& title) = 0;
};

}  // namespace velmaris::platform
