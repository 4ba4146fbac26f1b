// Test seam: tiny, structurally valid MP4 files (a movie header, an optional
// video track of a given picture size, an optional audio track, empty sample
// tables and a few bytes of media data) for tests of the players and of code
// that plays cached videos.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "platform/ui/CGGeometry.h"

namespace platform::testing {

// Writes the file (no video track when `videoSize` is zero); false when it
// cannot be written or the timescale is 0 or below.
bool writeTestMp4(const std::string& path, double seconds, int32_t timescale, CGSize videoSize, bool audio);

// The file's bytes; empty for a timescale of 0 or below.
std::vector<uint8_t> testMp4Bytes(double seconds, int32_t timescale, double videoWidth, double videoHeight,
                                  bool audio);

}  // namespace platform::testing
