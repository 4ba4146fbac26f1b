// The fixture of the UI tests: the platform fixture (with its key window and
// root view controller) plus helpers to read snapshots and compare them with
// reference images.
#pragma once

#include <cairo.h>

#include <cstdint>
#include <string>
#include <vector>

#include "platform/testing/PlatformTest.h"
#include "platform/ui/UIKit.h"

namespace platform::testing {

class UITestFixture : public PlatformTest {
protected:
    void TearDown() override;

    // A scratch file path in the test's temporary folder.
    std::string scratch(const std::string& name) const { return home() + "/" + name; }

    // Compares `png` with tests/data/<name>; with UPDATE_UI_REFERENCES=1 in
    // the environment, writes the reference instead. Channels may differ by
    // `tolerance`; the result names the first differing pixel.
    ::testing::AssertionResult matchesReference(const std::string& png, const std::string& name, int tolerance = 2);

    // The pixel (premultiplied ARGB) at (x, y) of a PNG file; 0 when unreadable.
    static uint32_t pixelAt(const std::string& png, int x, int y);
    static int pngWidth(const std::string& png);
    // Every pixel of a PNG file, row after row (empty when unreadable).
    static std::vector<uint32_t> pixels(const std::string& png);
    static int pngHeight(const std::string& png);
};

// Channel helpers for ARGB words.
inline int alphaOf(uint32_t p) { return int(p >> 24); }
inline int redOf(uint32_t p) { return int((p >> 16) & 0xFF); }
inline int greenOf(uint32_t p) { return int((p >> 8) & 0xFF); }
inline int blueOf(uint32_t p) { return int(p & 0xFF); }

}  // namespace platform::testing
