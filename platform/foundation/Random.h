// The process-wide random source behind arc4random(), with a test seam.
#pragma once

#include <stdlib.h>

#include <cstddef>
#include <cstdint>
#include <functional>

// arc4random, arc4random_uniform and arc4random_buf are defined by this
// library with C linkage, so every caller in the process (ours or a C
// library's) draws from the same source and honours the test seam.
#if !defined(__GLIBC__) || !__GLIBC_PREREQ(2, 36)
extern "C" {
uint32_t arc4random(void) noexcept;
uint32_t arc4random_uniform(uint32_t upperBound) noexcept;
void arc4random_buf(void* buffer, size_t size) noexcept;
}
#endif

namespace platform::testing {
// Replaces the random source (null restores the system's). Every 32-bit
// draw then comes from `source`: arc4random() returns it, arc4random_uniform(n)
// returns it % n, arc4random_buf and UUIDs are filled with its words.
void setRandomSource(std::function<uint32_t()> source);
}  // namespace platform::testing
