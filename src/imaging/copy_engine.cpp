#include "imaging/copy_engine.h"

#include <memory>
#include <vector>

#include "discovery/capacity.h"
#include "imaging/drive_copier.h"

namespace velmaris::imaging {

using platform::Control;
using platform::IoError;

namespace {

// Runs passes over the drives still in a phase: on their own threads, or one after another
// on this one. Either way each drive sees the same reads and writes in the same order.
class PassRunner {
  public:
    PassRunner(DriveSlots& slots, bool parallel) : slots_(slots), outcomes_(slots.size()) {
        for (DriveSlot& slot : slots) {
            const bool copies = slot.state == SlotState::Copying;
            if (copies && parallel) {
                workers_.push_back(std::make_unique<DriveWorker>(slot, kBlockSize, latch_));
            } else {
                workers_.emplace_back();
            }
            copiers_.push_back(copies && !parallel ? std::make_unique<DriveCopier>(slot, kBlockSize)
                                                   : nullptr);
        }
    }

    const std::vector<PassOutcome>& Pass(std::size_t blockSize) {
        int started = 0;
        for (std::size_t k = 0; k < slots_.size(); ++k) {
            if (!slots_[k].Finished && workers_[k]) {
                ++started;
            }
        }
        latch_.Arm(started);
        for (std::size_t k = 0; k < slots_.size(); ++k) {
            if (slots_[k].Finished) {
                continue;
            }
            if (workers_[k]) {
                workers_[k]->Start(blockSize);
            } else if (copiers_[k]) {
                outcomes_[k] = copiers_[k]->Step(blockSize);
            }
        }
        latch_.Wait();
        for (std::size_t k = 0; k < slots_.size(); ++k) {
            if (!slots_[k].Finished && workers_[k]) {
                outcomes_[k] = workers_[k]->Outcome();
            }
        }
        return outcomes_;
    }

  private:
    DriveSlots& slots_;
    PassLatch latch_;
    std::vector<std::unique_ptr<DriveWorker>> workers_;
    std::vector<std::unique_ptr<DriveCopier>> copiers_;
    std::vector<PassOutcome> outcomes_;
};

void Fail(DriveSlot& slot, SlotState state, const platform::IoResult& result) {
    slot.state = state;
    slot.errorText = result.message;
    slot.Finished = true;
}

// The counters and controls after every pass; true when the user has asked to stop.
bool EndOfPass(RunContext& ctx, std::int32_t& passCount, bool showBytes) {
    ++passCount;
    ctx.run.BytesDonePerDrive += ctx.run.BlockSize;
    if (passCount <= ctx.ProgressMax) {
        ctx.window.SetProgressValue(passCount);
    }
    if (showBytes) {
        const auto bytes = static_cast<std::uint64_t>(passCount) * kBlockSize;
        ctx.window.SetCaption(Control::Label5,
                              discovery::FormatGrouped(bytes, ctx.services.numbers.UserMarks()));
    }
    ctx.window.PumpMessages();
    return ctx.run.StopRequested == 1;
}

std::size_t CountFinished(const DriveSlots& slots) {
    std::size_t finished = 0;
    for (const DriveSlot& slot : slots) {
        finished += slot.Finished ? 1 : 0;
    }
    return finished;
}

// Returns true when stopped.
bool BlockPhase(RunContext& ctx, DriveSlots& slots, PassRunner& runner, std::int32_t& passCount) {
    ctx.run.BlockSize = kBlockSize;
    for (DriveSlot& slot : slots) {
        slot.Finished = slot.state != SlotState::Copying;
    }
    while (CountFinished(slots) < slots.size()) {
        const std::vector<PassOutcome>& outcomes = runner.Pass(kBlockSize);
        for (std::size_t k = 0; k < slots.size(); ++k) {
            DriveSlot& slot = slots[k];
            if (slot.Finished) {
                continue;
            }
            const PassOutcome& outcome = outcomes[k];
            if (!outcome.delivered && outcome.read.error != IoError::None) {
                Fail(slot, SlotState::ReadError, outcome.read);
                SetStatus(ctx, k, "Read Error ...");
            } else if (!outcome.delivered) {
                slot.Finished = true;
                SetStatus(ctx, k, "Waiting ...");
            } else if (outcome.write.error != IoError::None) {
                // Leaves the run: a later sector appended here would sit at the wrong offset.
                Fail(slot, SlotState::WriteError, outcome.write);
                SetStatus(ctx, k, "Write Error ...");
            } else {
                slot.bytesCopied += kBlockSize;
            }
        }
        if (EndOfPass(ctx, passCount, true)) {
            return true;
        }
    }
    return false;
}

void FinishingPhase(RunContext& ctx, DriveSlots& slots, PassRunner& runner,
                    std::int32_t& passCount) {
    ctx.run.BlockSize = kSectorSize;
    ctx.window.SetCaption(Control::StatusBar1, "Finishing....");
    for (std::size_t k = 0; k < slots.size(); ++k) {
        slots[k].Finished = slots[k].state != SlotState::Copying;
        if (!slots[k].Finished) {
            SetStatus(ctx, k, "Finishing...");
        }
    }
    for (;;) {
        if (CountFinished(slots) >= slots.size()) {
            ctx.window.SetCaption(Control::StatusBar1, "Closing files..");
            return;
        }
        const std::vector<PassOutcome>& outcomes = runner.Pass(kSectorSize);
        for (std::size_t k = 0; k < slots.size(); ++k) {
            DriveSlot& slot = slots[k];
            if (slot.Finished) {
                continue;
            }
            const PassOutcome& outcome = outcomes[k];
            if (!outcome.delivered && outcome.read.error != IoError::None) {
                Fail(slot, SlotState::ReadError, outcome.read);
                SetStatus(ctx, k, "Read Error ...");
            } else if (!outcome.delivered) {
                slot.Finished = true;
            } else if (outcome.write.error != IoError::None) {
                ctx.window.MessageBox("Unable to write to file " + slot.ImagePath + ".",
                                      "Write Error",
                                      platform::mb::kOk | platform::mb::kExclamation);
                Fail(slot, SlotState::WriteError, outcome.write);
                SetStatus(ctx, k, "Write Error ...");
            } else {
                slot.bytesCopied += kSectorSize;
            }
        }
        if (EndOfPass(ctx, passCount, false)) {
            return;
        }
    }
}

}  // namespace

void CopyDrives(RunContext& ctx, DriveSlots& slots) {
    PassRunner runner(slots, ctx.parallel);
    ctx.window.SetCaption(Control::StatusBar1,
                          slots.size() > 1 ? "Creating images" : "Creating image");
    std::int32_t passCount = 0;
    ctx.run.StartTick = static_cast<std::int32_t>(ctx.services.clock.Milliseconds());
    ctx.run.CopyStarted = true;
    if (BlockPhase(ctx, slots, runner, passCount)) {
        return;
    }
    FinishingPhase(ctx, slots, runner, passCount);
}

}  // namespace velmaris::imaging
