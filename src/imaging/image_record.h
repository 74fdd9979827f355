// The plain-text record written beside every image: what was imaged, how, and its result.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <utility>
#include <vector>

namespace velmaris::imaging {

struct ImageRecord {
    std::string driveNumber;
    std::string model;
    std::string pnpDeviceId;
    std::optional<std::uint64_t> length;  // unknown when the drive could not be opened
    std::uint32_t sectorSize = 0;
    std::string imagePath;
    // Who may read the image: empty for its owner only, else what the file system allowed.
    std::optional<std::string> imageAccess;  // none without an image
    std::string started;
    std::string ended;
    std::uint64_t bytesCopied = 0;
    std::string result;  // the row's final status, and the system's words for a failure
    std::vector<std::pair<std::uint64_t, std::uint64_t>> unreadable;  // first and last sector
    std::optional<std::string> sha256;  // of the image as written; none without an image
    // The verification after the copy: "done", or why there was none.
    std::string verification = "not requested";
    std::string verifyResult;  // the row's status, and why the image was not proven
    std::string verifyStarted;
    std::string verifyEnded;
    std::optional<std::string> driveSha256;  // of the drive read again, when read to its end
    std::optional<std::string> imageSha256;  // of the image read back, when read to its end
    std::vector<std::pair<std::uint64_t, std::uint64_t>> unreadableAgain;  // in the second read
    std::uint64_t differingBytes = 0;
    std::vector<std::uint64_t> firstDifferences;  // byte offsets
};

std::string FormatRecord(const ImageRecord& record);

// Where the record of an image goes.
inline std::string RecordPath(const std::string& imagePath) {
    return imagePath + ".txt";
}

}  // namespace velmaris::imaging
