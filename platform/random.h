#pragma once

#include <cstdint>
#include <span>

namespace quorlen {

// Fills `bytes` from the system's cryptographic random source; returns false when it
// cannot, leaving `bytes` unspecified.
bool fillRandom(std::span<std::uint8_t> bytes);

}  // namespace quorlen
