#include "platform/windows/win32_window.h"

#include <commctrl.h>
#include <objbase.h>
#include <shlobj.h>

#include <algorithm>
#include <climits>
#include <iterator>
#include <stdexcept>
#include <tuple>
#include <vector>

#include "platform/windows/utf8.h"
#include "platform/windows/win32_about_box.h"
#include "platform/windows/win32_resources.h"
#include "platform/windows/win32_tooltip_window.h"
#include "platform/windows/win32_window_kit.h"

#ifndef WM_DPICHANGED
#define WM_DPICHANGED 0x02E0
#endif

namespace velmaris::platform {

// ---- helpers shared with the window's other parts ----

namespace win32 {

namespace {

// Looked up at run time: Windows before 10 has no per-window resolution.
template <typename F>
F UserFunction(const char* name) {
    const FARPROC found = GetProcAddress(GetModuleHandleW(L"user32.dll"), name);
    return reinterpret_cast<F>(reinterpret_cast<void (*)()>(found));
}

int ScreenDpi() {
    const HDC screen = GetDC(nullptr);
    const int dpi = GetDeviceCaps(screen, LOGPIXELSY);
    ReleaseDC(nullptr, screen);
    return dpi > 0 ? dpi : kDefaultDpi;
}

}  // namespace

int DpiOf(HWND window) {
    using GetDpiForWindowFn = UINT(WINAPI*)(HWND);
    static_assert(sizeof(GetDpiForWindowFn) == sizeof(void*));
    if (const auto forWindow = UserFunction<GetDpiForWindowFn>("GetDpiForWindow");
        forWindow != nullptr && window != nullptr) {
        if (const UINT dpi = forWindow(window); dpi > 0) {
            return static_cast<int>(dpi);
        }
    }
    return ScreenDpi();
}

std::wstring ShownText(std::string_view utf8) {
    if (utf8.empty() || utf8.size() > static_cast<size_t>(INT_MAX)) {
        return {};
    }
    const int size = static_cast<int>(utf8.size());
    const int length = MultiByteToWideChar(CP_UTF8, 0, utf8.data(), size, nullptr, 0);
    std::wstring wide(static_cast<size_t>(std::max(length, 0)), L'\0');
    MultiByteToWideChar(CP_UTF8, 0, utf8.data(), size, wide.data(), length);
    return wide;
}

std::wstring WindowText(HWND window) {
    std::wstring text(static_cast<size_t>(GetWindowTextLengthW(window)) + 1, L'\0');
    text.resize(
        static_cast<size_t>(GetWindowTextW(window, text.data(), static_cast<int>(text.size()))));
    return text;
}

HFONT MakeFont(const wchar_t* face, int centiPoints, int dpi) {
    LOGFONTW font{};
    font.lfHeight = -MulDiv(centiPoints, dpi, 7200);
    font.lfWeight = FW_NORMAL;
    font.lfCharSet = DEFAULT_CHARSET;
    lstrcpynW(font.lfFaceName, face, LF_FACESIZE);
    return CreateFontIndirectW(&font);
}

HFONT MakeGuiFont(int dpi) {
    LOGFONTW font{};
    GetObjectW(GetStockObject(DEFAULT_GUI_FONT), sizeof(font), &font);
    font.lfHeight = MulDiv(font.lfHeight, dpi, ScreenDpi());
    return CreateFontIndirectW(&font);
}

}  // namespace win32

namespace {

using win32::FromTwips;
using win32::Scale;

constexpr int kClientWidth = 9090;  // twips
constexpr int kClientHeight = 7320;
constexpr UINT_PTR kTimer1Id = 1;
constexpr UINT kTimer1Interval = 1000;  // ms
constexpr int kPictureIconSize = 24;    // pixels at 96 dpi
constexpr int kControlIdBase = 1000;
constexpr int kMenuIdBase = 2000;
constexpr DWORD kWindowStyle =
    WS_OVERLAPPED | WS_CAPTION | WS_SYSMENU | WS_MINIMIZEBOX | WS_CLIPCHILDREN;
constexpr COLORREF kAlertTop = RGB(255, 255, 128);
constexpr COLORREF kAlertBottom = RGB(255, 255, 192);
constexpr COLORREF kAlertBorder = RGB(128, 128, 64);
constexpr wchar_t kTimeTip[] = L"DD:HH:MM:SS";

constexpr RECT Twips(int left, int top, int width, int height) {
    return {left, top, left + width, top + height};
}

int ControlId(Control control) {
    return kControlIdBase + static_cast<int>(control);
}

int MenuId(Menu menu) {
    return kMenuIdBase + static_cast<int>(menu);
}

LRESULT Send(HWND window, UINT message, WPARAM wParam = 0, LPARAM lParam = 0) {
    return SendMessageW(window, message, wParam, lParam);
}

// Menus read "&" as the mark of a shortcut: a drive's name shows as it is.
std::wstring MenuText(const std::string& text) {
    std::wstring shown;
    for (const wchar_t c : win32::ShownText(text)) {
        shown += c;
        if (c == L'&') {
            shown += L'&';
        }
    }
    return shown;
}

COLORREF Blend(COLORREF from, COLORREF to, int step, int steps) {
    const auto mix = [step, steps](int a, int b) {
        return static_cast<BYTE>(a + (b - a) * step / std::max(steps, 1));
    };
    return RGB(mix(GetRValue(from), GetRValue(to)), mix(GetGValue(from), GetGValue(to)),
               mix(GetBValue(from), GetBValue(to)));
}

// The pop-up notice: a vertical yellow gradient with its text centred. Its font handle is
// its only state, kept in the window itself.
LRESULT CALLBACK AlertProc(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam) {
    switch (message) {
        case WM_SETFONT:
            SetWindowLongPtrW(hwnd, GWLP_USERDATA, static_cast<LONG_PTR>(wParam));
            if (LOWORD(lParam) != 0) {
                InvalidateRect(hwnd, nullptr, FALSE);
            }
            return 0;
        case WM_GETFONT:
            return GetWindowLongPtrW(hwnd, GWLP_USERDATA);
        case WM_SETTEXT: {
            const LRESULT result = DefWindowProcW(hwnd, message, wParam, lParam);
            InvalidateRect(hwnd, nullptr, FALSE);
            return result;
        }
        case WM_ERASEBKGND:
            return 1;
        case WM_PAINT: {
            PAINTSTRUCT paint{};
            const HDC dc = BeginPaint(hwnd, &paint);
            RECT area{};
            GetClientRect(hwnd, &area);
            const int height = area.bottom - area.top;
            for (int y = 0; y < height; ++y) {
                const HBRUSH line = CreateSolidBrush(Blend(kAlertTop, kAlertBottom, y, height - 1));
                const RECT strip{area.left, y, area.right, y + 1};
                FillRect(dc, &strip, line);
                DeleteObject(line);
            }
            const HBRUSH border = CreateSolidBrush(kAlertBorder);
            FrameRect(dc, &area, border);
            DeleteObject(border);

            const std::wstring text = win32::WindowText(hwnd);
            const auto font = reinterpret_cast<HFONT>(GetWindowLongPtrW(hwnd, GWLP_USERDATA));
            const HGDIOBJ old =
                SelectObject(dc, font != nullptr ? font : GetStockObject(DEFAULT_GUI_FONT));
            SetBkMode(dc, TRANSPARENT);
            SetTextColor(dc, RGB(0, 0, 0));
            RECT box = area;
            InflateRect(&box, -8, -8);
            RECT measured = box;
            constexpr UINT format = DT_CENTER | DT_WORDBREAK | DT_NOPREFIX;
            DrawTextW(dc, text.c_str(), -1, &measured, format | DT_CALCRECT);
            const int textHeight = measured.bottom - measured.top;
            box.top += std::max<LONG>(0, (box.bottom - box.top - textHeight) / 2);
            DrawTextW(dc, text.c_str(), -1, &box, format);
            SelectObject(dc, old);
            EndPaint(hwnd, &paint);
            return 0;
        }
        default:
            return DefWindowProcW(hwnd, message, wParam, lParam);
    }
}

}  // namespace

LRESULT CALLBACK Win32Window::WndProc(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam) {
    if (message == WM_NCCREATE) {
        auto* created =
            static_cast<Win32Window*>(reinterpret_cast<CREATESTRUCTW*>(lParam)->lpCreateParams);
        created->hwnd_ = hwnd;
        SetWindowLongPtrW(hwnd, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(created));
    }
    auto* self = reinterpret_cast<Win32Window*>(GetWindowLongPtrW(hwnd, GWLP_USERDATA));
    if (self == nullptr) {
        return DefWindowProcW(hwnd, message, wParam, lParam);
    }
    if (message == WM_NCDESTROY) {
        SetWindowLongPtrW(hwnd, GWLP_USERDATA, 0);
        self->hwnd_ = nullptr;
        return DefWindowProcW(hwnd, message, wParam, lParam);
    }
    return self->HandleMessage(message, wParam, lParam);
}

// Frames hold their controls: what those tell their parent goes on to the window.
LRESULT CALLBACK Win32Window::FrameProc(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam,
                                        UINT_PTR id, DWORD_PTR self) {
    auto* window = reinterpret_cast<Win32Window*>(self);
    switch (message) {
        case WM_COMMAND:
        case WM_NOTIFY:
        case WM_DRAWITEM:
        case WM_CTLCOLORSTATIC:
        case WM_CTLCOLORBTN:
            return window->hwnd_ != nullptr ? Send(window->hwnd_, message, wParam, lParam) : 0;
        case WM_ERASEBKGND: {
            RECT area{};
            GetClientRect(hwnd, &area);
            FillRect(reinterpret_cast<HDC>(wParam), &area, GetSysColorBrush(COLOR_BTNFACE));
            return 1;
        }
        case WM_NCHITTEST:
            return HTCLIENT;  // a group box is otherwise transparent to the mouse
        case WM_NCDESTROY:
            RemoveWindowSubclass(hwnd, FrameProc, id);
            break;
        default:
            break;
    }
    return DefSubclassProc(hwnd, message, wParam, lParam);
}

namespace {

void RegisterClasses(HINSTANCE instance, WNDPROC mainProc) {
    WNDCLASSEXW found{};
    found.cbSize = sizeof(found);
    if (!GetClassInfoExW(instance, Win32Window::kClassName, &found)) {
        WNDCLASSEXW wc{};
        wc.cbSize = sizeof(wc);
        wc.lpfnWndProc = mainProc;
        wc.hInstance = instance;
        wc.hCursor = LoadCursorW(nullptr, IDC_ARROW);
        wc.hbrBackground = reinterpret_cast<HBRUSH>(COLOR_BTNFACE + 1);
        wc.lpszClassName = Win32Window::kClassName;
        RegisterClassExW(&wc);
    }
    if (!GetClassInfoExW(instance, Win32Window::kAlertClassName, &found)) {
        WNDCLASSEXW wc{};
        wc.cbSize = sizeof(wc);
        wc.lpfnWndProc = AlertProc;
        wc.hInstance = instance;
        wc.hCursor = LoadCursorW(nullptr, IDC_ARROW);
        wc.lpszClassName = Win32Window::kAlertClassName;
        RegisterClassExW(&wc);
    }
}

}  // namespace

Win32Window::Win32Window(HINSTANCE instance) : instance_(instance) {
    INITCOMMONCONTROLSEX init{sizeof(init), ICC_WIN95_CLASSES | ICC_STANDARD_CLASSES};
    InitCommonControlsEx(&init);
    RegisterClasses(instance_, WndProc);
    BuildMenus();
    // cppcheck-suppress ignoredReturnValue ; WM_NCCREATE keeps the handle in hwnd_
    CreateWindowExW(0, kClassName, L"Quorvel - Velmaris", kWindowStyle, CW_USEDEFAULT,
                    CW_USEDEFAULT, CW_USEDEFAULT, CW_USEDEFAULT, nullptr, menuBar_, instance_,
                    this);
    if (hwnd_ == nullptr) {
        throw std::runtime_error("the main window could not be created");
    }
    dpi_ = win32::DpiOf(hwnd_);
    BuildControls();
    LayOut();
}

Win32Window::~Win32Window() {
    // frmMain and the grids may be gone already: nothing reaches them from here on.
    destroying_ = true;
    events_ = nullptr;
    if (grid1_) {
        grid1_->Forget();
    }
    if (grid2_) {
        grid2_->Forget();
    }
    if (hwnd_ != nullptr) {
        DestroyWindow(hwnd_);
    }
    for (MenuEntry& menu : menus_) {
        if (menu.popup != nullptr && !menu.visible) {
            DestroyMenu(menu.popup);  // taken off its menu, so no longer destroyed with it
        }
    }
    for (Entry& entry : controls_) {
        if (entry.icon != nullptr) {
            DestroyIcon(entry.icon);
        }
    }
    for (HICON icon : {bigIcon_, smallIcon_}) {
        if (icon != nullptr) {
            DestroyIcon(icon);
        }
    }
    for (HFONT font : {guiFont_, pictureFont_, alertFont_}) {
        if (font != nullptr) {
            DeleteObject(font);
        }
    }
    if (busy_) {
        SetCursor(LoadCursorW(nullptr, IDC_ARROW));
    }
}

void Win32Window::BuildMenus() {
    menuBar_ = CreateMenu();
    const auto popup = [this](Menu menu, const wchar_t* caption) {
        MenuEntry& entry = menus_[static_cast<size_t>(menu)];
        entry.popup = CreatePopupMenu();
        entry.caption = caption;
        AppendMenuW(menuBar_, MF_POPUP | MF_STRING, reinterpret_cast<UINT_PTR>(entry.popup),
                    caption);
    };
    const auto item = [this](Menu parent, Menu menu, UINT flags, const wchar_t* caption) {
        MenuEntry& entry = menus_[static_cast<size_t>(menu)];
        entry.parent = parent;
        entry.flags = flags;
        entry.caption = caption;
        AppendMenuW(menus_[static_cast<size_t>(parent)].popup, flags,
                    static_cast<UINT_PTR>(MenuId(menu)), flags == MF_SEPARATOR ? nullptr : caption);
    };
    popup(Menu::mnuFile, L"File");
    item(Menu::mnuFile, Menu::mnuExit, MF_STRING, L"Exit");
    item(Menu::mnuFile, Menu::mnub1, MF_SEPARATOR, L"");
    item(Menu::mnuFile, Menu::mnuAbout, MF_STRING, L"About");
    popup(Menu::mnuNew, L"New Menu");
    item(Menu::mnuNew, Menu::mnuSetTarget, MF_STRING, L"Set Target for this drive...");
    item(Menu::mnuNew, Menu::mnuCFN, MF_STRING, L"Change File Name");
}

void Win32Window::BuildControls() {
    static constexpr std::optional<Control> kWin = std::nullopt;
    static constexpr Design kDesign[] = {
        {Control::Frame1, Kind::Frame, kWin, Twips(120, 120, 5055, 3195), L"Source Drives", 0},
        {Control::iGrid1, Kind::Grid, Control::Frame1, Twips(120, 300, 4755, 2475), nullptr, 0},
        {Control::Label1, Kind::Label, Control::Frame1, Twips(120, 2880, 1410, 195),
         L"Double Click to Add", 0},
        {Control::Frame3, Kind::Frame, kWin, Twips(5220, 120, 3675, 1335), L"Target", 0},
        {Control::Command1, Kind::PictureButton, Control::Frame3, Twips(240, 300, 1395, 555),
         L"Set Target", VELMARIS_IDI_SET_TARGET},
        {Control::Command2, Kind::PictureButton, Control::Frame3, Twips(1920, 300, 1395, 555),
         L"Run", VELMARIS_IDI_RUN},
        {Control::Label2, Kind::Label, Control::Frame3, Twips(240, 900, 3255, 315), L"Label2", 0},
        {Control::Frame2, Kind::Frame, kWin, Twips(5220, 1440, 3795, 1875), L"Details", 0},
        {Control::ProgBarXP1, Kind::Progress, Control::Frame2, Twips(60, 300, 3615, 255), nullptr,
         0},
        {Control::Label4, Kind::RightLabel, Control::Frame2, Twips(750, 660, 555, 195), L"Current:",
         0},
        {Control::Label5, Kind::Label, Control::Frame2, Twips(1500, 660, 90, 195), L"0", 0},
        {Control::Label8, Kind::RightLabel, Control::Frame2, Twips(270, 960, 1035, 195),
         L"Speed (Mb/M)", 0},
        {Control::Label9, Kind::Label, Control::Frame2, Twips(1500, 975, 90, 195), L"0", 0},
        {Control::Label13, Kind::RightLabel, Control::Frame2, Twips(345, 1275, 960, 195),
         L"Time Elapsed", 0},
        {Control::Label12, Kind::Label, Control::Frame2, Twips(1500, 1275, 540, 195), L"0:00:00",
         0},
        {Control::Label6, Kind::RightLabel, Control::Frame2, Twips(120, 1575, 1185, 195),
         L"Time Remaining:", 0},
        {Control::Label7, Kind::Label, Control::Frame2, Twips(1500, 1575, 540, 195), L"0:00:00", 0},
        {Control::Frame4, Kind::Frame, kWin, Twips(120, 3420, 8895, 2955), L"Selected Drives", 0},
        // The grid gives up a row's height for Check2: beside Label3's hint, which grows to the
        // left half of the row, neither box would fit.
        {Control::iGrid2, Kind::Grid, Control::Frame4, Twips(180, 240, 8535, 2055), nullptr, 0},
        {Control::Label3, Kind::Label, Control::Frame4, Twips(180, 2580, 480, 195), L"Label3", 0},
        // Above Check1 and created before it, so that tabbing goes top to bottom.
        {Control::Check2, Kind::CheckBox, Control::Frame4, Twips(5760, 2340, 2955, 255),
         L"Verify images after imaging", 0},
        {Control::Check1, Kind::CheckBox, Control::Frame4, Twips(5760, 2640, 2955, 255),
         L"Turn off computer on completion", 0},
        {Control::XPButton1, Kind::PictureButton, kWin, Twips(7620, 6480, 1395, 555), L"Stop",
         VELMARIS_IDI_STOP},
        {Control::Command6, Kind::Button, kWin, Twips(3480, 6540, 1755, 435), L"Abort Shutdown", 0},
        {Control::Command3, Kind::Button, kWin, Twips(7140, 6540, 375, 315), L"Command3", 0},
        {Control::StatusBar1, Kind::Status, kWin, Twips(0, 7065, 9090, 255), nullptr, 0},
        {Control::Timer1, Kind::Timer, kWin, Twips(0, 0, 0, 0), nullptr, 0},
        {Control::AlertBox1, Kind::Alert, kWin, Twips(2340, 1680, 4935, 1410), nullptr, 0},
    };
    static_assert(std::size(kDesign) == std::tuple_size_v<decltype(controls_)>);

    for (const Design& design : kDesign) {
        Entry& entry = At(design.control);
        entry.design = &design;
        const HWND parent = design.container ? Hwnd(*design.container) : hwnd_;
        const auto id = reinterpret_cast<HMENU>(static_cast<INT_PTR>(ControlId(design.control)));
        const auto make = [&](const wchar_t* cls, DWORD style, DWORD exStyle = 0) {
            return CreateWindowExW(exStyle, cls, design.caption, WS_CHILD | WS_CLIPSIBLINGS | style,
                                   0, 0, 0, 0, parent, id, instance_, nullptr);
        };
        switch (design.kind) {
            case Kind::Frame:
                // A control parent, or Tab would never reach the controls the frame holds.
                entry.hwnd = make(WC_BUTTONW, WS_VISIBLE | WS_CLIPCHILDREN | BS_GROUPBOX,
                                  WS_EX_CONTROLPARENT);
                SetWindowSubclass(entry.hwnd, FrameProc, 1, reinterpret_cast<DWORD_PTR>(this));
                break;
            case Kind::Grid: {
                auto& grid = design.control == Control::iGrid1 ? grid1_ : grid2_;
                grid =
                    std::make_unique<Win32GridWindow>(parent, ControlId(design.control), instance_);
                entry.hwnd = grid->Handle();
                break;
            }
            case Kind::Label:
            case Kind::RightLabel: {
                const bool timeLabel =
                    design.control == Control::Label12 || design.control == Control::Label7;
                entry.hwnd = make(WC_STATICW, WS_VISIBLE | SS_NOPREFIX |
                                                  (design.kind == Kind::RightLabel ? SS_RIGHT : 0) |
                                                  (timeLabel ? SS_NOTIFY : 0));
                break;
            }
            case Kind::PictureButton:
                entry.hwnd =
                    make(WC_BUTTONW, WS_VISIBLE | WS_TABSTOP | BS_OWNERDRAW |
                                         (design.control == Control::XPButton1 ? WS_DISABLED : 0));
                break;
            case Kind::Button:
                entry.hwnd = make(WC_BUTTONW, WS_TABSTOP | BS_PUSHBUTTON);  // both start hidden
                break;
            case Kind::CheckBox:
                entry.hwnd = make(WC_BUTTONW, WS_VISIBLE | WS_TABSTOP | BS_AUTOCHECKBOX);
                break;
            case Kind::Progress:
                entry.hwnd = make(PROGRESS_CLASSW, 0);
                break;
            case Kind::Status: {
                entry.hwnd = make(STATUSCLASSNAMEW,
                                  WS_VISIBLE | CCS_NORESIZE | CCS_NOPARENTALIGN | CCS_NODIVIDER);
                int whole = -1;
                Send(entry.hwnd, SB_SETPARTS, 1, reinterpret_cast<LPARAM>(&whole));
                break;
            }
            case Kind::Alert:
                entry.hwnd = make(kAlertClassName, 0);
                break;
            case Kind::Timer:
                break;
        }
    }

    labelTips_ = CreateWindowExW(0, TOOLTIPS_CLASSW, nullptr, TTS_ALWAYSTIP, 0, 0, 0, 0, hwnd_,
                                 nullptr, instance_, nullptr);
    for (const Control label : {Control::Label12, Control::Label7}) {
        TOOLINFOW tool{};
        tool.cbSize = sizeof(tool);
        tool.uFlags = TTF_IDISHWND | TTF_SUBCLASS;
        tool.hwnd = GetParent(Hwnd(label));
        tool.uId = reinterpret_cast<UINT_PTR>(Hwnd(label));
        std::wstring tip = kTimeTip;
        tool.lpszText = tip.data();
        Send(labelTips_, TTM_ADDTOOLW, 0, reinterpret_cast<LPARAM>(&tool));
    }
}

void Win32Window::MakeFonts() {
    const HFONT gui = win32::MakeGuiFont(dpi_);
    const HFONT picture = win32::MakeFont(L"MS Sans Serif", 825, dpi_);
    const HFONT alert = win32::MakeFont(L"Courier New", 975, dpi_);
    for (Entry& entry : controls_) {
        if (entry.hwnd == nullptr) {
            continue;
        }
        HFONT font = gui;
        if (entry.design->kind == Kind::PictureButton || entry.design->kind == Kind::Progress) {
            font = picture;
        } else if (entry.design->kind == Kind::Alert) {
            font = alert;
        }
        Send(entry.hwnd, WM_SETFONT, reinterpret_cast<WPARAM>(font), TRUE);
    }
    for (HFONT old : {guiFont_, pictureFont_, alertFont_}) {
        if (old != nullptr) {
            DeleteObject(old);
        }
    }
    guiFont_ = gui;
    pictureFont_ = picture;
    alertFont_ = alert;
}

void Win32Window::LoadIcons() {
    const auto load = [this](int id, int size) {
        return static_cast<HICON>(
            LoadImageW(instance_, MAKEINTRESOURCEW(id), IMAGE_ICON, size, size, 0));
    };
    for (Entry& entry : controls_) {
        if (entry.design != nullptr && entry.design->icon != 0) {
            if (entry.icon != nullptr) {
                DestroyIcon(entry.icon);
            }
            entry.icon = load(entry.design->icon, Scale(kPictureIconSize, dpi_));
        }
    }
    const HICON big = load(VELMARIS_IDI_MAIN, Scale(32, dpi_));
    const HICON small = load(VELMARIS_IDI_MAIN, Scale(16, dpi_));
    Send(hwnd_, WM_SETICON, ICON_BIG, reinterpret_cast<LPARAM>(big));
    Send(hwnd_, WM_SETICON, ICON_SMALL, reinterpret_cast<LPARAM>(small));
    for (HICON old : {bigIcon_, smallIcon_}) {
        if (old != nullptr) {
            DestroyIcon(old);
        }
    }
    bigIcon_ = big;
    smallIcon_ = small;
}

RECT Win32Window::Place(const Design& design) const {
    return {FromTwips(design.twips.left, dpi_), FromTwips(design.twips.top, dpi_),
            FromTwips(design.twips.right, dpi_), FromTwips(design.twips.bottom, dpi_)};
}

void Win32Window::LayOut() {
    MakeFonts();
    LoadIcons();
    for (const Entry& entry : controls_) {
        if (entry.hwnd == nullptr) {
            continue;
        }
        const RECT place = Place(*entry.design);
        SetWindowPos(entry.hwnd, nullptr, place.left, place.top, place.right - place.left,
                     place.bottom - place.top, SWP_NOZORDER | SWP_NOACTIVATE);
        if (entry.design->kind == Kind::Label || entry.design->kind == Kind::RightLabel ||
            entry.design->kind == Kind::CheckBox) {
            FitToText(entry.design->control);
        }
    }
    grid1_->SetDpi(dpi_);
    grid2_->SetDpi(dpi_);

    // The client area as designed, whatever the frame and menu bar take.
    const int width = FromTwips(kClientWidth, dpi_);
    const int height = FromTwips(kClientHeight, dpi_);
    RECT outer{0, 0, width, height};
    AdjustWindowRectEx(&outer, kWindowStyle, TRUE, 0);
    SetWindowPos(hwnd_, nullptr, 0, 0, outer.right - outer.left, outer.bottom - outer.top,
                 SWP_NOMOVE | SWP_NOZORDER | SWP_NOACTIVATE);
    RECT client{};
    GetClientRect(hwnd_, &client);
    SetWindowPos(hwnd_, nullptr, 0, 0, outer.right - outer.left + width - client.right,
                 outer.bottom - outer.top + height - client.bottom,
                 SWP_NOMOVE | SWP_NOZORDER | SWP_NOACTIVATE);
}

void Win32Window::FitToText(Control control) {
    const Entry& entry = At(control);
    const RECT designed = Place(*entry.design);
    const bool check = entry.design->kind == Kind::CheckBox;
    const HDC dc = GetDC(entry.hwnd);
    const HGDIOBJ old = SelectObject(dc, guiFont_);
    // Check boxes designed in one column all take the width of its widest caption, so that
    // their boxes stay lined up when they grow.
    LONG textWidth = 0;
    for (const Entry& other : controls_) {
        if (&other == &entry ||
            (check && other.hwnd != nullptr && other.design->kind == Kind::CheckBox &&
             other.design->container == entry.design->container &&
             Place(*other.design).left == designed.left)) {
            const std::wstring text = win32::WindowText(other.hwnd);
            SIZE extent{};
            GetTextExtentPoint32W(dc, text.c_str(), static_cast<int>(text.size()), &extent);
            textWidth = std::max(textWidth, extent.cx);
        }
    }
    SelectObject(dc, old);
    ReleaseDC(entry.hwnd, dc);
    // Labels keep their designed size as a minimum and grow with their text, since the fonts
    // at hand may be wider than the design's. Right-aligned ones, and the check boxes at the
    // frame's right edge, grow to the left, but not past their container's edge.
    const int needed = textWidth + Scale(2, dpi_) +
                       (check ? GetSystemMetrics(SM_CXMENUCHECK) + Scale(6, dpi_) : 0);
    const int width = std::max<int>(designed.right - designed.left, needed);
    const bool leftward = check || entry.design->kind == Kind::RightLabel;
    const int left =
        leftward ? std::max<int>(designed.right - width, Scale(2, dpi_)) : designed.left;
    SetWindowPos(entry.hwnd, nullptr, left, designed.top, width, designed.bottom - designed.top,
                 SWP_NOZORDER | SWP_NOACTIVATE);
}

void Win32Window::DrawPictureButton(const DRAWITEMSTRUCT& item) const {
    const auto found = std::find_if(controls_.begin(), controls_.end(), [&](const Entry& entry) {
        return entry.hwnd == item.hwndItem;
    });
    const HICON icon = found != controls_.end() ? found->icon : nullptr;
    const HDC dc = item.hDC;
    RECT area = item.rcItem;
    const bool pushed = (item.itemState & ODS_SELECTED) != 0;
    const bool disabled = (item.itemState & ODS_DISABLED) != 0;
    DrawFrameControl(dc, &area, DFC_BUTTON, DFCS_BUTTONPUSH | (pushed ? DFCS_PUSHED : 0));

    const std::wstring text = win32::WindowText(item.hwndItem);
    const HGDIOBJ old = SelectObject(dc, pictureFont_);
    SIZE extent{};
    GetTextExtentPoint32W(dc, text.c_str(), static_cast<int>(text.size()), &extent);
    const int iconSize = icon != nullptr ? Scale(kPictureIconSize, dpi_) : 0;
    const int gap = icon != nullptr ? Scale(4, dpi_) : 0;
    const int shift = pushed ? 1 : 0;
    const int left = area.left + (area.right - area.left - iconSize - gap - extent.cx) / 2 + shift;
    const int middle = (area.top + area.bottom) / 2 + shift;
    if (icon != nullptr) {
        DrawStateW(dc, nullptr, nullptr, reinterpret_cast<LPARAM>(icon), 0, left,
                   middle - iconSize / 2, iconSize, iconSize,
                   DST_ICON | (disabled ? DSS_DISABLED : DSS_NORMAL));
    }
    SetBkMode(dc, TRANSPARENT);
    SetTextColor(dc, GetSysColor(disabled ? COLOR_GRAYTEXT : COLOR_BTNTEXT));
    RECT label{left + iconSize + gap, area.top + shift, area.right, area.bottom + shift};
    DrawTextW(dc, text.c_str(), -1, &label, DT_SINGLELINE | DT_VCENTER | DT_LEFT | DT_NOPREFIX);
    SelectObject(dc, old);
    if ((item.itemState & ODS_FOCUS) != 0 && (item.itemState & ODS_NOFOCUSRECT) == 0) {
        InflateRect(&area, -Scale(4, dpi_), -Scale(4, dpi_));
        DrawFocusRect(dc, &area);
    }
}

LRESULT Win32Window::HandleMessage(UINT message, WPARAM wParam, LPARAM lParam) {
    switch (message) {
        case WM_COMMAND:
            if (HIWORD(wParam) == BN_CLICKED) {  // also what a menu item sends
                OnCommand(LOWORD(wParam));
            }
            return 0;
        case WM_NOTIFY: {
            const auto& header = *reinterpret_cast<const NMHDR*>(lParam);
            for (const auto* grid : {grid1_.get(), grid2_.get()}) {
                if (grid != nullptr && header.hwndFrom == grid->Handle()) {
                    return const_cast<Win32GridWindow*>(grid)->OnNotify(header);
                }
            }
            break;
        }
        case WM_DRAWITEM: {
            const auto& item = *reinterpret_cast<const DRAWITEMSTRUCT*>(lParam);
            if (item.CtlType == ODT_BUTTON) {
                DrawPictureButton(item);
                return TRUE;
            }
            break;
        }
        case WM_TIMER:
            if (wParam == kTimer1Id && events_ != nullptr) {
                events_->Timer1_Timer();
            }
            return 0;
        case WM_SETCURSOR:
            if (busy_) {
                SetCursor(LoadCursorW(nullptr, IDC_WAIT));
                return TRUE;
            }
            break;
        case WM_SYSCOMMAND:
            if ((wParam & 0xFFF0) == SC_CLOSE && closeDisabled_) {
                return 0;
            }
            break;
        case WM_CLOSE:
            // The window menu may come back on its own: this is the real lock.
            if (!closeDisabled_) {
                DestroyWindow(hwnd_);
            }
            return 0;
        case WM_DESTROY:
            KillTimer(hwnd_, kTimer1Id);
            if (!destroying_) {
                PostQuitMessage(0);  // closed by the user: the program's loop ends
            }
            return 0;
        case WM_DPICHANGED: {
            dpi_ = LOWORD(wParam);
            LayOut();
            const auto& suggested = *reinterpret_cast<const RECT*>(lParam);
            SetWindowPos(hwnd_, nullptr, suggested.left, suggested.top, 0, 0,
                         SWP_NOSIZE | SWP_NOZORDER | SWP_NOACTIVATE);
            return 0;
        }
        default:
            break;
    }
    return DefWindowProcW(hwnd_, message, wParam, lParam);
}

void Win32Window::OnCommand(int id) {
    if (events_ == nullptr) {
        return;
    }
    if (id == ControlId(Control::Command1)) {
        events_->Command1_Click();
    } else if (id == ControlId(Control::Command2)) {
        events_->Command2_Click();
    } else if (id == ControlId(Control::XPButton1)) {
        events_->XPButton1_Click();
    } else if (id == ControlId(Control::Command3)) {
        events_->Command3_Click();
    } else if (id == ControlId(Control::Command6)) {
        events_->Command6_Click();
    } else if (id == MenuId(Menu::mnuExit)) {
        events_->mnuExit_Click();
    } else if (id == MenuId(Menu::mnuAbout)) {
        events_->mnuAbout_Click();
    } else if (id == MenuId(Menu::mnuSetTarget)) {
        events_->mnuSetTarget_Click();
    } else if (id == MenuId(Menu::mnuCFN)) {
        events_->mnuCFN_Click();
    }
}

void Win32Window::Bind(WindowEvents& events, grid::GridModel& iGrid1, grid::GridModel& iGrid2) {
    events_ = &events;
    grid1_->SetHandlers({[this](int row, int col) {
                             if (events_ != nullptr) {
                                 events_->iGrid1_DblClick(row, col);
                             }
                         },
                         [this](int button, int row) {
                             if (events_ != nullptr) {
                                 events_->iGrid1_MouseButton(button, row);
                             }
                         },
                         nullptr});
    grid2_->SetHandlers({[this](int row, int col) {
                             if (events_ != nullptr) {
                                 events_->iGrid2_DblClick(row, col);
                             }
                         },
                         [this](int button, int row) {
                             if (events_ != nullptr) {
                                 events_->iGrid2_MouseButton(button, row);
                             }
                         },
                         [this] {
                             if (events_ != nullptr) {
                                 events_->iGrid2_EditEnded();
                             }
                         }});
    grid1_->Bind(iGrid1);
    grid2_->Bind(iGrid2);
}

bool Win32Window::PreTranslate(MSG& msg) {
    return hwnd_ != nullptr && IsDialogMessageW(hwnd_, &msg) != 0;
}

void Win32Window::SetCaption(Control control, const std::string& text) {
    const Entry& entry = At(control);
    if (entry.hwnd == nullptr) {
        return;  // Timer1 has no caption
    }
    const std::wstring caption = win32::ShownText(text);
    switch (entry.design->kind) {
        case Kind::Status:
            Send(entry.hwnd, SB_SETTEXTW, 0, reinterpret_cast<LPARAM>(caption.c_str()));
            break;
        case Kind::Progress:
            break;  // a standard progress bar shows no text
        case Kind::Label:
        case Kind::RightLabel:
            SetWindowTextW(entry.hwnd, caption.c_str());
            FitToText(control);
            break;
        default:
            SetWindowTextW(entry.hwnd, caption.c_str());
            InvalidateRect(entry.hwnd, nullptr, TRUE);
            break;
    }
}

void Win32Window::SetEnabled(Control control, bool enabled) {
    if (control == Control::Timer1) {
        if (enabled) {
            SetTimer(hwnd_, kTimer1Id, kTimer1Interval, nullptr);
        } else {
            KillTimer(hwnd_, kTimer1Id);
        }
        return;
    }
    const HWND hwnd = Hwnd(control);
    EnableWindow(hwnd, enabled ? TRUE : FALSE);
    if (At(control).design->kind == Kind::Frame) {
        // A frame's controls look as unavailable as they are.
        for (const Entry& entry : controls_) {
            if (entry.design != nullptr && entry.design->container == control) {
                EnableWindow(entry.hwnd, enabled ? TRUE : FALSE);
            }
        }
    }
}

void Win32Window::SetVisible(Control control, bool visible) {
    const HWND hwnd = Hwnd(control);
    if (hwnd == nullptr) {
        return;  // Timer1 is never seen
    }
    if (visible && control == Control::AlertBox1) {
        // A notice lies over the controls.
        SetWindowPos(hwnd, HWND_TOP, 0, 0, 0, 0, SWP_NOMOVE | SWP_NOSIZE | SWP_NOACTIVATE);
    }
    ShowWindow(hwnd, visible ? SW_SHOWNA : SW_HIDE);
}

HMENU Win32Window::ParentMenu(Menu menu) const {
    const MenuEntry& entry = menus_[static_cast<size_t>(menu)];
    return entry.parent ? menus_[static_cast<size_t>(*entry.parent)].popup : menuBar_;
}

int Win32Window::MenuPosition(Menu menu) const {
    const MenuEntry& entry = menus_[static_cast<size_t>(menu)];
    int position = 0;
    for (size_t i = 0; i < static_cast<size_t>(menu); ++i) {
        if (menus_[i].parent == entry.parent && menus_[i].visible) {
            ++position;
        }
    }
    return position;
}

void Win32Window::SetMenuVisible(Menu menu, bool visible) {
    MenuEntry& entry = menus_[static_cast<size_t>(menu)];
    if (entry.visible == visible) {
        return;
    }
    const HMENU parent = ParentMenu(menu);
    const auto position = static_cast<UINT>(MenuPosition(menu));
    if (visible) {
        const UINT_PTR id = entry.popup != nullptr ? reinterpret_cast<UINT_PTR>(entry.popup)
                                                   : static_cast<UINT_PTR>(MenuId(menu));
        InsertMenuW(parent, position,
                    MF_BYPOSITION | entry.flags | (entry.popup != nullptr ? MF_POPUP : 0), id,
                    entry.flags == MF_SEPARATOR ? nullptr : entry.caption.c_str());
    } else {
        RemoveMenu(parent, position, MF_BYPOSITION);  // keeps a menu's items for its pop-up
    }
    entry.visible = visible;
    DrawMenuBar(hwnd_);
}

void Win32Window::SetMenuCaption(Menu menu, const std::string& text) {
    MenuEntry& entry = menus_[static_cast<size_t>(menu)];
    entry.caption = MenuText(text);
    if (entry.visible && entry.flags != MF_SEPARATOR) {
        MENUITEMINFOW info{};
        info.cbSize = sizeof(info);
        info.fMask = MIIM_STRING;
        info.dwTypeData = entry.caption.data();
        SetMenuItemInfoW(ParentMenu(menu), static_cast<UINT>(MenuPosition(menu)), TRUE, &info);
        DrawMenuBar(hwnd_);
    }
}

HMENU Win32Window::MenuHandle(Menu menu) const {
    return menus_[static_cast<size_t>(menu)].popup;
}

HWND Win32Window::Editor(Grid grid) const {
    return grid == Grid::iGrid1 ? grid1_->Editor() : grid2_->Editor();
}

bool Win32Window::IsChecked(Control control) {
    return Send(Hwnd(control), BM_GETCHECK) == BST_CHECKED;
}

void Win32Window::SetChecked(Control control, bool checked) {
    Send(Hwnd(control), BM_SETCHECK, checked ? BST_CHECKED : BST_UNCHECKED);
}

void Win32Window::SetProgressMax(int maximum) {
    Send(Hwnd(Control::ProgBarXP1), PBM_SETRANGE32, 0, maximum);
}

void Win32Window::SetProgressValue(int value) {
    Send(Hwnd(Control::ProgBarXP1), PBM_SETPOS, static_cast<WPARAM>(value));
}

void Win32Window::ShowModeless() {
    ShowWindow(hwnd_, SW_SHOW);
    UpdateWindow(hwnd_);
}

void Win32Window::PumpMessages() {
    MSG msg{};
    while (PeekMessageW(&msg, nullptr, 0, 0, PM_REMOVE)) {
        if (msg.message == WM_QUIT) {
            PostQuitMessage(static_cast<int>(msg.wParam));  // the program's loop ends on it
            break;
        }
        if (!PreTranslate(msg)) {
            TranslateMessage(&msg);
            DispatchMessageW(&msg);
        }
    }
}

void Win32Window::SetPointer(Pointer pointer) {
    busy_ = pointer == Pointer::Busy;
    SetCursor(LoadCursorW(nullptr, busy_ ? IDC_WAIT : IDC_ARROW));
}

void Win32Window::StartEdit(Grid grid, int row, int col) {
    GridOf(grid).StartEdit(row, col);
}

void Win32Window::CommitEdit(Grid grid) {
    GridOf(grid).CommitEdit();
}

void Win32Window::ShowPopupMenu(Menu menu) {
    const HMENU popup = MenuHandle(menu);
    if (popup == nullptr) {
        return;
    }
    POINT at{};
    GetCursorPos(&at);
    SetForegroundWindow(hwnd_);  // or the menu stays up when the user clicks elsewhere
    const auto command = static_cast<int>(
        TrackPopupMenuEx(popup, TPM_RETURNCMD | TPM_RIGHTBUTTON | TPM_LEFTALIGN | TPM_TOPALIGN,
                         at.x, at.y, hwnd_, nullptr));
    PostMessageW(hwnd_, WM_NULL, 0, 0);
    // Its item runs its event before this returns, like a click in the menu bar.
    if (command != 0) {
        Send(hwnd_, WM_COMMAND, MAKEWPARAM(command, 0), 0);
    }
}

void Win32Window::DisableClose(bool disable) {
    if (disable) {
        const HMENU system = GetSystemMenu(hwnd_, FALSE);
        const int count = GetMenuItemCount(system);
        RemoveMenu(system, static_cast<UINT>(count - 1), MF_BYPOSITION);
        RemoveMenu(system, static_cast<UINT>(count - 2), MF_BYPOSITION);
    } else {
        GetSystemMenu(hwnd_, TRUE);
    }
    DrawMenuBar(hwnd_);
    closeDisabled_ = disable;
}

void Win32Window::EndProgram() {
    ExitProcess(0);
}

void Win32Window::ShowAboutBox(const std::string& versionLine) {
    ShowWin32AboutBox(hwnd_, instance_, guiFont_, versionLine);
}

std::unique_ptr<TooltipWindow> Win32Window::CreateTooltipWindow() {
    return Win32TooltipWindow::Create(hwnd_, instance_);
}

WindowHandle Win32Window::HandleOf(Control control) {
    return reinterpret_cast<WindowHandle>(Hwnd(control));
}

WindowHandle Win32Window::ContainerOf(Control control) {
    const HWND hwnd = Hwnd(control);
    return hwnd != nullptr ? reinterpret_cast<WindowHandle>(GetParent(hwnd)) : 0;
}

Answer Win32Window::MessageBox(const std::string& prompt, const std::string& title,
                               unsigned style) {
    switch (::MessageBoxW(hwnd_, win32::ShownText(prompt).c_str(), win32::ShownText(title).c_str(),
                          style)) {
        case IDYES:
            return Answer::Yes;
        case IDNO:
            return Answer::No;
        default:
            return Answer::Ok;
    }
}

FolderChoice Win32Window::BrowseForFolder(const std::string& title) {
    const std::wstring text = win32::ShownText(title);
    BROWSEINFOW browse{};
    browse.hwndOwner = hwnd_;
    browse.lpszTitle = text.c_str();
    browse.ulFlags = BIF_RETURNONLYFSDIRS | BIF_NEWDIALOGSTYLE;
    const PIDLIST_ABSOLUTE chosen = SHBrowseForFolderW(&browse);
    if (chosen == nullptr) {
        return {};
    }
    // Room for a long path, which SHGetPathFromIDListW would refuse.
    std::vector<wchar_t> path(32768, L'\0');
    const BOOL converted =
        SHGetPathFromIDListEx(chosen, path.data(), static_cast<DWORD>(path.size()), GPFIDL_DEFAULT);
    CoTaskMemFree(chosen);
    if (!converted || path[0] == L'\0') {
        return {};
    }
    const std::wstring wide(path.data());
    std::string folder = Utf8(wide);
    const bool changed = Wide(folder) != wide;
    return {std::move(folder), changed};
}

}  // namespace velmaris::platform
