// Reading an image record in tests.
#pragma once

#include <string>

namespace velmaris::fakes {

// The value of a "Name: value" line of an image record.
inline std::string RecordField(const std::string& record, const std::string& name) {
    const std::size_t at = record.find("\n" + name + ": ");
    if (at == std::string::npos) {
        return "(no " + name + " line)";
    }
    const std::size_t from = at + name.size() + 3;
    return record.substr(from, record.find('\n', from) - from);
}

}  // namespace velmaris::fakes
