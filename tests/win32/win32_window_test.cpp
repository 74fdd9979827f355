// The real Win32 window driven with messages, as its controls' own tests do: only what the
// window itself shows. frmMain's rules, texts and runs are proven once, through the fake window,
// in tests/core.
#include <gtest/gtest.h>

#include <windows.h>
// The window interface's MessageBox, not the system's macro for MessageBoxW.
#undef MessageBox

#include <commctrl.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <thread>
#include <tuple>
#include <utility>
#include <vector>

#include "fake_window.h"
#include "platform/windows/utf8.h"
#include "platform/windows/win32_about_box.h"
#include "platform/windows/win32_resources.h"
#include "platform/windows/win32_window.h"
#include "platform/windows/win32_window_kit.h"
#include "spy_events.h"
#include "ui/cls_tool_tip.h"

namespace velmaris::platform {
namespace {

using namespace std::chrono_literals;
using fakes::SpyEvents;

HWND H(Win32Window& window, Control control) {
    return reinterpret_cast<HWND>(window.HandleOf(control));
}

std::string Text(HWND hwnd) {
    return Utf8(win32::WindowText(hwnd));
}

std::string StatusText(HWND bar) {
    std::wstring text(LOWORD(SendMessageW(bar, SB_GETTEXTLENGTHW, 0, 0)) + 1u, L'\0');
    SendMessageW(bar, SB_GETTEXTW, 0, reinterpret_cast<LPARAM>(text.data()));
    return Utf8(text.c_str());
}

int Rows(HWND view) {
    return static_cast<int>(SendMessageW(view, LVM_GETITEMCOUNT, 0, 0));
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
    static BOOL CALLBACK Match(HWND hwnd, LPARAM self) {
        auto* on = reinterpret_cast<OnNextWindow*>(self);
        wchar_t name[64] = {};
        GetClassNameW(hwnd, name, 64);
        if (IsWindowVisible(hwnd) && std::wstring(name) == on->wanted_) {
            on->found_ = hwnd;
            return FALSE;
        }
        return TRUE;
    }

    const wchar_t* wanted_;
    std::atomic<HWND> found_{nullptr};
    std::thread thread_;
};

// The sizes and colour depths of an icon as built into the program: (width, bits per pixel).
std::vector<std::pair<int, int>> IconImages(int id) {
    std::vector<std::pair<int, int>> images;
    const auto load = [](int name, LPCWSTR type) -> const BYTE* {
        const HRSRC found = FindResourceW(nullptr, MAKEINTRESOURCEW(name), type);
        return found != nullptr
                   ? static_cast<const BYTE*>(LockResource(LoadResource(nullptr, found)))
                   : nullptr;
    };
    const BYTE* group = load(id, MAKEINTRESOURCEW(14));  // RT_GROUP_ICON
    if (group == nullptr) {
        return images;
    }
    // A 6-byte header, then 14-byte entries whose last word is the image's own resource id.
    const WORD count = *reinterpret_cast<const WORD*>(group + 4);
    for (WORD i = 0; i < count; ++i) {
        const WORD image = *reinterpret_cast<const WORD*>(group + 6 + 14 * i + 12);
        if (const BYTE* bits = load(image, MAKEINTRESOURCEW(3))) {  // RT_ICON
            const auto& header = *reinterpret_cast<const BITMAPINFOHEADER*>(bits);
            images.emplace_back(header.biWidth, header.biBitCount);
        }
    }
    std::sort(images.begin(), images.end());
    return images;
}

// What the window draws itself; then every control shows the caption, state and visibility it
// is set to, and so do the menus, the progress bar and the check box.
TEST(Win32WindowTest, ControlsStartAsDesignedAndShowWhatTheyAreSet) {
    Win32Window window;
    window.ShowModeless();
    EXPECT_EQ(Text(window.Handle()), "Quorvel - Velmaris");
    EXPECT_NE(SendMessageW(window.Handle(), WM_GETICON, ICON_BIG, 0), 0);
    RECT client{};
    GetClientRect(window.Handle(), &client);
    const int dpi = win32::DpiOf(window.Handle());
    EXPECT_EQ(client.right, MulDiv(9090, dpi, 1440));
    EXPECT_EQ(client.bottom, MulDiv(7320, dpi, 1440));
    EXPECT_EQ(Text(H(window, Control::Frame4)), "Selected Drives");
    EXPECT_TRUE(IsWindowEnabled(H(window, Control::Command1)));
    EXPECT_FALSE(IsWindowEnabled(H(window, Control::XPButton1)));
    for (const Control hidden :
         {Control::ProgBarXP1, Control::Command6, Control::Command3, Control::AlertBox1}) {
        EXPECT_FALSE(IsWindowVisible(H(window, hidden))) << fakes::NameOf(hidden);
    }
    EXPECT_EQ(window.HandleOf(Control::Timer1), 0u);
    // Each icon holds every size in 256 colours and in 32-bit colour.
    const std::vector<std::pair<int, int>> everySize = {{16, 8}, {16, 32}, {24, 8}, {24, 32},
                                                        {32, 8}, {32, 32}, {48, 8}, {48, 32}};
    for (const int icon :
         {VELMARIS_IDI_MAIN, VELMARIS_IDI_SET_TARGET, VELMARIS_IDI_RUN, VELMARIS_IDI_STOP}) {
        EXPECT_EQ(IconImages(icon), everySize) << icon;
    }

    // Both boxes start unticked, lined up and clear of the grid, of the other box and of
    // Label3's hint; Tab goes from Check2 to Check1.
    window.SetCaption(Control::Label3, "Right click on drive to change target folder.");
    const auto rect = [&window](Control control) {
        RECT place{};
        GetWindowRect(H(window, control), &place);
        return place;
    };
    for (const auto& [box, caption] :
         {std::pair{Control::Check2, "Verify images after imaging"},
          std::pair{Control::Check1, "Turn off computer on completion"}}) {
        EXPECT_EQ(Text(H(window, box)), caption);
        EXPECT_FALSE(window.IsChecked(box)) << caption;
        for (const Control other :
             {Control::iGrid2, Control::Label3, Control::Check2, Control::Check1}) {
            RECT both{}, mine = rect(box), theirs = rect(other);
            EXPECT_TRUE(other == box || !IntersectRect(&both, &mine, &theirs))
                << caption << " " << fakes::NameOf(other);
        }
    }
    EXPECT_EQ(rect(Control::Check2).left, rect(Control::Check1).left);
    EXPECT_EQ(GetNextDlgTabItem(window.Handle(), H(window, Control::Check2), FALSE),
              H(window, Control::Check1));

    for (int i = 0; i <= static_cast<int>(Control::AlertBox1); ++i) {
        const auto control = static_cast<Control>(i);
        const HWND hwnd = H(window, control);
        const std::string name = fakes::NameOf(control);
        if (control == Control::Timer1) {
            continue;
        }
        window.SetEnabled(control, false);
        window.SetVisible(control, false);
        EXPECT_FALSE(IsWindowEnabled(hwnd) || IsWindowVisible(hwnd)) << name;
        window.SetEnabled(control, true);
        window.SetVisible(control, true);
        EXPECT_TRUE(IsWindowEnabled(hwnd) && IsWindowVisible(hwnd)) << name;
        const std::string caption = "\u00e9t\u00e9 & " + name;
        window.SetCaption(control, caption);
        if (control == Control::StatusBar1) {
            EXPECT_EQ(StatusText(hwnd), caption);
        } else if (control != Control::iGrid1 && control != Control::iGrid2 &&
                   control != Control::ProgBarXP1) {
            EXPECT_EQ(Text(hwnd), caption);
        }
    }
    // A frame's controls look as unavailable as the frame is.
    window.SetEnabled(Control::Frame1, false);
    EXPECT_FALSE(IsWindowEnabled(H(window, Control::iGrid1)));

    // "New Menu" is off the menu bar; its items stay for the pop-up. Menus show "&" as it is.
    const HMENU bar = GetMenu(window.Handle());
    window.SetMenuVisible(Menu::mnuNew, false);
    ASSERT_EQ(GetMenuItemCount(bar), 1);
    EXPECT_EQ(GetSubMenu(bar, 0), window.MenuHandle(Menu::mnuFile));
    EXPECT_EQ(GetMenuItemCount(window.MenuHandle(Menu::mnuNew)), 2);
    window.SetMenuCaption(Menu::mnuSetTarget, "For : DATA & CO");
    wchar_t item[64] = {};
    GetMenuStringW(window.MenuHandle(Menu::mnuNew), 0, item, 64, MF_BYPOSITION);
    EXPECT_EQ(Utf8(item), "For : DATA && CO");

    const HWND progress = H(window, Control::ProgBarXP1);
    window.SetProgressMax(4);
    window.SetProgressValue(3);
    EXPECT_EQ(SendMessageW(progress, PBM_GETRANGE, FALSE, 0), 4);
    EXPECT_EQ(SendMessageW(progress, PBM_GETPOS, 0, 0), 3);
    for (const Control box : {Control::Check1, Control::Check2}) {
        SendMessageW(H(window, box), BM_CLICK, 0, 0);
        EXPECT_TRUE(window.IsChecked(box));
        window.SetChecked(box, false);
        EXPECT_FALSE(window.IsChecked(box));
    }
}

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
    const auto header = reinterpret_cast<HWND>(SendMessageW(view, LVM_GETHEADER, 0, 0));
    ASSERT_EQ(SendMessageW(header, HDM_GETITEMCOUNT, 0, 0), 2);
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
    // A width the user drags on the header stays through a sort.
    RECT item{};
    SendMessageW(header, HDM_GETITEMRECT, 1, reinterpret_cast<LPARAM>(&item));
    const int dragged = item.right - item.left + 40;
    const LPARAM divider = MAKELPARAM(item.right, item.bottom / 2);
    const LPARAM moved = MAKELPARAM(item.right + 40, item.bottom / 2);
    SendMessageW(header, WM_LBUTTONDOWN, MK_LBUTTON, divider);
    SendMessageW(header, WM_MOUSEMOVE, MK_LBUTTON, moved);
    SendMessageW(header, WM_LBUTTONUP, 0, moved);
    ASSERT_EQ(SendMessageW(view, LVM_GETCOLUMNWIDTH, 1, 0), dragged);
    grid.Sort(1);  // empty cells first: the row of 42 goes last
    EXPECT_EQ(SendMessageW(view, LVM_GETCOLUMNWIDTH, 1, 0), dragged);
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

// Buttons, menu items, a pop-up menu's item and Timer1's ticks reach their handlers; a pump
// runs what is queued.
TEST(Win32WindowTest, ClicksMenusAndTicksReachTheirHandlers) {
    Win32Window window;
    SpyEvents events;
    window.Bind(events, events.grid1, events.grid2);
    window.ShowModeless();
    std::vector<std::string> expected;
    for (const Control button : {Control::Command1, Control::Command2, Control::XPButton1,
                                 Control::Command3, Control::Command6}) {
        window.SetEnabled(button, true);
        SendMessageW(H(window, button), BM_CLICK, 0, 0);
        expected.push_back(fakes::NameOf(button));
    }
    for (const Menu menu : {Menu::mnuExit, Menu::mnuAbout, Menu::mnuSetTarget}) {
        SendMessageW(window.Handle(), WM_COMMAND, 2000u + static_cast<unsigned>(menu), 0);
        expected.push_back(fakes::NameOf(menu));
    }
    OnNextWindow menu(L"#32768", [](HWND shown) {
        for (const int key : {VK_DOWN, VK_DOWN, VK_RETURN}) {
            PostMessageW(shown, WM_KEYDOWN, static_cast<WPARAM>(key), 0);
        }
    });
    window.ShowPopupMenu(Menu::mnuNew);
    menu.Join();
    expected.emplace_back("mnuCFN");
    EXPECT_EQ(events.heard, expected) << "the pop-up's item runs before the menu returns";

    window.SetEnabled(Control::Timer1, true);
    for (int wait = 0; wait < 300 && events.heard.back() != "Timer1"; ++wait) {
        MsgWaitForMultipleObjects(0, nullptr, FALSE, 10, QS_ALLINPUT);
        window.PumpMessages();
    }
    EXPECT_EQ(events.heard.back(), "Timer1");
    window.SetEnabled(Control::Timer1, false);
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
    // CommitEdit ends an open edit at once, committing it as Enter does.
    window.StartEdit(Grid::iGrid2, 1, 3);
    SetWindowTextW(window.Editor(Grid::iGrid2), L"committed");
    window.CommitEdit(Grid::iGrid2);
    EXPECT_EQ(window.Editor(Grid::iGrid2), nullptr);
    EXPECT_EQ(grid.CellText(1, 3), "committed");
    window.CommitEdit(Grid::iGrid2);
    EXPECT_EQ(std::count(events.heard.begin(), events.heard.end(), "EditEnded"), 4);
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

// The real message box shows the prompt and title with the style's buttons, and the button
// pressed is the answer; the About box shows its line, modally, and goes away on OK.
TEST(Win32WindowTest, MessageBoxAndAboutBox) {
    Win32Window window;
    window.ShowModeless();
    const std::tuple<unsigned, int, Answer> cases[] = {
        {mb::kYesNo | mb::kQuestion | mb::kSystemModal, IDYES, Answer::Yes},
        {mb::kYesNo | mb::kExclamation, IDNO, Answer::No},
        {mb::kOk | mb::kExclamation, IDOK, Answer::Ok}};
    for (const auto& [style, button, answer] : cases) {
        std::string prompt, title;
        bool hasNo = false;
        OnNextWindow box(L"#32770", [&, button = button](HWND shown) {
            title = Text(shown);
            hasNo = GetDlgItem(shown, IDNO) != nullptr;
            // The prompt's id differs between systems: 0xFFFF on Windows, 100 on Wine.
            for (const int id : {0xFFFF, 100}) {
                if (const HWND text = GetDlgItem(shown, id); text != nullptr && prompt.empty()) {
                    prompt = Text(text);
                }
            }
            PostMessageW(shown, WM_COMMAND, static_cast<WPARAM>(button), 0);
        });
        EXPECT_EQ(window.MessageBox("Stop \u00e9t\u00e9?", "Stop process?", style), answer);
        box.Join();
        EXPECT_EQ(prompt, "Stop \u00e9t\u00e9?");
        EXPECT_EQ(title, "Stop process?");
        EXPECT_EQ(hasNo, (style & mb::kYesNo) != 0) << style;
    }

    HWND about = nullptr;
    std::string frame, version;
    BITMAP banner{};
    bool iconShared = false, mainDisabled = false;
    OnNextWindow shown(kAboutBoxClass, [&](HWND box) {
        about = box;
        EXPECT_EQ(Text(box), "About");
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
    window.ShowAboutBox("Version : 1.2.3");
    shown.Join();
    ASSERT_TRUE(shown.Found());
    EXPECT_EQ(frame, "About Velmaris");
    EXPECT_EQ(version, "Version : 1.2.3");
    EXPECT_EQ(banner.bmWidth, 400);
    EXPECT_EQ(banner.bmHeight, 86);
    EXPECT_TRUE(iconShared);
    EXPECT_TRUE(mainDisabled) << "modal";
    EXPECT_FALSE(IsWindow(about)) << "made anew for each showing";
    EXPECT_TRUE(IsWindowEnabled(window.Handle()) && IsWindowVisible(window.Handle()));
}

TEST(Win32TooltipWindowTest, ToolsAreControlsOfTheWindowInARealTooltipWindow) {
    Win32Window window;
    std::unique_ptr<TooltipWindow> tip = window.CreateTooltipWindow();
    ASSERT_NE(tip, nullptr);
    const WindowHandle label = window.HandleOf(Control::Label1);
    const ToolInfo tool{kToolIdIsHandle | kToolSubclass, window.ContainerOf(Control::Label1), label,
                        "Double click a drive to add it"};
    EXPECT_EQ(tool.owner, window.HandleOf(Control::Frame1));
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

    // The tooltip class gives the handle of its tooltip window, a window of the main window's.
    ui::clsToolTip wrapper(window);
    ASSERT_TRUE(wrapper.Create());
    const auto hwnd = reinterpret_cast<HWND>(wrapper.hWnd());
    wchar_t name[32] = {};
    GetClassNameW(hwnd, name, 32);
    EXPECT_EQ(std::wstring(name), TOOLTIPS_CLASSW);
    EXPECT_EQ(GetWindow(hwnd, GW_OWNER), window.Handle());
    EXPECT_EQ(wrapper.ToolTipHandle(), wrapper.hWnd());
}

}  // namespace
}  // namespace velmaris::platform
