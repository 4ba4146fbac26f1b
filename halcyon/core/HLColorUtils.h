// The client's colour extension: colours of server settings ("#AARRGGBB" and
// shorter hex forms, "rgb(r,g,b[,a])" templates), lighter and darker tones,
// and the names of the platform's stock colours. Any thread.
#pragma once

#include <string>
#include <string_view>
#include <vector>

#include "platform/ui/UIColor.h"

namespace HLUtils {

// "#" removed and upper-cased, then RGB, ARGB, RRGGBB or AARRGGBB (alpha
// first); a one-digit component is doubled. Any other length gives white.
Ref<UIColor> hl_colorWithHexString(std::string_view hex);
// The component of `length` (1 or 2) hex digits at `start`, divided by 255.
CGFloat hl_colorComponentFrom(std::string_view hex, size_t start, size_t length);
// "rgb(255,0,0)" or "rgba(255,0,0,0.5)": red, green, blue / 255, alpha as is
// (1 when absent). Fewer than three comma-separated parts give null.
Ref<UIColor> hl_colorWithRGBTemplateString(std::string_view text);
// Red, green and blue raised (lowered) by 0.2 within 0…1, alpha kept; null for null.
Ref<UIColor> hl_lighterColorForColor(const Ref<UIColor>& color);
Ref<UIColor> hl_darkerColorForColor(const Ref<UIColor>& color);
// The fourteen stock colour names, "blackColor" to "clearColor".
const std::vector<std::string>& hl_stockColorSelectors();

}  // namespace HLUtils
