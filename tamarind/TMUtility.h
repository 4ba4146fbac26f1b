// The Tamarind client's utility singleton: the two built-in close-button
// images (a dark disc with a white cross; the highlighted one lighter),
// drawn once at the screen's scale. Main thread.
#pragma once

#include "platform/ui/UIImage.h"

class TMUtility : public NSObject {
public:
    static Ref<TMUtility> sharedUtility();

    // 30 × 30 points.
    Ref<UIImage> defaultCloseButtonImageNormal();
    Ref<UIImage> defaultCloseButtonImageHighlighted();

private:
    static Ref<UIImage> drawCloseButton(float discGray, float discAlpha);

    Ref<UIImage> normal_;
    Ref<UIImage> highlighted_;
};
