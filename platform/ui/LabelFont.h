// The font labels are drawn with: DejaVu Sans, regular and bold, from the
// font package the installer installs (fonts-dejavu-core, see
// scripts/install-deps.sh). The files are loaded explicitly and drawn with
// fixed options (grey antialiasing, no hinting), so drawn text comes out the
// same on every machine. There is no fallback to another font: when a file is
// missing, label text is not drawn (logged once) and snapshot comparisons
// fail (platform::testing::SnapshotComparison). Metrics never depend on the
// font (UIFont.h).
#pragma once

#include <string>

namespace platform {

class LabelFont {
public:
    // The file drawn for regular / bold text.
    static std::string fontFile(bool bold);
    // Both files can be read.
    static bool isAvailable();
    // Seam (main thread, before text is drawn): draw from these files
    // instead, e.g. a missing one; empty strings restore the package's.
    static void setFontFilesForTesting(std::string regular, std::string bold);
};

}  // namespace platform

using platform::LabelFont;
