#include "imaging/image_record.h"

namespace velmaris::imaging {

namespace {

std::string Line(const char* name, const std::string& value) {
    return std::string(name) + ": " + value + "\n";
}

std::string SectorLines(const char* name, const char* heading,
                        const std::vector<std::pair<std::uint64_t, std::uint64_t>>& ranges,
                        std::uint64_t size) {
    if (ranges.empty()) {
        return Line(name, "none");
    }
    std::string text = std::string(heading) + ":\n";
    for (const auto& [first, last] : ranges) {
        text += "  sectors " + std::to_string(first) + "-" + std::to_string(last) + " (bytes " +
                std::to_string(first * size) + "-" + std::to_string((last + 1) * size - 1) + ")\n";
    }
    return text;
}

std::string VerificationLines(const ImageRecord& r) {
    std::string text = Line("Verification", r.verification);
    if (r.verification != "done") {
        return text;
    }
    text += Line("Verification started", r.verifyStarted);
    text += Line("Verification ended", r.verifyEnded);
    text += Line("SHA-256 of the drive read again",
                 r.driveSha256.value_or("none: not read to its end"));
    text +=
        Line("SHA-256 of the image read back", r.imageSha256.value_or("none: not read to its end"));
    text += SectorLines("Unreadable sectors when read again", "Unreadable sectors when read again",
                        r.unreadableAgain, r.sectorSize);
    std::string differing = std::to_string(r.differingBytes);
    if (!r.firstDifferences.empty()) {
        differing += ", the first at byte offsets";
        for (const std::uint64_t offset : r.firstDifferences) {
            differing += " " + std::to_string(offset);
        }
    }
    text += Line("Differing bytes", differing);
    text += Line("Verification result", r.verifyResult);
    return text;
}

}  // namespace

std::string FormatRecord(const ImageRecord& r) {
    std::string text = "Velmaris image record\n";
    text += Line("Drive number", r.driveNumber);
    text += Line("Model", r.model);
    text += Line("Plug and Play identifier", r.pnpDeviceId);
    text += Line("Drive length", r.length ? std::to_string(*r.length) + " bytes" : "unknown");
    text += Line("Sector size", r.sectorSize ? std::to_string(r.sectorSize) + " bytes" : "unknown");
    text += Line("Image", r.imagePath);
    text += Line("Image access", !r.imageAccess           ? "none: no image was written"
                                 : r.imageAccess->empty() ? "owner only"
                                                          : *r.imageAccess);
    text += Line("Started", r.started);
    text += Line("Ended", r.ended);
    text += Line("Bytes copied", std::to_string(r.bytesCopied));
    text += Line("Result", r.result);
    text += SectorLines("Unreadable sectors", "Unreadable sectors (zeros in the image)",
                        r.unreadable, r.sectorSize);
    text += Line("SHA-256", r.sha256.value_or("none: no image was written"));
    text += VerificationLines(r);
    return text;
}

}  // namespace velmaris::imaging
