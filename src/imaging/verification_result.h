// What a drive's verification proved, as its row and its record say it.
#pragma once

#include <string>

#include "imaging/run_state.h"

namespace velmaris::imaging {

struct VerificationResult {
    std::string status;   // "Verified.", "Verified: N unreadable sectors", "Verify Error ..."
    std::string reasons;  // why not verified, in words; empty when verified
};

// For a slot whose verification finished; copyHash is the image's hash taken while copying.
VerificationResult JudgeVerification(const DriveSlot& slot, const std::string& copyHash);

// Sectors unreadable in the copy, in the second read, or in both, each counted once.
std::uint64_t UnreadableInEither(const UnreadableSectors& a, const UnreadableSectors& b);

}  // namespace velmaris::imaging
