// Image paths: a folder, the platform's separator and a file name.
#pragma once

#include <string>

#include "platform/services.h"

namespace velmaris::jobs {

// The file name a job gets from its row number: "001.bin", "042.bin", "1000.bin".
std::string DefaultImageName(int row);

// From the path's last separator to its end, that separator included; a path without one
// gives the separator followed by the whole path.
std::string FileNamePart(const std::string& path, char separator);

// folder + fileNamePart, where fileNamePart starts with the separator. A folder that ends in
// the separator keeps it, and the platform says whether ours follows it anyway.
std::string InFolder(const std::string& folder, const std::string& fileNamePart,
                     platform::Files& files);

}  // namespace velmaris::jobs
