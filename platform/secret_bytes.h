#pragma once

#include <cstddef>
#include <cstdint>
#include <span>
#include <string_view>

namespace quorlen {

// The one owner of a secret's bytes. Move-only; zeroes its whole length before the
// memory is released, so a secret never lingers in freed memory. The bytes live in memory
// kept out of swap and core dumps.
class SecretBytes {
  public:
    SecretBytes() = default;
    // Returns a zero-filled buffer of `size` bytes (empty for 0).
    explicit SecretBytes(std::size_t size);
    // Returns a buffer holding a copy of `bytes`.
    static SecretBytes copyOf(std::span<const std::uint8_t> bytes);
    // Returns a buffer holding the bytes of `text` (no terminator).
    static SecretBytes copyOf(std::string_view text);

    SecretBytes(SecretBytes&& other) noexcept;
    SecretBytes& operator=(SecretBytes&& other) noexcept;
    SecretBytes(const SecretBytes&) = delete;
    SecretBytes& operator=(const SecretBytes&) = delete;
    ~SecretBytes();

    std::uint8_t* data() { return data_; }
    const std::uint8_t* data() const { return data_; }
    std::size_t size() const { return size_; }
    bool empty() const { return size_ == 0; }
    std::span<const std::uint8_t> bytes() const { return {data_, size_}; }
    std::string_view view() const { return {reinterpret_cast<const char*>(data_), size_}; }

    // Overwrites every byte with zero; the length stays.
    void wipe();
    // Zeroes and frees the bytes; the buffer is empty afterwards.
    void release();

    // For tests: `observer` sees each buffer's bytes after they are zeroed and before they
    // are freed, so a test can check what a released buffer held. Null stops it.
    using ReleaseObserver = void (*)(const std::uint8_t* data, std::size_t size);
    static void setReleaseObserver(ReleaseObserver observer);

  private:
    std::uint8_t* data_ = nullptr;
    std::size_t size_ = 0;
};

// Overwrites `bytes` with zeros in a way the optimiser may not drop.
void secureZero(void* bytes, std::size_t size);

}  // namespace quorlen
