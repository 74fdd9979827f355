#include "counting_window.h"

#include <algorithm>
#include <utility>

namespace velmaris::bench {

CountingWindow::CountingWindow(std::string folder, Now now)
    : folder_(std::move(folder)), now_(std::move(now)) {}

void CountingWindow::Verify(std::function<void()> onVerifying) {
    verify_ = true;
    onVerifying_ = std::move(onVerifying);
}

void CountingWindow::Arm() {
    armed_ = true;
    verifyingSince_.reset();
    pumps_ = 0;
    longest_ = {};
    longestAt_ = 0;
    longGaps_ = 0;
    lastGap_ = {};
    last_ = now_();
}

void CountingWindow::Disarm() {
    if (armed_) {
        Mark();
        armed_ = false;
    }
}

void CountingWindow::Bind(platform::WindowEvents&, grid::GridModel& iGrid1,
                          grid::GridModel& iGrid2) {
    grid1_ = &iGrid1;
    grid2_ = &iGrid2;
}

void CountingWindow::SetCaption(platform::Control control, const std::string& text) {
    if (control == platform::Control::StatusBar1) {
        statusBar_ = text;
        if (armed_ && !verifyingSince_ &&
            (text == "Verifying images" || text == "Verifying image")) {
            verifyingSince_ = now_();
            if (onVerifying_) {
                onVerifying_();
            }
        }
    }
}

void CountingWindow::PumpMessages() {
    if (armed_) {
        Mark();
        ++pumps_;
    }
}

void CountingWindow::Mark() {
    const auto now = now_();
    const auto gap = std::chrono::duration_cast<std::chrono::nanoseconds>(now - last_);
    if (gap > longest_) {
        longest_ = gap;
        longestAt_ = pumps_;
    }
    longGaps_ += gap >= std::chrono::milliseconds(100) ? 1 : 0;
    lastGap_ = gap;
    last_ = now;
}

}  // namespace velmaris::bench
