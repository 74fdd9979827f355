#include "imaging/image_record.h"

namespace velmaris::imaging {

namespace {

std::string Line(const char* name, const std::string& value) {
    return std::string(name) + ": " + value + "\n";
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
    if (r.unreadable.empty()) {
        text += Line("Unreadable sectors", "none");
    } else {
        text += "Unreadable sectors (zeros in the image):\n";
        for (const auto& [first, last] : r.unreadable) {
            const std::uint64_t size = r.sectorSize;
            text += "  sectors " + std::to_string(first) + "-" + std::to_string(last) + " (bytes " +
                    std::to_string(first * size) + "-" + std::to_string((last + 1) * size - 1) +
                    ")\n";
        }
    }
    text += Line("SHA-256", r.sha256.value_or("none: no image was written"));
    return text;
}

}  // namespace velmaris::imaging
