// A temporary folder for a test, named with characters outside Latin script.
#pragma once

#include <windows.h>

#include <filesystem>
#include <fstream>
#include <random>
#include <string>

#include "pattern.h"
#include "platform/windows/utf8.h"

namespace velmaris::test {

inline std::string Utf8Of(const std::u8string& text) {
    return std::string(text.begin(), text.end());
}

// A UTF-8 path as the file system library takes it.
inline std::filesystem::path FsPath(const std::string& utf8) {
    return std::filesystem::path(platform::Wide(utf8).value());
}

// The 8.3 name the file system gave an existing path, or the path itself when it gave none.
inline std::string ShortPathOf(const std::string& utf8) {
    const std::wstring path = platform::Wide(utf8).value();
    std::wstring shortPath(path.size() + 1, L'\0');
    const DWORD length =
        GetShortPathNameW(path.c_str(), shortPath.data(), static_cast<DWORD>(shortPath.size()));
    return length == 0 || length >= shortPath.size() ? utf8
                                                     : platform::Utf8(shortPath.substr(0, length));
}

class ScratchDir {
  public:
    ScratchDir() {
        const std::filesystem::path temp = std::filesystem::temp_directory_path();
        path_ = platform::Utf8(temp.wstring()) + "\\" + Utf8Of(u8"velmaris-образы-映像-") +
                std::to_string(std::random_device()());
        std::filesystem::create_directories(FsPath(path_));
    }
    ~ScratchDir() {
        std::error_code ec;
        std::filesystem::remove_all(FsPath(path_), ec);
    }
    ScratchDir(const ScratchDir&) = delete;
    ScratchDir& operator=(const ScratchDir&) = delete;

    const std::string& Path() const { return path_; }  // UTF-8

    std::string Put(const std::string& name, const std::string& bytes) const {
        const std::string file = path_ + "\\" + name;
        std::ofstream(FsPath(file), std::ios::binary) << bytes;
        return file;
    }

    static std::string Read(const std::string& file) {
        std::ifstream in(FsPath(file), std::ios::binary);
        return std::string(std::istreambuf_iterator<char>(in), {});
    }

  private:
    std::string path_;
};

}  // namespace velmaris::test
