#include "jobs/image_path.h"

namespace velmaris::jobs {

std::string DefaultImageName(int row) {
    std::string number = std::to_string(row);
    if (number.size() < 3) {
        number.insert(0, 3 - number.size(), '0');
    }
    return number + ".bin";
}

std::string FileNamePart(const std::string& path, char separator) {
    const size_t last = path.rfind(separator);
    return last == std::string::npos ? separator + path : path.substr(last);
}

std::string InFolder(const std::string& folder, const std::string& fileNamePart,
                     platform::Files& files) {
    const char separator = files.Separator();
    if (!files.KeepsDoubledSeparator() && !folder.empty() && folder.back() == separator &&
        !fileNamePart.empty() && fileNamePart.front() == separator) {
        return folder + fileNamePart.substr(1);
    }
    return folder + fileNamePart;
}

}  // namespace velmaris::jobs
