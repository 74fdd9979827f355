#include "platform/windows/win32_about_box.h"

#include "platform/windows/win32_resources.h"
#include "platform/windows/win32_window_kit.h"

namespace velmaris::platform {

namespace {

constexpr int kBannerWidth = 400;
constexpr int kBannerHeight = 86;

// Lives on ShowWin32AboutBox's stack for the time of its loop.
struct AboutState {
    HWND main = nullptr;
    bool done = false;
};

// Hides the box and brings the main window back, which ends the box's loop.
void Close(HWND about, AboutState& state) {
    EnableWindow(state.main, TRUE);  // first, or the system activates another program
    ShowWindow(about, SW_HIDE);
    ShowWindow(state.main, SW_SHOW);
    SetForegroundWindow(state.main);
    state.done = true;
}

LRESULT CALLBACK AboutProc(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam) {
    if (message == WM_NCCREATE) {
        const auto* create = reinterpret_cast<const CREATESTRUCTW*>(lParam);
        SetWindowLongPtrW(hwnd, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(create->lpCreateParams));
    }
    auto* state = reinterpret_cast<AboutState*>(GetWindowLongPtrW(hwnd, GWLP_USERDATA));
    switch (message) {
        case WM_COMMAND:
            if (LOWORD(wParam) == about::kCommand1 || LOWORD(wParam) == IDCANCEL) {
                Close(hwnd, *state);
                return 0;
            }
            break;
        case WM_CLOSE:
            Close(hwnd, *state);
            return 0;
        default:
            break;
    }
    return DefWindowProcW(hwnd, message, wParam, lParam);
}

void Register(HINSTANCE instance) {
    WNDCLASSEXW found{};
    found.cbSize = sizeof(found);
    if (GetClassInfoExW(instance, kAboutBoxClass, &found)) {
        return;
    }
    WNDCLASSEXW wc{};
    wc.cbSize = sizeof(wc);
    wc.lpfnWndProc = AboutProc;
    wc.hInstance = instance;
    wc.hCursor = LoadCursorW(nullptr, IDC_ARROW);
    wc.hbrBackground = reinterpret_cast<HBRUSH>(COLOR_BTNFACE + 1);
    wc.lpszClassName = kAboutBoxClass;
    RegisterClassExW(&wc);
}

HWND Child(HWND parent, const wchar_t* cls, const wchar_t* text, DWORD style, int id, RECT place,
           HFONT font) {
    const HWND child = CreateWindowExW(
        0, cls, text, WS_CHILD | WS_VISIBLE | style, place.left, place.top,
        place.right - place.left, place.bottom - place.top, parent,
        reinterpret_cast<HMENU>(static_cast<INT_PTR>(id)),
        reinterpret_cast<HINSTANCE>(GetWindowLongPtrW(parent, GWLP_HINSTANCE)), nullptr);
    SendMessageW(child, WM_SETFONT, reinterpret_cast<WPARAM>(font), FALSE);
    return child;
}

}  // namespace

void ShowWin32AboutBox(HWND mainWindow, HINSTANCE instance, HFONT font,
                       const std::string& versionLine) {
    Register(instance);
    const int dpi = win32::DpiOf(mainWindow);
    const auto s = [dpi](int pixels) { return win32::Scale(pixels, dpi); };
    const int margin = s(10);
    const int frameWidth = kBannerWidth + 2 * margin;
    const int bannerTop = margin + s(20);
    const int labelTop = bannerTop + kBannerHeight + s(8);
    const int frameHeight = labelTop + s(16);  // from its top at margin to margin below the label
    const int buttonTop = margin + frameHeight + s(8);
    const RECT client{0, 0, frameWidth + 2 * margin, buttonTop + s(23) + margin};

    constexpr DWORD style = WS_POPUP | WS_CAPTION | WS_SYSMENU | WS_CLIPCHILDREN;
    constexpr DWORD exStyle = WS_EX_DLGMODALFRAME;
    RECT outer = client;
    AdjustWindowRectEx(&outer, style, FALSE, exStyle);
    RECT mainPlace{};
    GetWindowRect(mainWindow, &mainPlace);
    const int width = outer.right - outer.left;
    const int height = outer.bottom - outer.top;
    const int left = mainPlace.left + (mainPlace.right - mainPlace.left - width) / 2;
    const int top = mainPlace.top + (mainPlace.bottom - mainPlace.top - height) / 2;

    AboutState state{mainWindow, false};
    const HWND box = CreateWindowExW(exStyle, kAboutBoxClass, L"About", style, left, top, width,
                                     height, mainWindow, nullptr, instance, &state);
    if (box == nullptr) {
        return;
    }
    // The main window's icon is the box's own.
    for (const int kind : {ICON_BIG, ICON_SMALL}) {
        const auto which = static_cast<WPARAM>(kind);
        SendMessageW(box, WM_SETICON, which, SendMessageW(mainWindow, WM_GETICON, which, 0));
    }
    Child(box, L"BUTTON", L"About Velmaris", BS_GROUPBOX, about::kFrame1,
          {margin, margin, margin + frameWidth, margin + frameHeight}, font);
    const auto banner = static_cast<HBITMAP>(
        LoadImageW(instance, MAKEINTRESOURCEW(VELMARIS_IDB_ABOUT_BANNER), IMAGE_BITMAP, 0, 0, 0));
    const HWND image =
        Child(box, L"STATIC", nullptr, SS_BITMAP, about::kImage1,
              {2 * margin, bannerTop, 2 * margin + kBannerWidth, bannerTop + kBannerHeight}, font);
    SendMessageW(image, STM_SETIMAGE, IMAGE_BITMAP, reinterpret_cast<LPARAM>(banner));
    Child(box, L"STATIC", win32::ShownText(versionLine).c_str(), SS_LEFT | SS_NOPREFIX,
          about::kLabel2, {2 * margin, labelTop, 2 * margin + kBannerWidth, labelTop + s(16)},
          font);
    const int buttonLeft = margin + frameWidth - s(75);
    Child(box, L"BUTTON", L"OK", BS_DEFPUSHBUTTON | WS_TABSTOP, about::kCommand1,
          {buttonLeft, buttonTop, buttonLeft + s(75), buttonTop + s(23)}, font);

    // Modal: the main window takes no input while the box is up.
    EnableWindow(mainWindow, FALSE);
    ShowWindow(box, SW_SHOW);
    SetFocus(GetDlgItem(box, about::kCommand1));
    MSG msg{};
    while (!state.done) {
        const BOOL got = GetMessageW(&msg, nullptr, 0, 0);
        if (got == 0) {
            PostQuitMessage(static_cast<int>(msg.wParam));  // for the loop that owns the quit
            break;
        }
        if (got < 0) {
            break;
        }
        if (!IsDialogMessageW(box, &msg)) {
            TranslateMessage(&msg);
            DispatchMessageW(&msg);
        }
    }
    if (!state.done) {
        EnableWindow(mainWindow, TRUE);
    }
    DestroyWindow(box);
    if (banner != nullptr) {
        DeleteObject(banner);
    }
}

}  // namespace velmaris::platform
