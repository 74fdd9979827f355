// A window that shows nothing: it answers Yes, offers one folder, ticks "Verify images after
// imaging" when asked to, times its message pumps and notes when the verification began.
#pragma once

#include <chrono>
#include <functional>
#include <optional>
#include <string>

#include "platform/window.h"

namespace velmaris::bench {

class CountingWindow : public platform::Window {
  public:
    using Now = std::function<std::chrono::steady_clock::time_point()>;

    explicit CountingWindow(std::string folder, Now now = std::chrono::steady_clock::now);

    // Ticks Check2; onVerifying runs when the status bar first reads "Verifying images" or
    // "Verifying image" while armed.
    void Verify(std::function<void()> onVerifying);

    // Times pumps from here on; the span from Arm to the first pump counts as a gap.
    void Arm();
    // Ends the timing: the span from the last pump to here counts too, since the window
    // answers nothing until the handler returns.
    void Disarm();

    long Pumps() const { return pumps_; }
    std::chrono::nanoseconds LongestGap() const { return longest_; }
    // Pumps before the longest gap: 0 when it came before the first, Pumps() when after the last.
    long LongestGapAt() const { return longestAt_; }
    // Gaps of 100 ms or more.
    long LongGaps() const { return longGaps_; }
    // The gap from Disarm back to the last pump: closing the images.
    std::chrono::nanoseconds LastGap() const { return lastGap_; }
    grid::GridModel* Sources() const { return grid1_; }
    grid::GridModel* Jobs() const { return grid2_; }
    const std::string& StatusBar() const { return statusBar_; }
    // When the verification phase began, if it did while armed.
    std::optional<std::chrono::steady_clock::time_point> VerifyingSince() const {
        return verifyingSince_;
    }

    void Bind(platform::WindowEvents& events, grid::GridModel& iGrid1,
              grid::GridModel& iGrid2) override;
    void SetCaption(platform::Control control, const std::string& text) override;
    void SetEnabled(platform::Control, bool) override {}
    void SetVisible(platform::Control, bool) override {}
    void SetMenuVisible(platform::Menu, bool) override {}
    void SetMenuCaption(platform::Menu, const std::string&) override {}
    bool IsChecked(platform::Control control) override {
        return verify_ && control == platform::Control::Check2;
    }
    void SetChecked(platform::Control, bool) override {}
    void SetProgressMax(int) override {}
    void SetProgressValue(int) override {}
    void ShowModeless() override {}
    void PumpMessages() override;
    void SetPointer(platform::Pointer) override {}
    void StartEdit(platform::Grid, int, int) override {}
    void CommitEdit(platform::Grid) override {}
    void ShowPopupMenu(platform::Menu) override {}
    void DisableClose(bool) override {}
    void EndProgram() override {}
    void ShowAboutBox(const std::string&) override {}
    std::unique_ptr<platform::TooltipWindow> CreateTooltipWindow() override { return nullptr; }
    platform::WindowHandle HandleOf(platform::Control) override { return 0; }
    platform::WindowHandle ContainerOf(platform::Control) override { return 0; }
    platform::Answer MessageBox(const std::string&, const std::string&, unsigned) override {
        return platform::Answer::Yes;
    }
    platform::FolderChoice BrowseForFolder(const std::string&) override { return {folder_}; }

  private:
    void Mark();

    std::string folder_;
    Now now_;
    grid::GridModel* grid1_ = nullptr;
    grid::GridModel* grid2_ = nullptr;
    std::string statusBar_;
    bool verify_ = false;
    std::function<void()> onVerifying_;
    std::optional<std::chrono::steady_clock::time_point> verifyingSince_;
    bool armed_ = false;
    long pumps_ = 0;
    std::chrono::steady_clock::time_point last_;
    std::chrono::nanoseconds longest_{0};
    long longestAt_ = 0;
    long longGaps_ = 0;
    std::chrono::nanoseconds lastGap_{0};
};

}  // namespace velmaris::bench
