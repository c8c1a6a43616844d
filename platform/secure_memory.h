#pragma once

#include <cstddef>

namespace quorlen {

// Returns zero-filled memory of at least `size` bytes for a secret: kept out of swap where
// the system allows and never written into a core dump; null when none can be had.
void* allocateSecretMemory(std::size_t size);

// Gives back memory from allocateSecretMemory of the same `size`. The caller zeroes it first.
void freeSecretMemory(void* memory, std::size_t size);

}  // namespace quorlen
