#include "platform/windows/win32_tooltip_window.h"

#include <commctrl.h>

#include <array>
#include <string>

#include "platform/windows/utf8.h"
#include "platform/windows/win32_window_kit.h"

namespace velmaris::platform {

namespace {

// What TTM_GETTEXTW may write, whatever the buffer size it is told.
constexpr size_t kTextBufferChars = 1024;

HWND HandleOf(WindowHandle handle) {
    return reinterpret_cast<HWND>(handle);
}

WindowHandle HandleOf(HWND window) {
    return reinterpret_cast<WindowHandle>(window);
}

TOOLINFOW Record(const ToolInfo& tool) {
    TOOLINFOW record{};
    record.cbSize = sizeof(record);
    record.uFlags = tool.flags;
    record.hwnd = HandleOf(tool.owner);
    record.uId = tool.id;
    return record;
}

}  // namespace

std::unique_ptr<Win32TooltipWindow> Win32TooltipWindow::Create(HWND owner, HINSTANCE instance) {
    INITCOMMONCONTROLSEX init{sizeof(init), ICC_WIN95_CLASSES};
    InitCommonControlsEx(&init);
    const HWND tip = CreateWindowExW(0, TOOLTIPS_CLASSW, nullptr, TTS_ALWAYSTIP, 0, 0, 0, 0, owner,
                                     nullptr, instance, nullptr);
    if (tip == nullptr) {
        return nullptr;
    }
    return std::unique_ptr<Win32TooltipWindow>(new Win32TooltipWindow(tip));
}

Win32TooltipWindow::~Win32TooltipWindow() {
    // The owner's end takes its tooltip window with it.
    if (IsWindow(tip_)) {
        DestroyWindow(tip_);
    }
}

LRESULT Win32TooltipWindow::Send(UINT message, WPARAM wParam, LPARAM lParam) const {
    return IsWindow(tip_) ? SendMessageW(tip_, message, wParam, lParam) : 0;
}

int Win32TooltipWindow::ToolCount() {
    return static_cast<int>(Send(TTM_GETTOOLCOUNT));
}

std::optional<ToolInfo> Win32TooltipWindow::EnumTool(int index) {
    TOOLINFOW record{};
    record.cbSize = sizeof(record);
    if (index < 0 ||
        Send(TTM_ENUMTOOLSW, static_cast<WPARAM>(index), reinterpret_cast<LPARAM>(&record)) == 0) {
        return std::nullopt;
    }
    ToolInfo tool;
    tool.flags = record.uFlags;
    tool.owner = HandleOf(record.hwnd);
    tool.id = record.uId;
    std::array<wchar_t, kTextBufferChars> text{};
    record.lpszText = text.data();
    Send(TTM_GETTEXTW, text.size(), reinterpret_cast<LPARAM>(&record));
    text.back() = L'\0';
    if (text[0] != L'\0') {
        tool.text = Utf8(text.data());
    }
    return tool;
}

bool Win32TooltipWindow::AddTool(const ToolInfo& tool) {
    if ((tool.flags & TTF_IDISHWND) != 0 && !IsWindow(HandleOf(tool.id))) {
        return false;  // a handle that names no window could never show its tip
    }
    TOOLINFOW record = Record(tool);
    std::wstring text = tool.text ? win32::ShownText(*tool.text) : std::wstring();
    record.lpszText = tool.text ? text.data() : nullptr;
    return Send(TTM_ADDTOOLW, 0, reinterpret_cast<LPARAM>(&record)) != 0;
}

void Win32TooltipWindow::DelTool(const ToolInfo& tool) {
    TOOLINFOW record = Record(tool);
    Send(TTM_DELTOOLW, 0, reinterpret_cast<LPARAM>(&record));
}

void Win32TooltipWindow::UpdateTipText(const ToolInfo& tool) {
    TOOLINFOW record = Record(tool);
    std::wstring text = tool.text ? win32::ShownText(*tool.text) : std::wstring();
    record.lpszText = text.data();
    Send(TTM_UPDATETIPTEXTW, 0, reinterpret_cast<LPARAM>(&record));
}

std::uint32_t Win32TooltipWindow::BackColor() {
    return static_cast<std::uint32_t>(Send(TTM_GETTIPBKCOLOR));
}

void Win32TooltipWindow::SetBackColor(std::uint32_t color) {
    Send(TTM_SETTIPBKCOLOR, color);
}

std::uint32_t Win32TooltipWindow::TextColor() {
    return static_cast<std::uint32_t>(Send(TTM_GETTIPTEXTCOLOR));
}

void Win32TooltipWindow::SetTextColor(std::uint32_t color) {
    Send(TTM_SETTIPTEXTCOLOR, color);
}

int Win32TooltipWindow::DelayTime(TipDelay type) {
    return static_cast<int>(Send(TTM_GETDELAYTIME, static_cast<WPARAM>(type)));
}

void Win32TooltipWindow::SetDelayTime(TipDelay type, int milliseconds) {
    Send(TTM_SETDELAYTIME, static_cast<WPARAM>(type), milliseconds);
}

TipMargins Win32TooltipWindow::Margin() {
    RECT margin{};
    Send(TTM_GETMARGIN, 0, reinterpret_cast<LPARAM>(&margin));
    return {margin.left, margin.top, margin.right, margin.bottom};
}

void Win32TooltipWindow::SetMargin(const TipMargins& margins) {
    RECT margin{margins.left, margins.top, margins.right, margins.bottom};
    Send(TTM_SETMARGIN, 0, reinterpret_cast<LPARAM>(&margin));
}

std::int32_t Win32TooltipWindow::MaxTipWidth() {
    return static_cast<std::int32_t>(Send(TTM_GETMAXTIPWIDTH));
}

void Win32TooltipWindow::SetMaxTipWidth(std::int32_t pixels) {
    Send(TTM_SETMAXTIPWIDTH, 0, pixels);
}

}  // namespace velmaris::platform
