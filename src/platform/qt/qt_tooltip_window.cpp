#include "platform/qt/qt_tooltip_window.h"

#include <QAbstractScrollArea>
#include <QHelpEvent>
#include <QPalette>
#include <QToolTip>

#include <algorithm>
#include <utility>

namespace velmaris::platform {

namespace {

// The common controls' defaults, which follow from a 500 ms double-click time.
constexpr int kDefaultInitialMs = 500;
constexpr int kDefaultReshowMs = 100;
constexpr int kDefaultAutoPopMs = 5000;
// Where a tip shows from the pointer: below its arrow, as the system's tips do.
constexpr int kPointerOffsetX = 2;
constexpr int kPointerOffsetY = 16;

std::uint32_t Bgr(const QColor& color) {
    return static_cast<std::uint32_t>(color.red()) |
           static_cast<std::uint32_t>(color.green()) << 8 |
           static_cast<std::uint32_t>(color.blue()) << 16;
}

QColor FromBgr(std::uint32_t bgr) {
    return QColor(static_cast<int>(bgr & 0xFFu), static_cast<int>((bgr >> 8) & 0xFFu),
                  static_cast<int>((bgr >> 16) & 0xFFu));
}

}  // namespace

QtTooltipWindow::QtTooltipWindow(QWidget* owner, std::function<QWidget*(WindowHandle)> widgetOf)
    : tip_(new QLabel(owner, Qt::ToolTip)),
      widgetOf_(std::move(widgetOf)),
      backColor_(Bgr(QToolTip::palette().color(QPalette::ToolTipBase))),
      textColor_(Bgr(QToolTip::palette().color(QPalette::ToolTipText))),
      initialMs_(kDefaultInitialMs),
      reshowMs_(kDefaultReshowMs),
      autoPopMs_(kDefaultAutoPopMs) {
    tip_->setObjectName("ToolTipWindow");
    tip_->setTextFormat(Qt::PlainText);  // a drive's name is never markup
    tip_->setFrameStyle(QFrame::Box | QFrame::Plain);
    tip_->setAutoFillBackground(true);
    autoPop_.setSingleShot(true);
    connect(&autoPop_, &QTimer::timeout, this, [this] { HideTip(); });
}

QtTooltipWindow::~QtTooltipWindow() {
    for (const Tool& tool : tools_) {
        Unwatch(tool);
    }
    delete tip_.data();
}

WindowHandle QtTooltipWindow::Handle() const {
    return reinterpret_cast<WindowHandle>(tip_.data());
}

int QtTooltipWindow::ToolCount() {
    return static_cast<int>(tools_.size());
}

std::optional<ToolInfo> QtTooltipWindow::EnumTool(int index) {
    if (index < 0 || index >= ToolCount()) {
        return std::nullopt;
    }
    return tools_[static_cast<size_t>(index)].info;
}

bool QtTooltipWindow::AddTool(const ToolInfo& tool) {
    QWidget* widget = widgetOf_(tool.id);
    if (widget == nullptr) {
        return false;
    }
    Tool added{tool, widget, nullptr};
    widget->installEventFilter(this);
    if (auto* area = qobject_cast<QAbstractScrollArea*>(widget)) {
        added.viewport = area->viewport();
        added.viewport->installEventFilter(this);
    }
    tools_.push_back(std::move(added));
    return true;
}

void QtTooltipWindow::DelTool(const ToolInfo& tool) {
    const auto found = Find(tool.id);
    if (found == tools_.end()) {
        return;
    }
    const Tool removed = *found;
    tools_.erase(found);
    // Another tool may still watch the same widget.
    if (Find(tool.id) == tools_.end()) {
        Unwatch(removed);
    }
}

void QtTooltipWindow::UpdateTipText(const ToolInfo& tool) {
    const auto found = Find(tool.id);
    if (found != tools_.end()) {
        found->info.text = tool.text;
    }
}

int QtTooltipWindow::DelayTime(TipDelay type) {
    switch (type) {
        case TipDelay::Reshow:
            return reshowMs_;
        case TipDelay::AutoPop:
            return autoPopMs_;
        case TipDelay::Automatic:
        case TipDelay::Initial:
            break;
    }
    // The automatic time is answered with the initial one, as the common controls do.
    return initialMs_;
}

void QtTooltipWindow::SetDelayTime(TipDelay type, int milliseconds) {
    // A negative time restores the default; the automatic time sets the other three.
    const bool reset = milliseconds < 0;
    switch (type) {
        case TipDelay::Automatic:
            initialMs_ = reset ? kDefaultInitialMs : milliseconds;
            reshowMs_ = reset ? kDefaultReshowMs : milliseconds / 5;
            autoPopMs_ = reset ? kDefaultAutoPopMs : milliseconds * 10;
            break;
        case TipDelay::Reshow:
            reshowMs_ = reset ? kDefaultReshowMs : milliseconds;
            break;
        case TipDelay::AutoPop:
            autoPopMs_ = reset ? kDefaultAutoPopMs : milliseconds;
            break;
        case TipDelay::Initial:
            initialMs_ = reset ? kDefaultInitialMs : milliseconds;
            break;
    }
}

bool QtTooltipWindow::eventFilter(QObject* watched, QEvent* event) {
    switch (event->type()) {
        case QEvent::Leave:
        case QEvent::MouseButtonPress:
        case QEvent::Wheel:
            HideTip();
            return false;
        case QEvent::ToolTip:
            break;
        default:
            return false;
    }
    const auto tool = std::find_if(tools_.begin(), tools_.end(), [watched](const Tool& t) {
        return t.widget == watched || (t.viewport && t.viewport == watched);
    });
    if (tool == tools_.end()) {
        return false;
    }
    ShowTip(*tool, static_cast<QHelpEvent*>(event)->globalPos());
    // Handled either way: without a text, no other tooltip shows over a tool.
    event->accept();
    return true;
}

void QtTooltipWindow::ShowTip(const Tool& tool, const QPoint& globalPos) {
    const QString text = tool.info.text ? QString::fromStdString(*tool.info.text) : QString();
    if (text.isEmpty() || !tip_) {
        HideTip();
        return;
    }
    QPalette palette = tip_->palette();
    palette.setColor(QPalette::Window, FromBgr(backColor_));
    palette.setColor(QPalette::WindowText, FromBgr(textColor_));
    tip_->setPalette(palette);
    tip_->setContentsMargins(margins_.left, margins_.top, margins_.right, margins_.bottom);
    // A width limit wraps the text at word breaks; -1 is no limit.
    tip_->setWordWrap(maxTipWidth_ > 0);
    tip_->setMaximumWidth(maxTipWidth_ > 0 ? maxTipWidth_ : QWIDGETSIZE_MAX);
    tip_->setText(text);
    tip_->adjustSize();
    tip_->move(globalPos + QPoint(kPointerOffsetX, kPointerOffsetY));
    tip_->show();
    tip_->raise();
    autoPop_.start(autoPopMs_);
}

void QtTooltipWindow::HideTip() {
    autoPop_.stop();
    if (tip_) {
        tip_->hide();
    }
}

std::vector<QtTooltipWindow::Tool>::iterator QtTooltipWindow::Find(WindowHandle id) {
    return std::find_if(tools_.begin(), tools_.end(),
                        [id](const Tool& tool) { return tool.info.id == id; });
}

void QtTooltipWindow::Unwatch(const Tool& tool) {
    if (tool.widget) {
        tool.widget->removeEventFilter(this);
    }
    if (tool.viewport) {
        tool.viewport->removeEventFilter(this);
    }
}

}  // namespace velmaris::platform
