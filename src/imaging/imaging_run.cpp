#include "imaging/imaging_run.h"

#include "imaging/completion.h"
#include "imaging/copy_engine.h"
#include "imaging/preflight.h"
#include "imaging/run_mode.h"
#include "imaging/verify_engine.h"

namespace velmaris::imaging {

void RunImaging(RunContext& ctx) {
    ctx.run.Reset();
    if (!CheckTargetAndJobs(ctx)) {
        return;
    }
    EnterRunMode(ctx);
    DriveSlots slots;
    if (!PrepareSlots(ctx, slots)) {
        LeaveRunMode(ctx);
        return;
    }
    OpenAll(ctx, slots);
    CopyDrives(ctx, slots);
    VerifyDrives(ctx, slots);
    EndSteps(ctx, slots);
}

}  // namespace velmaris::imaging
