#include "platform/linux/sysfs_disk_catalog.h"

#include <fcntl.h>
#include <linux/fs.h>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <unistd.h>

#include <algorithm>
#include <fstream>
#include <iterator>
#include <limits>
#include <set>
#include <string_view>
#include <system_error>
#include <tuple>
#include <utility>

#include "platform/linux/block_devices.h"
#include "platform/linux/mount_table.h"

namespace velmaris::platform {
namespace {

namespace fs = std::filesystem;
using DevNumber = std::pair<std::uint32_t, std::uint32_t>;

constexpr std::string_view kDevicePrefix = R"(\\.\PHYSICALDRIVE)";

bool IsSpace(char c) {
    return c == ' ' || c == '\t' || c == '\n' || c == '\r' || c == '\v' || c == '\f';
}

bool IsDigit(char c) {
    return c >= '0' && c <= '9';
}

bool AllDigits(std::string_view s) {
    return !s.empty() && std::all_of(s.begin(), s.end(), IsDigit);
}

// Trims and folds whitespace runs: SCSI pads vendor and model with spaces.
std::string Tidy(std::string_view s) {
    std::string out;
    for (char c : s) {
        if (IsSpace(c)) {
            if (!out.empty() && out.back() != ' ') {
                out.push_back(' ');
            }
        } else {
            out.push_back(c);
        }
    }
    if (!out.empty() && out.back() == ' ') {
        out.pop_back();
    }
    return out;
}

std::string ReadAll(const fs::path& file) {
    std::ifstream in(file, std::ios::binary);
    if (!in) {
        return {};
    }
    return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

// The tidied text of a small sysfs attribute; nullopt when unreadable or blank.
std::optional<std::string> ReadAttr(const fs::path& file) {
    std::string text = Tidy(ReadAll(file));
    if (text.empty()) {
        return std::nullopt;
    }
    return text;
}

std::optional<std::uint64_t> ParseUnsigned(std::string_view s) {
    if (!AllDigits(s)) {
        return std::nullopt;
    }
    std::uint64_t value = 0;
    for (char c : s) {
        const auto digit = static_cast<std::uint64_t>(c - '0');
        if (value > (std::numeric_limits<std::uint64_t>::max() - digit) / 10) {
            return std::nullopt;
        }
        value = value * 10 + digit;
    }
    return value;
}

std::optional<DevNumber> ReadDevNumber(const fs::path& file) {
    const auto text = ReadAttr(file);
    return text ? linux_mounts::ParseDevNumber(*text) : std::nullopt;
}

// Names that came from a directory listing or a caller must not climb out of it.
bool IsKernelName(std::string_view name) {
    return !name.empty() && name != "." && name != ".." &&
           name.find_first_of(std::string_view("/\0", 2)) == std::string_view::npos;
}

bool HasNumberedPrefix(std::string_view name, std::string_view prefix) {
    return name.substr(0, prefix.size()) == prefix && AllDigits(name.substr(prefix.size()));
}

bool Exists(const fs::path& p) {
    std::error_code ec;
    return fs::exists(p, ec);
}

// Sorts numbers (digits without leading zeros, by length, then digits) before other text.
using Token = std::tuple<int, std::size_t, std::string>;

Token NumberToken(std::string digits) {
    digits.erase(0, std::min(digits.find_first_not_of('0'), digits.size() - 1));
    return {0, digits.size(), digits};
}

std::vector<Token> NaturalKey(const std::string& name) {
    // The kernel names these disks sda..sdz, sdaa..: read the letters as a base-26 count.
    for (std::string_view family : {"xvd", "sd", "vd", "hd"}) {
        const std::string_view rest =
            std::string_view(name).substr(std::min(family.size(), name.size()));
        if (name.rfind(family, 0) == 0 && !rest.empty() && rest.size() <= 12 &&
            std::all_of(rest.begin(), rest.end(), [](char c) { return c >= 'a' && c <= 'z'; })) {
            std::uint64_t count = 0;
            for (char c : rest) {
                count = count * 26 + static_cast<std::uint64_t>(c - 'a' + 1);
            }
            return {{1, 0, std::string(family)}, NumberToken(std::to_string(count))};
        }
    }
    std::vector<Token> key;
    for (std::size_t i = 0; i < name.size();) {
        const bool digits = IsDigit(name[i]);
        std::size_t j = i;
        while (j < name.size() && IsDigit(name[j]) == digits) {
            ++j;
        }
        std::string text = name.substr(i, j - i);
        // cppcheck-suppress accessMoved ; only one branch of the condition runs
        key.push_back(digits ? NumberToken(std::move(text)) : Token{1, 0, std::move(text)});
        i = j;
    }
    return key;
}

bool IsLoop(const std::string& name) {
    return HasNumberedPrefix(name, "loop");
}

std::string ModelText(const fs::path& base, const std::string& name) {
    std::string text;
    const auto model = ReadAttr(base / "device" / "model");
    const auto vendor = ReadAttr(base / "device" / "vendor");
    if (IsLoop(name)) {
        text = "Loop device";
    } else if (model) {
        // "ATA" names the bus, and virtio's vendor is a PCI number: neither helps the user.
        const bool useful = vendor && *vendor != "ATA" && vendor->rfind("0x", 0) != 0 &&
                            model->rfind(*vendor, 0) != 0;
        text = useful ? *vendor + " " + *model : *model;
    } else if (const auto mmcName = ReadAttr(base / "device" / "name")) {
        text = *mmcName;
    } else {
        std::error_code ec;
        const auto subsystem = fs::read_symlink(base / "device" / "subsystem", ec);
        if (!ec && subsystem.filename() == "virtio") {
            text = "Virtio block device";
        }
    }
    return text.empty() ? name : text + " (" + name + ")";
}

// Natural order of kernel names; "loop01" and "loop1" still get an order.
bool NaturalNameLess(const std::string& a, const std::string& b) {
    const auto ka = NaturalKey(a);
    const auto kb = NaturalKey(b);
    return ka != kb ? ka < kb : a < b;
}

}  // namespace

SysfsDiskCatalog::SysfsDiskCatalog(std::filesystem::path sysfsRoot, std::filesystem::path mountInfo,
                                   std::filesystem::path devRoot)
    : sysfs_(std::move(sysfsRoot)), mountInfo_(std::move(mountInfo)), dev_(std::move(devRoot)) {}

std::optional<std::vector<DiskRecord>> SysfsDiskCatalog::Disks() {
    try {
        const fs::path block = sysfs_ / "block";
        std::error_code ec;
        fs::directory_iterator it(block, ec);
        if (ec) {
            return std::nullopt;
        }
        std::vector<std::string> names;
        for (; it != fs::directory_iterator(); it.increment(ec)) {
            const std::string name = it->path().filename().string();
            const fs::path base = block / name;
            // Skipped: memory disks; device-mapper and md arrays, which are built on the
            // physical disks (their mounts count for those disks through holders); hidden
            // multipath paths, which have no device node; loop devices with no file.
            const bool skip = !IsKernelName(name) || HasNumberedPrefix(name, "ram") ||
                              HasNumberedPrefix(name, "zram") || Exists(base / "dm") ||
                              Exists(base / "md") || ReadAttr(base / "hidden") == "1" ||
                              (IsLoop(name) && !ReadAttr(base / "loop" / "backing_file"));
            if (!skip) {
                names.push_back(name);
            }
        }
        std::sort(names.begin(), names.end(), NaturalNameLess);

        std::vector<DiskRecord> records;
        for (const auto& name : names) {
            auto known = numbers_.find(name);
            if (known == numbers_.end()) {
                const std::uint32_t next = names_.empty() ? 0 : names_.rbegin()->first + 1;
                known = numbers_.emplace(name, next).first;
                names_.emplace(next, name);
            }
            records.push_back(RecordOf(name, known->second));
        }
        std::sort(records.begin(), records.end(),
                  [](const DiskRecord& a, const DiskRecord& b) { return a.index < b.index; });
        return records;
    } catch (...) {
        return std::nullopt;
    }
}

DiskRecord SysfsDiskCatalog::RecordOf(const std::string& name, std::uint32_t index) const {
    const fs::path base = sysfs_ / "block" / name;
    DiskRecord record;
    record.index = index;
    record.deviceId = std::string(kDevicePrefix) + std::to_string(index);
    record.model = ModelText(base, name);

    const bool removable = ReadAttr(base / "removable") == "1";
    const auto bytes = SizeInBytes(name);
    // An empty card reader or optical drive reports no size: like Windows, no medium means
    // neither a media type nor a size.
    const bool hasMedium = !removable || bytes.value_or(0) > 0;
    if (hasMedium) {
        std::error_code ec;
        const std::string devicePath = fs::canonical(base, ec).string();
        if (removable) {
            record.mediaType = "Removable Media";
        } else if (!ec && devicePath.find("/usb") != std::string::npos) {
            record.mediaType = "External hard disk media";
        } else {
            record.mediaType = "Fixed hard disk media";
        }
        if (bytes) {
            record.size = std::to_string(*bytes);
        }
    }

    // Read through the node itself, as LinuxStorage reads it when the drive is opened.
    if (const auto dev = ReadDevNumber(base / "dev")) {
        const int fd = linux_block::OpenBlockNode(dev_ / name, *dev);
        if (fd >= 0) {
            record.identity = linux_block::DiskIdentity(base, fd);
            ::close(fd);
        }
    }
    if (auto wwid = ReadAttr(base / "wwid")) {
        record.pnpDeviceId = std::move(*wwid);
    } else if (auto deviceWwid = ReadAttr(base / "device" / "wwid")) {
        record.pnpDeviceId = std::move(*deviceWwid);
    } else {
        std::error_code ec;
        const fs::path canonical = fs::canonical(base, ec);
        record.pnpDeviceId = ec ? base.string() : canonical.string();
    }
    return record;
}

std::optional<std::uint64_t> SysfsDiskCatalog::SizeInBytes(const std::string& name) const {
    const fs::path base = sysfs_ / "block" / name;
    const auto dev = ReadDevNumber(base / "dev");

    // The device's own answer is exact; only the node for this very device counts.
    const int fd = ::open((dev_ / name).c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC);
    if (fd >= 0) {
        struct stat st {};
        std::uint64_t bytes = 0;
        const bool same = ::fstat(fd, &st) == 0 && S_ISBLK(st.st_mode) && dev &&
                          major(st.st_rdev) == dev->first && minor(st.st_rdev) == dev->second;
        const bool ok = same && ::ioctl(fd, BLKGETSIZE64, &bytes) == 0;
        ::close(fd);
        if (ok) {
            return bytes;
        }
    }

    // sysfs counts 512-byte units whatever the logical sector size.
    const auto text = ReadAttr(base / "size");
    const auto sectors = text ? ParseUnsigned(*text) : std::nullopt;
    if (!sectors || *sectors > std::numeric_limits<std::uint64_t>::max() / 512) {
        return std::nullopt;
    }
    return *sectors * 512;
}

std::optional<std::string> SysfsDiskCatalog::NameOf(const std::string& diskDeviceId) const {
    if (diskDeviceId.rfind(kDevicePrefix, 0) != 0) {
        return std::nullopt;
    }
    const auto n = ParseUnsigned(std::string_view(diskDeviceId).substr(kDevicePrefix.size()));
    if (!n || *n > std::numeric_limits<std::uint32_t>::max()) {
        return std::nullopt;
    }
    const auto found = names_.find(static_cast<std::uint32_t>(*n));
    if (found == names_.end()) {
        return std::nullopt;
    }
    return found->second;
}

std::optional<std::string> SysfsDiskCatalog::DevicePathOf(std::uint32_t n) const {
    const auto found = names_.find(n);
    if (found == names_.end()) {
        return std::nullopt;
    }
    return (dev_ / found->second).string();
}

std::vector<std::string> SysfsDiskCatalog::PartitionsOf(const std::string& diskDeviceId) {
    try {
        const auto name = NameOf(diskDeviceId);
        if (!name) {
            return {};
        }
        std::vector<std::string> partitions;
        const fs::path base = sysfs_ / "block" / *name;
        std::error_code ec;
        for (fs::directory_iterator it(base, ec); !ec && it != fs::directory_iterator();
             it.increment(ec)) {
            if (Exists(it->path() / "partition")) {
                partitions.push_back(it->path().filename().string());
            }
        }
        std::sort(partitions.begin(), partitions.end(), NaturalNameLess);
        // A filesystem (or a holder with one) may sit on the whole disk.
        if (!VolumesOf(*name).empty()) {
            partitions.insert(partitions.begin(), *name);
        }
        return partitions;
    } catch (...) {
        return {};
    }
}

std::vector<std::string> SysfsDiskCatalog::VolumesOf(const std::string& partitionDeviceId) {
    try {
        if (!IsKernelName(partitionDeviceId)) {
            return {};
        }
        // The device and everything stacked on it: device-mapper, md, LVM.
        std::set<DevNumber> devices;
        std::set<std::string> seen;
        std::vector<std::string> pending{partitionDeviceId};
        while (!pending.empty()) {
            const std::string name = std::move(pending.back());
            pending.pop_back();
            if (!IsKernelName(name) || !seen.insert(name).second) {
                continue;
            }
            const fs::path base = sysfs_ / "class" / "block" / name;
            if (const auto dev = ReadDevNumber(base / "dev")) {
                devices.insert(*dev);
            }
            std::error_code ec;
            for (fs::directory_iterator it(base / "holders", ec);
                 !ec && it != fs::directory_iterator(); it.increment(ec)) {
                pending.push_back(it->path().filename().string());
            }
        }
        if (devices.empty()) {
            return {};
        }

        std::vector<std::string> volumes;
        for (const auto& entry : linux_mounts::ParseMountInfo(ReadAll(mountInfo_))) {
            bool match = devices.contains({entry.major, entry.minor});
            // btrfs shows an anonymous device number; its source names the real one.
            if (!match && entry.major == 0 && entry.source.rfind("/dev/", 0) == 0) {
                struct stat st {};
                match = ::stat(entry.source.c_str(), &st) == 0 && S_ISBLK(st.st_mode) &&
                        devices.contains({major(st.st_rdev), minor(st.st_rdev)});
            }
            if (match &&
                std::find(volumes.begin(), volumes.end(), entry.mountPoint) == volumes.end()) {
                volumes.push_back(entry.mountPoint);
            }
        }
        return volumes;
    } catch (...) {
        return {};
    }
}

DisksUnder SysfsDiskCatalog::DisksHolding(const std::string& path) {
    try {
        const linux_block::DiskSet found =
            linux_block::DiskWalker(sysfs_, mountInfo_, dev_).UnderPath(path);
        if (found.error) {
            return {DisksUnder::Kind::Unknown, {}, *found.error};
        }
        if (!found.blockBacked) {
            return {DisksUnder::Kind::NoDisk, {}, {}};
        }
        DisksUnder under{DisksUnder::Kind::Disks, {}, {}};
        for (const std::string& name : found.disks) {
            if (const auto number = numbers_.find(name); number != numbers_.end()) {
                under.drives.push_back(number->second);
            }
        }
        return under;
    } catch (const std::exception& e) {
        return {DisksUnder::Kind::Unknown, {}, e.what()};
    }
}

std::vector<std::string> SysfsDiskCatalog::DrivesBackedBy(const std::string& path) {
    std::vector<std::string> drives;
    {
        const auto file = linux_block::FileIdOf(path);
        if (!file) {
            return drives;
        }
        std::error_code ec;
        for (fs::directory_iterator it(sysfs_ / "block", ec); !ec && it != fs::directory_iterator();
             it.increment(ec)) {
            const std::string name = it->path().filename().string();
            const auto dev = ReadDevNumber(it->path() / "dev");
            if (!IsLoop(name) || !dev) {
                continue;
            }
            std::optional<linux_block::FileId> backing;
            const int fd = linux_block::OpenBlockNode(dev_ / name, *dev);
            if (fd >= 0) {
                backing = linux_block::LoopBackingOf(fd);
                ::close(fd);
            } else if (const auto text = ReadAttr(it->path() / "loop" / "backing_file")) {
                // Without the right to open the node: the file the driver names, by identity.
                backing = linux_block::FileIdOf(*text);
            }
            if (backing == file) {
                drives.push_back(ModelText(it->path(), name));
            }
        }
    }
    return drives;
}

}  // namespace velmaris::platform
