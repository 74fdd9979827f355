// The number marks of the user's LC_NUMERIC locale.
#pragma once

#include <optional>
#include <string>

#include "platform/services.h"

namespace velmaris::platform {

class LocaleNumberMarks : public NumberFormat {
  public:
    // localeName names a locale ("de_DE.UTF-8"); without one, the user's LC_NUMERIC from the
    // environment (LC_ALL, then LC_NUMERIC, then LANG) is used.
    explicit LocaleNumberMarks(std::optional<std::string> localeName = std::nullopt);

    // Marks in UTF-8; group is "" when the locale does not group digits; "." and "," when
    // the locale cannot be loaded.
    NumberMarks UserMarks() override;

  private:
    std::optional<std::string> localeName_;
};

}  // namespace velmaris::platform
