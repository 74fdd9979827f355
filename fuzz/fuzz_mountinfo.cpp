// The mount table as the kernel writes it: any text parses without harm, and a line written
// the kernel's way reads back as what was written.
#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <string>
#include <vector>

#include <fuzzer/FuzzedDataProvider.h>

#include "fuzz_check.h"
#include "platform/linux/mount_table.h"

namespace {

using namespace velmaris::platform::linux_mounts;

// The kernel writes space, tab, newline and backslash in a path as three octal digits.
std::string Escape(const std::string& text) {
    std::string out;
    for (char c : text) {
        if (c == ' ' || c == '\t' || c == '\n' || c == '\\') {
            char octal[5];
            std::snprintf(octal, sizeof octal, "\\%03o",
                          static_cast<unsigned>(static_cast<unsigned char>(c)));
            out += octal;
        } else {
            out += c;
        }
    }
    return out;
}

// A path as the kernel could hold it: absolute, and without a NUL.
std::string PathFrom(std::string text) {
    std::replace(text.begin(), text.end(), '\0', '_');
    return "/" + text;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    FuzzedDataProvider in(data, size);
    const std::string junk = in.ConsumeRandomLengthString(512);
    const std::string mountPoint = PathFrom(in.ConsumeRandomLengthString(64));
    const std::string source = PathFrom(in.ConsumeRandomLengthString(64));
    const auto major = in.ConsumeIntegral<std::uint32_t>();
    const auto minor = in.ConsumeIntegral<std::uint32_t>();
    const std::string path = PathFrom(in.ConsumeRemainingBytesAsString());

    const std::string decoded = DecodeMountField(junk);
    FUZZ_CHECK(decoded.size() <= junk.size());
    FUZZ_CHECK(DecodeMountField(Escape(junk)) == junk);

    const std::vector<MountEntry> any = ParseMountInfo(junk);
    FUZZ_CHECK(any.size() <=
               static_cast<std::size_t>(std::count(junk.begin(), junk.end(), '\n')) + 1);
    for (const MountEntry& entry : any) {
        FUZZ_CHECK(!entry.mountPoint.empty());
    }

    const std::string line = "36 35 " + std::to_string(major) + ":" + std::to_string(minor) +
                             " / " + Escape(mountPoint) + " rw,relatime shared:1 - ext4 " +
                             Escape(source) + " rw,errors=remount-ro\n";
    const std::vector<MountEntry> entries = ParseMountInfo(junk + "\n" + line);
    FUZZ_CHECK(!entries.empty());
    const MountEntry& last = entries.back();
    FUZZ_CHECK(last.major == major && last.minor == minor);
    FUZZ_CHECK(last.mountPoint == mountPoint);
    FUZZ_CHECK(last.source == source);

    // The holder is a whole-component prefix of the path, and none longer holds it.
    const auto holds = [&path](const std::string& mp) {
        return mp == "/" || path == mp || path.starts_with(mp + "/");
    };
    const auto holder = MountPointHolding(entries, path);
    if (holder) {
        FUZZ_CHECK(holds(*holder));
    }
    for (const MountEntry& entry : entries) {
        if (holds(entry.mountPoint)) {
            FUZZ_CHECK(holder && holder->size() >= entry.mountPoint.size());
        }
    }
    return 0;
}
