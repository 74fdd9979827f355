// The tooltip window of the Win32 build: a common-controls tooltip whose tools are controls
// registered by their window handles.
#pragma once

#include <windows.h>

#include <memory>

#include "platform/tooltip.h"

namespace velmaris::platform {

class Win32TooltipWindow final : public TooltipWindow {
  public:
    // Made by Create only: a tooltip window that could not be made is no object.
    static std::unique_ptr<Win32TooltipWindow> Create(HWND owner, HINSTANCE instance);
    Win32TooltipWindow(const Win32TooltipWindow&) = delete;
    Win32TooltipWindow& operator=(const Win32TooltipWindow&) = delete;
    ~Win32TooltipWindow() override;

    WindowHandle Handle() const override { return reinterpret_cast<WindowHandle>(tip_); }

    int ToolCount() override;
    std::optional<ToolInfo> EnumTool(int index) override;
    bool AddTool(const ToolInfo& tool) override;
    void DelTool(const ToolInfo& tool) override;
    void UpdateTipText(const ToolInfo& tool) override;
    std::uint32_t BackColor() override;
    void SetBackColor(std::uint32_t color) override;
    std::uint32_t TextColor() override;
    void SetTextColor(std::uint32_t color) override;
    int DelayTime(TipDelay type) override;
    void SetDelayTime(TipDelay type, int milliseconds) override;
    TipMargins Margin() override;
    void SetMargin(const TipMargins& margins) override;
    std::int32_t MaxTipWidth() override;
    void SetMaxTipWidth(std::int32_t pixels) override;

  private:
    explicit Win32TooltipWindow(HWND tip) : tip_(tip) {}
    LRESULT Send(UINT message, WPARAM wParam = 0, LPARAM lParam = 0) const;

    HWND tip_;
};

}  // namespace velmaris::platform
