#include <openssl/evp.h>

#include <cstdlib>
#include <new>

#include "platform/sha256.h"

namespace velmaris::platform {

namespace {

struct ContextDeleter {
    void operator()(EVP_MD_CTX* context) const { EVP_MD_CTX_free(context); }
};
using Context = std::unique_ptr<EVP_MD_CTX, ContextDeleter>;

// The library fails here only when it cannot allocate: nothing the run could go on with.
void Require(int ok) {
    if (ok != 1) {
        throw std::bad_alloc();
    }
}

}  // namespace

struct Sha256::State {
    Context context{EVP_MD_CTX_new()};
};

Sha256::Sha256() : state_(std::make_unique<State>()) {
    if (!state_->context) {
        throw std::bad_alloc();
    }
    Reset();
}

Sha256::~Sha256() = default;
Sha256::Sha256(Sha256&&) noexcept = default;
Sha256& Sha256::operator=(Sha256&&) noexcept = default;

void Sha256::Reset() {
    Require(EVP_DigestInit_ex(state_->context.get(), EVP_sha256(), nullptr));
}

void Sha256::Update(const std::byte* data, std::size_t size) {
    if (size > 0) {
        Require(EVP_DigestUpdate(state_->context.get(), data, size));
    }
}

std::array<std::uint8_t, 32> Sha256::Finish() const {
    // A copy is finished, so that the message may go on.
    const Context copy(EVP_MD_CTX_new());
    if (!copy) {
        throw std::bad_alloc();
    }
    Require(EVP_MD_CTX_copy_ex(copy.get(), state_->context.get()));
    std::array<std::uint8_t, 32> digest{};
    unsigned int length = 0;
    Require(EVP_DigestFinal_ex(copy.get(), digest.data(), &length));
    return digest;
}

}  // namespace velmaris::platform
