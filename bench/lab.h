// The machine set up for a benchmark: a tmpfs for the drives' contents, loop devices over
// files of random bytes, a blkio cgroup that throttles them. Undone in reverse order.
#pragma once

#include <cstdint>
#include <filesystem>
#include <optional>
#include <string>
#include <vector>

namespace velmaris::bench {

struct Loop {
    std::string name;    // kernel name, "loop3"
    std::string node;    // "/dev/loop3"
    std::string majMin;  // "7:3"
    std::uint64_t bytes = 0;
};

class Lab {
  public:
    Lab() = default;
    ~Lab();
    Lab(const Lab&) = delete;
    Lab& operator=(const Lab&) = delete;

    // A folder created here, removed with everything in it at the end.
    std::filesystem::path Folder(const std::filesystem::path& path);
    // A tmpfs of this size mounted on a new folder.
    std::filesystem::path Tmpfs(const std::filesystem::path& point, std::uint64_t bytes);
    // A loop device over the file from offset on, read-only; sizeLimit 0 takes the rest.
    Loop Attach(const std::filesystem::path& file, std::uint64_t sizeLimit = 0,
                std::uint64_t offset = 0);
    // Detaches a loop device of this lab before the end, which also frees its page cache.
    void Detach(const Loop& loop);
    // A new blkio cgroup under /sys/fs/cgroup/blkio that reads each device at most bps bytes
    // a second.
    std::string ThrottleGroup(const std::string& name, const std::vector<Loop>& loops,
                              std::uint64_t bps);

  private:
    std::vector<std::filesystem::path> folders_;
    std::vector<std::filesystem::path> mounts_;
    std::vector<std::string> loops_;
    std::vector<std::string> groups_;
};

// Fills a file with bytes from a generator seeded with seed.
void WriteRandomFile(const std::filesystem::path& file, std::uint64_t bytes, std::uint64_t seed);
// Fills a buffer the same way.
void FillRandom(std::byte* data, std::size_t size, std::uint64_t& state);

// Writes the dirty pages out and empties the page cache.
void DropCaches();
// Reads a file or device to its end, so that its pages are in the cache; the bytes read.
std::uint64_t ReadThrough(const std::string& path);
// Bytes a second of one reader of a file or device, read to its end twice: the second time,
// from the page cache.
double CachedReadSpeed(const std::string& path);
// Bytes a second of one reader of a device in the page cache, in O_DIRECT reads of 4 MiB: past
// its cache, as the verification reads a drive (a loop device still reads its file's cache).
double DirectDeviceReadSpeed(const std::string& path);
// Memory the machine can give without swapping, in KiB.
std::uint64_t AvailableKiB();

// Where an image first differs from its device, or nullopt when they are the same bytes.
std::optional<std::string> CompareImage(const std::string& device,
                                        const std::filesystem::path& image);

// Bytes a second for one stream of random data written to a new file in the folder and
// flushed to the disk.
double WriteSpeed(const std::filesystem::path& folder, std::uint64_t bytes);

// Bytes a second for one stream of O_DIRECT reads of 4 MiB, the best of three, of a file of
// random bytes written to the folder for it.
double DirectReadSpeed(const std::filesystem::path& folder, std::uint64_t bytes);

// One line about the machine: processor, cores, memory, kernel, and the target's disk.
std::string MachineLine(const std::filesystem::path& target);

// The machine's dirty and writeback pages, in KiB: what is not yet on a disk.
long UnwrittenKiB();

// Whether the folder is on a tmpfs, which is not a machine's disk.
bool OnTmpfs(const std::filesystem::path& folder);

}  // namespace velmaris::bench
