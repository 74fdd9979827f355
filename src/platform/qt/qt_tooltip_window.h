// The tooltip window of the Qt build: a tip window of its own, owned by the main window; tools
// are widgets found by their handles, and a tool's text shows in the tip over that widget.
#pragma once

#include <QLabel>
#include <QObject>
#include <QPointer>
#include <QTimer>
#include <QWidget>

#include <functional>
#include <vector>

#include "platform/tooltip.h"

namespace velmaris::platform {

class QtTooltipWindow : public QObject, public TooltipWindow {
  public:
    // widgetOf maps a handle to one of the window's widgets, or nullptr. The tip window goes
    // with its owner.
    QtTooltipWindow(QWidget* owner, std::function<QWidget*(WindowHandle)> widgetOf);
    ~QtTooltipWindow() override;

    // The tip window's widget, as the window's controls are known by theirs; 0 once gone.
    WindowHandle Handle() const override;

    int ToolCount() override;
    std::optional<ToolInfo> EnumTool(int index) override;
    bool AddTool(const ToolInfo& tool) override;
    void DelTool(const ToolInfo& tool) override;
    void UpdateTipText(const ToolInfo& tool) override;
    std::uint32_t BackColor() override { return backColor_; }
    void SetBackColor(std::uint32_t color) override { backColor_ = color; }
    std::uint32_t TextColor() override { return textColor_; }
    void SetTextColor(std::uint32_t color) override { textColor_ = color; }
    int DelayTime(TipDelay type) override;
    void SetDelayTime(TipDelay type, int milliseconds) override;
    TipMargins Margin() override { return margins_; }
    void SetMargin(const TipMargins& margins) override { margins_ = margins; }
    std::int32_t MaxTipWidth() override { return maxTipWidth_; }
    void SetMaxTipWidth(std::int32_t pixels) override { maxTipWidth_ = pixels; }

  protected:
    bool eventFilter(QObject* watched, QEvent* event) override;

  private:
    struct Tool {
        ToolInfo info;
        QPointer<QWidget> widget;
        QPointer<QWidget> viewport;  // where a scroll area's tooltips arrive
    };

    std::vector<Tool>::iterator Find(WindowHandle id);
    void Unwatch(const Tool& tool);
    void ShowTip(const Tool& tool, const QPoint& globalPos);
    void HideTip();

    QPointer<QLabel> tip_;
    QTimer autoPop_;
    std::function<QWidget*(WindowHandle)> widgetOf_;
    std::vector<Tool> tools_;
    std::uint32_t backColor_ = 0;
    std::uint32_t textColor_ = 0;
    int initialMs_ = 0;
    int reshowMs_ = 0;
    int autoPopMs_ = 0;
    TipMargins margins_;
    std::int32_t maxTipWidth_ = -1;
};

}  // namespace velmaris::platform
