#include "imaging/run_mode.h"

namespace velmaris::imaging {

using platform::Control;

void EnterRunMode(RunContext& ctx) {
    ctx.RunInProgress = true;
    // A sleeping machine would cut the sources off mid-run.
    ctx.services.awake.Hold();
    ctx.window.DisableClose(true);
    ctx.window.SetEnabled(Control::Frame1, false);
    ctx.window.SetEnabled(Control::Command1, false);
    ctx.window.SetEnabled(Control::Command2, false);
    // It decides what the run does: read once as the run starts, never changed during it.
    ctx.run.Verify = ctx.window.IsChecked(Control::Check2);
    ctx.window.SetEnabled(Control::Check2, false);
    ctx.window.SetEnabled(Control::XPButton1, true);
    ctx.window.SetEnabled(Control::Timer1, true);
}

void LeaveRunMode(RunContext& ctx) {
    ctx.window.DisableClose(false);
    ctx.window.SetEnabled(Control::Frame1, true);
    ctx.window.SetEnabled(Control::Command1, true);
    ctx.window.SetEnabled(Control::Command2, true);
    ctx.window.SetEnabled(Control::Check2, true);
    ctx.window.SetEnabled(Control::XPButton1, false);
    ctx.window.SetEnabled(Control::Timer1, false);
    ctx.RunInProgress = false;
    ctx.services.awake.Release();
}

}  // namespace velmaris::imaging
