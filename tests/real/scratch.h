// A temporary folder for a test, with shell commands run beside it.
#pragma once

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <optional>
#include <random>
#include <string>

#include "pattern.h"

namespace velmaris::test {

inline std::string Quoted(const std::filesystem::path& path) {
    return "'" + path.string() + "'";
}

class ScratchDir {
  public:
    explicit ScratchDir(
        const std::filesystem::path& parent = std::filesystem::temp_directory_path())
        : path_(parent / ("velmaris-test-" + std::to_string(std::random_device()()))) {
        std::filesystem::create_directories(path_);
    }
    ~ScratchDir() {
        std::error_code ec;
        std::filesystem::remove_all(path_, ec);
    }
    ScratchDir(const ScratchDir&) = delete;
    ScratchDir& operator=(const ScratchDir&) = delete;

    static std::string Read(const std::filesystem::path& file) {
        std::ifstream in(file, std::ios::binary);
        return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
    }

    const std::filesystem::path& Path() const { return path_; }

    std::filesystem::path Put(const std::filesystem::path& relative, const std::string& text) {
        const auto file = path_ / relative;
        std::filesystem::create_directories(file.parent_path());
        std::ofstream(file, std::ios::binary) << text;
        return file;
    }

    // The command's first line of output when it exits with 0.
    std::optional<std::string> Run(const std::string& command) {
        const auto out = path_ / ".output";
        if (std::system((command + " >" + Quoted(out) + " 2>/dev/null").c_str()) != 0) {
            return std::nullopt;
        }
        std::string line;
        std::getline(std::ifstream(out), line);
        return line;
    }

  private:
    std::filesystem::path path_;
};

}  // namespace velmaris::test
