// The test process's resident memory, read from /proc, for tests that bound
// what hostile input may cost in memory. Freed memory an allocator keeps
// (AddressSanitizer's quarantine, for one) still counts as resident until
// releaseFreedMemory() hands it back.
#pragma once

#include <cstddef>

namespace platform::testing {

// Resident bytes now (0 when /proc cannot be read).
size_t residentBytes();
// The highest resident size since the process started or the last reset.
size_t peakResidentBytes();
// Starts the peak again from the current resident size; false when the
// kernel does not allow it (the peak then still counts from the start).
bool resetPeakResidentBytes();
// Returns memory the sanitizer's allocator holds back after a free (a no-op
// without AddressSanitizer), so a freed allocation shows in residentBytes().
void releaseFreedMemory();
// Bytes that live allocations hold now, as the allocator counts them (the
// sanitizer's, or the C library's): unlike residentBytes(), untouched by
// freed memory kept back or pages the system has not taken back.
size_t allocatedBytes();

}  // namespace platform::testing
