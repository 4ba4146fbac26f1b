// Internal: the small constraint solver. Per view, it places the subviews
// named by the constraints the view holds (and their own size constraints)
// by propagation: an axis is fixed once two of {min, max, size, centre} are
// known; required equalities whose other side is known are applied
// repeatedly in priority order, then order added; a view left short takes its
// intrinsic content size or its current size; inequalities then clamp.
#pragma once

namespace platform {

class UIView;

class LayoutSolver {
public:
    // Sets the frames of `view`'s constrained subviews.
    static void solve(UIView* view);
};

}  // namespace platform
