#include "fake_window.h"

#include <algorithm>
#include <array>
#include <sstream>

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

void FakeWindow::PumpMessages() {
    calls.push_back("PumpMessages");
    if (onPump) {
        onPump();
    }
}

void FakeWindow::StartEdit(platform::Grid grid, int row, int col) {
    const bool second = grid == platform::Grid::iGrid2;
    calls.push_back(std::string(second ? "StartEdit iGrid2 " : "StartEdit iGrid1 ") +
                    std::to_string(row) + " " + std::to_string(col));
    // Like the real grids: one editor at a time, only on an editable grid.
    if (second && grid2 != nullptr && grid2->Editable() && !editor) {
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

std::string FakeWindow::Shown::Text() const {
    std::ostringstream text;
    text << title << " [" << std::hex << style << "] " << prompt;
    return text.str();
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
