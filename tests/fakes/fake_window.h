// A window that records every call and answers questions from a script.
#pragma once

#include <deque>
#include <functional>
#include <map>
#include <optional>
#include <set>
#include <string>
#include <vector>

#include "platform/window.h"

namespace velmaris::fakes {

// A tooltip window that keeps its tools and settings, and counts what it was sent.
class FakeTooltipWindow : public platform::TooltipWindow {
  public:
    struct State {
        std::vector<platform::ToolInfo> tools;
        std::uint32_t back = 0xE1FFFF;
        std::uint32_t text = 0;
        std::map<platform::TipDelay, int> delays;
        platform::TipMargins margins;
        std::int32_t maxTipWidth = -1;
        bool refuseAdd = false;
        int sent = 0;  // every call made to the window
        bool destroyed = false;
        platform::WindowHandle handle = 0x7E57;  // unlike any address of the wrapping object
    };
    explicit FakeTooltipWindow(State& state) : state_(state) {}
    ~FakeTooltipWindow() override { state_.destroyed = true; }

    platform::WindowHandle Handle() const override { return state_.handle; }

    int ToolCount() override;
    std::optional<platform::ToolInfo> EnumTool(int index) override;
    bool AddTool(const platform::ToolInfo& tool) override;
    void DelTool(const platform::ToolInfo& tool) override;
    void UpdateTipText(const platform::ToolInfo& tool) override;
    std::uint32_t BackColor() override { return ++state_.sent, state_.back; }
    void SetBackColor(std::uint32_t color) override { ++state_.sent, state_.back = color; }
    std::uint32_t TextColor() override { return ++state_.sent, state_.text; }
    void SetTextColor(std::uint32_t color) override { ++state_.sent, state_.text = color; }
    int DelayTime(platform::TipDelay type) override { return ++state_.sent, state_.delays[type]; }
    void SetDelayTime(platform::TipDelay type, int ms) override {
        ++state_.sent, state_.delays[type] = ms;
    }
    platform::TipMargins Margin() override { return ++state_.sent, state_.margins; }
    void SetMargin(const platform::TipMargins& m) override { ++state_.sent, state_.margins = m; }
    std::int32_t MaxTipWidth() override { return ++state_.sent, state_.maxTipWidth; }
    void SetMaxTipWidth(std::int32_t px) override { ++state_.sent, state_.maxTipWidth = px; }

  private:
    State& state_;
};

class FakeWindow : public platform::Window {
  public:
    struct Shown {
        std::string prompt;
        std::string title;
        unsigned style;
    };

    // Every call, in order, as text ("SetCaption StatusBar1 Ready").
    std::vector<std::string> calls;
    std::map<platform::Control, std::string> captions;
    std::map<platform::Control, bool> enabled;
    std::map<platform::Control, bool> visible;
    std::map<platform::Menu, bool> menuVisible;
    std::map<platform::Control, bool> checked;
    std::function<void()> onPump;  // run inside every message pump, as queued events would
    std::vector<Shown> messages;
    std::deque<platform::Answer> answers;                // next message box answers
    std::deque<std::optional<std::string>> folderPicks;  // next folder dialog results
    std::set<std::string> changedNames;                  // picks whose names did not convert
    std::vector<std::string> aboutBoxes;                 // version lines shown
    int closeDisabled = 0;                               // DisableClose(true) calls not yet undone
    bool canCreateTooltip = true;
    FakeTooltipWindow::State tooltip;
    // Run during ShowPopupMenu, as a menu click would be.
    std::function<void()> onPopup;
    grid::GridModel* grid1 = nullptr;
    grid::GridModel* grid2 = nullptr;
    // The open in-place editor of iGrid2, as the real grids keep one: its cell and its text.
    struct Editor {
        int row;
        int col;
        std::string text;
    };
    std::optional<Editor> editor;

    // Index of the first call equal to text, or -1.
    int IndexOf(const std::string& text) const;

    void Bind(platform::WindowEvents& handler, grid::GridModel& iGrid1,
              grid::GridModel& iGrid2) override;
    void SetCaption(platform::Control control, const std::string& text) override;
    void SetEnabled(platform::Control control, bool on) override;
    void SetVisible(platform::Control control, bool on) override;
    void SetMenuVisible(platform::Menu menu, bool on) override;
    void SetMenuCaption(platform::Menu menu, const std::string& text) override;
    bool IsChecked(platform::Control control) override { return checked[control]; }
    void SetChecked(platform::Control control, bool on) override;
    void SetProgressMax(int maximum) override;
    void SetProgressValue(int value) override;
    void ShowModeless() override;
    void PumpMessages() override;
    void SetPointer(platform::Pointer pointer) override;
    void StartEdit(platform::Grid grid, int row, int col) override;
    void CommitEdit(platform::Grid grid) override;
    void ShowPopupMenu(platform::Menu menu) override;
    void DisableClose(bool disable) override;
    void EndProgram() override { calls.push_back("EndProgram"); }
    void ShowAboutBox(const std::string& versionLine) override;
    std::unique_ptr<platform::TooltipWindow> CreateTooltipWindow() override;
    platform::WindowHandle HandleOf(platform::Control control) override;
    platform::WindowHandle ContainerOf(platform::Control control) override;
    platform::Answer MessageBox(const std::string& prompt, const std::string& title,
                                unsigned style) override;
    platform::FolderChoice BrowseForFolder(const std::string& title) override;

  private:
    platform::WindowEvents* events_ = nullptr;
};

std::string NameOf(platform::Control control);
std::string NameOf(platform::Menu menu);

}  // namespace velmaris::fakes
