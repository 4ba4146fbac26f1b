// Compares PNG snapshots of views and windows with reference PNGs committed
// beside the tests (e.g. "Trillium/tests/data/banner.png", paths from the
// project root). A reference is never rewritten by accident: only a run with
// UPDATE_SNAPSHOT_REFERENCES=1 in the environment writes the snapshots over
// their references (scripts/update-snapshots.sh runs chosen tests so and lists
// what changed). The rule: a rewritten reference is looked at, as an image,
// before it is committed, and the commit says why it changed.
// Drawn text depends on the label font: every comparison fails while that
// font is missing (LabelFont.h), rather than passing on other glyphs.
#pragma once

#include <gtest/gtest.h>

#include <cstdint>
#include <string>
#include <vector>

#include "platform/runtime/NSObject.h"

namespace platform {
class UIView;
class UIWindow;
}  // namespace platform

namespace platform::testing {

class SnapshotComparison {
public:
    // The reference's full path: the project root (PROJECT_SOURCE_DIR, set
    // for every test by CTest) + `reference`.
    static std::string referencePath(const std::string& reference);
    // True when references are being rewritten (UPDATE_SNAPSHOT_REFERENCES=1).
    static bool rewritingReferences();

    // `png` against the reference: same size, and every channel of every
    // pixel within `tolerance` (0: identical pixels). When rewriting, copies
    // `png` over the reference, logs the path and succeeds.
    static ::testing::AssertionResult matchesReference(const std::string& png, const std::string& reference,
                                                       int tolerance = 0);
    // Snapshots the view (UIView::renderToPNG) or window (UIWindow::snapshotPNG)
    // into `scratchFolder` and compares it.
    static ::testing::AssertionResult viewMatchesReference(const Ref<UIView>& view, const std::string& reference,
                                                           const std::string& scratchFolder, int tolerance = 0);
    static ::testing::AssertionResult windowMatchesReference(const Ref<UIWindow>& window, const std::string& reference,
                                                             const std::string& scratchFolder, int tolerance = 0);

    // Reading PNG files: size, one pixel and every pixel (premultiplied
    // ARGB words, row after row); 0 / empty when unreadable.
    static int pngWidth(const std::string& png);
    static int pngHeight(const std::string& png);
    static uint32_t pixelAt(const std::string& png, int x, int y);
    static std::vector<uint32_t> pixels(const std::string& png);
};

}  // namespace platform::testing
