// The fixture of the UI tests: the platform fixture (with its key window and
// root view controller) plus helpers to read snapshots and compare them with
// reference images.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "platform/testing/PlatformTest.h"
#include "platform/testing/SnapshotComparison.h"
#include "platform/ui/UIKit.h"

namespace platform::testing {

class UITestFixture : public PlatformTest {
protected:
    void TearDown() override;

    // A scratch file path in the test's temporary folder.
    std::string scratch(const std::string& name) const { return home() + "/" + name; }

    // Compares `png` with platform/ui/tests/data/<name> (SnapshotComparison;
    // UPDATE_SNAPSHOT_REFERENCES=1 rewrites it). Channels may differ by `tolerance`.
    ::testing::AssertionResult matchesReference(const std::string& png, const std::string& name, int tolerance = 2) {
        return SnapshotComparison::matchesReference(png, "platform/ui/tests/data/" + name, tolerance);
    }

    static uint32_t pixelAt(const std::string& png, int x, int y) { return SnapshotComparison::pixelAt(png, x, y); }
    static int pngWidth(const std::string& png) { return SnapshotComparison::pngWidth(png); }
    static std::vector<uint32_t> pixels(const std::string& png) { return SnapshotComparison::pixels(png); }
    static int pngHeight(const std::string& png) { return SnapshotComparison::pngHeight(png); }
};

// Channel helpers for ARGB words.
inline int alphaOf(uint32_t p) { return int(p >> 24); }
inline int redOf(uint32_t p) { return int((p >> 16) & 0xFF); }
inline int greenOf(uint32_t p) { return int((p >> 8) & 0xFF); }
inline int blueOf(uint32_t p) { return int(p & 0xFF); }

}  // namespace platform::testing
