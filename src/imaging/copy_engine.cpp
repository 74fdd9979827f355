#include "imaging/copy_engine.h"

#include <chrono>
#include <memory>
#include <mutex>
#include <system_error>
#include <vector>

#include "discovery/capacity.h"
#include "imaging/drive_copier.h"
#include "imaging/progress.h"

namespace velmaris::imaging {

using platform::Control;
using platform::IoError;

namespace {

// Runs passes over the drives still in a phase: each drive in a pipeline of its own that runs
// ahead, or one after another on this thread. Either way each drive sees the same reads and
// writes in the same order, and the passes are applied in the same order.
class PassRunner {
  public:
    PassRunner(DriveSlots& slots, bool parallel) : slots_(slots), outcomes_(slots.size()) {
        for (DriveSlot& slot : slots) {
            const bool copies = slot.state == SlotState::Copying;
            pipelines_.push_back(copies && parallel ? StartPipeline(slot) : nullptr);
            copiers_.push_back(copies && !pipelines_.back()
                                   ? std::make_unique<DriveCopier>(slot, kBlockSize)
                                   : nullptr);
        }
    }

    // The window is pumped every interval while a drive has not delivered the pass yet: a
    // drive retrying bad sectors or waiting on a slow bus must not freeze it.
    const std::vector<PassOutcome>& Pass(std::size_t blockSize, std::chrono::milliseconds interval,
                                         platform::Window& window) {
        for (std::size_t k = 0; k < slots_.size(); ++k) {
            if (!slots_[k].Finished && copiers_[k]) {
                outcomes_[k] = copiers_[k]->Step(blockSize);
            }
        }
        std::unique_lock lock = WaitPumping([this] { return PassReady(); }, interval, window);
        for (std::size_t k = 0; k < slots_.size(); ++k) {
            if (!slots_[k].Finished && pipelines_[k]) {
                outcomes_[k] = pipelines_[k]->TakePass();
            }
        }
        return outcomes_;
    }

    // Stops every pipeline, flushes and closes every image on its drive's thread, pumping the
    // window meanwhile: on a slow target the last write-back of several images takes seconds.
    // A failure is the drive's write error, unless it had already failed. Each slot then
    // counts the bytes its image holds: after a stop, what its pipeline had written ahead.
    void FinishImages(std::chrono::milliseconds interval, platform::Window& window) {
        for (const auto& pipeline : pipelines_) {
            if (pipeline) {
                pipeline->Stop();
                pipeline->StartFinish();
            }
        }
        for (std::size_t k = 0; k < slots_.size(); ++k) {
            if (copiers_[k]) {
                NoteFinish(slots_[k], copiers_[k]->FinishImage());
            }
        }
        std::unique_lock lock = WaitPumping([this] { return AllClosed(); }, interval, window);
        for (std::size_t k = 0; k < slots_.size(); ++k) {
            if (pipelines_[k]) {
                NoteFinish(slots_[k], pipelines_[k]->FinishResult());
                slots_[k].bytesCopied = pipelines_[k]->Written();
            }
        }
    }

  private:
    // Waits until ready() holds, pumping the window every interval meanwhile; returns with the
    // board locked.
    template <typename Ready>
    std::unique_lock<std::mutex> WaitPumping(Ready ready, std::chrono::milliseconds interval,
                                             platform::Window& window) {
        std::unique_lock lock(board_.mutex);
        while (!board_.delivered.wait_for(lock, interval, ready)) {
            lock.unlock();
            window.PumpMessages();
            lock.lock();
        }
        return lock;
    }

    // A drive whose thread cannot be started is copied on this one: the same result, slower.
    std::unique_ptr<DrivePipeline> StartPipeline(DriveSlot& slot) {
        try {
            return std::make_unique<DrivePipeline>(slot, board_);
        } catch (const std::system_error&) {
            return nullptr;
        }
    }

    bool PassReady() const {
        for (std::size_t k = 0; k < slots_.size(); ++k) {
            if (!slots_[k].Finished && pipelines_[k] && !pipelines_[k]->HasPass()) {
                return false;
            }
        }
        return true;
    }

    bool AllClosed() const {
        for (const auto& pipeline : pipelines_) {
            if (pipeline && !pipeline->Finished()) {
                return false;
            }
        }
        return true;
    }

    static void NoteFinish(DriveSlot& slot, const platform::IoResult& finished) {
        if (finished.error != IoError::None && slot.state == SlotState::Copying) {
            slot.state = SlotState::WriteError;
            slot.errorText = finished.message;
        }
    }

    DriveSlots& slots_;
    PassBoard board_;
    std::vector<std::unique_ptr<DrivePipeline>> pipelines_;
    std::vector<std::unique_ptr<DriveCopier>> copiers_;
    std::vector<PassOutcome> outcomes_;
};

void Fail(DriveSlot& slot, SlotState state, const platform::IoResult& result) {
    slot.state = state;
    slot.errorText = result.message;
    slot.Finished = true;
}

// The counters and controls after every pass; true when the user has asked to stop.
bool EndOfPass(RunContext& ctx, const platform::NumberMarks& marks, std::int32_t& passCount,
               bool showBytes) {
    ++passCount;
    ctx.run.BytesDonePerDrive += ctx.run.BlockSize;
    if (passCount <= ctx.ProgressMax) {
        ctx.window.SetProgressValue(passCount);
    }
    if (showBytes) {
        const auto bytes = static_cast<std::uint64_t>(passCount) * kBlockSize;
        ctx.window.SetCaption(Control::Label5, discovery::FormatGrouped(bytes, marks));
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

// Applies a pass's outcomes in row order.
void ApplyPass(RunContext& ctx, DriveSlots& slots, const std::vector<PassOutcome>& outcomes,
               bool blockPhase) {
    const std::size_t blockSize = blockPhase ? kBlockSize : kSectorSize;
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
            // The end of the drive's whole blocks, or of the drive.
            slot.Finished = true;
            if (blockPhase) {
                SetStatus(ctx, k, "Waiting ...");
            }
        } else if (outcome.write.error != IoError::None) {
            if (!blockPhase) {
                ctx.window.MessageBox("Unable to write to file " + slot.ImagePath + ".",
                                      "Write Error",
                                      platform::mb::kOk | platform::mb::kExclamation);
            }
            // Leaves the run: a later sector appended here would sit at the wrong offset.
            Fail(slot, SlotState::WriteError, outcome.write);
            SetStatus(ctx, k, "Write Error ...");
        } else {
            slot.bytesCopied += blockSize;
        }
    }
}

// Passes until every drive has left the phase; true when the user stopped the run.
bool RunPhase(RunContext& ctx, DriveSlots& slots, PassRunner& runner, std::int32_t& passCount,
              bool blockPhase) {
    ctx.run.BlockSize = static_cast<std::int64_t>(blockPhase ? kBlockSize : kSectorSize);
    // Read once: asking the locale costs more than a pass.
    const platform::NumberMarks marks = ctx.services.numbers.UserMarks();
    while (CountFinished(slots) < slots.size()) {
        const auto& outcomes = runner.Pass(static_cast<std::size_t>(ctx.run.BlockSize),
                                           ctx.pumpWhileWaiting, ctx.window);
        ApplyPass(ctx, slots, outcomes, blockPhase);
        if (EndOfPass(ctx, marks, passCount, blockPhase)) {
            return true;
        }
    }
    return false;
}

// Only the drives still copying take part in a phase.
void BeginPhase(DriveSlots& slots) {
    for (DriveSlot& slot : slots) {
        slot.Finished = slot.state != SlotState::Copying;
    }
}

}  // namespace

void CopyDrives(RunContext& ctx, DriveSlots& slots) {
    PassRunner runner(slots, ctx.parallel);
    ctx.window.SetCaption(Control::StatusBar1,
                          slots.size() > 1 ? "Creating images" : "Creating image");
    std::int32_t passCount = 0;
    StartCopyClock(ctx.run, ctx.services.clock.Milliseconds());
    ctx.run.StartedAt = ctx.services.clock.LocalTime();
    BeginPhase(slots);
    if (!RunPhase(ctx, slots, runner, passCount, true)) {
        ctx.window.SetCaption(Control::StatusBar1, "Finishing....");
        BeginPhase(slots);
        for (std::size_t k = 0; k < slots.size(); ++k) {
            if (!slots[k].Finished) {
                SetStatus(ctx, k, "Finishing...");
            }
        }
        if (!RunPhase(ctx, slots, runner, passCount, false)) {
            ctx.window.SetCaption(Control::StatusBar1, "Closing files..");
        }
    }
    // Stopped or not, every image written so far is kept and closed.
    runner.FinishImages(ctx.pumpWhileWaiting, ctx.window);
}

}  // namespace velmaris::imaging
