#include "platform/secret_bytes.h"

#include "platform/secure_memory.h"

#include <atomic>
#include <cstdlib>
#include <cstring>
#include <utility>

namespace quorlen {
namespace {

std::atomic<SecretBytes::ReleaseObserver> releaseObserver{nullptr};

}  // namespace

void secureZero(void* bytes, std::size_t size) {
    if (bytes == nullptr || size == 0) return;
    std::memset(bytes, 0, size);
    // The barrier tells the compiler the zeroed memory is read, so the stores stay.
    asm volatile("" : : "r"(bytes) : "memory");
}

SecretBytes::SecretBytes(std::size_t size) : size_(size) {
    if (size_ == 0) return;
    data_ = static_cast<std::uint8_t*>(allocateSecretMemory(size_));
    // Without memory there is nowhere to hold the secret; no caller can go on sanely.
    if (data_ == nullptr) std::abort();
}

SecretBytes SecretBytes::copyOf(std::span<const std::uint8_t> bytes) {
    SecretBytes out(bytes.size());
    if (!bytes.empty()) std::memcpy(out.data_, bytes.data(), bytes.size());
    return out;
}

SecretBytes SecretBytes::copyOf(std::string_view text) {
    return copyOf(std::span(reinterpret_cast<const std::uint8_t*>(text.data()), text.size()));
}

SecretBytes::SecretBytes(SecretBytes&& other) noexcept
    : data_(std::exchange(other.data_, nullptr)), size_(std::exchange(other.size_, 0)) {}

SecretBytes& SecretBytes::operator=(SecretBytes&& other) noexcept {
    if (this != &other) {
        release();
        data_ = std::exchange(other.data_, nullptr);
        size_ = std::exchange(other.size_, 0);
    }
    return *this;
}

SecretBytes::~SecretBytes() { release(); }

void SecretBytes::wipe() { secureZero(data_, size_); }

void SecretBytes::setReleaseObserver(ReleaseObserver observer) { releaseObserver = observer; }

void SecretBytes::release() {
    wipe();
    if (data_ != nullptr) {
        if (auto observer = releaseObserver.load()) observer(data_, size_);
    }
    freeSecretMemory(data_, size_);
    data_ = nullptr;
    size_ = 0;
}

}  // namespace quorlen
