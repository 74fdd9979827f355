// The mount table as /proc/self/mountinfo lists it, parsed without touching the machine.
// Kept inline because the Linux library's source list is fixed by the build.
#pragma once

#include <algorithm>
#include <cstdint>
#include <optional>
#include <sstream>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

namespace velmaris::platform::linux_mounts {

struct MountEntry {
    std::uint32_t major = 0;
    std::uint32_t minor = 0;
    std::string root;          // decoded: the folder of the file system mounted here
    std::string mountPoint;    // decoded
    std::string source;        // decoded, e.g. "/dev/sdb1"
    std::string fsType;        // "ext4", "btrfs", "fuse.sshfs"
    std::string superOptions;  // as the kernel escapes them: split first, then decode
};

// The kernel escapes space, tab, newline and backslash as a backslash and three octal digits.
inline std::string DecodeMountField(std::string_view field) {
    std::string out;
    out.reserve(field.size());
    for (std::size_t i = 0; i < field.size(); ++i) {
        auto isOctal = [&](std::size_t k) { return field[k] >= '0' && field[k] <= '7'; };
        if (field[i] == '\\' && i + 3 < field.size() && isOctal(i + 1) && isOctal(i + 2) &&
            isOctal(i + 3)) {
            const int value =
                (field[i + 1] - '0') * 64 + (field[i + 2] - '0') * 8 + (field[i + 3] - '0');
            if (value <= 0xFF) {
                out.push_back(static_cast<char>(value));
                i += 3;
                continue;
            }
        }
        out.push_back(field[i]);
    }
    return out;
}

// "8:17" into major and minor; nullopt for anything else.
inline std::optional<std::pair<std::uint32_t, std::uint32_t>> ParseDevNumber(
    std::string_view text) {
    const auto colon = text.find(':');
    if (colon == std::string_view::npos || colon == 0 || colon + 1 >= text.size()) {
        return std::nullopt;
    }
    auto number = [](std::string_view digits) -> std::optional<std::uint32_t> {
        std::uint64_t value = 0;
        for (char c : digits) {
            if (c < '0' || c > '9') {
                return std::nullopt;
            }
            value = value * 10 + static_cast<std::uint64_t>(c - '0');
            if (value > 0xFFFFFFFFu) {
                return std::nullopt;
            }
        }
        return static_cast<std::uint32_t>(value);
    };
    const auto major = number(text.substr(0, colon));
    const auto minor = number(text.substr(colon + 1));
    if (!major || !minor) {
        return std::nullopt;
    }
    return std::make_pair(*major, *minor);
}

// The decoded value of name=value among a mount's super options (upperdir=, lowerdir=).
inline std::optional<std::string> MountOption(std::string_view options, std::string_view name) {
    std::size_t at = 0;
    while (at <= options.size()) {
        const std::size_t end = std::min(options.find(',', at), options.size());
        const std::string_view option = options.substr(at, end - at);
        if (option.size() > name.size() && option.substr(0, name.size()) == name &&
            option[name.size()] == '=') {
            return DecodeMountField(option.substr(name.size() + 1));
        }
        at = end + 1;
    }
    return std::nullopt;
}

// Lines that do not have the mountinfo shape are skipped.
inline std::vector<MountEntry> ParseMountInfo(std::string_view text) {
    std::vector<MountEntry> entries;
    std::istringstream lines{std::string(text)};
    std::string line;
    while (std::getline(lines, line)) {
        // Fields are split at spaces only: the kernel escapes space, tab, newline and
        // backslash in a path, but a carriage return or form feed stays raw.
        std::vector<std::string> f;
        std::istringstream fields(line);
        for (std::string word; std::getline(fields, word, ' ');) {
            if (!word.empty()) {
                f.push_back(word);
            }
        }
        // id parent maj:min root mount-point options [optional...] - fstype source super-options
        if (f.size() < 5) {
            continue;
        }
        const auto dev = ParseDevNumber(f[2]);
        if (!dev) {
            continue;
        }
        MountEntry entry;
        entry.major = dev->first;
        entry.minor = dev->second;
        entry.root = DecodeMountField(f[3]);
        entry.mountPoint = DecodeMountField(f[4]);
        std::size_t dash = 6;
        while (dash < f.size() && f[dash] != "-") {
            ++dash;
        }
        if (dash + 1 < f.size()) {
            entry.fsType = DecodeMountField(f[dash + 1]);
        }
        if (dash + 2 < f.size()) {
            entry.source = DecodeMountField(f[dash + 2]);
        }
        if (dash + 3 < f.size()) {
            entry.superOptions = f[dash + 3];
        }
        entries.push_back(std::move(entry));
    }
    return entries;
}

// The mount point that holds an absolute, resolved path: the longest one that is a
// component-wise prefix of it; of several at the same point, the last mounted.
inline std::optional<std::string> MountPointHolding(const std::vector<MountEntry>& entries,
                                                    std::string_view path) {
    const std::string* best = nullptr;
    for (const auto& entry : entries) {
        const std::string& mp = entry.mountPoint;
        const bool holds = mp == "/"
                               ? (!path.empty() && path.front() == '/')
                               : (path.size() >= mp.size() && path.substr(0, mp.size()) == mp &&
                                  (path.size() == mp.size() || path[mp.size()] == '/'));
        if (holds && (best == nullptr || mp.size() >= best->size())) {
            best = &mp;
        }
    }
    if (best == nullptr) {
        return std::nullopt;
    }
    return *best;
}

}  // namespace velmaris::platform::linux_mounts
