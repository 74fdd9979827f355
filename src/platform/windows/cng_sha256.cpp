#include <windows.h>

#include <bcrypt.h>

#include <algorithm>
#include <limits>
#include <new>

#include "platform/sha256.h"

namespace velmaris::platform {

namespace {

// CNG fails here only when it cannot allocate: nothing the run could go on with.
void Require(NTSTATUS status) {
    if (!BCRYPT_SUCCESS(status)) {
        throw std::bad_alloc();
    }
}

class Algorithm {
  public:
    Algorithm() {
        Require(BCryptOpenAlgorithmProvider(&handle_, BCRYPT_SHA256_ALGORITHM, nullptr, 0));
    }
    ~Algorithm() { BCryptCloseAlgorithmProvider(handle_, 0); }
    Algorithm(const Algorithm&) = delete;
    Algorithm& operator=(const Algorithm&) = delete;
    BCRYPT_ALG_HANDLE Get() const { return handle_; }

  private:
    BCRYPT_ALG_HANDLE handle_ = nullptr;
};

class Hash {
  public:
    Hash() = default;
    ~Hash() { Close(); }
    Hash(const Hash&) = delete;
    Hash& operator=(const Hash&) = delete;
    BCRYPT_HASH_HANDLE* Out() {
        Close();
        return &handle_;
    }
    BCRYPT_HASH_HANDLE Get() const { return handle_; }

  private:
    void Close() {
        if (handle_ != nullptr) {
            BCryptDestroyHash(handle_);
            handle_ = nullptr;
        }
    }
    BCRYPT_HASH_HANDLE handle_ = nullptr;
};

}  // namespace

struct Sha256::State {
    Algorithm algorithm;
    Hash hash;
};

Sha256::Sha256() : state_(std::make_unique<State>()) {
    Reset();
}

Sha256::~Sha256() = default;
Sha256::Sha256(Sha256&&) noexcept = default;
Sha256& Sha256::operator=(Sha256&&) noexcept = default;

void Sha256::Reset() {
    // The system keeps the hash object's memory when no buffer is given (Windows 7 and later).
    Require(
        BCryptCreateHash(state_->algorithm.Get(), state_->hash.Out(), nullptr, 0, nullptr, 0, 0));
}

void Sha256::Update(const std::byte* data, std::size_t size) {
    while (size > 0) {
        const ULONG piece =
            static_cast<ULONG>(std::min<std::size_t>(size, std::numeric_limits<ULONG>::max()));
        // CNG takes a non-const pointer but only reads the input.
        Require(BCryptHashData(state_->hash.Get(),
                               reinterpret_cast<PUCHAR>(const_cast<std::byte*>(data)), piece, 0));
        data += piece;
        size -= piece;
    }
}

std::array<std::uint8_t, 32> Sha256::Finish() const {
    // A duplicate is finished, so that the message may go on.
    Hash copy;
    Require(BCryptDuplicateHash(state_->hash.Get(), copy.Out(), nullptr, 0, 0));
    std::array<std::uint8_t, 32> digest{};
    Require(BCryptFinishHash(copy.Get(), digest.data(), static_cast<ULONG>(digest.size()), 0));
    return digest;
}

}  // namespace velmaris::platform
