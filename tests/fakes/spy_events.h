// Handlers that record what a real window reports, for the front-end tests.
#pragma once

#include <string>
#include <vector>

#include "platform/window.h"
#include "grid/grid_model.h"

namespace velmaris::fakes {

// Records each event with the grid's current row at that moment.
struct SpyEvents : platform::WindowEvents {
    grid::GridModel grid1;
    grid::GridModel grid2;
    std::vector<std::string> heard;

    void Hear(const std::string& what, const grid::GridModel& grid, int a, int b) {
        heard.push_back(what + " " + std::to_string(a) + " " + std::to_string(b) + " cur " +
                        std::to_string(grid.CurRow()));
    }
    void Form_Load() override {}
    void iGrid1_DblClick(int row, int col) override { Hear("DblClick1", grid1, row, col); }
    void iGrid2_DblClick(int row, int col) override { Hear("DblClick2", grid2, row, col); }
    void iGrid1_MouseButton(int button, int row) override { Hear("Mouse1", grid1, button, row); }
    void iGrid2_MouseButton(int button, int row) override { Hear("Mouse2", grid2, button, row); }
    void iGrid2_EditEnded() override { heard.push_back("EditEnded"); }
    void Command1_Click() override { heard.push_back("Command1"); }
    void mnuExit_Click() override { heard.push_back("mnuExit"); }
    void mnuAbout_Click() override { heard.push_back("mnuAbout"); }
    void mnuSetTarget_Click() override { heard.push_back("mnuSetTarget"); }
    void mnuCFN_Click() override { heard.push_back("mnuCFN"); }
    void Command2_Click() override { heard.push_back("Command2"); }
    void XPButton1_Click() override { heard.push_back("XPButton1"); }
    void Command3_Click() override { heard.push_back("Command3"); }
    void Command6_Click() override { heard.push_back("Command6"); }
    void Timer1_Timer() override { heard.push_back("Timer1"); }
};

}  // namespace velmaris::fakes
