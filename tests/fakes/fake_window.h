// A window that records every call and answers questions from a script.
#pragma once

#include <deque>
#include <map>
#include <optional>
#include <string>
#include <vector>

#include "platform/window.h"

namespace velmaris::fakes {

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
    std::vector<Shown> messages;
    std::deque<platform::Answer> answers;                // next message box answers
    std::deque<std::optional<std::string>> folderPicks;  // next folder dialog results
    platform::WindowEvents* events = nullptr;
    ui::GridModel* grid1 = nullptr;
    ui::GridModel* grid2 = nullptr;

    // Index of the first call equal to text, or -1.
    int IndexOf(const std::string& text) const;

    void Bind(platform::WindowEvents& handler, ui::GridModel& iGrid1,
              ui::GridModel& iGrid2) override;
    void SetCaption(platform::Control control, const std::string& text) override;
    void SetEnabled(platform::Control control, bool on) override;
    void SetVisible(platform::Control control, bool on) override;
    void SetMenuVisible(platform::Menu menu, bool on) override;
    void SetMenuCaption(platform::Menu menu, const std::string& text) override;
    void ShowModeless() override;
    void PumpMessages() override;
    void SetPointer(platform::Pointer pointer) override;
    platform::Answer MessageBox(const std::string& prompt, const std::string& title,
                                unsigned style) override;
    std::optional<std::string> BrowseForFolder(const std::string& title) override;
};

std::string NameOf(platform::Control control);
std::string NameOf(platform::Menu menu);

}  // namespace velmaris::fakes
