// The real Win32 window driven with messages, as its controls' own tests do, over the real
// frmMain and fake machine services.
#include <gtest/gtest.h>

#include <windows.h>

#include <commctrl.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <thread>
#include <utility>
#include <vector>

#include "fake_services.h"
#include "platform/windows/utf8.h"
#include "platform/windows/win32_about_box.h"
#include "platform/windows/win32_window.h"
#include "platform/windows/win32_window_kit.h"
#include "spy_events.h"
#include "ui/frm_main.h"

namespace velmaris::platform {
namespace {

using namespace std::chrono_literals;
using fakes::SpyEvents;

HWND H(Win32Window& window, Control control) {
    return reinterpret_cast<HWND>(window.HandleOf(control));
}

std::string Text(HWND hwnd) {
    std::wstring text(static_cast<size_t>(GetWindowTextLengthW(hwnd)) + 1, L'\0');
    text.resize(
        static_cast<size_t>(GetWindowTextW(hwnd, text.data(), static_cast<int>(text.size()))));
    return Utf8(text);
}

std::string StatusText(Win32Window& window) {
    const HWND bar = H(window, Control::StatusBar1);
    std::wstring text(LOWORD(SendMessageW(bar, SB_GETTEXTLENGTHW, 0, 0)) + 1u, L'\0');
    SendMessageW(bar, SB_GETTEXTW, 0, reinterpret_cast<LPARAM>(text.data()));
    return Utf8(text.c_str());
}

int Rows(HWND view) {
    return static_cast<int>(SendMessageW(view, LVM_GETITEMCOUNT, 0, 0));
}

int Columns(HWND view) {
    const auto header = reinterpret_cast<HWND>(SendMessageW(view, LVM_GETHEADER, 0, 0));
    return static_cast<int>(SendMessageW(header, HDM_GETITEMCOUNT, 0, 0));
}

// The text the view shows in a cell, rows and shown columns from 0.
std::string Cell(HWND view, int row, int column) {
    std::wstring text(512, L'\0');
    LVITEMW item{};
    item.iSubItem = column;
    item.pszText = text.data();
    item.cchTextMax = static_cast<int>(text.size());
    SendMessageW(view, LVM_GETITEMTEXTW, static_cast<WPARAM>(row), reinterpret_cast<LPARAM>(&item));
    return Utf8(text.c_str());
}

bool Selected(HWND view, int row) {
    return SendMessageW(view, LVM_GETITEMSTATE, static_cast<WPARAM>(row), LVIS_SELECTED) != 0;
}

// The centre of a cell, or of the row's first cell; a row past the last is below the rows.
POINT CellCentre(HWND view, int row, int column = 0) {
    RECT cell{};
    cell.top = column;
    cell.left = LVIR_LABEL;
    if (SendMessageW(view, LVM_GETSUBITEMRECT, 0, reinterpret_cast<LPARAM>(&cell)) == 0) {
        ADD_FAILURE() << "no cell rectangle";
    }
    const int height = cell.bottom - cell.top;
    return {(cell.left + cell.right) / 2, cell.top + height * row + height / 2};
}

LPARAM At(POINT point) {
    return MAKELPARAM(point.x, point.y);
}

// A press and release as the mouse gives them; the view watches for the release while pressed.
void Click(HWND view, POINT point) {
    PostMessageW(view, WM_LBUTTONUP, 0, At(point));
    SendMessageW(view, WM_LBUTTONDOWN, MK_LBUTTON, At(point));
}

void DoubleClick(HWND view, POINT point) {
    Click(view, point);
    SendMessageW(view, WM_LBUTTONDBLCLK, MK_LBUTTON, At(point));
    SendMessageW(view, WM_LBUTTONUP, 0, At(point));
}

void Pump(std::chrono::milliseconds time) {
    const auto end = std::chrono::steady_clock::now() + time;
    while (std::chrono::steady_clock::now() < end) {
        MsgWaitForMultipleObjects(0, nullptr, FALSE, 10, QS_ALLINPUT);
        MSG msg{};
        while (PeekMessageW(&msg, nullptr, 0, 0, PM_REMOVE)) {
            TranslateMessage(&msg);
            DispatchMessageW(&msg);
        }
    }
}

// Waits on another thread for a window of the given class to show on this thread, then acts
// on it there; the test thread meanwhile sits in the window's modal loop.
class OnNextWindow {
  public:
    OnNextWindow(const wchar_t* cls, std::function<void(HWND)> act)
        : wanted_(cls), thread_([this, act = std::move(act), owner = GetCurrentThreadId()] {
              for (int tries = 0; tries < 500 && found_ == nullptr; ++tries) {
                  std::this_thread::sleep_for(10ms);
                  EnumThreadWindows(owner, &Match, reinterpret_cast<LPARAM>(this));
              }
              if (found_ != nullptr) {
                  act(found_);
              }
          }) {}
    ~OnNextWindow() { Join(); }
    void Join() {
        if (thread_.joinable()) {
            thread_.join();
        }
    }
    bool Found() const { return found_ != nullptr; }

  private:
    static std::wstring Class(HWND hwnd) {
        wchar_t name[64] = {};
        GetClassNameW(hwnd, name, 64);
        return name;
    }
    static BOOL CALLBACK Match(HWND hwnd, LPARAM self) {
        auto* on = reinterpret_cast<OnNextWindow*>(self);
        if (IsWindowVisible(hwnd) && Class(hwnd) == on->wanted_) {
            on->found_ = hwnd;
            return FALSE;
        }
        return TRUE;
    }

    const wchar_t* wanted_;
    std::atomic<HWND> found_{nullptr};
    std::thread thread_;
};

// Answers the next message box with a button, keeping its text.
class Answer {
  public:
    explicit Answer(int button)
        : next_(L"#32770", [this, button](HWND box) {
              // The prompt's id differs between systems: 0xFFFF on Windows, 100 on Wine.
              for (const int id : {0xFFFF, 100}) {
                  if (const HWND text = GetDlgItem(box, id); text != nullptr && prompt.empty()) {
                      prompt = Text(text);
                  }
              }
              PostMessageW(box, WM_COMMAND, static_cast<WPARAM>(button), 0);
          }) {}
    std::string prompt;
    OnNextWindow next_;
};

// Buttons, menu commands and the timer: through frmMain in the FrmMainInWin32 and RunInWin32 tests.
TEST(Win32WindowTest, GridViewFollowsItsModelAndPassesMouseEventsOn) {
    Win32Window window;
    SpyEvents events;
    window.Bind(events, events.grid1, events.grid2);
    window.ShowModeless();
    const HWND view = H(window, Control::iGrid1);
    grid::GridModel& grid = events.grid1;

    grid.SetColCount(3);
    grid.SetRowCount(3);
    grid.SetColHeaderText(1, "ID");
    grid.SetColHeaderText(3, "Size");
    grid.SetColWidth(3, 123);
    grid.SetColVisible(2, false);
    grid.SetCellValue(2, 1, std::int64_t{42});
    grid.SetCellValue(2, 3, std::string("\u00e9t\u00e9"));
    // Hidden columns are not shown at all: the view's second column is the model's third.
    ASSERT_EQ(Columns(view), 2);
    EXPECT_EQ(Rows(view), 3);
    EXPECT_EQ(Cell(view, 1, 0), "42");
    EXPECT_EQ(Cell(view, 1, 1), "\u00e9t\u00e9");
    EXPECT_EQ(SendMessageW(view, LVM_GETCOLUMNWIDTH, 1, 0), MulDiv(123, win32::DpiOf(view), 96));

    // The model's current row is selected; a row the user clicks becomes current.
    grid.SetCurRow(2);
    EXPECT_TRUE(Selected(view, 1));
    Click(view, CellCentre(view, 2));
    EXPECT_EQ(grid.CurRow(), 3);
    EXPECT_TRUE(Selected(view, 2));
    EXPECT_FALSE(Selected(view, 1));
    grid.Sort(1);  // empty cells first: the row of 42 goes last
    EXPECT_EQ(Cell(view, 2, 0), "42");
    EXPECT_TRUE(Selected(view, grid.CurRow() - 1));

    // The right button leaves the current row to frmMain; a double-click makes its row current
    // first; row 0 is below the rows, and the column is the model's.
    const HWND jobs = H(window, Control::iGrid2);
    events.grid2.SetColCount(2);
    events.grid2.SetRowCount(2);
    events.heard.clear();
    SendMessageW(jobs, WM_RBUTTONDOWN, MK_RBUTTON, At(CellCentre(jobs, 1)));
    SendMessageW(jobs, WM_RBUTTONDOWN, MK_RBUTTON, At(CellCentre(jobs, 5)));
    DoubleClick(view, CellCentre(view, 0, 1));
    DoubleClick(view, CellCentre(view, 6, 1));
    EXPECT_EQ(events.heard, (std::vector<std::string>{"Mouse2 2 2 cur 0", "Mouse2 2 0 cur 0",
                                                      "Mouse1 1 1 cur 1", "DblClick1 1 3 cur 1",
                                                      "Mouse1 1 0 cur 1", "DblClick1 0 3 cur 1"}));
    EXPECT_TRUE(Selected(view, 0)) << "a click below the rows keeps the current row";
}

TEST(Win32WindowTest, EditsEndOnceAndOnlyEnterOrLeavingCommits) {
    Win32Window window;
    SpyEvents events;
    window.Bind(events, events.grid1, events.grid2);
    window.ShowModeless();
    grid::GridModel& grid = events.grid2;
    grid.SetColCount(3);
    grid.SetColVisible(1, false);
    grid.SetRowCount(1);
    grid.SetCellValue(1, 3, std::string("old"));

    window.StartEdit(Grid::iGrid2, 1, 3);
    EXPECT_EQ(window.Editor(Grid::iGrid2), nullptr) << "the grid is not editable";
    grid.SetEditable(true);
    window.StartEdit(Grid::iGrid2, 1, 1);
    EXPECT_EQ(window.Editor(Grid::iGrid2), nullptr) << "a hidden column";

    const auto edit = [&](const wchar_t* typed, std::optional<WPARAM> key) {
        window.StartEdit(Grid::iGrid2, 1, 3);
        const HWND editor = window.Editor(Grid::iGrid2);
        ASSERT_NE(editor, nullptr);
        EXPECT_EQ(Text(editor), grid.CellText(1, 3));
        SetWindowTextW(editor, typed);
        if (key) {
            SendMessageW(editor, WM_KEYDOWN, *key, 0);
        } else {
            SetFocus(H(window, Control::iGrid1));
        }
        EXPECT_FALSE(IsWindow(editor));
        EXPECT_EQ(window.Editor(Grid::iGrid2), nullptr);
    };
    edit(L"C:\\Images\\\u00e9t\u00e9.img", VK_RETURN);
    EXPECT_EQ(grid.CellValue(1, 3), grid::CellValue(std::string("C:\\Images\\\u00e9t\u00e9.img")));
    edit(L"discarded", VK_ESCAPE);
    EXPECT_EQ(grid.CellText(1, 3), "C:\\Images\\\u00e9t\u00e9.img");
    edit(L"left", std::nullopt);
    EXPECT_EQ(grid.CellText(1, 3), "left");
    EXPECT_EQ(std::count(events.heard.begin(), events.heard.end(), "EditEnded"), 3);
}

TEST(Win32WindowTest, CloseIsLockedWhileDisabledAndTheWindowMenuComesBack) {
    Win32Window window;
    window.ShowModeless();
    const auto commands = [&window] {
        const HMENU system = GetSystemMenu(window.Handle(), FALSE);
        std::vector<UINT> ids;
        for (int i = 0; i < GetMenuItemCount(system); ++i) {
            ids.push_back(GetMenuItemID(system, i));
        }
        return ids;
    };
    const std::vector<UINT> whole = commands();
    ASSERT_GE(whole.size(), 2u);
    // The last two items go, whatever they are: Close and its separator on Windows.
    window.DisableClose(true);
    EXPECT_EQ(commands(), std::vector<UINT>(whole.begin(), whole.end() - 2));
    window.DisableClose(true);
    EXPECT_EQ(commands(), std::vector<UINT>(whole.begin(), whole.end() - 4));
    SendMessageW(window.Handle(), WM_CLOSE, 0, 0);
    SendMessageW(window.Handle(), WM_SYSCOMMAND, SC_CLOSE, 0);
    EXPECT_TRUE(IsWindowVisible(window.Handle()));

    window.DisableClose(false);
    EXPECT_EQ(commands(), whole);
    const HWND hwnd = window.Handle();
    SendMessageW(hwnd, WM_CLOSE, 0, 0);
    EXPECT_FALSE(IsWindow(hwnd));
    // Closed by the user, it ends the program's loop.
    MSG quit{};
    EXPECT_TRUE(PeekMessageW(&quit, nullptr, WM_QUIT, WM_QUIT, PM_REMOVE));
}

TEST(Win32WindowDeathTest, EndProgramEndsAtOnceWithoutUnloading) {
    Win32Window window;
    EXPECT_EXIT(
        {
            std::atexit([] { std::_Exit(3); });  // runs only on an orderly exit
            window.EndProgram();
        },
        ::testing::ExitedWithCode(0), "");
}

TEST(Win32TooltipWindowTest, ToolsAreControlsOfTheWindowInARealTooltipWindow) {
    Win32Window window;
    std::unique_ptr<TooltipWindow> tip = window.CreateTooltipWindow();
    ASSERT_NE(tip, nullptr);
    const WindowHandle label = window.HandleOf(Control::Label1);
    const ToolInfo tool{kToolIdIsHandle | kToolSubclass, window.ContainerOf(Control::Label1), label,
                        "Double click a drive to add it"};
    EXPECT_EQ(tool.owner, window.HandleOf(Control::Frame1));
    EXPECT_EQ(window.HandleOf(Control::Timer1), 0u);
    EXPECT_FALSE(tip->AddTool({kToolIdIsHandle, tool.owner, 0x7FFF0, "not a window"}));
    ASSERT_TRUE(tip->AddTool(tool));
    ASSERT_TRUE(tip->AddTool({tool.flags, tool.owner, window.HandleOf(Control::iGrid1), {}}));
    ASSERT_EQ(tip->ToolCount(), 2);
    const std::optional<ToolInfo> first = tip->EnumTool(0);
    ASSERT_TRUE(first);
    EXPECT_EQ(first->id, label);
    EXPECT_EQ(first->owner, tool.owner);
    EXPECT_EQ(first->flags & 0x11u, 0x11u);
    EXPECT_EQ(first->text, "Double click a drive to add it");
    EXPECT_FALSE(tip->EnumTool(1)->text) << "a tool without text";
    EXPECT_FALSE(tip->EnumTool(2));

    ToolInfo renamed = tool;
    renamed.text = "\u00e9t\u00e9";
    tip->UpdateTipText(renamed);
    EXPECT_EQ(tip->EnumTool(0)->text, "\u00e9t\u00e9");
    tip->SetBackColor(0x0000FF);
    tip->SetTextColor(0x00FF00);
    EXPECT_EQ(tip->BackColor(), 0x0000FFu);
    EXPECT_EQ(tip->TextColor(), 0x00FF00u);
    tip->SetDelayTime(TipDelay::AutoPop, 20000);
    EXPECT_EQ(tip->DelayTime(TipDelay::AutoPop), 20000);
    tip->SetMargin({1, 2, 3, 4});
    EXPECT_EQ(tip->Margin().bottom, 4);
    tip->SetMaxTipWidth(240);
    EXPECT_EQ(tip->MaxTipWidth(), 240);
    tip->SetMaxTipWidth(-1);
    EXPECT_EQ(tip->MaxTipWidth() & 0xFFFF, 0xFFFF);
    tip->DelTool(tool);
    EXPECT_EQ(tip->ToolCount(), 1);
}

// The real window with the folder dialog answered by the test: the shell's own dialog cannot
// be scripted. Every other call is the window's own.
class ScriptedWindow : public Win32Window {
  public:
    std::optional<std::string> folder;
    std::vector<int> progress;
    std::function<void(int)> onProgress;

    std::optional<std::string> BrowseForFolder(const std::string& /*title*/) override {
        return folder;
    }
    void SetProgressValue(int value) override {
        Win32Window::SetProgressValue(value);
        if (onProgress) {
            onProgress(value);
        }
    }
};

class FrmMainInWin32 : public ::testing::Test {
  protected:
    void SetUp() override {
        AddDisks();
        frm.Form_Load();
        window.folder = "C:\\Images";
        machine.files.folders.insert("C:\\Images");
    }

    virtual void AddDisks() {
        machine.catalog.AddDisk(3, "Backup Disk", "500107862016");
        machine.catalog.AddDisk(0, "System Disk", "256060514304", {"C:"});
        machine.catalog.AddDisk(1, "Data & Co Disk", "1000204886016", {"D:"});
    }

    HWND Control(platform::Control control) { return H(window, control); }
    void ClickButton(platform::Control control) { SendMessageW(Control(control), BM_CLICK, 0, 0); }

    fakes::FakeMachine machine;
    ScriptedWindow window;
    ui::frmMain frm{window, machine.services};
};

// What the window itself draws and starts with; the rows and texts are frmMain's own tests'.
TEST_F(FrmMainInWin32, StartUpShowsAReadyWindowThatAsksForATargetFirst) {
    EXPECT_EQ(Text(window.Handle()), "Quorvel - Velmaris");
    EXPECT_TRUE(IsWindowVisible(window.Handle()));
    EXPECT_NE(SendMessageW(window.Handle(), WM_GETICON, ICON_BIG, 0), 0);
    RECT client{};
    GetClientRect(window.Handle(), &client);
    const int dpi = win32::DpiOf(window.Handle());
    EXPECT_EQ(client.right, MulDiv(9090, dpi, 1440));
    EXPECT_EQ(client.bottom, MulDiv(7320, dpi, 1440));

    EXPECT_EQ(StatusText(window), "Ready");
    EXPECT_FALSE(IsWindowVisible(Control(Control::AlertBox1)));
    EXPECT_EQ(Text(Control(Control::AlertBox1)), "Searching for attached drives.. Please wait.");
    EXPECT_EQ(Text(Control(Control::Frame4)), "Selected Drives");
    // frmMain leaves these to the window at start.
    EXPECT_TRUE(IsWindowEnabled(Control(Control::Command1)));
    EXPECT_FALSE(IsWindowEnabled(Control(Control::XPButton1)));
    EXPECT_FALSE(IsWindowVisible(Control(Control::ProgBarXP1)));
    EXPECT_FALSE(IsWindowVisible(Control(Control::Command6)));
    // "New Menu" is off the menu bar; its items stay for the pop-up.
    const HMENU bar = GetMenu(window.Handle());
    ASSERT_EQ(GetMenuItemCount(bar), 1);
    EXPECT_EQ(GetSubMenu(bar, 0), window.MenuHandle(Menu::mnuFile));
    EXPECT_EQ(GetMenuItemCount(window.MenuHandle(Menu::mnuFile)), 3);
    EXPECT_EQ(GetMenuItemCount(window.MenuHandle(Menu::mnuNew)), 2);
    EXPECT_NE(frm.ToolTip()->hWnd(), 0u);
    EXPECT_EQ(frm.ToolTip()->ToolCount(), 2);

    // The real message box: without a target a double-click asks for one, and No adds nothing.
    Answer no(IDNO);
    DoubleClick(Control(Control::iGrid1), CellCentre(Control(Control::iGrid1), 1, 1));
    no.next_.Join();
    EXPECT_EQ(no.prompt, "Select target folder now?");
    EXPECT_EQ(Rows(Control(Control::iGrid2)), 0);
}

TEST_F(FrmMainInWin32, TheJobMenuNamesItsDriveAndEditsItsImagePath) {
    const HWND jobs = Control(Control::iGrid2);
    ClickButton(Control::Command1);
    DoubleClick(Control(Control::iGrid1), CellCentre(Control(Control::iGrid1), 1, 1));
    ASSERT_EQ(Rows(jobs), 1);

    // Right click on the job; the menu shows its drive and its second item is chosen.
    std::string firstItem;
    OnNextWindow menu(L"#32768", [&firstItem](HWND shown) {
        const auto items = reinterpret_cast<HMENU>(SendMessageW(shown, MN_GETHMENU, 0, 0));
        wchar_t text[128] = {};
        GetMenuStringW(items, 0, text, 128, MF_BYPOSITION);
        firstItem = Utf8(text);
        for (const int key : {VK_DOWN, VK_DOWN, VK_RETURN}) {
            PostMessageW(shown, WM_KEYDOWN, static_cast<WPARAM>(key), 0);
        }
    });
    SendMessageW(jobs, WM_RBUTTONDOWN, MK_RBUTTON, At(CellCentre(jobs, 0, 1)));
    menu.Join();
    EXPECT_EQ(firstItem, "Set target folder for : DATA && CO DISK");
    EXPECT_EQ(GetMenuItemCount(GetMenu(window.Handle())), 1) << "the menu bar is left alone";

    // "Change File Name" opens the editor; how edits end is tested on the bare window above.
    EXPECT_NE(window.Editor(Grid::iGrid2), nullptr);
    EXPECT_TRUE(frm.Grid2().Editable());
}

TEST_F(FrmMainInWin32, AboutBoxShowsTheVersionAndGoesAwayOnOk) {
    HWND about = nullptr;
    std::string title, frame, version;
    bool iconShared = false;
    BITMAP banner{};
    bool mainDisabled = false;
    OnNextWindow shown(kAboutBoxClass, [&](HWND box) {
        about = box;
        title = Text(box);
        frame = Text(GetDlgItem(box, about::kFrame1));
        version = Text(GetDlgItem(box, about::kLabel2));
        const auto image = reinterpret_cast<HBITMAP>(
            SendMessageW(GetDlgItem(box, about::kImage1), STM_GETIMAGE, IMAGE_BITMAP, 0));
        GetObjectW(image, sizeof(banner), &banner);
        iconShared = SendMessageW(box, WM_GETICON, ICON_BIG, 0) ==
                     SendMessageW(window.Handle(), WM_GETICON, ICON_BIG, 0);
        mainDisabled = !IsWindowEnabled(window.Handle());
        PostMessageW(GetDlgItem(box, about::kCommand1), BM_CLICK, 0, 0);
    });
    SendMessageW(window.Handle(), WM_COMMAND, 2000u + static_cast<unsigned>(Menu::mnuAbout), 0);
    shown.Join();
    ASSERT_TRUE(shown.Found());
    EXPECT_EQ(title, "About");
    EXPECT_EQ(frame, "About Velmaris");
    EXPECT_EQ(version, "Version : " + std::to_string(VELMARIS_VERSION_MAJOR) + "." +
                           std::to_string(VELMARIS_VERSION_MINOR) + "." +
                           std::to_string(VELMARIS_VERSION_PATCH));
    EXPECT_EQ(banner.bmWidth, 400);
    EXPECT_EQ(banner.bmHeight, 86);
    EXPECT_TRUE(iconShared);
    EXPECT_TRUE(mainDisabled) << "modal";
    EXPECT_FALSE(IsWindow(about)) << "made anew for each showing";
    EXPECT_TRUE(IsWindowEnabled(window.Handle()));
    EXPECT_TRUE(IsWindowVisible(window.Handle()));
}

// A whole run started with the real Run button over in-memory drives, timed by Timer1.
class RunInWin32 : public FrmMainInWin32 {
  protected:
    static constexpr std::uint64_t kBlock = 131072;

    void AddDisks() override {
        machine.catalog.AddDisk(9, "System Disk", "256060514304", {"C:"});
        for (const auto& [n, size] : {std::pair{1u, kBlock * 40 + 512 * 3}, {2u, kBlock * 25}}) {
            machine.catalog.AddDisk(n, "Data Disk", std::to_string(size));
            machine.storage.AddDrive(n, size);
        }
    }

    void SetUp() override {
        FrmMainInWin32::SetUp();
        ClickButton(Control::Command1);
        const HWND sources = Control(Control::iGrid1);
        DoubleClick(sources, CellCentre(sources, 0, 1));
        DoubleClick(sources, CellCentre(sources, 0, 1));
        ASSERT_EQ(Rows(Control(Control::iGrid2)), 2);
        ClickButton(Control::Check1);  // turn off the computer at the end
    }
};

TEST_F(RunInWin32, RunImagesEveryDriveWhileTheWindowIsLockedTimedAndAsks) {
    machine.clock.step = 2000;  // each reading 2 s after the one before
    const auto windowMenuItems = [this] {
        return GetMenuItemCount(GetSystemMenu(window.Handle(), FALSE));
    };
    const int wholeMenu = windowMenuItems();
    bool lookedMidRun = false;
    window.onProgress = [&](int pass) {
        if (pass != 1) {
            return;
        }
        lookedMidRun = true;
        EXPECT_FALSE(IsWindowEnabled(Control(Control::Command2)));
        EXPECT_FALSE(IsWindowEnabled(Control(Control::Command1)));
        EXPECT_TRUE(IsWindowEnabled(Control(Control::XPButton1)));
        EXPECT_FALSE(IsWindowEnabled(Control(Control::Frame1)));
        EXPECT_TRUE(IsWindowVisible(Control(Control::ProgBarXP1)));
        EXPECT_EQ(windowMenuItems(), wholeMenu - 2);
        SendMessageW(window.Handle(), WM_CLOSE, 0, 0);
        EXPECT_TRUE(IsWindowVisible(window.Handle()));
        // One tick, one reading: a block done in 2 s, and 40 of the largest drive's left.
        for (int wait = 0; wait < 300 && Text(Control(Control::Label12)) == "0:00:00"; ++wait) {
            Pump(10ms);
        }
        EXPECT_EQ(Text(Control(Control::Label12)), "0:00:02");
        EXPECT_EQ(Text(Control(Control::Label7)), "0:01:20");
        // Stop is clicked, asked about and declined.
        Answer no(IDNO);
        ClickButton(Control::XPButton1);
        no.next_.Join();
        EXPECT_EQ(no.prompt, "Stop the imaging process, are you sure");
    };
    ClickButton(Control::Command2);

    EXPECT_TRUE(lookedMidRun);
    EXPECT_EQ(StatusText(window), "Process Complete");
    const HWND jobs = Control(Control::iGrid2);
    for (int row = 0; row < 2; ++row) {
        EXPECT_EQ(Cell(jobs, row, 4), "Done.");
        const fakes::FakeImage& image = machine.storage.files.at(Cell(jobs, row, 3));
        const fakes::FakeDrive& drive =
            machine.storage.drives.at(static_cast<std::uint32_t>(std::stoul(Cell(jobs, row, 0))));
        EXPECT_TRUE(image.finished);
        EXPECT_TRUE(image.data == drive.data) << "row " << row;
    }
    EXPECT_EQ(Text(Control(Control::Label5)), "5,373,952");
    EXPECT_FALSE(IsWindowVisible(Control(Control::ProgBarXP1)));
    EXPECT_TRUE(IsWindowEnabled(Control(Control::Command2)));
    EXPECT_TRUE(IsWindowEnabled(Control(Control::Frame1)));
    EXPECT_FALSE(IsWindowEnabled(Control(Control::XPButton1)));
    EXPECT_EQ(machine.power.calls, std::vector<std::string>{"shutdown"});
    EXPECT_TRUE(IsWindowVisible(Control(Control::Command6)));
    EXPECT_EQ(windowMenuItems(), wholeMenu) << "the window menu is whole again";
}

}  // namespace
}  // namespace velmaris::platform
