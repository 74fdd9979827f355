#include "platform/linux/posix_files.h"

#include <sys/stat.h>

#include <cerrno>
#include <system_error>

namespace velmaris::platform {

bool PosixFiles::FolderExists(const std::string& path) {
    struct stat info {};
    return !path.empty() && ::stat(path.c_str(), &info) == 0 && S_ISDIR(info.st_mode);
}

std::optional<std::string> PosixFiles::CreateFolder(const std::string& path) {
    if (::mkdir(path.c_str(), 0777) == 0) {
        return std::nullopt;
    }
    return std::generic_category().message(errno);  // strerror, safe on any thread
}

}  // namespace velmaris::platform
