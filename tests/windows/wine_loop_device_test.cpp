// The Win32 read path over a real block device: a Linux loop device that Wine opens as
// "\\.\X:" through a dosdevices "x::" link. wine_loop_device.sh sets it up as root and names it,
// its length and its backing file in the environment.
#include <gtest/gtest.h>

#include <windows.h>

#include <cstdlib>
#include <string>
#include <vector>

#include "platform/windows/utf8.h"
#include "platform/windows/win32_raw_drive.h"
#include "scratch.h"

namespace velmaris::platform {
namespace {

TEST(WineLoopDevice, DeliversTheDevicesBytesExactlyToItsEnd) {
    const char* device = std::getenv("VELMARIS_LOOP_DEVICE");
    const char* length = std::getenv("VELMARIS_LOOP_LENGTH");
    const char* backing = std::getenv("VELMARIS_LOOP_FILE");
    if (device == nullptr || length == nullptr || backing == nullptr) {
        GTEST_SKIP() << "needs root and losetup: wine_loop_device.sh sets up the loop device";
    }
    const std::string bytes = test::ScratchDir::Read(backing);
    ASSERT_EQ(std::to_string(bytes.size()), length) << backing;
    const HANDLE handle =
        CreateFileW(Wide(device).value().c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE,
                    nullptr, OPEN_EXISTING, 0, nullptr);
    ASSERT_NE(handle, INVALID_HANDLE_VALUE) << device << ": " << GetLastError();
    // Wine answers no length query for the device: the length is the one set up.
    const auto drive = MakeWin32RawDrive(DeviceOver(handle), bytes.size(), 512, "");
    // The copy's blocks, then its sectors up to the end, into the copy's aligned buffers.
    std::vector<std::byte> buffer(131072 + 4096);
    auto* aligned = reinterpret_cast<std::byte*>(
        (reinterpret_cast<std::uintptr_t>(buffer.data()) + 4095) & ~std::uintptr_t{4095});
    std::string got;
    for (const std::size_t size : {std::size_t{131072}, std::size_t{512}}) {
        IoResult result;
        while ((result = drive->Read(aligned, size)).bytes == size) {
            got.append(reinterpret_cast<const char*>(aligned), size);
        }
        EXPECT_EQ(result.error, IoError::None) << result.message;
    }
    EXPECT_TRUE(got == bytes) << got.size() << " bytes read are not the device's";
}

}  // namespace
}  // namespace velmaris::platform
