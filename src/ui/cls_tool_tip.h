// A tooltip window of the main window's, with controls registered as its tools by handle.
#pragma once

#include <cstdint>
#include <memory>
#include <optional>
#include <string>

#include "platform/tooltip.h"
#include "platform/window.h"

namespace velmaris::ui {

class clsToolTip {
  public:
    explicit clsToolTip(platform::Window& frm) : frm_(frm) {}

    // Makes the tooltip window once; true when there is one.
    bool Create();
    // Registers a control once; false when it has a tool already or the window refuses it.
    bool AddTool(platform::Control ctrl, const std::string& strText = "");
    bool RemoveTool(platform::Control ctrl);

    std::uint32_t BackColor();
    void SetBackColor(std::uint32_t clr);
    int DelayTime(unsigned dwType);
    void SetDelayTime(unsigned dwType, int dwMilliSecs);
    std::uint32_t ForeColor();
    void SetForeColor(std::uint32_t clr);
    platform::WindowHandle hWnd() const { return TipWindow(); }
    // Margin by side: 0 left, 1 top, 2 right, 3 bottom; other types read 0 and write nothing.
    int Margin(unsigned dwType);
    void SetMargin(unsigned dwType, int cPixels);
    int MaxTipWidth();
    // Below 1 means no limit.
    void SetMaxTipWidth(int lngWidth);
    int ToolCount();
    platform::WindowHandle ToolTipHandle() const { return TipWindow(); }
    std::string ToolText(platform::Control ctrl);
    void SetToolText(platform::Control ctrl, const std::string& strText);

    // Always longer than every text given through this object; it never shrinks.
    std::int32_t TextBufferLength() const { return textBufferLength_; }

  private:
    platform::WindowHandle TipWindow() const { return tip_ ? tip_->Handle() : 0; }
    std::optional<platform::ToolInfo> FindTool(platform::WindowHandle id);
    void GrowTextBuffer(const std::optional<std::string>& text);

    platform::Window& frm_;
    std::unique_ptr<platform::TooltipWindow> tip_;
    std::int32_t textBufferLength_ = 0;
};

}  // namespace velmaris::ui
