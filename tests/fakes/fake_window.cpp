#include "fake_window.h"

#include <algorithm>
#include <array>

#include "grid/grid_model.h"

namespace velmaris::fakes {

using platform::Control;
using platform::Menu;

std::string NameOf(Control control) {
    static constexpr std::array kNames{
        "Frame1",  "iGrid1",     "Label1",   "Frame3",   "Command1",   "Command2", "Label2",
        "Frame2",  "ProgBarXP1", "Label4",   "Label5",   "Label8",     "Label9",   "Label13",
        "Label12", "Label6",     "Label7",   "Frame4",   "iGrid2",     "Label3",   "Check1",
        "Check2",  "XPButton1",  "Command6", "Command3", "StatusBar1", "Timer1",   "AlertBox1"};
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

void FakeWindow::Bind(platform::WindowEvents& handler, grid::GridModel& iGrid1,
                      grid::GridModel& iGrid2) {
    calls.push_back("Bind");
    events_ = &handler;
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

void FakeWindow::SetChecked(Control control, bool on) {
    calls.push_back("SetChecked " + NameOf(control) + (on ? " 1" : " 0"));
    checked[control] = on;
}

void FakeWindow::SetProgressMax(int maximum) {
    calls.push_back("SetProgressMax " + std::to_string(maximum));
}

void FakeWindow::SetProgressValue(int value) {
    calls.push_back("SetProgressValue " + std::to_string(value));
}

void FakeWindow::ShowModeless() {
    calls.push_back("ShowModeless");
}

void FakeWindow::PumpMessages() {
    calls.push_back("PumpMessages");
    if (onPump) {
        onPump();
    }
}

void FakeWindow::SetPointer(platform::Pointer pointer) {
    calls.push_back(pointer == platform::Pointer::Busy ? "SetPointer Busy" : "SetPointer Default");
}

void FakeWindow::StartEdit(platform::Grid grid, int row, int col) {
    calls.push_back(std::string("StartEdit ") +
                    (grid == platform::Grid::iGrid1 ? "iGrid1 " : "iGrid2 ") + std::to_string(row) +
                    " " + std::to_string(col));
    // Like the real grids: one editor at a time, only on an editable grid.
    if (grid == platform::Grid::iGrid2 && grid2 != nullptr && grid2->Editable() && !editor) {
        editor = Editor{row, col, grid2->CellText(row, col)};
    }
}

void FakeWindow::CommitEdit(platform::Grid grid) {
    calls.push_back(grid == platform::Grid::iGrid1 ? "CommitEdit iGrid1" : "CommitEdit iGrid2");
    if (grid != platform::Grid::iGrid2 || !editor) {
        return;
    }
    const Editor closed = *editor;
    editor.reset();
    grid2->SetCellValue(closed.row, closed.col, closed.text);
    if (events_ != nullptr) {
        events_->iGrid2_EditEnded();
    }
}

void FakeWindow::ShowPopupMenu(Menu menu) {
    calls.push_back("ShowPopupMenu " + NameOf(menu));
    if (onPopup) {
        onPopup();
    }
}

void FakeWindow::DisableClose(bool disable) {
    calls.push_back(disable ? "DisableClose 1" : "DisableClose 0");
    closeDisabled = disable ? closeDisabled + 1 : 0;
}

void FakeWindow::ShowAboutBox(const std::string& versionLine) {
    calls.push_back("ShowAboutBox");
    aboutBoxes.push_back(versionLine);
}

std::unique_ptr<platform::TooltipWindow> FakeWindow::CreateTooltipWindow() {
    calls.push_back("CreateTooltipWindow");
    if (!canCreateTooltip) {
        return nullptr;
    }
    return std::make_unique<FakeTooltipWindow>(tooltip);
}

// Handles are the control's number plus one; containers those of the frames.
platform::WindowHandle FakeWindow::HandleOf(Control control) {
    return static_cast<platform::WindowHandle>(control) + 1;
}

platform::WindowHandle FakeWindow::ContainerOf(Control control) {
    return control == Control::iGrid1 ? HandleOf(Control::Frame1) : HandleOf(Control::Frame4);
}

int FakeTooltipWindow::ToolCount() {
    ++state_.sent;
    return static_cast<int>(state_.tools.size());
}

std::optional<platform::ToolInfo> FakeTooltipWindow::EnumTool(int index) {
    ++state_.sent;
    if (index < 0 || index >= ToolCount()) {
        return std::nullopt;
    }
    return state_.tools[static_cast<size_t>(index)];
}

bool FakeTooltipWindow::AddTool(const platform::ToolInfo& tool) {
    ++state_.sent;
    if (state_.refuseAdd) {
        return false;
    }
    state_.tools.push_back(tool);
    return true;
}

void FakeTooltipWindow::DelTool(const platform::ToolInfo& tool) {
    ++state_.sent;
    std::erase_if(state_.tools, [&tool](const auto& t) { return t.id == tool.id; });
}

void FakeTooltipWindow::UpdateTipText(const platform::ToolInfo& tool) {
    ++state_.sent;
    for (auto& t : state_.tools) {
        if (t.id == tool.id) {
            t.text = tool.text;
        }
    }
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

platform::FolderChoice FakeWindow::BrowseForFolder(const std::string& title) {
    calls.push_back("BrowseForFolder " + title);
    if (folderPicks.empty()) {
        return {};
    }
    std::optional<std::string> pick = folderPicks.front();
    folderPicks.pop_front();
    const bool changed = pick && changedNames.contains(*pick);
    return {std::move(pick), changed};
}

}  // namespace velmaris::fakes
