#include <gtest/gtest.h>

#include "fake_window.h"
#include "ui/cls_tool_tip.h"

namespace velmaris::ui {
namespace {

using platform::Control;

TEST(ToolTip, ToolsOncePerControlAndSettingsAsTheWindowTakesThem) {
    fakes::FakeWindow window;
    clsToolTip tip(window);
    ASSERT_TRUE(tip.Create());
    EXPECT_TRUE(tip.Create());
    EXPECT_EQ(std::count(window.calls.begin(), window.calls.end(), "CreateTooltipWindow"), 1);

    EXPECT_TRUE(tip.AddTool(Control::iGrid1));
    EXPECT_FALSE(tip.AddTool(Control::iGrid1, "again"));
    // The text buffer grows to the longest text and never shrinks.
    tip.SetToolText(Control::iGrid1, std::string(30, 'x'));
    tip.SetToolText(Control::iGrid1, "short");
    EXPECT_EQ(tip.TextBufferLength(), 31);
    EXPECT_EQ(tip.ToolText(Control::iGrid1), "short");
    tip.SetToolText(Control::iGrid2, "no tool");
    EXPECT_EQ(tip.ToolText(Control::iGrid2), "");
    EXPECT_EQ(tip.ToolCount(), 1);
    EXPECT_FALSE(tip.RemoveTool(Control::iGrid2));
    EXPECT_TRUE(tip.RemoveTool(Control::iGrid1));
    EXPECT_EQ(tip.ToolCount(), 0);
    window.tooltip.refuseAdd = true;
    EXPECT_FALSE(tip.AddTool(Control::iGrid2));

    // A width below 1 is "no limit", which reads -1 whether answered in 16 or 32 bits.
    tip.SetMaxTipWidth(0);
    EXPECT_EQ(window.tooltip.maxTipWidth, -1);
    window.tooltip.maxTipWidth = 0xFFFF;
    EXPECT_EQ(tip.MaxTipWidth(), -1);
    tip.SetDelayTime(6, 700);  // type 6 AND 3 is auto-pop
    EXPECT_EQ(window.tooltip.delays[platform::TipDelay::AutoPop], 700);
    tip.SetMargin(2, 9);
    EXPECT_EQ(window.tooltip.margins.right, 9);
    // An unknown side reads 0, and its margins are written back unchanged.
    EXPECT_EQ(tip.Margin(7), 0);
    tip.SetMargin(7, 50);
    EXPECT_EQ(window.tooltip.margins.right, 9);
    EXPECT_EQ(window.tooltip.margins.left, 0);
    tip.SetBackColor(0x0000FF);
    tip.SetForeColor(0xFFFFFF);
    EXPECT_EQ(tip.BackColor(), 0x0000FFu);
    EXPECT_EQ(tip.ForeColor(), 0xFFFFFFu);
}

TEST(ToolTip, WithoutAWindowEveryMemberDoesNothingAndAWindowEndsWithItsObject) {
    fakes::FakeWindow window;
    window.canCreateTooltip = false;
    auto tip = std::make_unique<clsToolTip>(window);
    EXPECT_FALSE(tip->AddTool(Control::iGrid1, "text")) << "never created";
    EXPECT_FALSE(tip->Create());
    EXPECT_FALSE(tip->AddTool(Control::iGrid1, "text") || tip->RemoveTool(Control::iGrid1));
    tip->SetToolText(Control::iGrid1, "text");
    tip->SetMaxTipWidth(10);
    tip->SetMargin(0, 1);
    tip->SetDelayTime(3, 1);
    tip->SetBackColor(1);
    EXPECT_EQ((std::vector<std::int64_t>{tip->ToolCount(), tip->MaxTipWidth(), tip->DelayTime(2),
                                         tip->Margin(1), tip->BackColor(), tip->ForeColor(),
                                         tip->TextBufferLength()}),
              std::vector<std::int64_t>(7, 0));
    EXPECT_EQ(tip->hWnd(), 0u);
    EXPECT_EQ(tip->ToolText(Control::iGrid1), "");

    window.canCreateTooltip = true;
    ASSERT_TRUE(tip->Create());
    EXPECT_EQ(tip->hWnd(), window.tooltip.handle);
    EXPECT_EQ(tip->ToolTipHandle(), window.tooltip.handle);
    tip.reset();
    EXPECT_TRUE(window.tooltip.destroyed);
}

}  // namespace
}  // namespace velmaris::ui
