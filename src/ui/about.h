// The About box's version line.
#pragma once

#include <string>

namespace velmaris::ui {

inline std::string AboutVersionLine(int major, int minor, int revision) {
    return "Version : " + std::to_string(major) + "." + std::to_string(minor) + "." +
           std::to_string(revision);
}

}  // namespace velmaris::ui
