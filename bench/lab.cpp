#include "lab.h"

#include <fcntl.h>
#include <linux/loop.h>
#include <linux/magic.h>
#include <sys/ioctl.h>
#include <sys/mount.h>
#include <sys/stat.h>
#include <sys/statfs.h>
#include <sys/utsname.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <memory>
#include <sstream>
#include <system_error>
#include <thread>

#include "process.h"

namespace velmaris::bench {
namespace {

namespace fs = std::filesystem;

constexpr std::size_t kChunk = std::size_t{4} << 20;

[[noreturn]] void SystemError(const std::string& what) {
    throw std::system_error(errno, std::generic_category(), what);
}

class Fd {
  public:
    Fd(const std::string& path, int flags, mode_t mode = 0)
        : fd_(::open(path.c_str(), flags | O_CLOEXEC, mode)) {
        if (fd_ < 0) {
            SystemError("open " + path);
        }
    }
    ~Fd() { ::close(fd_); }
    Fd(const Fd&) = delete;
    Fd& operator=(const Fd&) = delete;
    int Get() const { return fd_; }

  private:
    int fd_;
};

void WriteAll(int fd, const std::byte* data, std::size_t size, const std::string& what) {
    while (size > 0) {
        const ssize_t n = ::write(fd, data, size);
        if (n < 0 && errno == EINTR) {
            continue;
        }
        if (n <= 0) {
            SystemError("write " + what);
        }
        data += n;
        size -= static_cast<std::size_t>(n);
    }
}

// Up to size bytes, fewer only at the end.
std::size_t ReadFull(int fd, std::byte* data, std::size_t size, const std::string& what) {
    std::size_t done = 0;
    while (done < size) {
        const ssize_t n = ::read(fd, data + done, size - done);
        if (n < 0 && errno == EINTR) {
            continue;
        }
        if (n < 0) {
            SystemError("read " + what);
        }
        if (n == 0) {
            break;
        }
        done += static_cast<std::size_t>(n);
    }
    return done;
}

void WriteText(const std::string& path, const std::string& text) {
    const Fd fd(path, O_WRONLY);
    WriteAll(fd.Get(), reinterpret_cast<const std::byte*>(text.data()), text.size(), path);
}

std::string ReadLine(const fs::path& path) {
    std::ifstream in(path);
    std::string line;
    std::getline(in, line);
    return line;
}

std::uint64_t SplitMix(std::uint64_t& state) {
    std::uint64_t z = (state += 0x9E3779B97F4A7C15ull);
    z = (z ^ (z >> 30)) * 0xBF58476D1CE4E5B9ull;
    z = (z ^ (z >> 27)) * 0x94D049BB133111EBull;
    return z ^ (z >> 31);
}

struct AlignedFree {
    void operator()(std::byte* p) const { std::free(p); }
};
using Buffer = std::unique_ptr<std::byte[], AlignedFree>;

Buffer Allocate(std::size_t size) {
    void* p = nullptr;
    if (::posix_memalign(&p, 4096, size) != 0) {
        throw std::bad_alloc();
    }
    return Buffer(static_cast<std::byte*>(p));
}

// O_DIRECT where the file's file system takes it: an image its writer dropped from the page
// cache came back from this machine's disk at 1.3 GB/s in direct 4 MiB reads, 0.36 buffered.
int DirectIfAllowed(const std::string& path) {
    const int fd = ::open(path.c_str(), O_RDONLY | O_DIRECT | O_CLOEXEC);
    if (fd < 0) {
        return 0;  // the real open says why, if it fails too
    }
    ::close(fd);
    return O_DIRECT;
}

// By ioctl, not losetup: after an interrupt no child process may start.
void ClearLoop(const std::string& node) {
    const int fd = ::open(node.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0 || ::ioctl(fd, LOOP_CLR_FD, 0) != 0) {
        std::fprintf(stderr, "bench: could not detach %s: %s\n", node.c_str(),
                     std::strerror(errno));
    }
    if (fd >= 0) {
        ::close(fd);
    }
}

}  // namespace

Lab::~Lab() {
    for (auto it = groups_.rbegin(); it != groups_.rend(); ++it) {
        // The last member may still be leaving.
        for (int attempt = 0; attempt < 50 && ::rmdir(it->c_str()) != 0 && errno == EBUSY;
             ++attempt) {
            std::this_thread::sleep_for(std::chrono::milliseconds(100));
        }
    }
    for (auto it = loops_.rbegin(); it != loops_.rend(); ++it) {
        ClearLoop(*it);
    }
    for (auto it = mounts_.rbegin(); it != mounts_.rend(); ++it) {
        if (::umount2(it->c_str(), 0) != 0) {
            std::fprintf(stderr, "bench: could not unmount %s: %s\n", it->c_str(),
                         std::strerror(errno));
        }
    }
    for (auto it = folders_.rbegin(); it != folders_.rend(); ++it) {
        std::error_code ec;
        fs::remove_all(*it, ec);
    }
}

fs::path Lab::Folder(const fs::path& path) {
    if (fs::exists(path)) {
        throw std::runtime_error(path.string() + " is already there; remove it first");
    }
    fs::create_directories(path);
    folders_.push_back(path);
    return path;
}

fs::path Lab::Tmpfs(const fs::path& point, std::uint64_t bytes) {
    Folder(point);
    const std::string options = "size=" + std::to_string(bytes) + ",mode=0700";
    if (::mount("tmpfs", point.c_str(), "tmpfs", MS_NOSUID | MS_NODEV, options.c_str()) != 0) {
        SystemError("mount tmpfs on " + point.string());
    }
    mounts_.push_back(point);
    return point;
}

Loop Lab::Attach(const fs::path& file, std::uint64_t sizeLimit, std::uint64_t offset) {
    std::vector<std::string> argv{"losetup", "-f", "--show", "-r"};
    if (sizeLimit != 0) {
        argv.insert(argv.end(), {"--sizelimit", std::to_string(sizeLimit)});
    }
    if (offset != 0) {
        argv.insert(argv.end(), {"--offset", std::to_string(offset)});
    }
    argv.push_back(file.string());
    const auto out = Output(argv);
    if (!out || out->rfind("/dev/", 0) != 0) {
        throw std::runtime_error("losetup could not attach " + file.string());
    }
    Loop loop;
    loop.node = out->substr(0, out->find('\n'));
    loop.name = loop.node.substr(5);
    loops_.push_back(loop.node);
    const fs::path sys = fs::path("/sys/block") / loop.name;
    loop.majMin = ReadLine(sys / "dev");
    loop.bytes = std::stoull(ReadLine(sys / "size")) * 512;
    return loop;
}

void Lab::Detach(const Loop& loop) {
    const auto it = std::find(loops_.begin(), loops_.end(), loop.node);
    if (it != loops_.end()) {
        ClearLoop(loop.node);
        loops_.erase(it);
    }
}

std::string Lab::ThrottleGroup(const std::string& name, const std::vector<Loop>& loops,
                               std::uint64_t bps) {
    const fs::path root = "/sys/fs/cgroup/blkio";
    if (!fs::exists(root / "blkio.throttle.read_bps_device")) {
        throw std::runtime_error("no cgroup v1 blkio hierarchy at " + root.string());
    }
    const std::string group = (root / name).string();
    if (::mkdir(group.c_str(), 0755) != 0) {
        SystemError("mkdir " + group);
    }
    groups_.push_back(group);
    for (const Loop& loop : loops) {
        // One device a write: the file takes one rule at a time.
        WriteText(group + "/blkio.throttle.read_bps_device",
                  loop.majMin + " " + std::to_string(bps) + "\n");
    }
    return group;
}

void FillRandom(std::byte* data, std::size_t size, std::uint64_t& state) {
    std::size_t i = 0;
    for (; i + 8 <= size; i += 8) {
        const std::uint64_t word = SplitMix(state);
        std::memcpy(data + i, &word, 8);
    }
    if (i < size) {
        const std::uint64_t word = SplitMix(state);
        std::memcpy(data + i, &word, size - i);
    }
}

void WriteRandomFile(const fs::path& file, std::uint64_t bytes, std::uint64_t seed) {
    const Fd fd(file.string(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
    const Buffer buffer = Allocate(kChunk);
    std::uint64_t state = seed;
    for (std::uint64_t done = 0; done < bytes;) {
        const auto size = static_cast<std::size_t>(std::min<std::uint64_t>(kChunk, bytes - done));
        FillRandom(buffer.get(), size, state);
        WriteAll(fd.Get(), buffer.get(), size, file.string());
        done += size;
    }
}

void DropCaches() {
    ::sync();
    WriteText("/proc/sys/vm/drop_caches", "3\n");
}

std::uint64_t ReadThrough(const std::string& path) {
    const Fd fd(path, O_RDONLY);
    const Buffer buffer = Allocate(kChunk);
    std::uint64_t bytes = 0;
    for (std::size_t n = kChunk; n == kChunk;) {
        n = ReadFull(fd.Get(), buffer.get(), kChunk, path);
        bytes += n;
    }
    return bytes;
}

double CachedReadSpeed(const std::string& path) {
    ReadThrough(path);
    const auto start = std::chrono::steady_clock::now();
    const std::uint64_t bytes = ReadThrough(path);
    const std::chrono::duration<double> seconds = std::chrono::steady_clock::now() - start;
    return static_cast<double>(bytes) / seconds.count();
}

std::uint64_t AvailableKiB() {
    std::ifstream meminfo("/proc/meminfo");
    for (std::string word; meminfo >> word;) {
        if (word == "MemAvailable:") {
            std::uint64_t kib = 0;
            meminfo >> kib;
            return kib;
        }
    }
    return 0;
}

std::optional<std::string> CompareImage(const std::string& device, const fs::path& image) {
    const Fd source(device, O_RDONLY);
    std::error_code ec;
    if (!fs::exists(image, ec)) {
        return "no image " + image.string();
    }
    const Fd copy(image.string(), O_RDONLY | DirectIfAllowed(image.string()));
    const Buffer a = Allocate(kChunk);
    const Buffer b = Allocate(kChunk);
    std::uint64_t offset = 0;
    for (;;) {
        const std::size_t n = ReadFull(source.Get(), a.get(), kChunk, device);
        const std::size_t m = ReadFull(copy.Get(), b.get(), kChunk, image.string());
        const std::size_t common = std::min(n, m);
        if (std::memcmp(a.get(), b.get(), common) != 0) {
            std::size_t i = 0;
            while (a[i] == b[i]) {
                ++i;
            }
            return image.string() + " differs from " + device + " at byte " +
                   std::to_string(offset + i);
        }
        if (n != m) {
            return image.string() + (n < m ? " is longer than " : " is shorter than ") + device;
        }
        if (n < kChunk) {
            return std::nullopt;
        }
        offset += n;
    }
}

double WriteSpeed(const fs::path& folder, std::uint64_t bytes) {
    const fs::path file = folder / "write-speed.bin";
    const auto size = static_cast<std::size_t>(bytes);
    const Buffer buffer = Allocate(size);
    std::uint64_t state = 0x5EED;
    FillRandom(buffer.get(), size, state);
    DropCaches();
    const auto start = std::chrono::steady_clock::now();
    {
        const Fd fd(file.string(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
        for (std::size_t done = 0; done < size; done += kChunk) {
            WriteAll(fd.Get(), buffer.get() + done, std::min(kChunk, size - done), file.string());
        }
        if (::fsync(fd.Get()) != 0) {
            SystemError("fsync " + file.string());
        }
    }
    const std::chrono::duration<double> seconds = std::chrono::steady_clock::now() - start;
    fs::remove(file);
    return static_cast<double>(bytes) / seconds.count();
}

namespace {

// Bytes a second of one stream of O_DIRECT reads of kChunk from a file or device to its end.
double TimedDirectRead(const std::string& path, std::byte* buffer) {
    const Fd fd(path, O_RDONLY | O_DIRECT);
    const auto start = std::chrono::steady_clock::now();
    std::uint64_t done = 0;
    for (std::size_t n = kChunk; n == kChunk;) {
        n = ReadFull(fd.Get(), buffer, kChunk, path);
        done += n;
    }
    const std::chrono::duration<double> seconds = std::chrono::steady_clock::now() - start;
    return static_cast<double>(done) / seconds.count();
}

}  // namespace

double DirectReadSpeed(const fs::path& folder, std::uint64_t bytes) {
    const fs::path file = folder / "read-speed.bin";
    WriteRandomFile(file, bytes, 0x5EAD);
    {
        const Fd fd(file.string(), O_RDONLY);
        if (::fsync(fd.Get()) != 0) {
            SystemError("fsync " + file.string());
        }
    }
    const Buffer buffer = Allocate(kChunk);
    double best = 0;
    for (int k = 0; k < 3; ++k) {
        best = std::max(best, TimedDirectRead(file.string(), buffer.get()));
    }
    fs::remove(file);
    return best;
}

double DirectDeviceReadSpeed(const std::string& path) {
    ReadThrough(path);
    const Buffer buffer = Allocate(kChunk);
    return TimedDirectRead(path, buffer.get());
}

std::string MachineLine(const fs::path& target) {
    std::string cpu = "unknown processor";
    std::ifstream cpuinfo("/proc/cpuinfo");
    for (std::string line; std::getline(cpuinfo, line);) {
        if (line.rfind("model name", 0) == 0) {
            cpu = line.substr(line.find(':') + 2);
            break;
        }
    }
    std::uint64_t memKiB = 0;
    std::ifstream meminfo("/proc/meminfo");
    for (std::string word; meminfo >> word;) {
        if (word == "MemTotal:") {
            meminfo >> memKiB;
            break;
        }
    }
    utsname uts{};
    ::uname(&uts);
    std::string disk = "unknown";
    try {
        if (const auto out =
                Output({"findmnt", "-n", "-o", "SOURCE,FSTYPE", "--target", target.string()})) {
            disk = out->substr(0, out->find('\n'));
            disk.erase(0, disk.find_first_not_of(' '));
        }
    } catch (const std::exception&) {
    }
    std::ostringstream line;
    line << cpu << ", " << ::sysconf(_SC_NPROCESSORS_ONLN) << " cores, "
         << (memKiB + (1u << 19)) / (1u << 20) << " GiB RAM, Linux " << uts.release << "; target "
         << target.string() << " on " << disk;
    return line.str();
}

long UnwrittenKiB() {
    std::ifstream meminfo("/proc/meminfo");
    long total = 0;
    for (std::string word; meminfo >> word;) {
        if (word == "Dirty:" || word == "Writeback:") {
            long kib = 0;
            meminfo >> kib;
            total += kib;
        }
    }
    return total;
}

bool OnTmpfs(const fs::path& folder) {
    struct statfs info {};
    return ::statfs(folder.c_str(), &info) == 0 && info.f_type == TMPFS_MAGIC;
}

}  // namespace velmaris::bench
