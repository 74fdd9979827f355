// SHA-256 from the operating system's own cryptography: the hash a record states is then the
// one reviewers trust, computed on the processor's SHA instructions where it has them.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>

namespace velmaris::platform {

class Sha256 {
  public:
    Sha256();
    ~Sha256();
    Sha256(Sha256&& other) noexcept;
    Sha256& operator=(Sha256&& other) noexcept;
    Sha256(const Sha256&) = delete;
    Sha256& operator=(const Sha256&) = delete;

    // Adds size bytes; data may be null when size is 0.
    void Update(const std::byte* data, std::size_t size);

    // The digest of everything added so far; more may be added afterwards.
    std::array<std::uint8_t, 32> Finish() const;

    // Starts a new message.
    void Reset();

    // The digest as 64 lower-case hex digits.
    static std::string Hex(const std::array<std::uint8_t, 32>& digest);

    struct State;

  private:
    std::unique_ptr<State> state_;
};

}  // namespace velmaris::platform
