#include "imaging/sha256.h"
#include "imaging/sha256_blocks.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <random>
#include <string>
#include <utility>
#include <vector>

namespace velmaris::imaging {
namespace {

std::string HashOf(const std::string& text) {
    Sha256 sha;
    sha.Update(reinterpret_cast<const std::byte*>(text.data()), text.size());
    return Sha256::Hex(sha.Finish());
}

// Feeds data in pieces whose sizes cycle through sizes.
std::string HashInPieces(const std::vector<std::byte>& data,
                         const std::vector<std::size_t>& sizes) {
    Sha256 sha;
    std::size_t at = 0;
    for (std::size_t i = 0; at < data.size(); ++i) {
        const std::size_t size = std::min(sizes[i % sizes.size()], data.size() - at);
        sha.Update(data.data() + at, size);
        at += size;
    }
    return Sha256::Hex(sha.Finish());
}

// Expected digests computed with sha256sum.
TEST(Sha256, MatchesKnownDigests) {
    const std::pair<std::string, const char*> cases[] = {
        {"", "e3b0c44298fc1c149afbf4c8996fb92427ae41e4649b934ca495991b7852b855"},
        {"abc", "ba7816bf8f01cfea414140de5dae2223b00361a396177a9cb410ff61f20015ad"},
        // Lengths either side of where the padding needs a second block.
        {std::string(55, 'a'), "9f4390f8d30c2dd92ec9f095b65e2b9ae9b0a925a5258e241c9f1e910f734318"},
        {std::string(56, 'a'), "b35439a4ac6f0948b6d6f9e3c6af0f5f590ce20f1bde7090ef7970686ec6738a"},
        {std::string(64, 'a'), "ffe054fe7ae0cb6dc65c3af9b61d5209f439851db43d0ba5997337df154668eb"},
        {std::string(1000000, 'a'),
         "cdc76e5c9914fb9281a1c7e284d73e67f1809a48a497200e046d39ccc7112cd0"},
    };
    for (const auto& [text, digest] : cases) {
        EXPECT_EQ(HashOf(text), digest) << text.size() << " bytes";
    }
}

// Any way of cutting a message into pieces gives the digest of the whole.
TEST(Sha256, PiecesMatchOneUpdateAndResetStartsOver) {
    std::vector<std::byte> data(300001);
    std::mt19937 random(20240611);
    for (std::byte& b : data) {
        b = static_cast<std::byte>(random() & 0xff);
    }
    Sha256 sha;
    sha.Update(data.data(), data.size());
    const std::string whole = Sha256::Hex(sha.Finish());
    EXPECT_EQ(HashInPieces(data, {7, 64, 1, 128 * 1024, 127, 4096}), whole);
    EXPECT_EQ(HashInPieces(data, {65, 3, 63}), whole);

    // A digest leaves the message open; Reset starts a new one.
    sha.Update(data.data(), 1);
    EXPECT_NE(Sha256::Hex(sha.Finish()), whole);
    sha.Reset();
    sha.Update(data.data(), 1000);
    sha.Update(nullptr, 0);
    sha.Update(data.data() + 1000, data.size() - 1000);
    EXPECT_EQ(Sha256::Hex(sha.Finish()), whole);
}

// The digests above go through whichever compression this processor uses; the other one must
// agree with it block for block, from any state.
TEST(Sha256, PortableAndInstructionCompressionAgree) {
    if (!HasShaInstructions()) {
        GTEST_SKIP() << "this processor has no SHA instructions; the digests above used C++";
    }
    std::mt19937 random(7);
    std::vector<std::byte> blocks(64 * 2049);
    for (std::byte& b : blocks) {
        b = static_cast<std::byte>(random() & 0xff);
    }
    for (const std::size_t count : {0u, 1u, 2u, 3u, 2049u}) {
        Sha256State portable;
        for (std::uint32_t& word : portable) {
            word = static_cast<std::uint32_t>(random());
        }
        Sha256State instructions = portable;
        // Unaligned on purpose: blocks sit anywhere in a read buffer.
        Sha256BlocksPortable(portable, blocks.data() + 1, std::min<std::size_t>(count, 2048));
        Sha256BlocksShaInstructions(instructions, blocks.data() + 1,
                                    std::min<std::size_t>(count, 2048));
        EXPECT_EQ(portable, instructions) << count << " blocks";
    }
}

}  // namespace
}  // namespace velmaris::imaging
