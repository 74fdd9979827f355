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

std::string NameOf(platform::Control control);
std::string NameOf(platform::Menu menu);

class FakeWindow : public platform::Window {
  public:
    struct Shown {
        std::string prompt, title;
        unsigned style;
        std::string Text() const;  // "title [style in hex] prompt": a whole box in one check
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
    int closeDisabled = 0;                               // DisableClose(true) calls not yet undone
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
    std::string Said() const { return messages.empty() ? "" : messages.back().Text(); }

    void Bind(platform::WindowEvents& handler, grid::GridModel& iGrid1,
              grid::GridModel& iGrid2) override {
        calls.push_back("Bind");
        events_ = &handler;
        grid1 = &iGrid1;
        grid2 = &iGrid2;
    }
    void SetCaption(platform::Control c, const std::string& text) override {
        calls.push_back("SetCaption " + NameOf(c) + " " + text);
        captions[c] = text;
    }
    void SetEnabled(platform::Control c, bool on) override { Set("SetEnabled", enabled, c, on); }
    void SetVisible(platform::Control c, bool on) override { Set("SetVisible", visible, c, on); }
    void SetMenuVisible(platform::Menu m, bool on) override {
        Set("SetMenuVisible", menuVisible, m, on);
    }
    void SetMenuCaption(platform::Menu menu, const std::string& text) override {
        calls.push_back("SetMenuCaption " + NameOf(menu) + " " + text);
    }
    bool IsChecked(platform::Control control) override { return checked[control]; }
    void SetChecked(platform::Control c, bool on) override { Set("SetChecked", checked, c, on); }
    void SetProgressMax(int max) override { calls.push_back("SetProgressMax " + Text(max)); }
    void SetProgressValue(int v) override { calls.push_back("SetProgressValue " + Text(v)); }
    void ShowModeless() override { calls.push_back("ShowModeless"); }
    void PumpMessages() override;
    void SetPointer(platform::Pointer pointer) override {
        calls.push_back(pointer == platform::Pointer::Busy ? "SetPointer Busy"
                                                           : "SetPointer Default");
    }
    void StartEdit(platform::Grid grid, int row, int col) override;
    void CommitEdit(platform::Grid grid) override;
    void ShowPopupMenu(platform::Menu menu) override;
    void DisableClose(bool disable) override {
        calls.push_back(disable ? "DisableClose 1" : "DisableClose 0");
        closeDisabled = disable ? closeDisabled + 1 : 0;
    }
    void EndProgram() override { calls.push_back("EndProgram"); }
    void ShowAboutBox(const std::string& versionLine) override {
        calls.push_back("ShowAboutBox " + versionLine);
    }
    // No tooltip: frmMain's tips carry no text, and the real windows show that.
    std::unique_ptr<platform::TooltipWindow> CreateTooltipWindow() override { return nullptr; }
    // Handles are the control's number plus one; containers those of the frames.
    platform::WindowHandle HandleOf(platform::Control control) override {
        return static_cast<platform::WindowHandle>(control) + 1;
    }
    platform::WindowHandle ContainerOf(platform::Control control) override {
        return HandleOf(control == platform::Control::iGrid1 ? platform::Control::Frame1
                                                             : platform::Control::Frame4);
    }
    platform::Answer MessageBox(const std::string& prompt, const std::string& title,
                                unsigned style) override;
    platform::FolderChoice BrowseForFolder(const std::string& title) override;

  private:
    static std::string Text(int n) { return std::to_string(n); }
    template <typename Key>
    void Set(const char* call, std::map<Key, bool>& state, Key key, bool on) {
        calls.push_back(std::string(call) + " " + NameOf(key) + (on ? " 1" : " 0"));
        state[key] = on;
    }

    platform::WindowEvents* events_ = nullptr;
};

}  // namespace velmaris::fakes
