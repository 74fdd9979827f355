#include "platform/sha256.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <utility>

namespace velmaris::platform {
namespace {

const std::byte* Bytes(const std::string& text) {
    return reinterpret_cast<const std::byte*>(text.data());
}

// The system's hash behind our wrapper: a digest leaves the message open, Reset starts anew,
// and a moved hash goes on where it stood. Digests computed with sha256sum.
TEST(Sha256, DigestsGoOnAfterFinishAndStartOverAfterReset) {
    const std::string million(1000000, 'a');
    Sha256 sha;
    EXPECT_EQ(Sha256::Hex(sha.Finish()),
              "e3b0c44298fc1c149afbf4c8996fb92427ae41e4649b934ca495991b7852b855");
    sha.Update(Bytes(million), 3);
    sha.Update(nullptr, 0);
    EXPECT_EQ(Sha256::Hex(sha.Finish()),
              "9834876dcfb05cb167a5c24953eba58c4ac89b1adf57f28f2f9d09af107ee8f0");
    Sha256 moved = std::move(sha);
    for (std::size_t at = 3; at < million.size(); at += 65537) {
        moved.Update(Bytes(million) + at, std::min<std::size_t>(65537, million.size() - at));
    }
    EXPECT_EQ(Sha256::Hex(moved.Finish()),
              "cdc76e5c9914fb9281a1c7e284d73e67f1809a48a497200e046d39ccc7112cd0");
    moved.Reset();
    moved.Update(Bytes("abc"), 3);
    EXPECT_EQ(Sha256::Hex(moved.Finish()),
              "ba7816bf8f01cfea414140de5dae2223b00361a396177a9cb410ff61f20015ad");
}

}  // namespace
}  // namespace velmaris::platform
