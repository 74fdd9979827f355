#include "ui/cls_tool_tip.h"

#include <algorithm>
#include <limits>

namespace velmaris::ui {

namespace {

// The tool search index is a 16-bit signed number.
constexpr int kMaxSearchedTools = 32768;

platform::TipDelay DelayType(unsigned dwType) {
    return platform::TipDelay{dwType & 3u};
}

int* Side(platform::TipMargins& margins, unsigned dwType) {
    switch (dwType) {
        case 0:
            return &margins.left;
        case 1:
            return &margins.top;
        case 2:
            return &margins.right;
        case 3:
            return &margins.bottom;
        default:
            return nullptr;
    }
}

}  // namespace

bool clsToolTip::Create() {
    if (!tip_) {
        tip_ = frm_.CreateTooltipWindow();
    }
    return tip_ != nullptr;
}

bool clsToolTip::AddTool(platform::Control ctrl, const std::string& strText) {
    if (!tip_) {
        return false;
    }
    const platform::WindowHandle id = frm_.HandleOf(ctrl);
    if (id == 0 || FindTool(id)) {
        return false;
    }
    platform::ToolInfo tool;
    tool.flags = platform::kToolIdIsHandle | platform::kToolSubclass;
    tool.owner = frm_.ContainerOf(ctrl);
    tool.id = id;
    if (!strText.empty()) {
        tool.text = strText;
    }
    GrowTextBuffer(tool.text);
    return tip_->AddTool(tool);
}

bool clsToolTip::RemoveTool(platform::Control ctrl) {
    if (!tip_) {
        return false;
    }
    const std::optional<platform::ToolInfo> tool = FindTool(frm_.HandleOf(ctrl));
    if (!tool) {
        return false;
    }
    tip_->DelTool(*tool);
    return true;
}

std::uint32_t clsToolTip::BackColor() {
    return tip_ ? tip_->BackColor() : 0;
}

void clsToolTip::SetBackColor(std::uint32_t clr) {
    if (tip_) {
        tip_->SetBackColor(clr);
    }
}

int clsToolTip::DelayTime(unsigned dwType) {
    return tip_ ? tip_->DelayTime(DelayType(dwType)) : 0;
}

void clsToolTip::SetDelayTime(unsigned dwType, int dwMilliSecs) {
    if (tip_) {
        tip_->SetDelayTime(DelayType(dwType), dwMilliSecs);
    }
}

std::uint32_t clsToolTip::ForeColor() {
    return tip_ ? tip_->TextColor() : 0;
}

void clsToolTip::SetForeColor(std::uint32_t clr) {
    if (tip_) {
        tip_->SetTextColor(clr);
    }
}

int clsToolTip::Margin(unsigned dwType) {
    if (!tip_) {
        return 0;
    }
    platform::TipMargins margins = tip_->Margin();
    const int* side = Side(margins, dwType);
    return side ? *side : 0;
}

void clsToolTip::SetMargin(unsigned dwType, int cPixels) {
    if (!tip_) {
        return;
    }
    platform::TipMargins margins = tip_->Margin();
    if (int* side = Side(margins, dwType)) {
        *side = cPixels;
    }
    tip_->SetMargin(margins);
}

int clsToolTip::MaxTipWidth() {
    if (!tip_) {
        return 0;
    }
    // The low 16 bits, signed, so that "no limit" reads -1 however it is answered.
    const auto raw = static_cast<std::uint32_t>(tip_->MaxTipWidth());
    return static_cast<std::int16_t>(static_cast<std::uint16_t>(raw & 0xFFFFu));
}

void clsToolTip::SetMaxTipWidth(int lngWidth) {
    if (tip_) {
        tip_->SetMaxTipWidth(lngWidth < 1 ? -1 : lngWidth);
    }
}

int clsToolTip::ToolCount() {
    return tip_ ? tip_->ToolCount() : 0;
}

std::string clsToolTip::ToolText(platform::Control ctrl) {
    if (!tip_) {
        return {};
    }
    const std::optional<platform::ToolInfo> tool = FindTool(frm_.HandleOf(ctrl));
    if (!tool || !tool->text) {
        return {};
    }
    return tool->text->substr(0, tool->text->find('\0'));
}

void clsToolTip::SetToolText(platform::Control ctrl, const std::string& strText) {
    if (!tip_) {
        return;
    }
    std::optional<platform::ToolInfo> tool = FindTool(frm_.HandleOf(ctrl));
    if (!tool) {
        return;
    }
    tool->text = strText;
    GrowTextBuffer(tool->text);
    tip_->UpdateTipText(*tool);
}

std::optional<platform::ToolInfo> clsToolTip::FindTool(platform::WindowHandle id) {
    const int count = std::min(tip_->ToolCount(), kMaxSearchedTools);
    for (int index = 0; index < count; ++index) {
        std::optional<platform::ToolInfo> tool = tip_->EnumTool(index);
        if (tool && tool->id == id) {
            return tool;
        }
    }
    return std::nullopt;
}

void clsToolTip::GrowTextBuffer(const std::optional<std::string>& text) {
    // Counted in bytes of UTF-8, which is never less than in characters: every text fits.
    const size_t length = text ? text->size() : 0;
    const auto wanted = static_cast<std::int32_t>(
        std::min<size_t>(length + 1, std::numeric_limits<std::int32_t>::max()));
    textBufferLength_ = std::max(textBufferLength_, wanted);
}

}  // namespace velmaris::ui
