#include "imaging/completion.h"

#include "imaging/run_mode.h"

namespace velmaris::imaging {

using platform::Control;

namespace {

// The status a slot ends with; "Done." only for an image complete and on the disk.
const char* FinalStatus(const DriveSlot& slot, bool stopped) {
    switch (slot.state) {
        case SlotState::OpenError:
            return "Open Error ...";
        case SlotState::ReadError:
            return "Read Error ...";
        case SlotState::WriteError:
            return "Write Error ...";
        case SlotState::Copying:
            break;
    }
    if (slot.bytesCopied == slot.driveLength) {
        return "Done.";
    }
    return stopped ? "Stopped" : "Read Error ...";
}

void Close(DriveSlot& slot) {
    if (slot.ImageHandle) {
        const platform::IoResult finished = slot.ImageHandle->Finish();
        if (finished.error != platform::IoError::None && slot.state == SlotState::Copying) {
            slot.state = SlotState::WriteError;
            slot.errorText = finished.message;
        }
    }
    slot.ImageHandle.reset();
    slot.SourceHandle.reset();
}

}  // namespace

void EndSteps(RunContext& ctx, DriveSlots& slots) {
    const bool stopped = ctx.run.StopRequested == 1;
    bool allDone = true;
    for (std::size_t k = 0; k < slots.size(); ++k) {
        Close(slots[k]);
        const std::string status = FinalStatus(slots[k], stopped);
        allDone = allDone && status == "Done.";
        SetStatus(ctx, k, status);
    }
    LeaveRunMode(ctx);
    ctx.window.SetCaption(Control::StatusBar1, stopped   ? "Process stopped by user"
                                               : allDone ? "Process Complete"
                                                         : "Process finished with errors");
    ctx.window.SetVisible(Control::ProgBarXP1, false);
    if (stopped) {
        ctx.window.SetChecked(Control::Check1, false);
    }
    // The operator must see a failed or stopped run before the machine goes down.
    if (allDone && !stopped) {
        StartShutdown(ctx.window, ctx.services.power);
    }
}

void RequestStop(platform::Window& window, ImagingRun& run) {
    if (window.MessageBox("Stop the imaging process, are you sure", "Stop process?",
                          platform::mb::kYesNo | platform::mb::kQuestion |
                              platform::mb::kSystemModal) == platform::Answer::Yes) {
        run.StopRequested = 1;
    }
}

void StartShutdown(platform::Window& window, platform::Power& power) {
    if (!window.IsChecked(Control::Check1)) {
        return;
    }
    if (!power.StartShutdown()) {
        // Never offer to abort a shutdown that is not pending.
        window.MessageBox("The shutdown of the computer could not be started.", "Shutdown",
                          platform::mb::kOk | platform::mb::kExclamation);
        return;
    }
    window.SetVisible(Control::Command6, true);
}

void AbortShutdown(platform::Window& window, platform::Power& power) {
    power.AbortShutdown();
    window.SetVisible(Control::Command6, false);
}

}  // namespace velmaris::imaging
