// The public ad view class an application places (banner, medium rectangle
// or leaderboard ads, from code or from a storyboard). Allocating HLAdView
// itself yields its one concrete kind, HLHtmlAdView; a subclass allocates
// itself.
#pragma once

#include "platform/ui/UIView.h"

class HLHtmlAdView;

class HLAdView : public UIView {
public:
    static Ref<HLHtmlAdView> alloc();
};
