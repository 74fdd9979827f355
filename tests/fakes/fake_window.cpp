#include "fake_window.h"

#include <algorithm>
#include <array>

namespace velmaris::fakes {

using platform::Control;
using platform::Menu;

std::string NameOf(Control control) {
    static constexpr std::array kNames{
        "Frame1",    "iGrid1",     "Label1",   "Frame3",     "Command1", "Command2", "Label2",
        "Frame2",    "ProgBarXP1", "Label4",   "Label5",     "Label8",   "Label9",   "Label13",
        "Label12",   "Label6",     "Label7",   "Frame4",     "iGrid2",   "Label3",   "Check1",
        "XPButton1", "Command6",   "Command3", "StatusBar1", "Timer1",   "AlertBox1"};
    return kNames.at(static_cast<size_t>(control));
}

std::string NameOf(Menu menu) {
    static constexpr std::array kNames{"mnuFile", "mnuExit",      "mnub1", "mnuAbout",
                                       "mnuNew",  "mnuSetTarget", "mnuCFN"};
    return kNames.at(static_cast<size_t>(menu));
}

int FakeWindow::IndexOf(const std::string& text) const {
    const auto it = std::find(calls.begin(), calls.end(), text);
    return it == calls.end() ? -1 : static_cast<int>(it - calls.begin());
}

void FakeWindow::Bind(platform::WindowEvents& handler, ui::GridModel& iGrid1,
                      ui::GridModel& iGrid2) {
    calls.push_back("Bind");
    events = &handler;
    grid1 = &iGrid1;
    grid2 = &iGrid2;
}

void FakeWindow::SetCaption(Control control, const std::string& text) {
    calls.push_back("SetCaption " + NameOf(control) + " " + text);
    captions[control] = text;
}

void FakeWindow::SetEnabled(Control control, bool on) {
    calls.push_back("SetEnabled " + NameOf(control) + (on ? " 1" : " 0"));
    enabled[control] = on;
}

void FakeWindow::SetVisible(Control control, bool on) {
    calls.push_back("SetVisible " + NameOf(control) + (on ? " 1" : " 0"));
    visible[control] = on;
}

void FakeWindow::SetMenuVisible(Menu menu, bool on) {
    calls.push_back("SetMenuVisible " + NameOf(menu) + (on ? " 1" : " 0"));
    menuVisible[menu] = on;
}

void FakeWindow::SetMenuCaption(Menu menu, const std::string& text) {
    calls.push_back("SetMenuCaption " + NameOf(menu) + " " + text);
}

void FakeWindow::ShowModeless() {
    calls.push_back("ShowModeless");
}

void FakeWindow::PumpMessages() {
    calls.push_back("PumpMessages");
}

void FakeWindow::SetPointer(platform::Pointer pointer) {
    calls.push_back(pointer == platform::Pointer::Busy ? "SetPointer Busy" : "SetPointer Default");
}

platform::Answer FakeWindow::MessageBox(const std::string& prompt, const std::string& title,
                                        unsigned style) {
    calls.push_back("MessageBox " + title);
    messages.push_back({prompt, title, style});
    if (answers.empty()) {
        return platform::Answer::No;
    }
    const platform::Answer answer = answers.front();
    answers.pop_front();
    return answer;
}

std::optional<std::string> FakeWindow::BrowseForFolder(const std::string& title) {
    calls.push_back("BrowseForFolder " + title);
    if (folderPicks.empty()) {
        return std::nullopt;
    }
    std::optional<std::string> pick = folderPicks.front();
    folderPicks.pop_front();
    return pick;
}

}  // namespace velmaris::fakes
