// A layer filled with a linear gradient between two points given in unit
// coordinates of its bounds (top centre to bottom centre by default).
#pragma once

#include <optional>
#include <vector>

#include "platform/ui/CALayer.h"

namespace platform {

class CAGradientLayer : public CALayer {
public:
    static Ref<CAGradientLayer> alloc() { return std::make_shared<CAGradientLayer>(); }
    static Ref<CAGradientLayer> layer() { return alloc(); }

    const std::vector<CGColorRef>& colors() const { return colors_; }
    void setColors(std::vector<CGColorRef> colors) { colors_ = std::move(colors); }
    // Absent: evenly spaced.
    const std::optional<std::vector<CGFloat>>& locations() const { return locations_; }
    void setLocations(std::optional<std::vector<CGFloat>> locations) { locations_ = std::move(locations); }
    CGPoint startPoint() const { return startPoint_; }
    void setStartPoint(CGPoint p) { startPoint_ = p; }
    CGPoint endPoint() const { return endPoint_; }
    void setEndPoint(CGPoint p) { endPoint_ = p; }

    void drawInContext(CGContextRef context) override;

private:
    std::vector<CGColorRef> colors_;
    std::optional<std::vector<CGFloat>> locations_;
    CGPoint startPoint_{0.5f, 0};
    CGPoint endPoint_{0.5f, 1};
};

}  // namespace platform

using platform::CAGradientLayer;
