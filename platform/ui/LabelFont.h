// The font labels are drawn with: DejaVu Sans, regular and bold, from the
// font package the installer installs (fonts-dejavu-core, see
// scripts/install-deps.sh). The files are loaded explicitly and drawn with
// fixed options (grey antialiasing, no hinting), so drawn text comes out the
// same on every machine. There is no fallback to another font: when a file is
// missing, label text is not drawn (logged once) and snapshot comparisons
// fail (platform::testing::SnapshotComparison) and text is measured by the
// fixed fallback metrics of UIFont.h.
#pragma once

#include <optional>
#include <string>
#include <string_view>

namespace platform {

class LabelFont {
public:
    // The file drawn for regular / bold text.
    static std::string fontFile(bool bold);
    // Both files can be read.
    static bool isAvailable();
    // The width of one line of UTF-8 text drawn at `size` points, measured
    // with the face, size and options the drawing uses: its advance, or its
    // glyphs' right edge where that reaches further, so a label this wide
    // shows all of it. Nothing when the file is missing. Any thread.
    static std::optional<double> widthOfLine(std::string_view text, double size, bool bold);
    // Seam (main thread, before text is drawn): draw from these files
    // instead, e.g. a missing one; empty strings restore the package's.
    static void setFontFilesForTesting(std::string regular, std::string bold);
};

}  // namespace platform

using platform::LabelFont;
