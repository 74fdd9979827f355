// The user's number marks on Windows.
#pragma once

#include <optional>
#include <string>

#include "platform/services.h"

namespace velmaris::platform {

class Win32NumberMarks : public NumberFormat {
  public:
    // localeName names a locale ("de-DE"); without one, the user's own settings are used.
    explicit Win32NumberMarks(std::optional<std::string> localeName = std::nullopt);

    // The group mark in UTF-8, possibly empty or several bytes. The decimal mark is a single
    // character in the core: a mark that is not one ASCII character gives '.'. Each mark that
    // cannot be read keeps the default of NumberMarks.
    NumberMarks UserMarks() override;

  private:
    std::optional<std::string> localeName_;
};

}  // namespace velmaris::platform
