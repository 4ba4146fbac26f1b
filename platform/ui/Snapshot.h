// Internal: draws a view tree (its layer tree) with cairo and writes it as a
// PNG file at the screen scale: visible layers in sublayer and zPosition
// order with background, corner-radius clipping, border, the views' own
// content (drawRect output, images, text) and free-standing layers; alpha and
// transforms applied.
#pragma once

#include <string>

#include "platform/runtime/NSObject.h"

namespace platform {

class UIView;

class Snapshot {
public:
    // Lays out and draws the subtree first. False (logged) when the file
    // cannot be written.
    static bool writePNG(const Ref<UIView>& root, const std::string& path);
};

}  // namespace platform
