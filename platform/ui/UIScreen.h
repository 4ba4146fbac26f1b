// The device's screen: size from the device profile, following the interface
// orientation from system version 8.0 on (always portrait before), scale,
// and the application frame below a visible status bar.
#pragma once

#include "platform/runtime/NSObject.h"
#include "platform/ui/CGGeometry.h"

namespace platform {

class UIScreen : public NSObject {
public:
    static Ref<UIScreen> mainScreen();

    CGRect bounds() const;
    // Portrait, in pixels.
    CGRect nativeBounds() const;
    CGFloat scale() const;
    CGFloat nativeScale() const { return scale(); }
    // The bounds less a visible status bar at the top.
    CGRect applicationFrame() const;
};

}  // namespace platform

using platform::UIScreen;
