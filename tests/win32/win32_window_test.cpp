// The real Win32 window driven with messages, as its controls' own tests do: only what the
// window itself shows. frmMain's rules, texts and runs are proven once, through the fake window,
// in tests/core.
#include <gtest/gtest.h>

#include <windows.h>
// The window interface's MessageBox, not the system's macro for MessageBoxW.
#undef MessageBox

#include <commctrl.h>

#include <algorithm>
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
#include "platform/windows/win32_window.h"
#include "platform/windows/win32_window_kit.h"
#include "spy_events.h"

namespace velmaris::platform {
namespace {

using namespace std::chrono_literals;
using fakes::SpyEvents;

std::string Text(HWND hwnd) {
    return Utf8(win32::WindowText(hwnd));
}

std::string StatusText(HWND bar) {
    std::wstring text(LOWORD(SendMessageW(bar, SB_GETTEXTLENGTHW, 0, 0)) + 1u, L'\0');
    SendMessageW(bar, SB_GETTEXTW, 0, reinterpret_cast<LPARAM>(text.data()));
    return Utf8(text.c_str());
}

// The text the view shows in a cell, rows and shown columns from 0.
std::string Cell(HWND view, int row, int column) {
    wchar_t text[512] = {};
    ListView_GetItemText(view, row, column, text, 512);
    return Utf8(text);
}

bool Selected(HWND view, int row) {
    return ListView_GetItemState(view, row, LVIS_SELECTED) != 0;
}

// The centre of a cell, or of the row's first cell; a row past the last is below the rows.
POINT CellCentre(HWND view, int row, int column = 0) {
    RECT cell{};
    EXPECT_TRUE(ListView_GetSubItemRect(view, 0, column, LVIR_LABEL, &cell));
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

using Wanted = std::pair<const wchar_t*, HWND>;  // a window class and the window found

BOOL CALLBACK Match(HWND hwnd, LPARAM wanted) {
    auto& [cls, found] = *reinterpret_cast<Wanted*>(wanted);
    wchar_t name[64] = {};
    GetClassNameW(hwnd, name, 64);
    found = IsWindowVisible(hwnd) && std::wstring(name) == cls ? hwnd : nullptr;
    return found == nullptr;
}

// On another thread, waits for a visible window of class cls on this thread and acts on it
// there while the test thread sits in the window's modal loop. Join it after the modal call.
std::thread OnNextWindow(const wchar_t* cls, std::function<void(HWND)> act) {
    return std::thread([cls, act = std::move(act), owner = GetCurrentThreadId()] {
        Wanted wanted{cls, nullptr};
        for (int tries = 0; tries < 500 && wanted.second == nullptr; ++tries) {
            std::this_thread::sleep_for(10ms);
            EnumThreadWindows(owner, &Match, reinterpret_cast<LPARAM>(&wanted));
        }
        if (wanted.second == nullptr) {
            ADD_FAILURE() << "no window was shown";
            return;
        }
        act(wanted.second);
    });
}

// The window shown, its events heard.
class Win32WindowTest : public ::testing::Test {
  protected:
    void SetUp() override {
        window.Bind(events, events.grid1, events.grid2);
        window.ShowModeless();
    }
    HWND H(Control control) { return reinterpret_cast<HWND>(window.HandleOf(control)); }
    Win32Window window;
    SpyEvents events;
};

// What the window draws itself; then every control shows the caption, state and visibility it
// is set to, and so do the menus, the progress bar and the check box.
TEST_F(Win32WindowTest, ControlsStartAsDesignedAndShowWhatTheyAreSet) {
    const HWND form = window.Handle();
    EXPECT_EQ(Text(H(Control::Frame4)), "Selected Drives");
    EXPECT_TRUE(IsWindowEnabled(H(Control::Command1)) && !IsWindowEnabled(H(Control::XPButton1)));
    for (const Control hidden :
         {Control::ProgBarXP1, Control::Command6, Control::Command3, Control::AlertBox1}) {
        EXPECT_FALSE(IsWindowVisible(H(hidden))) << fakes::NameOf(hidden);
    }
    EXPECT_EQ(window.HandleOf(Control::Timer1), 0u);

    // Tab reaches every control the user can use, inside the frames too, in the order the
    // form shows them; Windows goes into a child window's children only for a control parent.
    std::vector<HWND> tabbed;
    for (HWND at = GetNextDlgTabItem(form, nullptr, FALSE);
         tabbed.size() < 10 && std::find(tabbed.begin(), tabbed.end(), at) == tabbed.end();
         at = GetNextDlgTabItem(form, at, FALSE)) {
        tabbed.push_back(at);
    }
    EXPECT_EQ(tabbed,
              (std::vector<HWND>{H(Control::iGrid1), H(Control::Command1), H(Control::Command2),
                                 H(Control::iGrid2), H(Control::Check2), H(Control::Check1)}));
    for (const auto& [box, caption] : {std::pair{Control::Check2, "Verify images after imaging"},
                                       {Control::Check1, "Turn off computer on completion"}}) {
        EXPECT_TRUE(Text(H(box)) == caption && !window.IsChecked(box)) << caption;
    }
    for (int i = 0; i <= static_cast<int>(Control::AlertBox1); ++i) {
        const auto control = static_cast<Control>(i);
        const std::string name = fakes::NameOf(control), caption = "\u00e9t\u00e9 & " + name;
        if (control == Control::Timer1) {
            continue;  // no window
        }
        for (const bool on : {false, true}) {
            window.SetEnabled(control, on);
            window.SetVisible(control, on);
            EXPECT_TRUE(IsWindowEnabled(H(control)) == on && IsWindowVisible(H(control)) == on)
                << name;
        }
        window.SetCaption(control, caption);
        if (control == Control::StatusBar1) {
            EXPECT_EQ(StatusText(H(control)), caption);
        } else if (control != Control::iGrid1 && control != Control::iGrid2 &&
                   control != Control::ProgBarXP1) {
            EXPECT_EQ(Text(H(control)), caption);
        }
    }
    // A frame's controls look as unavailable as the frame is.
    window.SetEnabled(Control::Frame1, false);
    EXPECT_FALSE(IsWindowEnabled(H(Control::iGrid1)));

    // "New Menu" is off the menu bar; its items stay for the pop-up. Menus show "&" as it is.
    const HMENU bar = GetMenu(form), popup = window.MenuHandle(Menu::mnuNew);
    window.SetMenuVisible(Menu::mnuNew, false);
    EXPECT_TRUE(GetMenuItemCount(bar) == 1 &&
                GetSubMenu(bar, 0) == window.MenuHandle(Menu::mnuFile));
    EXPECT_EQ(GetMenuItemCount(popup), 2);
    window.SetMenuCaption(Menu::mnuSetTarget, "For : DATA & CO");
    wchar_t item[64] = {};
    GetMenuStringW(popup, 0, item, 64, MF_BYPOSITION);
    EXPECT_EQ(Utf8(item), "For : DATA && CO");

    window.SetProgressMax(4);
    window.SetProgressValue(3);
    EXPECT_EQ(SendMessageW(H(Control::ProgBarXP1), PBM_GETRANGE, FALSE, 0), 4);
    EXPECT_EQ(SendMessageW(H(Control::ProgBarXP1), PBM_GETPOS, 0, 0), 3);
    for (const Control box : {Control::Check1, Control::Check2}) {
        SendMessageW(H(box), BM_CLICK, 0, 0);
        EXPECT_TRUE(window.IsChecked(box));
        window.SetChecked(box, false);
        EXPECT_FALSE(window.IsChecked(box));
    }
}

TEST_F(Win32WindowTest, GridViewFollowsItsModelAndPassesMouseEventsOn) {
    const HWND view = H(Control::iGrid1);
    grid::GridModel& grid = events.grid1;

    grid.SetColCount(3);
    grid.SetRowCount(3);
    grid.SetColWidth(3, 123);
    grid.SetColVisible(2, false);
    grid.SetCellValue(2, 1, std::int64_t{42});
    grid.SetCellValue(2, 3, std::string("\u00e9t\u00e9"));
    // Hidden columns are not shown at all: the view's second column is the model's third.
    const HWND header = ListView_GetHeader(view);
    ASSERT_EQ(Header_GetItemCount(header), 2);
    EXPECT_EQ(ListView_GetItemCount(view), 3);
    EXPECT_EQ(Cell(view, 1, 0) + " " + Cell(view, 1, 1), "42 \u00e9t\u00e9");
    EXPECT_EQ(ListView_GetColumnWidth(view, 1), MulDiv(123, win32::DpiOf(view), 96));
    // A cell's own colour is drawn where the view shows the cell; the others keep the view's.
    grid.SetCellBackColor(3, 3, 0x0000C0);  // red
    RedrawWindow(view, nullptr, nullptr, RDW_INVALIDATE | RDW_UPDATENOW);
    const HDC dc = GetDC(view);
    const POINT own = CellCentre(view, 2, 1), plain = CellCentre(view, 2, 0);
    EXPECT_EQ(GetPixel(dc, own.x, own.y), RGB(0xC0, 0, 0));
    EXPECT_EQ(GetPixel(dc, plain.x, plain.y), GetSysColor(COLOR_WINDOW));
    ReleaseDC(view, dc);

    // The model's current row is selected; a row the user clicks becomes current.
    grid.SetCurRow(2);
    EXPECT_TRUE(Selected(view, 1));
    Click(view, CellCentre(view, 2));
    EXPECT_TRUE(grid.CurRow() == 3 && Selected(view, 2) && !Selected(view, 1));
    // A width the user drags on the header stays through a sort.
    RECT item{};
    Header_GetItemRect(header, 1, &item);
    const int dragged = item.right - item.left + 40;
    const LPARAM moved = MAKELPARAM(item.right + 40, item.bottom / 2);
    SendMessageW(header, WM_LBUTTONDOWN, MK_LBUTTON, MAKELPARAM(item.right, item.bottom / 2));
    SendMessageW(header, WM_MOUSEMOVE, MK_LBUTTON, moved);
    SendMessageW(header, WM_LBUTTONUP, 0, moved);
    ASSERT_EQ(ListView_GetColumnWidth(view, 1), dragged);
    grid.Sort(1);  // empty cells first: the row of 42 goes last
    EXPECT_EQ(ListView_GetColumnWidth(view, 1), dragged);
    EXPECT_EQ(Cell(view, 2, 0), "42");
    EXPECT_TRUE(Selected(view, grid.CurRow() - 1));

    // The right button leaves the current row to frmMain; a double-click makes its row current
    // first; row 0 is below the rows, and the column is the model's.
    const HWND jobs = H(Control::iGrid2);
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
TEST_F(Win32WindowTest, ClicksMenusAndTicksReachTheirHandlers) {
    std::vector<std::string> expected;
    for (const Control button : {Control::Command1, Control::Command2, Control::XPButton1,
                                 Control::Command3, Control::Command6}) {
        window.SetEnabled(button, true);
        SendMessageW(H(button), BM_CLICK, 0, 0);
        expected.push_back(fakes::NameOf(button));
    }
    for (const Menu menu : {Menu::mnuExit, Menu::mnuAbout, Menu::mnuSetTarget}) {
        SendMessageW(window.Handle(), WM_COMMAND, 2000u + static_cast<unsigned>(menu), 0);
        expected.push_back(fakes::NameOf(menu));
    }
    std::thread menu = OnNextWindow(L"#32768", [](HWND shown) {
        for (const int key : {VK_DOWN, VK_DOWN, VK_RETURN}) {
            PostMessageW(shown, WM_KEYDOWN, static_cast<WPARAM>(key), 0);
        }
    });
    window.ShowPopupMenu(Menu::mnuNew);
    menu.join();
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

TEST_F(Win32WindowTest, EditsEndOnceAndOnlyEnterOrLeavingCommits) {
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
            PostMessageW(editor, WM_KEYDOWN, *key, 0);  // through the window's dialog manager
            window.PumpMessages();
        } else {
            SetFocus(H(Control::iGrid1));
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
    EXPECT_TRUE(window.Editor(Grid::iGrid2) == nullptr && grid.CellText(1, 3) == "committed");
    window.CommitEdit(Grid::iGrid2);
    EXPECT_EQ(std::count(events.heard.begin(), events.heard.end(), "EditEnded"), 4);
}

TEST_F(Win32WindowTest, CloseIsLockedWhileDisabledAndTheWindowMenuComesBack) {
    const HWND hwnd = window.Handle();
    const auto commands = [hwnd] {
        std::vector<UINT> ids;
        for (int i = 0; i < GetMenuItemCount(GetSystemMenu(hwnd, FALSE)); ++i) {
            ids.push_back(GetMenuItemID(GetSystemMenu(hwnd, FALSE), i));
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
    SendMessageW(hwnd, WM_CLOSE, 0, 0);
    SendMessageW(hwnd, WM_SYSCOMMAND, SC_CLOSE, 0);
    EXPECT_TRUE(IsWindowVisible(hwnd));

    window.DisableClose(false);
    EXPECT_EQ(commands(), whole);
    SendMessageW(hwnd, WM_CLOSE, 0, 0);
    EXPECT_FALSE(IsWindow(hwnd));
    // Closed by the user, it ends the program's loop.
    MSG quit{};
    EXPECT_TRUE(PeekMessageW(&quit, nullptr, WM_QUIT, WM_QUIT, PM_REMOVE));
}

// The real message box shows the prompt and title with the style's buttons, and the button
// pressed is the answer; the About box shows its line, modally, and goes away on OK.
TEST_F(Win32WindowTest, MessageBoxAndAboutBox) {
    const std::tuple<unsigned, int, Answer> cases[] = {
        {mb::kYesNo | mb::kQuestion | mb::kSystemModal, IDYES, Answer::Yes},
        {mb::kYesNo | mb::kExclamation, IDNO, Answer::No},
        {mb::kOk | mb::kExclamation, IDOK, Answer::Ok}};
    for (const auto& [style, button, answer] : cases) {
        std::thread box = OnNextWindow(L"#32770", [&, style = style, button = button](HWND shown) {
            EXPECT_EQ(Text(shown), "Stop process?");
            EXPECT_EQ(GetDlgItem(shown, IDNO) != nullptr, (style & mb::kYesNo) != 0) << style;
            // The prompt's id differs between systems: 0xFFFF on Windows, 100 on Wine.
            const HWND prompt = GetDlgItem(shown, 0xFFFF);
            EXPECT_EQ(Text(prompt != nullptr ? prompt : GetDlgItem(shown, 100)),
                      "Stop \u00e9t\u00e9?");
            PostMessageW(shown, WM_COMMAND, static_cast<WPARAM>(button), 0);
        });
        EXPECT_EQ(window.MessageBox("Stop \u00e9t\u00e9?", "Stop process?", style), answer);
        box.join();
    }

    HWND about = nullptr;
    std::thread shown = OnNextWindow(kAboutBoxClass, [&](HWND box) {
        about = box;
        EXPECT_EQ(Text(GetDlgItem(box, about::kLabel2)), "Version : 1.2.3");
        EXPECT_FALSE(IsWindowEnabled(window.Handle())) << "modal";
        PostMessageW(GetDlgItem(box, about::kCommand1), BM_CLICK, 0, 0);
    });
    window.ShowAboutBox("Version : 1.2.3");
    shown.join();
    EXPECT_FALSE(IsWindow(about)) << "made anew for each showing";
    EXPECT_TRUE(IsWindowEnabled(window.Handle()));
}

}  // namespace
}  // namespace velmaris::platform
