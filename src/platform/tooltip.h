// The platform's tooltip window: tools registered by window handle, with tip texts.
#pragma once

#include <cstdint>
#include <optional>
#include <string>

namespace velmaris::platform {

using WindowHandle = std::uintptr_t;  // 0 is no window

// Flags of a tool: its id is the control's handle, and the tooltip watches the control itself.
inline constexpr unsigned kToolIdIsHandle = 0x01;
inline constexpr unsigned kToolSubclass = 0x10;

struct ToolInfo {
    unsigned flags = 0;
    WindowHandle owner = 0;           // the window that contains the control
    WindowHandle id = 0;              // the control's handle
    std::optional<std::string> text;  // nullopt: the tool has no text
};

struct TipMargins {
    int left = 0;
    int top = 0;
    int right = 0;
    int bottom = 0;
};

// Delay types of a tooltip: automatic, reshow, auto-pop (how long a tip stays), initial.
enum class TipDelay : unsigned { Automatic = 0, Reshow = 1, AutoPop = 2, Initial = 3 };

class TooltipWindow {
  public:
    virtual ~TooltipWindow() = default;
    // The tooltip window's own handle, in the same terms as the handles of controls.
    virtual WindowHandle Handle() const = 0;
    virtual int ToolCount() = 0;
    // The tool at index (from 0), or nullopt past the end.
    virtual std::optional<ToolInfo> EnumTool(int index) = 0;
    virtual bool AddTool(const ToolInfo& tool) = 0;
    virtual void DelTool(const ToolInfo& tool) = 0;
    virtual void UpdateTipText(const ToolInfo& tool) = 0;
    virtual std::uint32_t BackColor() = 0;  // red in the low byte
    virtual void SetBackColor(std::uint32_t color) = 0;
    virtual std::uint32_t TextColor() = 0;
    virtual void SetTextColor(std::uint32_t color) = 0;
    virtual int DelayTime(TipDelay type) = 0;
    virtual void SetDelayTime(TipDelay type, int milliseconds) = 0;
    virtual TipMargins Margin() = 0;
    virtual void SetMargin(const TipMargins& margins) = 0;
    // The raw answer: -1 (no limit) may come back as 0xFFFF or 0xFFFFFFFF.
    virtual std::int32_t MaxTipWidth() = 0;
    virtual void SetMaxTipWidth(std::int32_t pixels) = 0;
};

}  // namespace velmaris::platform
