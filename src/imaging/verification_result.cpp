#include "imaging/verification_result.h"

#include <algorithm>
#include <utility>
#include <vector>

namespace velmaris::imaging {

std::uint64_t UnreadableInEither(const UnreadableSectors& a, const UnreadableSectors& b) {
    std::vector<std::pair<std::uint64_t, std::uint64_t>> all = a.ranges;
    all.insert(all.end(), b.ranges.begin(), b.ranges.end());
    std::sort(all.begin(), all.end());
    std::uint64_t count = 0;
    std::uint64_t next = 0;  // the first sector not counted yet
    for (const auto& [first, last] : all) {
        const std::uint64_t from = std::max(first, next);
        if (last >= from) {
            count += last - from + 1;
            next = last + 1;
        }
    }
    return count;
}

VerificationResult JudgeVerification(const DriveSlot& slot, const std::string& copyHash) {
    const SlotVerification& v = slot.verification;
    std::vector<std::string> reasons;
    if (!v.failure.empty()) {
        reasons.push_back(v.failure);
    }
    if (v.imageSha256 && *v.imageSha256 != copyHash) {
        reasons.emplace_back("the image read back differs from the image as written");
    }
    const std::uint64_t unreadable = UnreadableInEither(slot.unreadable, v.unreadable);
    if (v.driveSha256 && unreadable == 0 && *v.driveSha256 != copyHash) {
        reasons.emplace_back("the drive read again differs from the image as written");
    }
    if (v.differingBytes > 0) {
        reasons.push_back("the drive read again and the image read back differ in " +
                          std::to_string(v.differingBytes) +
                          (v.differingBytes == 1 ? " byte" : " bytes"));
    }
    if (!reasons.empty()) {
        std::string text = reasons.front();
        for (std::size_t k = 1; k < reasons.size(); ++k) {
            text += "; " + reasons[k];
        }
        return {"Verify Error ...", text};
    }
    if (unreadable == 0) {
        return {"Verified.", {}};
    }
    return {"Verified: " + UnreadableCount(unreadable), {}};
}

}  // namespace velmaris::imaging
